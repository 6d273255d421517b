// The toolbar: the zoom maths and the slider over them, the buttons'
// operations, the texts with Linux key names, the time code over the
// transport row, and the shortcuts taken off while text is typed.

#include "Ondexa/editor/EditorToolbar.h"
#include "Ondexa/editor/TimelineZoom.h"
#include "Ondexa/timeline/LcdTimeDisplay.h"
#include "editing/EditTestSupport.h"
#include "support/ImageCompare.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QAbstractButton>
#include <QShortcut>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>
#include <functional>
#include <memory>

namespace ondexa::testing {
namespace {

TEST(ToolbarZoom, FitIsTheWholeEditWithinTheLimits)
{
    struct Case {
        double width, duration, stored;
    };
    const Case cases[] = {
        {1000, 60, 980.0 / 60},  // 16.333…
        {1000, 0, 980},          // an empty edit fits as if 1 s long
        {1000, 0.5, 980},        // not 1960
        {1000, 1, 980},
        {10000, 2, 4000},        // not 4990: the maximum
        {50, 40, 2.0},           // a narrow view uses 80 points
        {100, 10, 8.0},
        {1000, 1e6, 1000.0 / 10800},  // never below three hours across the view
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(zoom::clamp(zoom::fit(c.width, c.duration), c.width), c.stored)
            << "W " << c.width << ", D " << c.duration;
}

TEST(ToolbarZoom, MinimumAndSliderEnds)
{
    EXPECT_DOUBLE_EQ(zoom::minimum(1000), 1000.0 / 10800);
    EXPECT_DOUBLE_EQ(zoom::minimum(50), 1.0 / 108);
    EXPECT_NEAR(zoom::sliderMinimum(1000), -2.37955, 1e-5);
    EXPECT_DOUBLE_EQ(zoom::sliderMaximum(), 8.294049640102028);
    // The ends of the slider are the ends of the zoom.
    EXPECT_NEAR(zoom::zoomAt(0, 1000), 1000.0 / 10800, 1e-12);
    EXPECT_DOUBLE_EQ(zoom::zoomAt(zoom::sliderSteps, 1000), 4000);
    EXPECT_EQ(zoom::sliderPosition(1e-9, 1000), 0);
    EXPECT_EQ(zoom::sliderPosition(1e9, 1000), zoom::sliderSteps);
    // The clamp takes the lower bound first: a tiny maximum never wins.
    EXPECT_DOUBLE_EQ(zoom::clamp(5000, 1000), 4000);
    // Logarithmic: the middle step is the geometric mean of the ends.
    EXPECT_NEAR(zoom::zoomAt(zoom::sliderSteps / 2, 1000), std::sqrt(4000 * 1000.0 / 10800), 1e-9);
    for (int position : {0, 1, 1234, 5000, 9999, 10000})
        EXPECT_EQ(zoom::sliderPosition(zoom::zoomAt(position, 1000), 1000), position);
}

class ToolbarTest : public ::testing::Test {
protected:
    void make(std::vector<Track> tracks)
    {
        window.reset();
        model = editorWith(folder.path, std::move(tracks));
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        toolbar = new EditorToolbar(*model, window.get());
        layout->addWidget(toolbar);
        window->resize(1000, 80);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void click(const char* name)
    {
        QAbstractButton* button = toolbar->button(name);
        ASSERT_TRUE(button) << name;
        button->click();
    }
    std::size_t clipCount() const
    {
        std::size_t count = 0;
        for (const Track& track : model->tracks()) count += track.clips.size();
        return count;
    }

    TempFolder folder;
    std::unique_ptr<EditorModel> model;
    std::unique_ptr<QWidget> window;
    EditorToolbar* toolbar = nullptr;
};

TEST_F(ToolbarTest, SnapStaysVisiblyDownWhileOn)
{
    make({trackWith("Képernyő", {clipAt(0, 60)})});
    QAbstractButton* snap = toolbar->button("snap");
    ASSERT_TRUE(snap);
    const auto picture = [&](bool on) {
        snap->setChecked(on);
        return snap->grab().toImage();
    };
    const QImage off = picture(false), on = picture(true);
    ASSERT_EQ(off.size(), on.size());  // no jump in the row
    // Told apart at a glance: the style's sunken look alone differed by 18.
    EXPECT_GE(fixtures::largestLumaDifference(off, on), 60);
    saveScreenshot(*snap, "toolbar-snap-on");
    snap->setChecked(false);
    saveScreenshot(*snap, "toolbar-snap-off");
}

TEST_F(ToolbarTest, ZoomSliderAndFitStoreNumbers)
{
    make({trackWith("Képernyő", {clipAt(0, 60)})});
    model->setTimelineWidth(1000);
    ASSERT_FALSE(model->pixelsPerSecond());

    click("fit");
    ASSERT_TRUE(model->pixelsPerSecond());
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 980.0 / 60);

    // A zoom set elsewhere is shown, not rounded to the slider's steps.
    model->setPixelsPerSecond(123.456789);
    QSlider* slider = toolbar->zoomSlider();
    EXPECT_EQ(slider->value(), zoom::sliderPosition(123.456789, 1000));
    toolbar->refreshZoom();
    EXPECT_EQ(model->pixelsPerSecond(), 123.456789);

    // The user's move sets the zoom of that step; the ends are the limits.
    slider->triggerAction(QSlider::SliderToMinimum);
    EXPECT_NEAR(*model->pixelsPerSecond(), 1000.0 / 10800, 1e-12);
    slider->triggerAction(QSlider::SliderToMaximum);
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), 4000);
    slider->setSliderPosition(2500);
    EXPECT_DOUBLE_EQ(*model->pixelsPerSecond(), zoom::zoomAt(2500, 1000));
}

TEST_F(ToolbarTest, ButtonsCallTheirOperations)
{
    struct Case {
        const char* button;
        std::function<bool(EditorModel&)> done;
    };
    const Case cases[] = {
        {"forward", [](EditorModel& m) { return m.clock().time() == 3.0; }},
        {"back", [](EditorModel& m) { return m.clock().time() == 1.0; }},
        {"markIn", [](EditorModel& m) { return m.markIn() == 2.0; }},
        {"markOut", [](EditorModel& m) { return m.markOut() == 2.0; }},
        {"split", [](EditorModel& m) { return m.tracks()[0].clips.size() == 2; }},
        {"trimFront", [](EditorModel& m) { return m.tracks()[0].clips[0].start == 2.0; }},
        {"trimEnd", [](EditorModel& m) { return m.tracks()[0].clips[0].end() == 2.0; }},
        {"action", [](EditorModel& m) { return m.tracks()[0].clips[0].actions.size() == 1; }},
        {"snap", [](EditorModel& m) { return !m.snapping(); }},
    };
    for (const Case& c : cases) {
        make({trackWith("Képernyő", {clipAt(0, 10)})});
        model->clock().setTime(2.0);
        if (std::string(c.button) == "action") model->selectClip(model->tracks()[0].clips[0].id, false, true);
        click(c.button);
        EXPECT_TRUE(c.done(*model)) << c.button;
    }
}

TEST_F(ToolbarTest, DeleteLeavesAGapAndRippleClosesIt)
{
    for (const bool ripple : {false, true}) {
        make({trackWith("Képernyő", {clipAt(0, 2), clipAt(2, 3, 2)})});
        model->selectClip(model->tracks()[0].clips[0].id, false, true);
        click(ripple ? "rippleDelete" : "delete");
        ASSERT_EQ(model->tracks()[0].clips.size(), 1u);
        EXPECT_EQ(model->tracks()[0].clips[0].start, ripple ? 0.0 : 2.0) << ripple;
    }
}

TEST_F(ToolbarTest, UndoAndRedoFollowTheModel)
{
    make({trackWith("Képernyő", {clipAt(0, 10)})});
    QAbstractButton* undo = toolbar->button("undo");
    QAbstractButton* redo = toolbar->button("redo");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    model->clock().setTime(4);
    click("split");
    EXPECT_TRUE(undo->isEnabled());
    click("undo");
    EXPECT_EQ(clipCount(), 1u);
    EXPECT_TRUE(redo->isEnabled());
    click("redo");
    EXPECT_EQ(clipCount(), 2u);
}

TEST_F(ToolbarTest, TextsUseLinuxKeyNamesAndNothingTakesTheFocus)
{
    make({});
    struct Case {
        const char* button;
        QString text, tip;
    };
    const Case cases[] = {
        {"delete", "Törlés Backspace",
         "Backspace: kijelölt művelet, a kezdő–végpont közti rész, vagy a kijelölt klip (hézag marad)"},
        {"rippleDelete", "Összezár Shift+Backspace",
         "Shift+Backspace: a kijelölt klip törlése úgy, hogy a sávban utána jövők előrecsúsznak"},
        {"undo", "", "Visszavonás (Ctrl+Z)"},
        {"redo", "", "Újra (Ctrl+Shift+Z)"},
        {"unlink", "Szétválaszt",
         "Összekötés megszüntetése (Ctrl+Shift+L). Egy összekötött klip Alt-kattintással külön is megfogható."},
        {"split", "Vágás T", "A kijelölt klip(ek) elvágása a lejátszófejnél; ha nincs kijelölés, minden sávé"},
        {"play", "", "Lejátszás / szünet (szóköz)"},
    };
    for (const Case& c : cases) {
        QAbstractButton* button = toolbar->button(c.button);
        ASSERT_TRUE(button) << c.button;
        EXPECT_EQ(button->text(), c.text);
        EXPECT_EQ(button->toolTip(), c.tip);
    }
    EXPECT_EQ(toolbar->zoomSlider()->toolTip(),
              "Időskála nagyítása (Alt + görgő): kicsinyítve akár 3 óra is látszik");
    for (QWidget* widget : toolbar->findChildren<QWidget*>())
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << widget->objectName().toStdString();
    saveScreenshot(*window, "editor-toolbar");
}

TEST_F(ToolbarTest, TimeCodeStaysCentredOverTheTransportRow)
{
    make({trackWith("Képernyő", {clipAt(0, 10)})});
    for (const int width : {1000, 1400, 2000}) {
        window->resize(width, 80);
        QApplication::processEvents();
        const QRect row = toolbar->transportRow()->geometry();
        const QRect code = toolbar->timeDisplay()->geometry();
        EXPECT_LE(std::abs(code.center().x() - row.center().x()), 1) << width;
        EXPECT_TRUE(toolbar->timeDisplay()->isVisible());
        // The forward button and "Snap" leave at least 300 points between them.
        const int gap = toolbar->button("snap")->geometry().left() - toolbar->button("forward")->geometry().right();
        EXPECT_GE(gap, 300) << width;
    }
    EXPECT_EQ(toolbar->timeDisplay()->duration(), 10.0);
}

TEST_F(ToolbarTest, ShortcutsComeOffWhileTextIsEdited)
{
    make({trackWith("Képernyő", {clipAt(0, 10)})});
    model->clock().setTime(4);
    model->setEditingText(true);
    EXPECT_FALSE(toolbar->shortcutsAttached());
    for (QShortcut* shortcut : toolbar->findChildren<QShortcut*>()) EXPECT_TRUE(shortcut->key().isEmpty());
    QTest::keyClick(window.get(), Qt::Key_T);
    QTest::keyClick(window.get(), Qt::Key_I);
    EXPECT_EQ(clipCount(), 1u);
    EXPECT_FALSE(model->markIn());

    model->setEditingText(false);
    EXPECT_TRUE(toolbar->shortcutsAttached());
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<bool(EditorModel&)> done;
    };
    const Case cases[] = {
        {Qt::Key_O, {}, [](EditorModel& m) { return m.markOut() == 4.0; }},
        {Qt::Key_I, {}, [](EditorModel& m) { return m.markIn() == 4.0 && !m.markOut(); }},  // not before the out mark
        {Qt::Key_Right, {}, [](EditorModel& m) { return m.clock().time() == 5.0; }},
        {Qt::Key_O, {}, [](EditorModel& m) { return m.markIn() == 4.0 && m.markOut() == 5.0; }},
        {Qt::Key_Left, {}, [](EditorModel& m) { return m.clock().time() == 4.0; }},
        {Qt::Key_T, {}, [](EditorModel& m) { return m.tracks()[0].clips.size() == 2; }},
        {Qt::Key_BracketRight, {}, [](EditorModel& m) { return m.tracks()[0].clips.size() == 2; }},
        {Qt::Key_Escape, {}, [](EditorModel& m) { return !m.markIn() && !m.markOut(); }},
    };
    for (const Case& c : cases) {
        QTest::keyClick(window.get(), c.key, c.modifiers);
        EXPECT_TRUE(c.done(*model)) << QKeySequence(c.key).toString().toStdString();
    }
}

} // namespace
} // namespace ondexa::testing
