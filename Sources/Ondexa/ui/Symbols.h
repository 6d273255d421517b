#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace ondexa {

// The program names its icons by symbol names ("record.circle", "scissors").
// Each maps to an icon of the freedesktop theme the program installs and
// sets itself; the few without a counterpart there are painted here.
class Symbols {
public:
    Symbols() = delete;

    // The icon of a symbol; null for a name not in the table.
    static QIcon icon(const QString& symbol);
    // The theme icon a symbol maps to, or empty when it is painted here.
    static QString themeName(const QString& symbol);
    // Every symbol the table knows.
    static QStringList names();
    // Sets the icon theme the table draws from.
    static void useIconTheme();

    // The chain that marks linked clips in front of their names; DejaVu has
    // no glyph for it.
    static constexpr const char* chain = "link.chain";
};

} // namespace ondexa
