#include "Ondexa/ui/Symbols.h"

#include <QIconEngine>
#include <QtGlobal>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <map>

namespace ondexa {

namespace {

// Symbol name → theme icon name; an empty theme name is painted below.
const std::map<QString, QString>& table()
{
    static const std::map<QString, QString> entries{
        {"record.circle", "media-record"},
        {"stop.fill", "media-playback-stop"},
        {"play.fill", "media-playback-start"},
        {"pause.fill", "media-playback-pause"},
        {"gobackward.5", "media-seek-backward"},
        {"goforward.5", "media-seek-forward"},
        {"scissors", "edit-cut"},
        {"trash", "edit-delete"},
        {"link", "link"},
        {"magnet", "kt-magnet"},
        {"sparkles", "tools-wizard"},
        {"eye", "view-visible"},
        {"eye.slash", "view-hidden"},
        {"speaker.wave.2", "audio-volume-high"},
        {"speaker.slash.fill", "audio-volume-muted"},
        {"plus.magnifyingglass", "zoom-in"},
        {"minus.magnifyingglass", "zoom-out"},
        {"photo.on.rectangle", "insert-image"},
        {"photo", "image-x-generic"},
        {"film", "video-x-generic"},
        {"display", "video-display"},
        {"video", "camera-video"},
        {"waveform", "audio-x-generic"},
        {"textformat", "draw-text"},
        {"rectangle", "draw-rectangle"},
        {"circle", "draw-ellipse"},
        {"arrow.up", "arrow-up"},
        {"arrow.down", "arrow-down"},
        {"arrow.down.to.line", "go-bottom"},
        {"arrow.left.square", "arrow-left"},
        {"arrow.left.and.right.square", "transform-move-horizontal"},
        {"arrow.uturn.backward", "edit-undo"},
        {"arrow.uturn.forward", "edit-redo"},
        {"checkmark.circle.fill", "dialog-ok-apply"},
        {"line.3.horizontal", "application-menu"},
        {"circle.lefthalf.filled", "contrast"},
        {"rectangle.righthalf.inset.filled", "view-split-left-right"},
        {"moon.fill", "weather-clear-night"},
        {"text.alignleft", "format-justify-left"},
        {"text.aligncenter", "format-justify-center"},
        {"text.alignright", "format-justify-right"},
        {"text.justify", "format-justify-fill"},
        // No counterpart in the theme.
        {"arrow.up.left", ""},
        {"arrow.up.right", ""},
        {"arrow.down.left", ""},
        {"arrow.down.right", ""},
        {"circle.dashed", ""},
        {"pip", ""},
        {Symbols::chain, ""},
    };
    return entries;
}

// Draws one painted symbol into a square, in the label colour, at any size.
class PaintedSymbol : public QIconEngine {
public:
    explicit PaintedSymbol(QString symbol) : symbol_(std::move(symbol)) {}

    QIconEngine* clone() const override { return new PaintedSymbol(symbol_); }
    QString key() const override { return "ondexa.painted"; }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor ink = mode == QIcon::Disabled ? QColor(255, 255, 255, 90) : QColor(235, 238, 245);
        const qreal s = std::min(rect.width(), rect.height());
        painter->translate(rect.center().x() + 0.5 - s / 2, rect.center().y() + 0.5 - s / 2);
        painter->scale(s / 16.0, s / 16.0);  // draw on a 16 × 16 grid
        QPen pen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);

        if (symbol_.startsWith("arrow.")) {
            // A diagonal arrow pointing up-right, mirrored for the other corners.
            const bool left = symbol_.endsWith("left");
            const bool down = symbol_.contains("down");
            painter->translate(8, 8);
            painter->scale(left ? -1 : 1, down ? -1 : 1);
            painter->drawLine(QPointF(-4.5, 4.5), QPointF(4.5, -4.5));
            painter->drawPolyline(QPolygonF({QPointF(-1.5, -4.5), QPointF(4.5, -4.5), QPointF(4.5, 1.5)}));
        } else if (symbol_ == "circle.dashed") {
            pen.setDashPattern({1.6, 1.4});
            pen.setCapStyle(Qt::FlatCap);
            painter->setPen(pen);
            painter->drawEllipse(QPointF(8, 8), 6, 6);
        } else if (symbol_ == "pip") {
            painter->drawRoundedRect(QRectF(1.5, 3, 13, 10), 1.5, 1.5);
            painter->setPen(Qt::NoPen);
            painter->setBrush(ink);
            painter->drawRoundedRect(QRectF(8, 8, 5, 3.5), 0.8, 0.8);
        } else if (symbol_ == Symbols::chain) {
            // Two slanted links hooked into each other.
            painter->translate(8, 8);
            painter->rotate(-45);
            painter->drawRoundedRect(QRectF(-7, -2.5, 8, 5), 2.5, 2.5);
            painter->drawRoundedRect(QRectF(-1, -2.5, 8, 5), 2.5, 2.5);
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return image;
    }

private:
    QString symbol_;
};

} // namespace

QIcon Symbols::icon(const QString& symbol)
{
    const auto entry = table().find(symbol);
    if (entry == table().end()) return {};
    if (entry->second.isEmpty()) return QIcon(new PaintedSymbol(symbol));
    return QIcon::fromTheme(entry->second);
}

QIcon Symbols::tinted(const QString& symbol, const QColor& color)
{
    const QIcon source = icon(symbol);
    if (source.isNull()) return {};
    QIcon result;
    for (const int side : {16, 22, 32, 44}) {
        QPixmap picture = source.pixmap(QSize(side, side));
        QPainter painter(&picture);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(picture.rect(), color);
        painter.end();
        result.addPixmap(picture);
    }
    return result;
}

QString Symbols::themeName(const QString& symbol)
{
    const auto entry = table().find(symbol);
    return entry == table().end() ? QString() : entry->second;
}

QStringList Symbols::names()
{
    QStringList all;
    for (const auto& [name, theme] : table()) all << name;
    return all;
}

void Symbols::useIconTheme()
{
    // Some platform plugins (offscreen among them) search no system folder.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList dataDirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS")).split(':', Qt::SkipEmptyParts);
    if (dataDirs.isEmpty()) dataDirs = {"/usr/local/share", "/usr/share"};
    for (const QString& dir : dataDirs) {
        const QString icons = dir + "/icons";
        if (!paths.contains(icons)) paths << icons;
    }
    // Our own copy of the symbols' breeze-dark icons, for desktops without breeze.
    if (!paths.contains(QStringLiteral(":/icons"))) paths << QStringLiteral(":/icons");
    QIcon::setThemeSearchPaths(paths);
    // The dark variant draws light glyphs for our dark windows; it inherits
    // what it lacks from breeze. Where it is missing, Qt turns to the
    // fallback theme, which holds every symbol and inherits breeze in turn.
    QIcon::setThemeName("breeze-dark");
    QIcon::setFallbackThemeName(QStringLiteral("vendalum-symbols"));
}

} // namespace ondexa
