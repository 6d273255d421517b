// The inspector in a window of the test desktop, under the X server's own
// wheel: over an unfocused slider it scrolls the panel and edits nothing; a
// focused slider takes it as one undoable step.

#include "DesktopInput.h"

#include "Ondexa/editor/inspector/ClipSection.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorPanel.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/OverlayRows.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QScrollBar>

#include <chrono>
#include <string>

namespace ondexa::testing {
namespace {

using std::chrono::seconds;

TEST(InspectorDesktop, TheWheelScrollsPastAnUnfocusedSliderAndStepsAFocusedOne)
{
    TempFolder folder;
    Clip caption = clipAt(0, 10);
    caption.media.reset();
    Overlay text;
    text.kind = OverlayKind::text;
    text.text = "Felirat";
    text.fontSize = 0.05;
    caption.overlay = text;
    auto model = editorWith(folder.path, {trackWith("Effektek 1", {caption}, MediaKind::effects)});
    model->setRebuildStub([](double) {});
    model->setCursorStyle(CursorStyle{});
    model->selectClip(caption.id, false, true);

    InspectorPanel panel(*model);
    panel.setWindowTitle(QStringLiteral("Felügyelő görgetése"));
    panel.resize(280, 400);
    panel.show();
    ASSERT_TRUE(runUntil([&] { return panel.isVisible() && panel.height() == 400; }, seconds(10)));
    panel.activateWindow();
    xdotool("windowfocus --sync " + std::to_string(panel.winId()));
    DoubleSlider* slider = panel.clipSection()->overlayRows()->fontSizeRow()->slider();
    QScrollBar* scroll = panel.verticalScrollBar();
    panel.ensureWidgetVisible(slider, 0, 150);
    runUntil([] { return false; }, std::chrono::milliseconds(300));
    const int scrolled = scroll->value();
    ASSERT_LT(scrolled, scroll->maximum());
    const auto wheelOver = [&](int button) {
        const QPoint at = slider->mapToGlobal(slider->rect().center());
        ASSERT_EQ(xdotool("mousemove --sync " + std::to_string(at.x()) + " " + std::to_string(at.y())), 0);
        ASSERT_EQ(xdotool("click " + std::to_string(button)), 0);
    };

    // Button 5 is a notch towards the user.
    const std::size_t steps = model->undoStack().size();
    ASSERT_NO_FATAL_FAILURE(wheelOver(5));
    EXPECT_TRUE(runUntil([&] { return scroll->value() > scrolled; }, seconds(10)));
    EXPECT_EQ(model->tracks()[0].clips[0].overlay->fontSize, 0.05);
    EXPECT_EQ(model->undoStack().size(), steps);
    EXPECT_FALSE(slider->hasFocus());

    panel.ensureWidgetVisible(slider, 0, 150);
    slider->setFocus();
    ASSERT_TRUE(runUntil([&] { return slider->hasFocus(); }, seconds(10)));
    ASSERT_NO_FATAL_FAILURE(wheelOver(4));
    EXPECT_TRUE(runUntil([&] { return model->tracks()[0].clips[0].overlay->fontSize > 0.05; }, seconds(10)));
    EXPECT_NEAR(model->tracks()[0].clips[0].overlay->fontSize, 0.053, 1e-9);
    EXPECT_EQ(model->undoStack().size(), steps + 1);
}

} // namespace
} // namespace ondexa::testing
