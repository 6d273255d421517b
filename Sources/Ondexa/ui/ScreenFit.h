#pragma once

// A top-level window kept within its screen's available area (what panels
// and docks leave): the height it may take, and its frame moved back onto
// the screen where it fits. Follows the window to another screen and the
// screen through its changes, calling `refit` each time.

#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <functional>

namespace ondexa::ui {

class ScreenFit {
public:
    ScreenFit(QWidget& window, std::function<void()> refit);
    ScreenFit(const ScreenFit&) = delete;
    ScreenFit& operator=(const ScreenFit&) = delete;

    // Follows the window's native window and screen, once they exist.
    void follow();
    // The height the window's content may take on its screen: the available
    // height less the frame the window manager puts around it (none known
    // before it is framed). 0 without a screen.
    int contentHeight() const;
    // Moves the window up (or down) so that its frame lies on the available area, where it fits.
    void keepOnScreen();

private:
    QWidget& window_;
    std::function<void()> refit_;
    QPointer<QWindow> handle_;  // whose screen changes are followed
    QPointer<QScreen> screen_;  // whose geometry changes are followed
    QMetaObject::Connection screenGeometry_;
};

} // namespace ondexa::ui
