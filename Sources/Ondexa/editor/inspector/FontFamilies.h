#pragma once

#include <QStringList>

namespace ondexa {

// The font families the font picker offers, in the font database's order,
// without the hidden ones (names beginning with "."). Built once, on first
// use.
const QStringList& fontFamilies();
// Replaces the list (for tests: a machine's fonts are not fixed).
void setFontFamilies(QStringList families);
// The offered names of a font database's list.
QStringList visibleFontFamilies(const QStringList& all);

} // namespace ondexa
