#include "Ondexa/editor/inspector/ColorButton.h"

#include "Ondexa/ui/Theme.h"

#include <QColorDialog>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

namespace ondexa {

namespace {

std::optional<QColor> askQColorDialog(const QColor& current, QWidget* parent, const QString& title)
{
    const QColor color = QColorDialog::getColor(current, parent, title,
                                                QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
    // getColor gives an invalid colour for a cancelled dialog.
    if (!color.isValid()) return std::nullopt;
    return color;
}

ColorButton::Dialog& dialog()
{
    static ColorButton::Dialog instance = askQColorDialog;
    return instance;
}

} // namespace

ColorButton::ColorButton(const QString& title, QWidget* parent) : QAbstractButton(parent), title_(title)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(title);
    connect(this, &QAbstractButton::clicked, this, &ColorButton::choose);
}

void ColorButton::setDialog(Dialog replacement) { dialog() = replacement ? std::move(replacement) : askQColorDialog; }

void ColorButton::setColor(const QColor& color)
{
    if (color == color_) return;
    color_ = color;
    update();
}

void ColorButton::choose()
{
    // The dialog runs its own event loop: the button may be gone after it.
    const QPointer<ColorButton> self(this);
    const std::optional<QColor> chosen = dialog()(color_, this, title_);
    if (!chosen || !self) return;
    const QColor color = chosen->isValid() ? *chosen : QColor(Qt::red);
    setColor(color);
    emit picked(color);
}

QSize ColorButton::sizeHint() const { return {44, 22}; }

void ColorButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(hasFocus() ? Theme::accent() : QColor(255, 255, 255, 70), 1));
    painter.setBrush(QColor(255, 255, 255, 22));
    painter.drawRoundedRect(frame, 5, 5);
    const QRectF well = frame.adjusted(4, 4, -4, -4);
    // A checkerboard shows through a translucent colour.
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(well, 3, 3);
    painter.setClipPath(clip);
    painter.fillRect(well, Qt::white);
    const int cell = 5;
    for (int y = 0; y * cell < well.height(); ++y)
        for (int x = (y % 2); x * cell < well.width(); x += 2)
            painter.fillRect(QRectF(well.left() + x * cell, well.top() + y * cell, cell, cell), QColor(200, 200, 200));
    painter.fillRect(well, color_);
    painter.restore();
}

} // namespace ondexa
