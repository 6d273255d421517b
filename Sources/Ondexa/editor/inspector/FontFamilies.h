#pragma once

#include <QStringList>

namespace ondexa {

// The font families the font picker offers, in the font database's order,
// each once by its plain name, without the hidden ones (names beginning with
// ".") and fontconfig's generic aliases. Built once, on first use.
const QStringList& fontFamilies();
// Replaces the list (for tests: a machine's fonts are not fixed).
void setFontFamilies(QStringList families);
// The offered names of a font database's list.
QStringList visibleFontFamilies(const QStringList& all);
// A family's name without the foundry Qt adds to tell same-named families
// apart ("Nimbus Sans [urw]" is "Nimbus Sans").
QString plainFontFamily(const QString& name);

} // namespace ondexa
