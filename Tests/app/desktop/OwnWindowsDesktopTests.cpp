// Our windows leave the screen for a recording and come back under a window
// manager: an alert raised meanwhile in front of its window, holding the
// keyboard, the window answering again once it is closed; a window where
// the user left it, on its workspace.

#include "app/AppTestSupport.h"
#include "app/desktop/TestWindowManager.h"

#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/OwnWindows.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/ui/SegmentedControl.h"

#include <QAbstractButton>
#include <QMainWindow>
#include <QMessageBox>

namespace ondexa::testing {
namespace {

using namespace std::chrono_literals;
using Mode = AppState::CaptureMode;

class OwnWindowsDesktopTest : public RecordWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_TRUE(manager.running());
    }

    static std::uint32_t id(const QWidget& window) { return std::uint32_t(window.winId()); }
    // A click where the user would click: through the X server and the window manager.
    static void click(const QWidget& widget)
    {
        const QPoint at = widget.mapToGlobal(widget.rect().center());
        runBeside("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }
    static void pressReturn() { runBeside("xdotool", {"key", "Return"}); }

    // Whether the alert is in front of the window and has the keyboard, and
    // stays so for a moment: a window that comes back takes the focus a
    // little later than it is shown.
    bool inFront(const QWidget& alert, const QWidget& window)
    {
        const auto now = [&] {
            return alert.isVisible() && manager.activeWindow() == id(alert) && manager.above(id(alert), id(window));
        };
        return pumpUntil(now, 10s) && (pumpFor(700ms), now());
    }

    TestWindowManager manager;
};

TEST_F(OwnWindowsDesktopTest, AnAlertRaisedWhileTheRecordWindowIsAwayStaysInFrontAsItComesBack)
{
    const auto state = make();
    RecordWindow window(*state, {});
    window.show();
    ASSERT_TRUE(pumpUntil([&] { return manager.activeWindow() == id(window); }, 10s));
    auto* area = part(*window.view(), "captureModeRow")->findChild<SegmentedControl*>()->findChildren<QAbstractButton*>().at(1);

    // A recording that fails as it starts: its message comes just before
    // our windows.
    OwnWindows own;
    own.hide(QRectF());
    ASSERT_TRUE(pumpUntil([&] { return !manager.manages(id(window)); }, 10s));
    state->setErrorMessage("A felvétel lezárása hibával járt: betelt a lemez.");
    own.show();
    QMessageBox* alert = window.view()->errorAlert();
    ASSERT_TRUE(inFront(*alert, window));

    // The user clicks the window behind the alert: it changes nothing there,
    // and the alert comes forward again.
    click(*area);
    ASSERT_TRUE(inFront(*alert, window));
    EXPECT_EQ(state->captureMode(), Mode::display);

    // Return answers the alert; then the window takes clicks again.
    pressReturn();
    ASSERT_TRUE(pumpUntil([&] { return !state->errorMessage(); }, 10s)) << "the keys went elsewhere";
    EXPECT_FALSE(alert->isVisible());
    click(*area);
    EXPECT_TRUE(pumpUntil([&] { return state->captureMode() == Mode::area; }, 10s));
}

TEST_F(OwnWindowsDesktopTest, AHiddenWindowReturnsAtItsPlaceOnItsWorkspace)
{
    QMainWindow editor;
    editor.setWindowTitle("szerkesztő");
    editor.resize(500, 300);
    editor.show();
    ASSERT_TRUE(pumpUntil([&] { return manager.manages(id(editor)); }, 10s));
    // The user drags it aside and sends it to another workspace.
    const QString window = QString::number(id(editor));
    runBeside("xdotool", {"windowmove", window, "1100", "500"});
    ASSERT_TRUE(pumpUntil([&] { return editor.geometry().left() >= 1100 && editor.geometry().top() >= 500; }, 10s))
        << editor.geometry().left() << "," << editor.geometry().top();
    pumpFor(300ms);
    const QPoint place = editor.geometry().topLeft();
    const bool workspaces = manager.workspaces() > 1;
    if (workspaces) {
        runBeside("xdotool", {"set_desktop_for_window", window, "1"});
        ASSERT_TRUE(pumpUntil([&] { return manager.workspaceOf(id(editor)) == 1u; }, 10s));
    }

    OwnWindows own;
    own.hide(QRectF());
    ASSERT_TRUE(pumpUntil([&] { return !manager.manages(id(editor)); }, 10s));
    own.show();
    ASSERT_TRUE(pumpUntil([&] { return manager.manages(id(editor)); }, 10s));
    pumpFor(500ms);
    EXPECT_EQ(editor.geometry().topLeft(), place);
    if (workspaces) {
        EXPECT_EQ(manager.workspaceOf(id(editor)), 1u);
    }
}

} // namespace
} // namespace ondexa::testing
