#include "Ondexa/ui/Elided.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>

namespace ondexa {

QString elidedToFit(const QFontMetricsF& metrics, const QString& text, double width)
{
    if (metrics.horizontalAdvance(text) <= width) return text;
    if (metrics.horizontalAdvance(QStringLiteral("…")) > width) return {};
    return metrics.elidedText(text, Qt::ElideRight, width);
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    refreshToolTip();
}

void ElidedLabel::setText(const QString& text)
{
    if (text == text_) return;
    text_ = text;
    updateGeometry();
    refreshToolTip();
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    update();
}

QString ElidedLabel::shownText() const
{
    const QRect r = contentsRect();
    return fontMetrics().elidedText(text_, Qt::ElideRight, std::max(r.width(), 0));
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(text_) + m.left() + m.right(),
                 fontMetrics().height() + m.top() + m.bottom());
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Room for the first letter and the ellipsis at least.
    const QMargins m = contentsMargins();
    return QSize(std::min(fontMetrics().horizontalAdvance(text_.left(1) + QStringLiteral("…")),
                          fontMetrics().horizontalAdvance(text_))
                     + m.left() + m.right(),
                 fontMetrics().height() + m.top() + m.bottom());
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(contentsRect(), int(alignment_) | Qt::TextSingleLine, shownText());
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        refreshToolTip();
    }
}

void ElidedLabel::refreshToolTip() { setToolTip(isElided() ? text_ : QString()); }

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {}

bool ElidedComboBox::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (currentText().isEmpty()) QToolTip::hideText();
        else QToolTip::showText(help->globalPos(), currentText(), this);
        return true;
    }
    return QComboBox::event(event);
}

QRect ElidedComboBox::textRect() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
}

QString ElidedComboBox::shownText() const
{
    // A little short of the field: the style insets the label by a pixel each side.
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, std::max(textRect().width() - 2, 0));
}

void ElidedComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

} // namespace ondexa
