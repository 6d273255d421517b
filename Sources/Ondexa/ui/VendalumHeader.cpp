#include "Ondexa/ui/VendalumHeader.h"

#include "Ondexa/ui/Theme.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace ondexa {

namespace {

// "VENDALUM" filled with the metal gradient from the top of the letters to
// their baseline's descent.
class MetalTitle : public QWidget {
public:
    explicit MetalTitle(QWidget* parent) : QWidget(parent)
    {
        font_ = Theme::font(21, Theme::Weight::bold);
        font_.setLetterSpacing(QFont::AbsoluteSpacing, 3);
        const QFontMetricsF metrics(font_);
        setFixedSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 2, int(std::ceil(metrics.height())));
        setAccessibleName(text());
    }

    static QString text() { return QStringLiteral("VENDALUM"); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QFontMetricsF metrics(font_);
        QPainterPath path;
        path.addText(QPointF(0, metrics.ascent()), font_, text());
        const QRectF letters = path.boundingRect();
        painter.fillPath(path, Theme::metal(letters));
    }

private:
    QFont font_;
};

} // namespace

VendalumHeader::VendalumHeader(const QString& subtitle, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    icon_ = new QLabel(this);
    icon_->setFixedSize(iconSize, iconSize);
    auto* glow = new QGraphicsDropShadowEffect(icon_);
    QColor glowColor = Theme::accent();
    glowColor.setAlphaF(0.45f);
    glow->setColor(glowColor);
    glow->setBlurRadius(16);  // a shadow radius of 8 spreads about twice as far
    glow->setOffset(0, 0);
    icon_->setGraphicsEffect(glow);
    refreshIcon();
    row->addWidget(icon_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addStretch(1);  // the two lines sit in the middle of a taller header
    texts->addWidget(new MetalTitle(this));
    subtitle_ = new QLabel(subtitle, this);
    subtitle_->setObjectName("subtitle");
    subtitle_->setFont(Theme::font(Theme::captionSize + 1));
    QPalette dim = subtitle_->palette();
    dim.setColor(QPalette::WindowText, Theme::secondary());
    subtitle_->setPalette(dim);
    subtitle_->setTextFormat(Qt::PlainText);
    texts->addWidget(subtitle_);
    texts->addStretch(1);
    row->addLayout(texts);
    row->addStretch(1);
}

QString VendalumHeader::subtitle() const { return subtitle_->text(); }

void VendalumHeader::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange) refreshIcon();
}

void VendalumHeader::refreshIcon()
{
    const QIcon appIcon = Theme::appIcon();
    // Always 46 × 46, whatever sizes the icon comes in.
    const qreal ratio = devicePixelRatioF();
    QPixmap picture = appIcon.pixmap(QSize(iconSize, iconSize), ratio);
    if (picture.size() != QSize(iconSize, iconSize) * ratio)
        picture = picture.scaled(QSize(iconSize, iconSize) * ratio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.setDevicePixelRatio(ratio);
    icon_->setPixmap(picture);
}

} // namespace ondexa
