#include "Ondexa/timeline/TimelineSymbols.h"

#include "Ondexa/ui/Symbols.h"

#include <QHash>
#include <QPainter>

namespace ondexa {

QPixmap tintedSymbol(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(symbol).arg(color.rgba()).arg(size).arg(devicePixelRatio);
    if (const auto found = cache.constFind(key); found != cache.constEnd()) return *found;

    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QPixmap tinted(pixels, pixels);
    tinted.fill(Qt::transparent);
    {
        QPainter painter(&tinted);
        Symbols::icon(symbol).paint(&painter, QRect(0, 0, pixels, pixels));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), color);
    }
    tinted.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, tinted);
    return tinted;
}

} // namespace ondexa
