#pragma once

#include <QString>

namespace ondexa {

// Rewrites key glyphs in a label or tooltip into the names shown on Linux:
// "⌘⇧Z" → "Ctrl+Shift+Z", "Törlés ⌫" → "Törlés Backspace",
// "⌥-kattintás" → "Alt-kattintás". Modifiers come in the order Ctrl, Alt,
// Shift, joined to their key with "+"; arrows stay as they are. "⌃" is the
// global recording key's modifier, which is Ctrl+Alt here ("⌃A" →
// "Ctrl+Alt+A"), since a global Ctrl+A would take select-all from every
// program on the desktop.
QString keyNames(const QString& text);

} // namespace ondexa
