// The record window on the test desktop's X screen: an interface with more
// inputs than the screen has room for.

#include "app/AppTestSupport.h"

#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/RecordView.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

namespace ondexa::testing {
namespace {

class RecordWindowDesktopTest : public RecordWindowTest {};

TEST_F(RecordWindowDesktopTest, TwentyFourInputsScrollInAWindowThatStaysOnTheScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    system.mics.push_back(device("big", 24));
    const auto state = make();
    state->setMicEnabled(true);
    state->setMicUID("big");
    RecordWindow window(*state, {});
    const QRect available = window.screen()->availableGeometry();
    ASSERT_LT(available.height(), 1301) << "the screen has room for the whole form";
    window.move(available.left() + 100, available.top() + 200);  // placed low: the window comes up to fit
    window.show();
    const auto* scroll = window.findChild<QScrollArea*>();
    ASSERT_TRUE(scroll);
    // The window is shown before its rows have settled; the X server
    // answers the move and the resize in its own time.
    const auto settled = [&] {
        return window.view()->height() == window.view()->sizeHint().height() &&
               available.contains(window.frameGeometry());
    };
    EXPECT_TRUE(pumpUntil(settled)) << window.frameGeometry().y() << " + " << window.frameGeometry().height();
    EXPECT_EQ(window.width(), RecordView::width);
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    for (const char* name : {"actionBar", "mainButton", "revealFolder", "open"}) {
        const QWidget* w = part(*window.view(), name);
        EXPECT_TRUE(available.contains(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()))) << name;
    }
}

} // namespace
} // namespace ondexa::testing
