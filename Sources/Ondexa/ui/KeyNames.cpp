#include "Ondexa/ui/KeyNames.h"

#include <QStringList>

namespace ondexa {

namespace {

constexpr char16_t command = u'⌘';
constexpr char16_t option = u'⌥';
constexpr char16_t shift = u'⇧';
constexpr char16_t control = u'⌃';
constexpr char16_t backspace = u'⌫';

bool isModifier(QChar c) { return c == command || c == option || c == shift || c == control; }

bool isArrow(QChar c) { return c == u'←' || c == u'→' || c == u'↑' || c == u'↓'; }

// The key that follows modifiers: a glyph key, or one letter or digit that
// does not run on into a word.
qsizetype keyLength(const QString& text, qsizetype at)
{
    if (at >= text.size()) return 0;
    const QChar c = text[at];
    if (c == backspace || isArrow(c)) return 1;
    if (c.isLetterOrNumber() && (at + 1 == text.size() || !text[at + 1].isLetter())) return 1;
    return 0;
}

QString keyName(QChar c) { return c == backspace ? QStringLiteral("Backspace") : QString(c); }

} // namespace

QString keyNames(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (!isModifier(c)) {
            out += c == backspace ? keyName(c) : QString(c);
            ++i;
            continue;
        }
        bool ctrl = false, alt = false, shifted = false;
        while (i < text.size() && isModifier(text[i])) {
            const QChar m = text[i++];
            if (m == command) ctrl = true;
            else if (m == option) alt = true;
            else if (m == shift) shifted = true;
            else ctrl = alt = true;  // control: the global recording key
        }
        QStringList parts;
        if (ctrl) parts << "Ctrl";
        if (alt) parts << "Alt";
        if (shifted) parts << "Shift";
        if (const qsizetype n = keyLength(text, i)) {
            parts << keyName(text[i]);
            i += n;
        }
        out += parts.join('+');
    }
    return out;
}

} // namespace ondexa
