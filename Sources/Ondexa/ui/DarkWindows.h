#pragma once

#include <QObject>

class QWindow;

namespace ondexa {

// Asks the window manager for dark decorations on every top-level window the
// application makes: the title bars match the dark contents whatever the
// desktop's own setting. On X11, GTK's hint is read by Mutter and Marco,
// KDE's colour scheme by KWin (where a dark one is installed); Xfwm takes
// neither. Wayland has no such hint, and this does nothing there: Qt lets
// the compositor choose who draws the frame (xdg-decoration); sway and KWin
// draw their own, in their own colours; where Qt draws it (GNOME, Weston:
// no xdg-decoration), its decoration takes the application's palette as
// each window is made, dark since the theme is applied before any window.
class DarkWindows : public QObject {
    Q_OBJECT

public:
    explicit DarkWindows(QObject* parent = nullptr);

    // Sets the hint on one window now (it needs its native window).
    static void mark(QWindow& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace ondexa
