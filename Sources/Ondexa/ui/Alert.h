#pragma once

// An alert belongs to a window: window-modal over it, in front of it and
// holding the keyboard for as long as it is open. Window managers and
// compositors don't keep that on their own: a window that comes back from a
// recording, or that the user clicks while its alert is open, takes the
// focus and may cover the alert, and then it looks hung (it ignores input
// while its alert waits behind it). Every alert of the program opens and
// closes through here.

class QDialog;

namespace ondexa::ui {

class Alert {
public:
    Alert() = delete;

    // Opens `alert`, a dialog with a parent widget, window-modal over that
    // widget's window; nothing when it is open already. While that window is
    // away (hidden for a recording, or closed), the alert waits one turn of
    // the event loop for it, since a failed start brings the windows back
    // just after its message; then it shows on its own, and returns in front
    // of the window when that comes back. A dialog without a parent opens
    // as it would.
    static void open(QDialog& alert);
    // Whether open() was called and the alert neither finished nor closed
    // since: shown, or waiting for its window.
    static bool isOpen(const QDialog& alert);
    // Takes the alert away without an answer (no `finished`).
    static void close(QDialog& alert);
};

} // namespace ondexa::ui
