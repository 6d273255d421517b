#include "Ondexa/editor/inspector/FontFamilies.h"

#include <QFontDatabase>

#include <optional>

namespace ondexa {

namespace {

// Main thread only, like every widget that reads it.
std::optional<QStringList>& families()
{
    static std::optional<QStringList> list;
    return list;
}

} // namespace

QString plainFontFamily(const QString& name)
{
    // Qt tells same-named families of several foundries apart as "Name [foundry]".
    if (name.endsWith(']')) {
        const qsizetype open = name.lastIndexOf(" [");
        if (open > 0) return name.left(open);
    }
    return name;
}

QStringList visibleFontFamilies(const QStringList& all)
{
    // fontconfig's generic names stand for other families, not fonts of their own.
    static const QStringList aliases = {"Sans Serif", "Serif", "Monospace"};
    QStringList visible;
    for (const QString& name : all) {
        if (name.startsWith('.')) continue;
        const QString plain = plainFontFamily(name);
        if (aliases.contains(plain) || visible.contains(plain)) continue;
        visible.append(plain);
    }
    return visible;
}

const QStringList& fontFamilies()
{
    if (!families()) families() = visibleFontFamilies(QFontDatabase::families());
    return *families();
}

void setFontFamilies(QStringList list) { families() = visibleFontFamilies(list); }

} // namespace ondexa
