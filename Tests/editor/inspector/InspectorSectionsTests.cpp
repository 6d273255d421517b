// The clip, action, track and linked partner sections of the inspector,
// driven through their rows over a model made from track lists.

#include "InspectorTestSupport.h"

#include "Ondexa/editor/inspector/ActionSection.h"
#include "Ondexa/editor/inspector/ClipSection.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/PartnerRows.h"
#include "Ondexa/editor/inspector/SectionRows.h"
#include "Ondexa/editor/inspector/SectionTexts.h"
#include "Ondexa/editor/inspector/TrackSection.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QWheelEvent>

#include <cmath>
#include <limits>
#include <string>

namespace ondexa {
namespace {

using testing::clipAt;
using testing::InspectorHarness;
using testing::linked;
using testing::trackWith;

constexpr double classic = 4.0 / 3.0;

void expectFrame(const std::optional<NRect>& actual, const NRect& expected)
{
    ASSERT_TRUE(actual.has_value());
    EXPECT_NEAR(actual->x, expected.x, 1e-9);
    EXPECT_NEAR(actual->y, expected.y, 1e-9);
    EXPECT_NEAR(actual->w, expected.w, 1e-9);
    EXPECT_NEAR(actual->h, expected.h, 1e-9);
}

// A key step after placing the handle next to `value`: one delivered value.
void deliver(SliderRow& row, double value, int key = Qt::Key_Right)
{
    const double step = row.slider()->step();
    row.slider()->setValue(key == Qt::Key_Right ? value - step : value + step);
    testing::sendKey(*row.slider(), key);
}

std::size_t dragged(InspectorHarness& h, SliderRow* row, const std::vector<double>& fractions)
{
    EXPECT_NE(row, nullptr);
    if (!row) return 0;
    const std::size_t steps = h.undoSteps();
    testing::dragSlider(*row->slider(), fractions);
    return h.undoSteps() - steps;
}

std::size_t clicked(InspectorHarness& h, QAbstractButton* button)
{
    EXPECT_NE(button, nullptr);
    if (!button) return 0;
    const std::size_t steps = h.undoSteps();
    button->click();
    return h.undoSteps() - steps;
}

// --- Clip ---

TEST(InspectorClip, PresetsAndCornersPlaceThePicture)
{
    struct Case {
        const char* name;
        double aspect;
        std::optional<NRect> frame;
        // 0 to 2: the preset buttons; 10 + n: corner n.
        int button;
        std::optional<NRect> expected;
        double rotation;
    };
    const NRect small{0.1, 0.1, 0.3, 0.3};
    const Case cases[] = {
        {"fill 4:3", classic, std::nullopt, 1, NRect{0, -1.0 / 6.0, 1, 4.0 / 3.0}, 12},
        {"fill 16:9", 16.0 / 9.0, small, 1, NRect{0, 0, 1, 1}, 12},
        {"corner preset 4:3", classic, std::nullopt, 2, NRect{0.69, 0.6, 0.28, 0.37333333333333335}, 12},
        {"corner 3", 16.0 / 9.0, small, 13, NRect{0.67, 0.66, 0.3, 0.3}, 12},
        {"corner 0 without frame", 16.0 / 9.0, std::nullopt, 10, NRect{0.03, 0.04, 1, 1}, 12},
        {"corner 1", classic, small, 11, NRect{0.67, 0.04, 0.3, 0.3}, 12},
        {"corner 2", classic, small, 12, NRect{0.03, 0.66, 0.3, 0.3}, 12},
        {"corner 3 without frame", classic, std::nullopt, 13, NRect{0.22, -0.04, 0.75, 1}, 12},
        {"original size", classic, small, 0, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clip clip = clipAt(0, 10);
        clip.aspect = c.aspect;
        clip.frame = c.frame;
        clip.rotation = 12;
        InspectorHarness h({trackWith("Képernyő", {clip})});
        h.model->selectClip(clip.id, false, true);
        ClipSection* section = h.panel->clipSection();
        ASSERT_NE(section, nullptr);
        QAbstractButton* button =
            c.button >= 10 ? section->cornerButton(c.button - 10) : section->presetButton(c.button);
        EXPECT_EQ(clicked(h, button), 1u);
        const Clip& after = h.clip(0, 0);
        if (c.expected) expectFrame(after.frame, *c.expected);
        else EXPECT_FALSE(after.frame.has_value());
        EXPECT_EQ(after.rotation, c.rotation);
        h.model->undo();
        EXPECT_EQ(h.clip(0, 0), clip);
    }
}

TEST(InspectorClip, SizeScalesTheFitAboutTheCentre)
{
    Clip clip = clipAt(0, 10);
    clip.aspect = classic;
    Clip placed = clipAt(0, 10);
    placed.frame = NRect{0.1, 0.2, 0.2, 0.2};
    InspectorHarness h({trackWith("Képernyő", {clip}), trackWith("Kamera", {placed})});
    h.model->selectClip(clip.id, false, true);
    SliderRow* size = h.panel->clipSection()->sizeRow();
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->valueText(), "100 %");
    const std::size_t steps = h.undoSteps();
    deliver(*size, 0.5);
    EXPECT_EQ(h.undoSteps(), steps + 1);
    expectFrame(h.clip(0, 0).frame, {0.3125, 0.25, 0.375, 0.5});
    EXPECT_EQ(h.panel->clipSection()->sizeRow()->valueText(), "50 %");

    // A framed clip keeps its centre (0.2, 0.3).
    h.model->selectClip(placed.id, false, true);
    deliver(*h.panel->clipSection()->sizeRow(), 0.4);
    expectFrame(h.model->tracks()[1].clips[0].frame, {0, 0.1, 0.4, 0.4});
}

TEST(InspectorClip, FadeRangesLeaveRoomForTheOtherFade)
{
    struct Case {
        double duration, fadeIn, fadeOut;
        double inLimit, outLimit;
    };
    const Case cases[] = {{30, 0, 0, 10, 10}, {5, 0, 2, 3, 5}, {0.05, 0, 0, 0.1, 0.1}, {4, 1.5, 1, 3, 2.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.duration));
        Clip clip = clipAt(0, c.duration);
        clip.fadeIn = c.fadeIn;
        clip.fadeOut = c.fadeOut;
        InspectorHarness h({trackWith("Képernyő", {clip})});
        h.model->selectClip(clip.id, false, true);
        FadeRows* fades = h.panel->clipSection()->fadeRows();
        EXPECT_DOUBLE_EQ(fades->fadeIn()->slider()->minimum(), 0);
        EXPECT_DOUBLE_EQ(fades->fadeIn()->slider()->maximum(), c.inLimit);
        EXPECT_DOUBLE_EQ(fades->fadeOut()->slider()->maximum(), c.outLimit);
    }
}

TEST(InspectorClip, FadeDragMovesTheOtherFadesEndAndKeepsItsOwnSlider)
{
    Clip clip = clipAt(0, 5);
    InspectorHarness h({trackWith("Képernyő", {clip})});
    h.model->selectClip(clip.id, false, true);
    FadeRows* fades = h.panel->clipSection()->fadeRows();
    QPointer<SliderRow> fadeIn = fades->fadeIn();
    DoubleSlider& slider = *fadeIn->slider();
    const int y = slider.height() / 2;
    testing::sendMouse(slider, QEvent::MouseButtonPress, {testing::sliderX(slider, 0.2), y}, Qt::LeftButton,
                       Qt::LeftButton);
    testing::sendMouse(slider, QEvent::MouseMove, {testing::sliderX(slider, 0.4), y}, Qt::NoButton, Qt::LeftButton);
    const double fadeInNow = h.clip(0, 0).fadeIn;
    EXPECT_NEAR(fadeInNow, 2, 0.1);
    EXPECT_EQ(fades->fadeIn(), fadeIn.data());
    EXPECT_DOUBLE_EQ(fades->fadeOut()->slider()->maximum(), 5 - fadeInNow);
    testing::sendMouse(slider, QEvent::MouseButtonRelease, {testing::sliderX(slider, 0.4), y}, Qt::LeftButton,
                       Qt::NoButton);
    testing::flushDeletes();
    EXPECT_FALSE(fadeIn.isNull());
    EXPECT_EQ(fades->fadeIn()->valueText(), secondsText(h.clip(0, 0).fadeIn));
}

TEST(InspectorClip, TransitionPickerStoresDissolveAsNoneWithoutUndo)
{
    Clip clip = clipAt(0, 10);
    Clip sound = clipAt(0, 10, 0, MediaKind::audio);
    InspectorHarness h({trackWith("Képernyő", {clip}), trackWith("Hang", {sound}, MediaKind::audio)});
    h.model->selectClip(clip.id, false, true);
    QComboBox* picker = h.panel->clipSection()->transitionPicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->currentText(), "Áttűnés");
    ASSERT_EQ(picker->count(), 6);

    const std::size_t steps = h.undoSteps();
    emit picker->activated(4);
    EXPECT_EQ(h.clip(0, 0).transition, Transition::circle);
    EXPECT_EQ(h.panel->clipSection()->transitionPicker()->currentText(), "Kör");
    emit picker->activated(0);
    EXPECT_EQ(h.clip(0, 0).transition, std::nullopt);
    EXPECT_EQ(h.undoSteps(), steps);

    // A wheel turned over the panel scrolls past the picker without changing it.
    picker->clearFocus();
    QWheelEvent wheel(QPointF(5, 5), picker->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(picker, &wheel);
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(h.clip(0, 0).transition, std::nullopt);

    // Clips on sound tracks have no transition.
    h.model->selectClip(sound.id, false, true);
    EXPECT_EQ(h.panel->clipSection()->transitionPicker(), nullptr);
}

TEST(InspectorClip, BlocksByKindAndTheLinkNotice)
{
    Clip picture = linked(clipAt(0, 10), testing::link(1));
    Clip sound = linked(clipAt(0, 10, 0, MediaKind::audio), testing::link(1));
    Clip lone = clipAt(20, 5, 0, MediaKind::audio);
    InspectorHarness h({trackWith("Képernyő", {picture}), trackWith("Hang", {sound, lone}, MediaKind::audio)});

    h.model->selectClip(picture.id, false, true);
    ClipSection* section = h.panel->clipSection();
    EXPECT_NE(section->sizeRow(), nullptr);
    EXPECT_NE(section->roundedRow(), nullptr);
    EXPECT_EQ(section->volumeRow(), nullptr);
    EXPECT_TRUE(section->linkNotice()->isVisibleTo(section));
    EXPECT_EQ(section->linkNotice()->text(), "Összekötve – együtt mozog a társaival (Alt-kattintás: külön)");

    // The switch writes one step.
    EXPECT_EQ(clicked(h, section->roundedRow()->toggle()), 1u);
    EXPECT_FALSE(h.clip(0, 0).rounded);

    h.model->selectClip(sound.id, false, true);
    section = h.panel->clipSection();
    EXPECT_EQ(section->sizeRow(), nullptr);
    EXPECT_NE(section->volumeRow(), nullptr);
    EXPECT_TRUE(section->linkNotice()->isVisibleTo(section));

    h.model->selectClip(lone.id, false, true);
    section = h.panel->clipSection();
    EXPECT_FALSE(section->linkNotice()->isVisibleTo(section));
}

TEST(InspectorClipTexts, RowsShowRoundedValues)
{
    struct Case {
        const char* name;
        std::function<void(Clip&)> make;
        MediaKind kind;
        std::function<QString(ClipSection&)> shown;
        QString expected;
    };
    const auto size = [](ClipSection& s) { return s.sizeRow()->valueText(); };
    const auto volume = [](ClipSection& s) { return s.volumeRow()->valueText(); };
    const auto rotation = [](ClipSection& s) { return s.rotationRow()->valueText(); };
    const auto fadeIn = [](ClipSection& s) { return s.fadeRows()->fadeIn()->valueText(); };
    const auto fadeOut = [](ClipSection& s) { return s.fadeRows()->fadeOut()->valueText(); };
    const auto length = [](ClipSection& s) { return s.lengthRow()->valueText(); };
    const auto title = [](ClipSection& s) { return s.header()->title(); };
    const Case cases[] = {
        {"size 1.125", [](Clip& c) { c.frame = NRect{0, 0, 1.125, 1.125}; }, MediaKind::video, size, "113 %"},
        {"size 1.005", [](Clip& c) { c.frame = NRect{0, 0, 1.005, 1.005}; }, MediaKind::video, size, "100 %"},
        {"size of a narrow clip", [](Clip& c) { c.aspect = classic; c.frame = NRect{0, 0, 0.375, 0.5}; },
         MediaKind::video, size, "50 %"},
        {"volume 0.125", [](Clip& c) { c.volume = 0.125f; }, MediaKind::audio, volume, "13 %"},
        {"volume NaN", [](Clip& c) { c.volume = std::numeric_limits<float>::quiet_NaN(); }, MediaKind::audio, volume,
         "–"},
        {"rotation -0.5", [](Clip& c) { c.rotation = -0.5; }, MediaKind::video, rotation, "-1°"},
        {"rotation 1e300", [](Clip& c) { c.rotation = 1e300; }, MediaKind::video, rotation, "–"},
        {"fade 0.25", [](Clip& c) { c.fadeIn = 0.25; }, MediaKind::video, fadeIn, "0.25 mp"},
        {"fade out 1.125", [](Clip& c) { c.fadeOut = 1.125; }, MediaKind::audio, fadeOut, "1.12 mp"},
        {"length", [](Clip& c) { c.duration = 65.5; }, MediaKind::video, length, "01:05.50"},
        {"header", [](Clip&) {}, MediaKind::video, title, "Klip – Sáv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clip clip = clipAt(0, 10, 0, c.kind);
        c.make(clip);
        InspectorHarness h({trackWith("Sáv", {clip}, c.kind)});
        h.model->selectClip(clip.id, false, true);
        ASSERT_NE(h.panel->clipSection(), nullptr);
        EXPECT_EQ(c.shown(*h.panel->clipSection()), c.expected);
    }
}

// --- Undo counts ---

TEST(InspectorClip, ValueSliderDragsAddOneStep)
{
    Clip clip = clipAt(0, 10);
    Clip sound = clipAt(0, 10, 0, MediaKind::audio);
    InspectorHarness h({trackWith("Képernyő", {clip}), trackWith("Hang", {sound}, MediaKind::audio)});
    h.model->selectClip(clip.id, false, true);
    EXPECT_EQ(dragged(h, h.panel->clipSection()->sizeRow(), {0.1, 0.3, 0.5, 0.7}), 1u);
    EXPECT_NEAR(h.clip(0, 0).frame->w, 0.1 + 0.7 * 3.9, 0.05);
    EXPECT_EQ(dragged(h, h.panel->clipSection()->rotationRow(), {0.5, 0.6, 0.75}), 1u);
    EXPECT_NEAR(h.clip(0, 0).rotation, 90, 2);
    EXPECT_EQ(dragged(h, h.panel->clipSection()->fadeRows()->fadeOut(), {0.1, 0.2, 0.3}), 1u);
    EXPECT_NEAR(h.clip(0, 0).fadeOut, 3, 0.2);

    h.model->selectClip(sound.id, false, true);
    EXPECT_EQ(dragged(h, h.panel->clipSection()->volumeRow(), {0.1, 0.2, 0.5}), 1u);
    EXPECT_NEAR(h.model->tracks()[1].clips[0].volume, 2, 0.05);
    h.model->undo();
    EXPECT_EQ(h.model->tracks()[1].clips[0].volume, 1.0f);
}

// --- Action ---

struct ActionFixture {
    explicit ActionFixture(MediaKind kind = MediaKind::video, bool overlay = false)
    {
        Clip clip = clipAt(5, 10, 0, kind);
        if (overlay) {
            clip.media.reset();
            clip.overlay = Overlay();
        }
        action.start = 1;
        action.end = 2;
        clip.actions = {action};
        clipID = clip.id;
        const MediaKind trackKind = overlay ? MediaKind::effects : kind;
        harness = std::make_unique<InspectorHarness>(std::vector<Track>{trackWith("Képernyő", {clip}, trackKind)});
        harness->model->selectAction(action.id);
    }
    const TrackAction& stored() const { return harness->model->tracks()[0].clips[0].actions[0]; }
    ActionSection& section() const { return *harness->panel->actionSection(); }

    TrackAction action;
    Uuid clipID;
    std::unique_ptr<InspectorHarness> harness;
};

TEST(InspectorActionTimes, ButtonsMoveAnEndToThePlayhead)
{
    struct Case {
        bool start;
        double playhead;
        double expected;
    };
    // The clip starts at 5 and lasts 10 s. Before the clip the button asks
    // for -2; the model keeps every action inside its clip and stores 0.
    const Case cases[] = {{true, 3, 0}, {true, 10, 1.9}, {true, 5.5, 0.5}, {false, 3, 1.1}, {false, 9.5, 4.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.playhead));
        ActionFixture f;
        InspectorHarness& h = *f.harness;
        h.model->clock().setTime(c.playhead);
        QAbstractButton* button = c.start ? f.section().startButton() : f.section().endButton();
        EXPECT_EQ(clicked(h, button), 1u);
        EXPECT_NEAR(c.start ? f.stored().start : f.stored().end, c.expected, 1e-9);
        EXPECT_EQ(c.start ? f.stored().end : f.stored().start, c.start ? 2 : 1);

        // Again at the same playhead: nothing changes, one more step.
        const TrackAction once = f.stored();
        EXPECT_EQ(clicked(h, c.start ? f.section().startButton() : f.section().endButton()), 1u);
        EXPECT_EQ(f.stored(), once);
    }
}

TEST(InspectorActionTimes, RowsShowTimelineTimes)
{
    ActionFixture f;
    EXPECT_EQ(f.section().startRow()->valueText(), "00:06.00");
    EXPECT_EQ(f.section().endRow()->valueText(), "00:07.00");
    EXPECT_EQ(f.section().startButton()->toolTip(), "Kezdete a lejátszófejhez");
    EXPECT_EQ(f.section().endButton()->toolTip(), "Vége a lejátszófejhez");
}

TEST(InspectorAction, ButtonsAndSwitchesTouchOnlyTheirValues)
{
    ActionFixture picture;
    InspectorHarness& h = *picture.harness;
    TrackAction set = picture.stored();
    set.volume = 0.5f;
    set.scale = 2;
    set.rotation = 30;
    set.centerX = 0.1;
    h.model->updateAction(set);

    EXPECT_EQ(clicked(h, picture.section().centreButton()), 1u);
    EXPECT_EQ(picture.stored().centerX, 0.5);
    EXPECT_EQ(picture.stored().centerY, 0.5);
    EXPECT_EQ(picture.stored().scale, 2);
    EXPECT_EQ(clicked(h, picture.section().resetButton()), 1u);
    EXPECT_EQ(picture.stored().scale, std::nullopt);
    EXPECT_EQ(picture.stored().rotation, std::nullopt);
    EXPECT_EQ(picture.stored().centerX, std::nullopt);
    EXPECT_EQ(picture.stored().centerY, std::nullopt);
    EXPECT_EQ(picture.stored().volume, 0.5f);
    EXPECT_EQ(clicked(h, picture.section().returnsRow()->toggle()), 1u);
    EXPECT_TRUE(picture.stored().returns);
    EXPECT_EQ(picture.section().volumeRow(), nullptr);

    ActionFixture sound(MediaKind::audio);
    InspectorHarness& s = *sound.harness;
    set = sound.stored();
    set.volume = 0.5f;
    set.scale = 2;
    s.model->updateAction(set);
    EXPECT_EQ(sound.section().scaleRow(), nullptr);
    EXPECT_EQ(sound.section().centreButton(), nullptr);
    EXPECT_EQ(clicked(s, sound.section().resetButton()), 1u);
    EXPECT_EQ(sound.stored().volume, std::nullopt);
    EXPECT_EQ(sound.stored().scale, 2);

    // Deleting through the header.
    sound.section().deleteButton()->click();
    EXPECT_TRUE(s.model->tracks()[0].clips[0].actions.empty());
}

TEST(InspectorAction, SliderDragsAddOneStepAndSetTheValue)
{
    ActionFixture f;
    InspectorHarness& h = *f.harness;
    EXPECT_EQ(dragged(h, f.section().scaleRow(), {0.1, 0.3, 0.5}), 1u);
    EXPECT_NEAR(*f.stored().scale, 0.1 + 0.5 * 3.9, 0.05);
    EXPECT_EQ(f.stored().rotation, std::nullopt);
    EXPECT_EQ(dragged(h, f.section().centerYRow(), {0.5, 0.25}), 1u);
    EXPECT_NEAR(*f.stored().centerY, 0, 0.03);
    EXPECT_EQ(dragged(h, f.section().rotationRow(), {0.5, 0.4, 0.25}), 1u);
    EXPECT_NEAR(*f.stored().rotation, -90, 2);

    ActionFixture sound(MediaKind::audio);
    EXPECT_EQ(dragged(*sound.harness, sound.section().volumeRow(), {0.1, 0.2, 0.25}), 1u);
    EXPECT_NEAR(*sound.stored().volume, 1, 0.03);
}

TEST(InspectorActionTexts, TargetStateAndTitles)
{
    ActionFixture f;
    InspectorHarness& h = *f.harness;
    // Without values the rows show the clip at the action's start.
    EXPECT_EQ(f.section().scaleRow()->valueText(), "100 %");
    EXPECT_EQ(f.section().centerXRow()->valueText(), "50 %");
    EXPECT_EQ(f.section().header()->title(), "Művelet – Képernyő");
    TrackAction set = f.stored();
    set.rotation = -44.5;
    set.centerX = 0.125;
    set.centerY = -0.5;
    set.scale = 1.125;
    h.model->updateAction(set);
    EXPECT_EQ(f.section().rotationRow()->valueText(), "-45°");
    EXPECT_EQ(f.section().centerXRow()->valueText(), "12 %");
    EXPECT_EQ(f.section().centerYRow()->valueText(), "-50 %");
    EXPECT_EQ(f.section().scaleRow()->valueText(), "113 %");

    ActionFixture sound(MediaKind::audio);
    Clip clip = sound.harness->model->tracks()[0].clips[0];
    clip.volume = 0.25f;
    sound.harness->model->updateClip(clip);
    EXPECT_EQ(sound.section().volumeRow()->valueText(), "25 %");
    set = sound.stored();
    set.volume = 1.5f;
    sound.harness->model->updateAction(set);
    EXPECT_EQ(sound.section().volumeRow()->valueText(), "150 %");

    ActionFixture text(MediaKind::video, true);
    EXPECT_EQ(text.section().header()->title(), "Művelet – Szöveg");
}

// --- Track ---

TEST(InspectorTrack, RowsByKindAndTheirSwitches)
{
    Track screen = trackWith("Képernyő", {clipAt(0, 5)});
    screen.hidden = true;
    screen.fromRecording = true;
    Track sound = trackWith("Hang", {clipAt(0, 5, 0, MediaKind::audio)}, MediaKind::audio);
    InspectorHarness h({screen, sound});

    h.model->setSelectedTrackID(screen.id);
    TrackSection* section = h.panel->trackSection();
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->header()->title(), "Sáv: Képernyő");
    EXPECT_EQ(section->header()->symbol(), "display");
    EXPECT_EQ(section->muteRow(), nullptr);
    EXPECT_EQ(section->volumeRow(), nullptr);
    ASSERT_NE(section->visibleRow(), nullptr);
    EXPECT_FALSE(section->visibleRow()->isChecked());
    EXPECT_EQ(clicked(h, section->visibleRow()->toggle()), 1u);
    EXPECT_FALSE(h.model->tracks()[0].hidden);

    h.model->setSelectedTrackID(sound.id);
    section = h.panel->trackSection();
    EXPECT_EQ(section->visibleRow(), nullptr);
    EXPECT_EQ(section->header()->symbol(), "waveform");
    EXPECT_EQ(clicked(h, section->muteRow()->toggle()), 1u);
    EXPECT_TRUE(h.model->tracks()[1].muted);

    QPointer<TrackSection> before = section;
    EXPECT_FALSE(section->maximizerRows()->isVisibleTo(section));
    EXPECT_EQ(clicked(h, section->maximizeRow()->toggle()), 1u);
    EXPECT_TRUE(h.model->tracks()[1].maximize);
    section = h.panel->trackSection();
    EXPECT_TRUE(section->maximizerRows()->isVisibleTo(section));
    EXPECT_EQ(section, before.data());
    EXPECT_EQ(section->maximizeRow()->toolTip(), "A lehető leghangosabbra emeli a sávot torzítás nélkül: automatikus "
                                                  "erősítés + előretekintő limiter \u22121 dB-nél");
}

TEST(InspectorTrack, OrderButtonsMoveWithinTheList)
{
    Track a = trackWith("A", {clipAt(0, 5)});
    Track b = trackWith("B", {clipAt(0, 5)});
    Track c = trackWith("C", {clipAt(0, 5)});
    InspectorHarness h({a, b, c});
    const auto names = [&] {
        std::string text;
        for (const Track& t : h.model->tracks()) text += t.name;
        return text;
    };

    h.model->setSelectedTrackID(a.id);
    EXPECT_EQ(clicked(h, h.panel->trackSection()->upButton()), 0u);
    EXPECT_EQ(names(), "ABC");
    EXPECT_EQ(clicked(h, h.panel->trackSection()->downButton()), 1u);
    EXPECT_EQ(names(), "BAC");
    h.model->setSelectedTrackID(c.id);
    EXPECT_EQ(clicked(h, h.panel->trackSection()->downButton()), 0u);
    EXPECT_EQ(clicked(h, h.panel->trackSection()->upButton()), 1u);
    EXPECT_EQ(names(), "BCA");

    EXPECT_EQ(clicked(h, h.panel->trackSection()->deleteButton()), 1u);
    EXPECT_EQ(names(), "BA");
}

TEST(InspectorTrack, VolumeStepsOncePerDistinctValue)
{
    Track sound = trackWith("Hang", {clipAt(0, 5, 0, MediaKind::audio)}, MediaKind::audio);
    sound.maximize = true;
    InspectorHarness h({sound});
    h.model->setSelectedTrackID(sound.id);
    TrackSection* section = h.panel->trackSection();

    EXPECT_EQ(dragged(h, section->volumeRow(), {0.1, 0.2, 0.3}), 3u);
    EXPECT_NEAR(h.model->tracks()[0].volume, 1.2, 0.03);
    EXPECT_EQ(section->volumeRow()->valueText(), sectiontexts::volumePercent(h.model->tracks()[0].volume));

    // The stored value again: nothing to undo.
    const float stored = h.model->tracks()[0].volume;
    const std::size_t steps = h.undoSteps();
    deliver(*section->volumeRow(), double(std::round(stored * 100)) / 100);
    EXPECT_EQ(h.undoSteps(), steps);

    EXPECT_EQ(dragged(h, section->boostRow(), {0.5, 0.7, 0.9}), 3u);
    EXPECT_NEAR(h.model->tracks()[0].maximizeBoost, 10, 1);
}

TEST(InspectorTrackTexts, LevelsAndCaption)
{
    Track sound = trackWith("Hang", {clipAt(0, 1, 0, MediaKind::audio), clipAt(2, 1, 0, MediaKind::audio),
                                     clipAt(4, 1, 0, MediaKind::audio)},
                            MediaKind::audio);
    sound.volume = 2.5f;
    sound.maximize = true;
    InspectorHarness h({sound});
    h.model->setSelectedTrackID(sound.id);
    TrackSection* section = h.panel->trackSection();
    EXPECT_EQ(section->volumeRow()->valueText(), "250 %");
    EXPECT_EQ(section->boostRow()->valueText(), "+0 dB");
    EXPECT_EQ(section->caption()->text(), "3 klip · a felső sáv van elöl");
    EXPECT_EQ(section->automaticGain()->text(), "Automatikus erősítés: +0.0 dB");

    // The boost is divided out of the gain: the automatic part stays.
    Track boosted = h.model->tracks()[0];
    boosted.maximizeBoost = 6;
    h.model->updateTrack(boosted, true);
    EXPECT_EQ(section->boostRow()->valueText(), "+6 dB");
    EXPECT_EQ(section->automaticGain()->text(), "Automatikus erősítés: +0.0 dB");

    struct Case {
        float gain;
        double boost;
        QString text;
    };
    const Case cases[] = {{4.0f, 6, "Automatikus erősítés: +6.0 dB"},
                          {1.0f, 0, "Automatikus erősítés: +0.0 dB"},
                          {31.6f, 0, "Automatikus erősítés: +30.0 dB"},
                          {0.5f, -6, "Automatikus erősítés: -0.0 dB"}};
    for (const Case& c : cases) EXPECT_EQ(sectiontexts::automaticGain(c.gain, c.boost), c.text);
}

// --- Partners ---

struct PairFixture {
    PairFixture()
    {
        picture = linked(clipAt(0, 4), testing::link(1));
        sound = linked(clipAt(0, 4, 0, MediaKind::audio), testing::link(1));
        sound.fadeOut = 1;
        Track screen = trackWith("Képernyő", {picture});
        Track voice = trackWith("film.mov – hang", {sound}, MediaKind::audio);
        soundTrack = voice.id;
        harness = std::make_unique<InspectorHarness>(std::vector<Track>{screen, voice});
    }
    const Clip& storedSound() const { return harness->model->tracks()[1].clips[0]; }

    Clip picture, sound;
    Uuid soundTrack;
    std::unique_ptr<InspectorHarness> harness;
};

TEST(InspectorPartner, SoundPartnerShowsItsClipAndTrackRows)
{
    PairFixture f;
    InspectorHarness& h = *f.harness;
    h.model->selectClip(f.picture.id, false, false);
    const auto partners = h.panel->partnerRows();
    ASSERT_EQ(partners.size(), 1u);
    PartnerRows& rows = *partners[0];
    EXPECT_EQ(rows.header()->title(), "Összekötött: film.mov – hang");
    EXPECT_EQ(rows.header()->symbol(), "waveform");
    ASSERT_NE(rows.volumeRow(), nullptr);
    EXPECT_EQ(rows.volumeRow()->label(), "Klip hangereje");
    EXPECT_EQ(rows.volumeRow()->valueText(), "100 %");
    EXPECT_EQ(rows.fadeRows()->fadeIn()->valueText(), "0.00 mp");
    EXPECT_DOUBLE_EQ(rows.fadeRows()->fadeIn()->slider()->maximum(), 3);
    EXPECT_EQ(rows.fadeRows()->fadeOut()->valueText(), "1.00 mp");
    ASSERT_NE(rows.trackSection(), nullptr);
    EXPECT_EQ(rows.trackSection()->trackID(), f.soundTrack);
    EXPECT_NE(rows.trackSection()->muteRow(), nullptr);
    EXPECT_EQ(rows.pictureCaption(), nullptr);

    // The rows write the partner, not the selected clip; a drag is one step.
    EXPECT_EQ(dragged(h, rows.volumeRow(), {0.1, 0.125}), 1u);
    EXPECT_NEAR(f.storedSound().volume, 0.5, 0.03);
    EXPECT_EQ(h.clip(0, 0).volume, 1.0f);
    EXPECT_EQ(h.panel->partnerRows()[0]->volumeRow()->valueText(),
              sectiontexts::volumePercent(f.storedSound().volume));
    EXPECT_EQ(dragged(h, rows.fadeRows()->fadeIn(), {0.1, 0.2, 0.5}), 1u);
    EXPECT_NEAR(f.storedSound().fadeIn, 1.5, 0.05);
    EXPECT_EQ(h.clip(0, 0).fadeIn, 0);

    // Its track's settings step per value, as in the track section.
    EXPECT_EQ(dragged(h, rows.trackSection()->volumeRow(), {0.1, 0.2, 0.3}), 3u);
    EXPECT_NEAR(h.model->tracks()[1].volume, 1.2, 0.03);
}

TEST(InspectorPartner, PicturePartnerShowsOnlyTheCaption)
{
    PairFixture f;
    InspectorHarness& h = *f.harness;
    h.model->selectClip(f.sound.id, false, false);
    const auto partners = h.panel->partnerRows();
    ASSERT_EQ(partners.size(), 1u);
    EXPECT_EQ(partners[0]->header()->title(), "Összekötött: Képernyő");
    EXPECT_EQ(partners[0]->volumeRow(), nullptr);
    EXPECT_EQ(partners[0]->trackSection(), nullptr);
    ASSERT_NE(partners[0]->pictureCaption(), nullptr);
    EXPECT_EQ(partners[0]->pictureCaption()->text(), "A kép beállításaihoz Alt-kattints a klipre.");
}

TEST(InspectorPartner, DeletedPartnerDropsTheDragsValues)
{
    PairFixture f;
    InspectorHarness& h = *f.harness;
    h.model->selectClip(f.picture.id, false, false);
    PartnerRows* rows = h.panel->partnerRows()[0];
    DoubleSlider& slider = *rows->volumeRow()->slider();
    const int y = slider.height() / 2;
    const std::size_t steps = h.undoSteps();
    testing::sendMouse(slider, QEvent::MouseButtonPress, {testing::sliderX(slider, 0.1), y}, Qt::LeftButton,
                       Qt::LeftButton);
    // The partner goes away in the middle of the drag (another window's edit).
    std::vector<Track> tracks = h.model->tracks();
    tracks[1].clips.clear();
    h.model->setTracks(tracks);
    testing::sendMouse(slider, QEvent::MouseMove, {testing::sliderX(slider, 0.3), y}, Qt::NoButton, Qt::LeftButton);
    testing::sendMouse(slider, QEvent::MouseButtonRelease, {testing::sliderX(slider, 0.3), y}, Qt::LeftButton,
                       Qt::NoButton);
    EXPECT_EQ(h.undoSteps(), steps + 1);
    EXPECT_TRUE(h.model->tracks()[1].clips.empty());
    EXPECT_EQ(h.clip(0, 0).volume, 1.0f);
}

// --- Screenshots ---

TEST(InspectorClip, ScreenshotOfAClipWithItsSoundPartner)
{
    PairFixture f;
    f.harness->model->selectClip(f.picture.id, false, false);
    f.harness->panel->resize(280, 1500);
    testing::saveScreenshot(*f.harness->panel, "inspector_clip_with_partner");
}

TEST(InspectorAction, ScreenshotOfAnAction)
{
    ActionFixture f;
    f.harness->panel->resize(280, 1000);
    testing::saveScreenshot(*f.harness->panel, "inspector_action");
}

TEST(InspectorTrack, ScreenshotOfASoundTrackWithTheMaximizer)
{
    Track sound = trackWith("Mikrofon", {clipAt(0, 5, 0, MediaKind::audio)}, MediaKind::audio);
    sound.maximize = true;
    sound.maximizeBoost = 3;
    sound.volume = 1.25f;
    InspectorHarness h({sound});
    h.model->setSelectedTrackID(sound.id);
    h.panel->resize(280, 900);
    testing::saveScreenshot(*h.panel, "inspector_sound_track_max");
}

} // namespace
} // namespace ondexa
