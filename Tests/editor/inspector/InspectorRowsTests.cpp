#include "InspectorTestSupport.h"

#include "Ondexa/editor/inspector/ColorButton.h"
#include "Ondexa/editor/inspector/FontFamilies.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/RgbaColor.h"

#include <gtest/gtest.h>

#include <QLabel>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace ondexa {
namespace {

using testing::clipAt;
using testing::InspectorHarness;
using testing::trackWith;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// --- Texts ---

TEST(InspectorRows, TextsRoundAndFormatWithoutTheLocale)
{
    // Whatever the C locale says, a decimal point.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_NUMERIC, "hu_HU.UTF-8");

    const struct {
        QString shown;
        const char* expected;
    } cases[] = {
        // Halves away from zero, as computed in doubles.
        {roundedPercent(1.125), "113 %"},
        {roundedPercent(1.005), "100 %"},
        {roundedPercent(double(0.125f)), "13 %"},
        {roundedPercent(2.5), "250 %"},
        {roundedPercent(0.5), "50 %"},
        {roundedDegrees(-0.5), "-1°"},
        {roundedDegrees(-44.5), "-45°"},
        {roundedDegrees(0.4), "0°"},
        // Not finite, or past a 64-bit integer.
        {roundedPercent(nan), "–"},
        {roundedPercent(inf), "–"},
        {roundedText(-inf), "–"},
        {roundedText(9.3e18), "–"},
        {roundedText(-9.3e18), "–"},
        {roundedText(9.2e18), "9200000000000000000"},
        // printf's rounding: halves to even.
        {printfPercent(12.5), "12 %"},
        {printfPercent(13.5), "14 %"},
        {printfPercent(nan), "–"},
        {secondsText(0.25), "0.25 mp"},
        {secondsText(0.125), "0.12 mp"},
        {secondsText(10), "10.00 mp"},
        {decibelText(0), "+0 dB"},
        {decibelText(-0.4), "-0 dB"},
        {decibelText(12), "+12 dB"},
        {decibelTenthsText(6.0), "+6.0 dB"},
        {decibelTenthsText(-3.25), "-3.2 dB"},
        {decibelTenthsText(inf), "–"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, QString::fromUtf8(c.expected));
    std::setlocale(LC_NUMERIC, saved.c_str());
}

// --- Slider ---

struct SliderLog {
    explicit SliderLog(DoubleSlider& slider)
    {
        QObject::connect(&slider, &DoubleSlider::dragStarted, [this] { events.push_back("start"); });
        QObject::connect(&slider, &DoubleSlider::valueDelivered,
                         [this](double v) { events.push_back(QString::number(v)); });
        QObject::connect(&slider, &DoubleSlider::dragEnded, [this] { events.push_back("end"); });
    }
    QStringList events;
};

TEST(InspectorRows, SliderClickJumpsAndIsOneDrag)
{
    DoubleSlider slider(0, 1, 0.01);
    slider.resize(200, 24);
    slider.show();
    slider.setValue(0.2);
    SliderLog log(slider);

    testing::dragSlider(slider, {0.75});
    ASSERT_EQ(log.events.size(), 3) << log.events.join(' ').toStdString();
    EXPECT_EQ(log.events.front(), "start");
    EXPECT_NEAR(log.events[1].toDouble(), 0.75, 0.02);
    EXPECT_EQ(log.events.back(), "end");
    EXPECT_FALSE(slider.isHeld());

    log.events.clear();
    testing::dragSlider(slider, {0.1, 0.3, 0.5, 0.9});
    EXPECT_EQ(log.events.count("start"), 1);
    EXPECT_EQ(log.events.count("end"), 1);
    EXPECT_EQ(log.events.size(), 2 + 4) << log.events.join(' ').toStdString();
    EXPECT_NEAR(slider.value(), 0.9, 0.02);
}

TEST(InspectorRows, SliderKeyStepIsADragOfOneValue)
{
    DoubleSlider slider(-180, 180, 0.1);
    slider.setValue(12.3);
    SliderLog log(slider);
    testing::sendKey(slider, Qt::Key_Right);
    EXPECT_EQ(log.events, QStringList({"start", "12.4", "end"}));

    // At the end nothing moves: no drag.
    slider.setValue(180);
    log.events.clear();
    testing::sendKey(slider, Qt::Key_Right);
    testing::sendKey(slider, Qt::Key_A, "a");
    EXPECT_TRUE(log.events.isEmpty()) << log.events.join(' ').toStdString();
}

TEST(InspectorRows, SliderValuesFromCodeDeliverNothing)
{
    DoubleSlider slider(0.5, 4, 0.01);
    SliderLog log(slider);
    const struct {
        double set;
        double shown;
    } cases[] = {{1.5, 1.5}, {1.234, 1.23}, {0.57, 0.57}, {9, 4}, {-1, 0.5}, {nan, 0.5}, {4, 4}, {0.5, 0.5}};
    for (const auto& c : cases) {
        slider.setValue(c.set);
        // Whole steps as the decimals they stand for, exactly.
        EXPECT_EQ(slider.value(), c.shown) << c.set;
    }
    EXPECT_TRUE(log.events.isEmpty());
}

TEST(InspectorRows, HeldSliderKeepsItsHandleWhileTheTextFollows)
{
    SliderRow row("Méret", 0, 1, 0.01, SliderRow::Layout::stacked);
    row.resize(240, 50);
    row.show();
    DoubleSlider& slider = *row.slider();
    const int y = slider.height() / 2;
    testing::sendMouse(slider, QEvent::MouseButtonPress, {testing::sliderX(slider, 0.5), y}, Qt::LeftButton,
                       Qt::LeftButton);
    ASSERT_TRUE(row.isHeld());
    row.showValue(0.1, "10 %");
    EXPECT_NEAR(slider.value(), 0.5, 0.02);
    EXPECT_EQ(row.valueText(), "10 %");
    testing::sendMouse(slider, QEvent::MouseButtonRelease, {testing::sliderX(slider, 0.5), y}, Qt::LeftButton,
                       Qt::NoButton);
    row.showValue(0.1, "10 %");
    EXPECT_NEAR(slider.value(), 0.1, 1e-9);
}

// --- Colours ---

TEST(InspectorRows, ColoursConvertToSrgbAndInvalidIsRed)
{
    const struct {
        QColor color;
        RGBA expected;
    } cases[] = {
        {QColor::fromRgbF(0.25f, 0.5f, 0.75f, 0.5f), {0.25, 0.5, 0.75, 0.5}},
        {QColor::fromHsvF(0, 1, 1), {1, 0, 0, 1}},  // HSV red
        {QColor::fromCmykF(1, 0, 0, 0), {0, 1, 1, 1}},
        {QColor(), {1, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        const RGBA rgba = rgbaFromColor(c.color);
        EXPECT_NEAR(rgba.r, c.expected.r, 1e-3);
        EXPECT_NEAR(rgba.g, c.expected.g, 1e-3);
        EXPECT_NEAR(rgba.b, c.expected.b, 1e-3);
        EXPECT_NEAR(rgba.a, c.expected.a, 1e-3);
    }
    const QColor shown = rgbaColor({2, -1, nan, 0.5});
    EXPECT_EQ(shown, shown.toRgb());  // plain sRGB, as stored
    EXPECT_FLOAT_EQ(shown.redF(), 1);
    EXPECT_FLOAT_EQ(shown.greenF(), 0);
    EXPECT_FLOAT_EQ(shown.blueF(), 0);
    EXPECT_NEAR(shown.alphaF(), 0.5, 0.01);
}

TEST(InspectorRows, ColorButtonReportsEachPickOnce)
{
    std::optional<QColor> answer;
    int asked = 0;
    ColorButton::setDialog([&](const QColor&, QWidget*, const QString&) {
        ++asked;
        return answer;
    });
    ColorButton button("Szín");
    std::vector<QColor> picked;
    QObject::connect(&button, &ColorButton::picked, [&](const QColor& c) { picked.push_back(c); });

    button.setColor(Qt::blue);  // from code: nothing
    answer = std::nullopt;      // cancelled: nothing
    button.click();
    answer = QColor(10, 20, 30, 40);
    button.click();
    answer = QColor();  // no colour at all: red
    button.click();
    ColorButton::setDialog({});

    EXPECT_EQ(asked, 3);
    ASSERT_EQ(picked.size(), 2);
    EXPECT_EQ(picked[0], QColor(10, 20, 30, 40));
    EXPECT_EQ(picked[1], QColor(Qt::red));
    EXPECT_EQ(button.color(), QColor(Qt::red));
}

// --- Fonts ---

TEST(InspectorRows, FontFamiliesLeaveOutHiddenNamesAndKeepTheOrder)
{
    EXPECT_EQ(visibleFontFamilies({".SF NS", "Zeta", ".Hidden", "Alpha", "Mid.dot"}),
              QStringList({"Zeta", "Alpha", "Mid.dot"}));
    // Qt's list on a fontconfig desktop: foundry-tagged twins and generic aliases.
    EXPECT_EQ(visibleFontFamilies({"C059 [UKWN]", "C059 [urw]", "DejaVu Sans", "Monospace", "Nimbus Sans [urw]",
                                   "Nimbus Sans [UKWN]", "Sans Serif", "Serif", "Symbols [x] Nerd"}),
              QStringList({"C059", "DejaVu Sans", "Nimbus Sans", "Symbols [x] Nerd"}));
    EXPECT_EQ(plainFontFamily("Nimbus Sans [urw]"), "Nimbus Sans");
    EXPECT_EQ(plainFontFamily("[urw]"), "[urw]");
    const QStringList& first = fontFamilies();
    EXPECT_EQ(&first, &fontFamilies());
    for (const QString& name : first) EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
}

// --- Edits and their undo steps ---

TEST(InspectorRows, EditsFollowTheUndoRules)
{
    Clip overlayClip = clipAt(0, 4);
    overlayClip.media.reset();
    overlayClip.overlay = Overlay{};
    Clip plain = clipAt(0, 5);
    Track effects = trackWith("Effektek 1", {overlayClip}, MediaKind::effects);
    Track screen = trackWith("Képernyő", {plain});
    InspectorHarness h({effects, screen});
    EditorModel& model = *h.model;
    const Uuid screenID = screen.id;

    const struct {
        const char* name;
        bool selectPlain;
        std::function<bool()> edit;
        std::size_t steps;
        bool changes;
    } cases[] = {
        {"button edit of a clip", true, [&] { return InspectorEdits::changeClip(model, [](Clip& c) { c.rounded = false; }); }, 1, true},
        {"button edit, value unchanged", true, [&] { return InspectorEdits::changeClip(model, [](Clip&) {}); }, 1, false},
        {"slider value of a clip", true, [&] { return InspectorEdits::writeClip(model, [](Clip& c) { c.volume = 0.5f; }); }, 0, true},
        {"partner slider value", false, [&] { return InspectorEdits::writeClip(model, plain.id, [](Clip& c) { c.fadeIn = 1; }); }, 0, true},
        {"track value that differs", true, [&] { return InspectorEdits::changeTrack(model, screenID, [](Track& t) { t.volume = 2.5f; }); }, 1, true},
        {"track value equal to the stored one", true, [&] { return InspectorEdits::changeTrack(model, screenID, [](Track& t) { t.muted = false; }); }, 0, false},
        {"overlay of a clip without one", true, [&] { return InspectorEdits::changeOverlay(model, [](Overlay& o) { o.text = "x"; }); }, 1, false},
        {"overlay colour", false, [&] { return InspectorEdits::setOverlayColor(model, QColor()); }, 1, true},
        {"pointer style", true, [&] { InspectorEdits::changeCursorStyle(model, [](CursorStyle& s) { s.scale = 3; }); return true; }, 0, false},
    };
    for (const auto& c : cases) {
        model.selectClip(c.selectPlain ? plain.id : overlayClip.id, false, true);
        const auto before = model.tracks();
        const std::size_t steps = h.undoSteps();
        EXPECT_TRUE(c.edit()) << c.name;
        EXPECT_EQ(h.undoSteps() - steps, c.steps) << c.name;
        EXPECT_EQ(model.tracks() != before, c.changes) << c.name;
    }
    EXPECT_EQ(h.clip(0, 0).overlay->color, (RGBA{1, 0, 0, 1}));
    EXPECT_EQ(model.cursorStyle()->scale, 3);

    // Nothing selected at the moment of the write: nothing, and no step.
    model.clearSelection();
    const std::size_t steps = h.undoSteps();
    const auto before = model.tracks();
    EXPECT_FALSE(InspectorEdits::changeClip(model, [](Clip& c) { c.rounded = true; }));
    EXPECT_FALSE(InspectorEdits::changeOverlay(model, [](Overlay& o) { o.text = "y"; }));
    EXPECT_FALSE(InspectorEdits::writeClip(model, [](Clip& c) { c.volume = 1; }));
    EXPECT_FALSE(InspectorEdits::changeAction(model, [](TrackAction& a) { a.returns = true; }));
    EXPECT_FALSE(InspectorEdits::writeAction(model, [](TrackAction& a) { a.returns = true; }));
    EXPECT_FALSE(InspectorEdits::changeTrack(model, Uuid::random(), [](Track& t) { t.volume = 0; }));
    EXPECT_FALSE(InspectorEdits::writeClip(model, Uuid::random(), [](Clip& c) { c.volume = 0; }));
    EXPECT_EQ(h.undoSteps(), steps);
    EXPECT_EQ(model.tracks(), before);
}

TEST(InspectorRows, ValueSliderDragPushesOneStepTrackSliderOnePerValue)
{
    Clip clip = clipAt(0, 5);
    Track screen = trackWith("Képernyő", {clip});
    InspectorHarness h({screen});
    EditorModel& model = *h.model;
    model.selectClip(clip.id, false, true);

    const auto dragRow = [&](SliderRow* row, const std::vector<double>& fractions) {
        row->resize(240, 50);
        row->show();
        const std::size_t steps = h.undoSteps();
        testing::dragSlider(*row->slider(), fractions);
        return h.undoSteps() - steps;
    };

    std::unique_ptr<SliderRow> clipRow(SliderRow::forClip(model, "Hangerő", 0, 2, 0.01,
                                                          [](Clip& c, double v) { c.volume = float(v); }));
    EXPECT_EQ(dragRow(clipRow.get(), {0.1, 0.4, 0.6, 0.8}), 1u);
    EXPECT_NEAR(h.clip(0, 0).volume, 1.6, 0.03);

    std::unique_ptr<SliderRow> partnerRow(SliderRow::forPartner(model, clip.id, "Hangerő", 0, 2, 0.01,
                                                                [](Clip& c, double v) { c.volume = float(v); }));
    EXPECT_EQ(dragRow(partnerRow.get(), {0.2, 0.3, 0.5}), 1u);
    EXPECT_NEAR(h.clip(0, 0).volume, 1.0, 0.03);

    // Three distinct values, then the same one again.
    std::unique_ptr<SliderRow> trackRow(SliderRow::forTrack(model, screen.id, "Sáv hangereje", 0, 4, 0.01,
                                                            [](Track& t, double v) { t.volume = float(v); }));
    EXPECT_EQ(dragRow(trackRow.get(), {0.2, 0.4, 0.6}), 3u);
    EXPECT_EQ(dragRow(trackRow.get(), {0.6}), 0u);
    EXPECT_NEAR(model.tracks()[0].volume, 2.4, 0.05);

    std::unique_ptr<SliderRow> overlayRow(SliderRow::forOverlay(model, "Betűméret", 0.02, 0.15, 0.001,
                                                                [](Overlay& o, double v) { o.fontSize = v; }));
    EXPECT_EQ(dragRow(overlayRow.get(), {0.1, 0.2, 0.3, 0.4}), 4u);
}

} // namespace
} // namespace ondexa
