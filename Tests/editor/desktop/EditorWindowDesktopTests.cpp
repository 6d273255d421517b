// The editor window playing on the test desktop: the space bar plays and
// pauses, the picture moves on, minimising keeps playing and closing stops.

#include "../EditorWindowTestSupport.h"

#include "Ondexa/editor/EditorToolbar.h"
#include "Ondexa/editor/PlayerView.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QAbstractButton>
#include <QSignalSpy>

namespace ondexa::testing {
namespace {

class EditorWindowDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = openEditor(makeEditorRecording(folder.path / "Felvétel 2024-05-01 10.00.00.mov"));
        ASSERT_TRUE(window->model().isLoaded());
    }

    TempFolder folder;
    std::unique_ptr<EditorWindow> window;
};

TEST_F(EditorWindowDesktopTest, SpacePlaysAndPausesThePicture)
{
    EditorModel& model = window->model();
    QSignalSpy frames(&window->playerView(), &PlayerView::frameChanged);
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_TRUE(model.isPlaying());
    EXPECT_TRUE(runUntil([&] { return model.clock().time() > 0.5; }, std::chrono::seconds(10)));
    EXPECT_GT(frames.count(), 3);
    EXPECT_FALSE(window->playerView().frame().isNull());
    saveScreenshot(*window, "editor-window-playing");

    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_FALSE(model.isPlaying());
    const double stopped = model.clock().time();
    QTest::qWait(300);
    EXPECT_NEAR(model.clock().time(), stopped, 1e-9);
}

TEST_F(EditorWindowDesktopTest, MinimisingPlaysOnAndClosingStops)
{
    EditorModel& model = window->model();
    window->toolbar()->button("play")->click();
    ASSERT_TRUE(model.isPlaying());
    window->showMinimized();
    QTest::qWait(200);
    EXPECT_TRUE(model.isPlaying());
    window->showNormal();

    window->close();
    EXPECT_FALSE(model.isPlaying());
}

} // namespace
} // namespace ondexa::testing
