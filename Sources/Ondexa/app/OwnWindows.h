#pragma once

// Our windows off the screen for a recording and back afterwards. X11 can't
// leave a window out of a capture, so they go before the first frame. Each
// window of a widget goes through its widget: Qt then knows it hidden, and
// a later show() (the record window asked for during the recording) brings
// it back. Popups and tooltips are closed for good; windows of no widget
// are hidden as windows; the area's highlight bands stay, the tray icon
// stays docked, and so does a window wholly outside the captured rectangle
// (its clock and "Leállítás" stay at hand). A hidden window comes back
// where it was and, on X11, on its workspace: a window manager places a
// window it sees mapped again as a new one.

#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <optional>
#include <vector>

namespace ondexa {

class OwnWindows {
public:
    // `captured`: the recorded rectangle in root pixels.
    void hide(const QRectF& captured);
    // As hide(), but the windows of widgets go to the task bar or dock
    // instead: where the desktop has neither a tray nor a hot key that
    // reaches us, the user brings the record window back from there to stop.
    void minimize(const QRectF& captured);
    // Shows what hide() or minimize() took away and gives the focus back.
    void show();

private:
    // Where a hidden window was: the top left of its contents (the window
    // manager frames it again) and its X11 workspace.
    struct Place {
        QPoint position;
        std::optional<std::uint32_t> workspace;
    };
    struct Widget {
        QPointer<QWidget> widget;
        Qt::WindowStates state;  // before minimize()
        Place place;             // after hide()
    };
    struct Window {
        QPointer<QWindow> window;
        Place place;
    };

    void takeAway(const QRectF& captured, bool minimized);
    static Place placeOf(QWindow& window);
    static void putBack(QWindow& window, const Place& place);

    std::vector<Widget> widgets_;  // windows before their dialogs
    std::vector<Window> windows_;
    bool minimized_ = false;
    QPointer<QWidget> active_;  // had the focus when they went
};

} // namespace ondexa
