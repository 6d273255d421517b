#include "Ondexa/timeline/TimelineSymbols.h"

#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"

#include <QCoreApplication>
#include <QHash>
#include <QPainter>
#include <QThread>

#include <map>
#include <memory>
#include <mutex>

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

const TimelineSymbolImages& TimelineSymbolImages::at(qreal devicePixelRatio)
{
    static std::mutex mutex;
    // Never erased: the drawing threads keep references. Guarded by mutex.
    static std::map<qreal, std::unique_ptr<const TimelineSymbolImages>> made;
    const std::lock_guard lock(mutex);
    auto& images = made[devicePixelRatio];
    if (!images) {
        // Icons and pixmaps belong to the main thread.
        Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
        auto fresh = std::make_unique<TimelineSymbolImages>();
        // The very pixels tintedSymbol gives, drawn as they were before.
        const auto image = [&](const QString& symbol, const QColor& color) {
            QImage result = tintedSymbol(symbol, color, side, devicePixelRatio).toImage();
            result.setDevicePixelRatio(devicePixelRatio);
            return result;
        };
        fresh->chain = image(QString::fromLatin1(Symbols::chain), QColor::fromRgbF(1, 1, 1, 0.9f));
        for (const Transition transition : allTransitions())
            fresh->transitions.at(std::size_t(transition)) = image(transitionSymbol(transition), Theme::yellow());
        images = std::move(fresh);
    }
    return *images;
}

} // namespace ondexa
