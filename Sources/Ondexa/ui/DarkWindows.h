#pragma once

#include <QObject>

class QWindow;

namespace ondexa {

// Asks the window manager for dark decorations on every top-level window the
// application makes: the title bars match the dark contents whatever the
// desktop's own setting. GTK's hint is read by Mutter and Marco, KDE's
// colour scheme by KWin (where a dark one is installed); Xfwm takes neither.
// Only X11 has such hints; elsewhere this does nothing.
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
