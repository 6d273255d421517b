#pragma once

// A model colour as a Qt colour and back, both in sRGB with `a` as opacity.

#include "Ondexa/model/Overlays.h"

#include <QColor>

namespace ondexa {

// Components outside 0…1 (or not finite) are kept inside it.
QColor rgbaColor(const RGBA& rgba);
// The colour's sRGB components; an invalid colour, which has none, gives
// plain red (1, 0, 0, 1).
RGBA rgbaFromColor(const QColor& color);

} // namespace ondexa
