#pragma once

#include "Platform/capture/ScreenContent.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScreen;
class QWindow;

namespace ondexa {

// Display points are root pixels measured from the display's top left (the
// coordinates the area is stored and recorded in). Qt places windows in its
// own coordinates, which equal root pixels at scale 1 and are root pixels
// divided by the screen's device pixel ratio beyond; this converts.
struct OverlayPlacement {
    QScreen* screen = nullptr;  // the Qt screen the display lies on
    QRect frame;                // the display, root pixels
    QPoint screenOrigin;        // the screen's top left: root pixels and Qt units alike
    double ratio = 1;           // root pixels per Qt unit on that screen
    // A Wayland session: a program can't place its windows, only show them
    // full-screen on a screen; display points are Qt's own units there.
    bool fullScreenOnly = false;

    static OverlayPlacement of(const QRect& displayFrame);
    // Shows `window` over the display: at its place, or full-screen on its screen.
    void show(QWindow& window, const QRect& rootRect) const;

    // A rectangle of root pixels in Qt's coordinates, rounded inwards to
    // whole units so that it never covers more than the pixels given.
    QRect toWindowGeometry(const QRect& rootRect) const;
};

// The rectangle a drag spans, in whole display points inside a display of
// the given size.
class AreaDrag {
public:
    // Smaller drags are taken for a slip of the hand.
    static constexpr double minimumSide = 16;

    explicit AreaDrag(QSize displaySize) : bounds_(displaySize) {}

    // Every change of the drag: the first fixes the start, each sets the
    // current point. Points are rounded to whole points and kept on the display.
    void moveTo(QPointF at);
    // Absent until the drag has both points; spans them whichever way it went.
    std::optional<QRectF> selection() const;
    // The end of the drag: the selection when both sides are at least
    // minimumSide; otherwise absent, and the drag starts over.
    std::optional<QRectF> finish();

    std::optional<QPointF> start() const { return start_; }
    std::optional<QPointF> current() const { return current_; }

private:
    QSize bounds_;
    std::optional<QPointF> start_;    // absent at first and after a rejected drag
    std::optional<QPointF> current_;
};

// A line of text laid out with monospaced digits: each of 0 … 9 takes the
// width of the widest one, centred in it; other characters take their own.
struct MonospacedDigits {
    MonospacedDigits(const QString& text, const std::function<double(QChar)>& advance);

    std::vector<double> offsets;  // where each character is drawn, from the line's start
    double width = 0;             // the whole line
};

class AreaSelectionView;

// A full-screen window over one display in which the user drags out the area
// to record. It shows a still picture of the display taken when it opens (so
// it needs no compositing manager), dimmed except for the selection, and takes
// the keyboard so that Escape reaches it.
//
// Main thread only. `completion` runs once, from the event loop after the
// window has gone, with the area in display points, or with nothing when the
// user pressed Escape; the owner may destroy the selector inside it. Destroying
// the selector earlier closes the window and the completion never runs.
class AreaSelector {
public:
    using Completion = std::function<void(std::optional<QRectF> area)>;

    // Opens at once over a picture of the display taken now (black when the
    // screen can't be read).
    AreaSelector(const platform::ScreenDisplay& display, Completion completion);
    // Opens over `still` (scaled to the display) instead of reading the screen.
    AreaSelector(const platform::ScreenDisplay& display, QImage still, Completion completion);
    ~AreaSelector();

    AreaSelector(const AreaSelector&) = delete;
    AreaSelector& operator=(const AreaSelector&) = delete;

    QWindow* window() const;
    const AreaDrag& drag() const;
    // What the window shows now, at the display's size in points.
    QImage snapshot() const;

    static const QString hint;

private:
    void finish(std::optional<QRectF> area);

    std::unique_ptr<AreaSelectionView> window_;
    Completion completion_;  // emptied when called
};

} // namespace ondexa
