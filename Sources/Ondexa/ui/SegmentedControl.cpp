#include "Ondexa/ui/SegmentedControl.h"

#include "Ondexa/ui/Theme.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace ondexa {

namespace {

// One segment; the outer ends of the row are rounded.
class Segment : public QAbstractButton {
public:
    explicit Segment(const QString& text, QWidget* parent) : QAbstractButton(parent)
    {
        setText(text);
        setCheckable(true);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFocusPolicy(Qt::TabFocus);
    }

    bool first = true, last = true;

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 24, metrics.height() + 9};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, last ? -0.5 : 0.5, -0.5);
        const qreal radius = 6;
        QPainterPath shape;
        shape.setFillRule(Qt::WindingFill);
        shape.addRoundedRect(r, radius, radius);
        // Square the inner ends.
        if (!first) shape.addRect(QRectF(r.left(), r.top(), radius, r.height()));
        if (!last) shape.addRect(QRectF(r.right() - radius, r.top(), radius, r.height()));
        const bool on = isChecked();
        QColor fill = on ? Theme::accent() : QColor(255, 255, 255, isDown() ? 36 : 22);
        QColor ink = on ? QColor(Qt::white) : QColor(255, 255, 255, 225);
        if (!isEnabled()) {
            fill = on ? QColor(255, 255, 255, 44) : QColor(255, 255, 255, 14);
            ink = QColor(255, 255, 255, 100);
        }
        painter.setPen(QPen(on && isEnabled() ? Theme::accent() : QColor(255, 255, 255, 30), 1));
        painter.setBrush(fill);
        painter.drawPath(shape.simplified());
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

} // namespace

SegmentedControl::SegmentedControl(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this))
{
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(0);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::activated);
}

void SegmentedControl::addSegment(const QString& text)
{
    auto* segment = new Segment(text, this);
    const int index = count();
    group_->addButton(segment, index);
    row_->addWidget(segment);
    for (int i = 0; i <= index; ++i) {
        auto* s = static_cast<Segment*>(group_->button(i));
        s->first = i == 0;
        s->last = i == index;
        s->update();
    }
}

int SegmentedControl::count() const { return int(group_->buttons().size()); }

QString SegmentedControl::text(int index) const
{
    const QAbstractButton* b = group_->button(index);
    return b ? b->text() : QString();
}

int SegmentedControl::currentIndex() const { return group_->checkedId(); }

void SegmentedControl::setCurrentIndex(int index)
{
    if (QAbstractButton* b = group_->button(index)) b->setChecked(true);
}

} // namespace ondexa
