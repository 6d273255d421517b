// Export choices: their labels, what a label names, the span and tracks a
// range covers, the picture size of a size choice and the session settings
// each choice comes to.

#include "Ondexa/rendering/ExportOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ondexa;
using Options = ExportOptions;
using Preset = platform::ExportSession::Preset;
using FileType = platform::ExportSession::FileType;

namespace {

TEST(ExportOptions, LabelsInOrderAndOnlyWholeLabelsNameAChoice)
{
    std::vector<std::string> sizes, encodings, formats;
    for (Options::Size s : Options::sizes) sizes.emplace_back(label(s));
    for (Options::Encoding e : Options::encodings) encodings.emplace_back(label(e));
    for (Options::Format f : Options::formats) formats.emplace_back(label(f));
    EXPECT_EQ(sizes, (std::vector<std::string>{"Eredeti", "75 %", "50 %", "25 %", "4K (3840 \u00D7 2160)",
                                               "Full HD (1920 \u00D7 1080)", "HD (1280 \u00D7 720)"}));
    EXPECT_EQ(encodings, (std::vector<std::string>{"Gyors (H.264)", "Normál (HEVC, jobb minőség, kisebb fájl)"}));
    EXPECT_EQ(formats, (std::vector<std::string>{"MP4", "MOV", "Csak hang (M4A)"}));

    // Every label names its own choice back.
    for (Options::Size s : Options::sizes) EXPECT_EQ(choiceLabelled<Options::Size>(label(s)), s);
    for (Options::Encoding e : Options::encodings) EXPECT_EQ(choiceLabelled<Options::Encoding>(label(e)), e);
    for (Options::Format f : Options::formats) EXPECT_EQ(choiceLabelled<Options::Format>(label(f)), f);

    // Anything but the whole label names nothing.
    for (const char* text : {"", "mp4", "MP4 ", " MP4", "Csak hang", "4K (3840 x 2160)", "75%", "75 % ", "eredeti"}) {
        EXPECT_EQ(choiceLabelled<Options::Format>(text), std::nullopt) << text;
        EXPECT_EQ(choiceLabelled<Options::Size>(text), std::nullopt) << text;
        EXPECT_EQ(choiceLabelled<Options::Encoding>(text), std::nullopt) << text;
    }
    EXPECT_EQ(choiceLabelled<Options::Format>("Csak hang (M4A)"), Options::Format::m4a);
}

TEST(ExportOptions, FormatsAndEncodingsComeToExtensionsPresetsAndFileTypes)
{
    struct Case {
        Options::Format format;
        Options::Encoding encoding;
        std::string extension;
        Preset preset;
        FileType type;
    } cases[] = {
        {Options::Format::mp4, Options::Encoding::fast, "mp4", Preset::h264, FileType::mp4},
        {Options::Format::mp4, Options::Encoding::normal, "mp4", Preset::hevc, FileType::mp4},
        {Options::Format::mov, Options::Encoding::fast, "mov", Preset::h264, FileType::mov},
        {Options::Format::mov, Options::Encoding::normal, "mov", Preset::hevc, FileType::mov},
        {Options::Format::m4a, Options::Encoding::fast, "m4a", Preset::sound, FileType::m4a},
        {Options::Format::m4a, Options::Encoding::normal, "m4a", Preset::sound, FileType::m4a},
    };
    for (const Case& c : cases) {
        Options options;
        options.format = c.format;
        options.encoding = c.encoding;
        EXPECT_EQ(fileExtension(c.format), c.extension);
        EXPECT_EQ(exportPreset(options), c.preset) << c.extension << int(c.encoding);
        EXPECT_EQ(exportFileType(c.format), c.type) << c.extension;
    }
    // The dialog starts from the first choice of each.
    const Options start;
    EXPECT_EQ(start.range, Options::Range::all);
    EXPECT_EQ(start.size, Options::Size::original);
    EXPECT_EQ(start.encoding, Options::Encoding::fast);
    EXPECT_EQ(start.format, Options::Format::mp4);
}

TEST(ExportOptions, SizesFitTheRecordingIntoTheirBoxes)
{
    using S = Options::Size;
    struct Case {
        QSize screen;
        S size;
        QSize expected;
    } cases[] = {
        {{1920, 1080}, S::original, {1920, 1080}},
        {{1920, 1080}, S::threeQuarters, {1440, 810}},
        {{1920, 1080}, S::half, {960, 540}},
        {{1920, 1080}, S::quarter, {480, 270}},
        {{1920, 1080}, S::uhd, {1920, 1080}},
        {{1920, 1080}, S::fullHD, {1920, 1080}},
        {{1920, 1080}, S::hd, {1280, 720}},
        {{2560, 1600}, S::fullHD, {1728, 1080}},
        {{3024, 1964}, S::threeQuarters, {2268, 1472}},  // 1473 made even
        {{1440, 900}, S::hd, {1152, 720}},               // a fit, not a fixed size
        {{5120, 2880}, S::original, {3840, 2160}},
        {{5120, 2880}, S::uhd, {3840, 2160}},
        {{5120, 2880}, S::half, {1920, 1080}},
        {{1001, 701}, S::hd, {1000, 700}},               // smaller than the box: its own size, even
        {{6, 6}, S::quarter, {2, 2}},                    // never below 2
    };
    for (const Case& c : cases)
        EXPECT_EQ(exportSize(c.screen, c.size), c.expected)
            << c.screen.width() << "×" << c.screen.height() << " " << label(c.size);
}

TEST(ExportOptions, ExtentsOfTheRanges)
{
    using R = Options::Range;
    const Uuid a = Uuid::random();
    const Uuid b = Uuid::random();
    const ExportExtent all{0, 12, std::nullopt};
    const ExportExtent matrix{1, 2, std::unordered_set<Uuid>{a, b}};
    const ExportExtent backwards{2, 1, std::unordered_set<Uuid>{a}};
    struct Case {
        const char* name;
        R range;
        std::optional<ExportExtent> matrix;
        std::optional<double> in, out;
        ExportExtent expected;
    } cases[] = {
        {"all", R::all, matrix, 2, 7, all},
        {"marks", R::marks, matrix, 2, 7, {2, 7, std::nullopt}},
        {"marks backwards", R::marks, std::nullopt, 5, 3, all},
        {"marks equal", R::marks, std::nullopt, 4, 4, all},
        {"only in", R::marks, std::nullopt, 5, std::nullopt, all},
        {"only out", R::marks, std::nullopt, std::nullopt, 5, all},
        {"matrix", R::matrix, matrix, 2, 7, matrix},
        {"matrix as it is", R::matrix, backwards, std::nullopt, std::nullopt, backwards},
        {"no matrix", R::matrix, std::nullopt, 2, 7, all},
    };
    for (const Case& c : cases) EXPECT_EQ(exportExtent(c.range, 12, c.matrix, c.in, c.out), c.expected) << c.name;
}

} // namespace
