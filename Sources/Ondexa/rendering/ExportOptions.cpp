#include "Ondexa/rendering/ExportOptions.h"

#include <cmath>

namespace ondexa {

using Size = ExportOptions::Size;
using Encoding = ExportOptions::Encoding;
using Format = ExportOptions::Format;

std::string_view label(Size size)
{
    switch (size) {
    case Size::original: return "Eredeti";
    case Size::threeQuarters: return "75 %";
    case Size::half: return "50 %";
    case Size::quarter: return "25 %";
    case Size::uhd: return "4K (3840 \u00D7 2160)";
    case Size::fullHD: return "Full HD (1920 \u00D7 1080)";
    case Size::hd: return "HD (1280 \u00D7 720)";
    }
    return {};
}

std::string_view label(Encoding encoding)
{
    switch (encoding) {
    case Encoding::fast: return "Gyors (H.264)";
    case Encoding::normal: return "Normál (HEVC, jobb minőség, kisebb fájl)";
    }
    return {};
}

std::string_view label(Format format)
{
    switch (format) {
    case Format::mp4: return "MP4";
    case Format::mov: return "MOV";
    case Format::m4a: return "Csak hang (M4A)";
    }
    return {};
}

namespace {

template <class Choice, std::size_t N>
std::optional<Choice> find(const std::array<Choice, N>& choices, std::string_view text)
{
    for (Choice choice : choices)
        if (label(choice) == text) return choice;
    return std::nullopt;
}

} // namespace

template <>
std::optional<Size> choiceLabelled<Size>(std::string_view text)
{
    return find(ExportOptions::sizes, text);
}

template <>
std::optional<Encoding> choiceLabelled<Encoding>(std::string_view text)
{
    return find(ExportOptions::encodings, text);
}

template <>
std::optional<Format> choiceLabelled<Format>(std::string_view text)
{
    return find(ExportOptions::formats, text);
}

std::string_view fileExtension(Format format)
{
    switch (format) {
    case Format::mp4: return "mp4";
    case Format::mov: return "mov";
    case Format::m4a: return "m4a";
    }
    return {};
}

ExportExtent exportExtent(ExportOptions::Range range, double duration, const std::optional<ExportExtent>& matrix,
                          std::optional<double> markIn, std::optional<double> markOut)
{
    switch (range) {
    case ExportOptions::Range::all: break;
    case ExportOptions::Range::matrix:
        if (matrix) return *matrix;
        break;
    case ExportOptions::Range::marks:
        if (markIn && markOut && *markIn < *markOut) return {*markIn, *markOut, std::nullopt};
        break;
    }
    return {0, duration, std::nullopt};
}

QSize exportSize(QSize screenSize, Size size)
{
    switch (size) {
    case Size::fullHD: return renderSize(screenSize, {1920, 1080});
    case Size::hd: return renderSize(screenSize, {1280, 720});
    default: break;
    }
    const QSize fit = renderSize(screenSize, exportBox);
    double factor = 1;
    switch (size) {
    case Size::threeQuarters: factor = 0.75; break;
    case Size::half: factor = 0.5; break;
    case Size::quarter: factor = 0.25; break;
    default: return fit;
    }
    const auto side = [factor](int length) {
        const int even = int(std::trunc(length * factor)) & ~1;
        return even <= 2 ? 2 : even;
    };
    return {side(fit.width()), side(fit.height())};
}

platform::ExportSession::Preset exportPreset(const ExportOptions& options)
{
    if (options.format == Format::m4a) return platform::ExportSession::Preset::sound;
    return options.encoding == Encoding::fast ? platform::ExportSession::Preset::h264
                                              : platform::ExportSession::Preset::hevc;
}

platform::ExportSession::FileType exportFileType(Format format)
{
    switch (format) {
    case Format::mp4: return platform::ExportSession::FileType::mp4;
    case Format::mov: return platform::ExportSession::FileType::mov;
    case Format::m4a: return platform::ExportSession::FileType::m4a;
    }
    return platform::ExportSession::FileType::mp4;
}

} // namespace ondexa
