// The texts of the clip, action, track and partner sections: rounding,
// locale-free numbers, titles and symbols.

#include "Ondexa/editor/inspector/SectionTexts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ondexa {
namespace {

namespace texts = sectiontexts;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

TEST(InspectorClipTexts, NumbersRoundAsShown)
{
    struct Case {
        QString actual, expected;
    };
    const Case cases[] = {
        {texts::percent(1.125), "113 %"},
        {texts::percent(1.005), "100 %"},
        {texts::percent(1), "100 %"},
        {texts::percent(0.5), "50 %"},
        {texts::percent(-0.125), "-13 %"},
        {texts::volumePercent(0.125f), "13 %"},
        {texts::volumePercent(std::nanf("")), "– %"},
        {texts::degrees(-0.5), "-1°"},
        {texts::degrees(0.5), "1°"},
        {texts::degrees(179.4), "179°"},
        {texts::seconds(0.25), "0.25 mp"},
        {texts::seconds(2), "2.00 mp"},
        {texts::seconds(0.125), "0.12 mp"},  // printf's halves to even
        {texts::percent(nan), "– %"},
        {texts::percent(infinity), "– %"},
        {texts::percent(1e17), "– %"},  // beyond a 64-bit integer once × 100
        {texts::degrees(-1e300), "–°"},
        {texts::seconds(nan), "– mp"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(InspectorClipTexts, RoundingIsGuarded)
{
    EXPECT_EQ(texts::rounded(2.5), 3);
    EXPECT_EQ(texts::rounded(-2.5), -3);
    EXPECT_EQ(texts::rounded(9.2e18), 9200000000000000000LL);
    EXPECT_EQ(texts::rounded(-9223372036854775808.0), std::numeric_limits<long long>::min());
    EXPECT_EQ(texts::rounded(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(texts::rounded(nan), std::nullopt);
    EXPECT_EQ(texts::rounded(-infinity), std::nullopt);
}

TEST(InspectorClipTexts, HeadersAndTransitions)
{
    Track track;
    track.name = "Képernyő";
    Clip clip;
    EXPECT_EQ(texts::clipTitle(clip, track), "Klip – Képernyő");
    EXPECT_EQ(texts::clipSymbol(clip), "film");
    clip.overlay = Overlay();
    clip.overlay->kind = OverlayKind::pip;
    EXPECT_EQ(texts::clipTitle(clip, track), "Kép a képben");
    EXPECT_EQ(texts::clipSymbol(clip), "pip");

    const QString labels[] = {"Áttűnés", "Feketén át", "Törlés balról", "Betolás", "Kör", "Ráközelítés"};
    const QString symbols[] = {"circle.lefthalf.filled", "moon.fill", "rectangle.righthalf.inset.filled",
                               "arrow.left.square", "circle.dashed", "plus.magnifyingglass"};
    int i = 0;
    for (Transition t : allTransitions()) {
        EXPECT_EQ(texts::transitionLabel(t), labels[i]);
        EXPECT_EQ(texts::transitionSymbol(t), symbols[i]);
        ++i;
    }
    EXPECT_EQ(texts::linkNotice(), "Összekötve – együtt mozog a társaival (Alt-kattintás: külön)");
}

TEST(InspectorActionTexts, PositionsAndTitles)
{
    EXPECT_EQ(texts::degrees(-44.5), "-45°");
    EXPECT_EQ(texts::position(0.125), "12 %");  // halves to even, as printf
    EXPECT_EQ(texts::position(0.5), "50 %");
    EXPECT_EQ(texts::position(-0.5), "-50 %");
    EXPECT_EQ(texts::position(1.5), "150 %");
    EXPECT_EQ(texts::position(nan), "– %");

    Track track;
    track.name = "Kamera";
    Clip clip;
    EXPECT_EQ(texts::actionTitle(clip, track), "Művelet – Kamera");
    clip.overlay = Overlay();
    EXPECT_EQ(texts::actionTitle(clip, track), "Művelet – Szöveg");
    clip.overlay->kind = OverlayKind::ellipse;
    EXPECT_EQ(texts::actionTitle(clip, track), "Művelet – Ellipszis");
}

TEST(InspectorTrackTexts, LevelsAndCaption)
{
    struct Case {
        QString actual, expected;
    };
    const Case cases[] = {
        {texts::boost(0), "+0 dB"},
        {texts::boost(12), "+12 dB"},
        {texts::boost(-6), "-6 dB"},
        {texts::volumePercent(2.5f), "250 %"},
        {texts::volumePercent(1.0f), "100 %"},
        {texts::automaticGain(4.0f, 6), "Automatikus erősítés: +6.0 dB"},
        {texts::automaticGain(1.0f, 0), "Automatikus erősítés: +0.0 dB"},
        {texts::automaticGain(31.6f, 0), "Automatikus erősítés: +30.0 dB"},
        {texts::automaticGain(0.5f, 0), "Automatikus erősítés: -6.0 dB"},
        {texts::clipCount(3), "3 klip · a felső sáv van elöl"},
        {texts::clipCount(0), "0 klip · a felső sáv van elöl"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(InspectorTrackTexts, SymbolsByKind)
{
    struct Case {
        MediaKind kind;
        bool fromRecording;
        int index;
        QString symbol;
    };
    const Case cases[] = {
        {MediaKind::video, true, 0, "display"}, {MediaKind::video, true, 1, "video"},
        {MediaKind::video, false, 0, "video"},  {MediaKind::audio, true, 0, "waveform"},
        {MediaKind::image, false, 0, "photo"},  {MediaKind::effects, false, 0, "textformat"},
    };
    for (const Case& c : cases) {
        Track track;
        track.media = MediaRef{"/x.mov", c.kind, c.index};
        track.fromRecording = c.fromRecording;
        EXPECT_EQ(texts::trackSymbol(track), c.symbol);
    }
}

TEST(InspectorPartnerTexts, TitleAndPictureCaption)
{
    Track track;
    track.name = "film.mov – hang";
    EXPECT_EQ(texts::partnerTitle(track), "Összekötött: film.mov – hang");
    EXPECT_EQ(texts::partnerPictureCaption(), "A kép beállításaihoz Alt-kattints a klipre.");
    EXPECT_EQ(texts::volumePercent(0.5f), "50 %");
    EXPECT_EQ(texts::seconds(0.25), "0.25 mp");
}

} // namespace
} // namespace ondexa
