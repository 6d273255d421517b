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

QStringList visibleFontFamilies(const QStringList& all)
{
    QStringList visible;
    for (const QString& name : all)
        if (!name.startsWith('.')) visible.append(name);
    return visible;
}

const QStringList& fontFamilies()
{
    if (!families()) families() = visibleFontFamilies(QFontDatabase::families());
    return *families();
}

void setFontFamilies(QStringList list) { families() = visibleFontFamilies(list); }

} // namespace ondexa
