#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace ondexa {

// A symbol's icon recoloured to one colour (its shape kept), `size` pixels
// square at the given device pixel ratio; cached.
QPixmap tintedSymbol(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio = 1);

} // namespace ondexa
