#include "Ondexa/ui/ToggleStyle.h"

#include "Ondexa/ui/Theme.h"

#include <QAbstractButton>

namespace ondexa {

QString toggleStyleSheet()
{
    // Only the on state is ours: off keeps the style's own look and size.
    return QString("QToolButton:checked { background: %1; border: 1px solid %2; border-radius: 4px; color: white; } "
                   "QToolButton:checked:hover { background: %2; } "
                   "QToolButton:checked:disabled { background: %3; border-color: %3; }")
        .arg(Theme::accent().name(), Theme::accent().lighter(115).name(), Theme::accent().darker(160).name());
}

void styleToggle(QAbstractButton& button) { button.setStyleSheet(toggleStyleSheet()); }

} // namespace ondexa
