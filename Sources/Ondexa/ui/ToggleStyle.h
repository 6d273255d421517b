#pragma once

#include <QString>

class QAbstractButton;

namespace ondexa {

// A tool button that stays on (Snap, the text alignment) is filled with the
// accent colour while on, so that on and off can be told apart at a glance;
// the style's own sunken look differs by a few shades only.
QString toggleStyleSheet();
void styleToggle(QAbstractButton& button);

} // namespace ondexa
