#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <array>

namespace ondexa {

// A symbol's icon recoloured to one colour (its shape kept), `size` pixels
// square at the given device pixel ratio; cached. Main thread only.
QPixmap tintedSymbol(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio = 1);

// The symbols the timeline drawing puts on clips, as tinted images at one
// device pixel ratio. Threads that draw bands of the timeline read these and
// never touch an icon, a pixmap or the cache above.
struct TimelineSymbolImages {
    static constexpr int side = 10;  // points: one line of clip text
    QImage chain;                    // white at 0.9, before a linked clip's name
    std::array<QImage, 6> transitions;  // yellow, by Transition

    // Made on the first call for a ratio, which must come from the main
    // thread; later calls may come from any thread.
    static const TimelineSymbolImages& at(qreal devicePixelRatio);
};

} // namespace ondexa
