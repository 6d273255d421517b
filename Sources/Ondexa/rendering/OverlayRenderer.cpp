#include "Ondexa/rendering/OverlayRenderer.h"

#include "Ondexa/rendering/DropShadow.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <memory>

namespace ondexa::OverlayRenderer {
namespace {

// Text is laid out against a 72-dpi device so that a point is a pixel on every
// output, whatever the target image's own resolution.
const QPaintDevice& layoutDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        const int dotsPerMeter = static_cast<int>(std::lround(72 / 0.0254));
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return device;
}

QString defaultFontFamily()
{
    static const QString family = QFontDatabase::hasFamily(QString::fromLatin1(OverlayRenderer::defaultFamily))
                                      ? QString::fromLatin1(OverlayRenderer::defaultFamily)
                                      : QString::fromLatin1(fallbackFamily);
    return family;
}

QString fontFamily(const std::optional<std::string>& wanted)
{
    if (wanted && !wanted->empty()) {
        const QString family = QString::fromStdString(*wanted);
        if (QFontDatabase::hasFamily(family))
            return family;
    }
    return defaultFontFamily();
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

QColor colour(const RGBA& c)
{
    auto unit = [](double v) { return static_cast<float>(std::clamp(finiteOr(v, 0), 0.0, 1.0)); };
    return QColor::fromRgbF(unit(c.r), unit(c.g), unit(c.b), unit(c.a));
}

Qt::Alignment qtAlignment(TextAlignment alignment)
{
    switch (alignment) {
    case TextAlignment::left: return Qt::AlignLeft;
    case TextAlignment::center: return Qt::AlignHCenter;
    case TextAlignment::right: return Qt::AlignRight;
    case TextAlignment::justified: return Qt::AlignJustify;
    }
    return Qt::AlignLeft;
}

// Where a line sits across its frame: 0 at the left, 1 at the right.
double alignmentFactor(TextAlignment alignment)
{
    switch (alignment) {
    case TextAlignment::center: return 0.5;
    case TextAlignment::right: return 1;
    case TextAlignment::left:
    case TextAlignment::justified: return 0;
    }
    return 0;
}

// Layout widths under 10 pixels are raised to 10, as are non-finite ones.
double layoutWidth(double width)
{
    return width >= 10 ? width : 10;
}

struct Laid {
    std::unique_ptr<QTextLayout> layout;
    QSizeF size;  // widest line, sum of line heights
    double width = 0;  // the width the lines were broken in
};

Laid layOut(const AttributedText& text, double width)
{
    QString string = text.text;
    string.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    string.replace(QLatin1Char('\n'), QChar::LineSeparator);
    string.replace(QLatin1Char('\r'), QChar::LineSeparator);

    Laid laid;
    laid.width = width;
    laid.layout = std::make_unique<QTextLayout>(string, text.font, &layoutDevice());
    QTextOption option(qtAlignment(text.alignment));
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Unrounded advances: a box measured at one height keeps its line breaks
    // at every other.
    option.setUseDesignMetrics(true);
    laid.layout->setTextOption(option);
    laid.layout->setCacheEnabled(true);

    double y = 0;
    double widest = 0;
    laid.layout->beginLayout();
    for (;;) {
        QTextLine line = laid.layout->createLine();
        if (!line.isValid())
            break;
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        // Unrounded: QTextLine::height() rounds each line up, and the error would
        // pile up over the lines and differ between output sizes.
        y += line.ascent() + line.descent() + line.leading();
        widest = std::max(widest, line.naturalTextWidth());
    }
    laid.layout->endLayout();
    laid.size = QSizeF(widest, y);
    return laid;
}

// The reference layout of a text overlay: its text at the reference height,
// in the reference box width less the padding. The text-box rule measures it,
// and drawing scales it to the output, so the drawn lines are the measured ones
// whatever the output size (Qt rounds font pixel sizes, which would otherwise
// change widths and line breaks from one size to another).
Laid referenceLayout(const Overlay& overlay, double outputAspect)
{
    const double padding = paddingFactor * finiteOr(overlay.fontSize, 0) * referenceHeight;
    const double boxWidth = outputAspect * referenceHeight * overlay.rect.w;
    return layOut(attributed(overlay, referenceHeight), layoutWidth(boxWidth - 2 * padding));
}

void drawTextWithShadow(const Overlay& overlay, QPainter& painter, QSizeF outputSize,
                        const DropShadow* shadow)
{
    const double height = outputSize.height();
    const double aspect = height > 0 ? outputSize.width() / height : 0;
    const QRectF box = textBox(overlay, outputSize);
    const double padding = paddingFactor * finiteOr(overlay.fontSize, 0) * height;

    // Text that the 4-point floor enlarges, here or at the reference height, is
    // laid out at the output height itself.
    const double fontSize = finiteOr(overlay.fontSize, 0);
    const bool scaled = fontSize * referenceHeight >= 4 && fontSize * height >= 4;
    const double scale = scaled ? height / referenceHeight : 1;
    const Laid laid = scaled ? referenceLayout(overlay, aspect)
                             : layOut(attributed(overlay, height), layoutWidth(box.width() - 2 * padding));
    const double layoutWidthPx = laid.width * scale;
    const double textWidth = laid.size.width() * scale;
    const TextAlignment alignment = overlay.alignment.value_or(TextAlignment::left);

    double backgroundWidth = std::min(std::ceil(textWidth) + 2 * padding + 2, box.width());
    double x = box.x();
    switch (alignment) {
    case TextAlignment::left: break;
    case TextAlignment::center: x += (box.width() - backgroundWidth) / 2; break;
    case TextAlignment::right: x += box.width() - backgroundWidth; break;
    case TextAlignment::justified: backgroundWidth = box.width(); break;
    }

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (overlay.background) {
        // The background never casts a shadow.
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.6f));
        painter.drawRoundedRect(QRectF(x, box.y(), backgroundWidth, box.height()), padding, padding);
        painter.restore();
    }

    // Lines were broken in the measuring width; they are placed across the
    // (possibly narrower) frame inside the background as its alignment says.
    const double frameWidth = backgroundWidth - 2 * padding;
    const QPointF origin(x + padding + alignmentFactor(alignment) * (frameWidth - layoutWidthPx),
                         box.y() + padding);
    const double margin = laid.layout->font().pointSizeF() * scale;  // glyphs may overhang their lines
    const QRectF inkBounds = QRectF(origin, QSizeF(layoutWidthPx, laid.size.height() * scale))
                                 .adjusted(-margin, -margin, margin, margin);
    painter.save();
    painter.setPen(colour(overlay.color));
    drawWithShadow(painter, shadow, inkBounds, [&](QPainter& p) {
        p.translate(origin);
        p.scale(scale, scale);
        laid.layout->draw(&p, QPointF(0, 0));
    });
    painter.restore();
}

QRectF insetShapeRect(const Overlay& overlay, QSizeF size, double lineWidth)
{
    const QRectF rect = QRectF(overlay.rect.x * size.width(), overlay.rect.y * size.height(),
                               overlay.rect.w * size.width(), overlay.rect.h * size.height())
                            .normalized();
    const double inset = lineWidth / 2;
    return rect.adjusted(inset, inset, -inset, -inset);
}

void drawArrow(const Overlay& overlay, QPainter& painter, QSizeF size, double lineWidth,
               const DropShadow& shadow)
{
    const QPointF a(overlay.from.x * size.width(), overlay.from.y * size.height());
    const QPointF b(overlay.to.x * size.width(), overlay.to.y * size.height());
    const double distance = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (!(distance > 1))
        return;
    const QPointF unit = (b - a) / distance;
    const double head = std::min(0.6 * distance, 4.5 * lineWidth);
    const QPointF shaftEnd = b - 0.7 * head * unit;
    const QPointF base = b - head * unit;
    const QPointF across = 0.6 * head * QPointF(-unit.y(), unit.x());

    const double margin = lineWidth;
    const QRectF shaftBounds = QRectF(a, shaftEnd).normalized().adjusted(-margin, -margin, margin, margin);
    drawWithShadow(painter, &shadow, shaftBounds, [&](QPainter& p) {
        p.setBrush(Qt::NoBrush);
        p.drawLine(a, shaftEnd);
    });

    QPainterPath triangle;
    triangle.setFillRule(Qt::WindingFill);
    triangle.moveTo(b);
    triangle.lineTo(base + across);
    triangle.lineTo(base - across);
    triangle.closeSubpath();
    drawWithShadow(painter, &shadow, triangle.boundingRect().adjusted(-1, -1, 1, 1), [&](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.drawPath(triangle);
    });
}

} // namespace

AttributedText attributed(const Overlay& overlay, double height)
{
    AttributedText result;
    result.text = overlay.text.empty() ? QStringLiteral(" ") : QString::fromStdString(overlay.text);
    const double size = std::max(finiteOr(overlay.fontSize * height, 0), 4.0);
    QFont font(fontFamily(overlay.fontFamily));
    font.setPointSizeF(size);
    font.setWeight(overlay.bold.value_or(true) ? QFont::Bold : QFont::Normal);
    // Outlines unhinted, so that text scales exactly with the output height.
    font.setHintingPreference(QFont::PreferNoHinting);
    result.font = font;
    result.color = colour(overlay.color);
    result.alignment = overlay.alignment.value_or(TextAlignment::left);
    return result;
}

QSizeF suggestedSize(const AttributedText& text, double width)
{
    return layOut(text, width).size;
}

double textBoxHeight(const Overlay& overlay, double outputAspect)
{
    const double padding = paddingFactor * finiteOr(overlay.fontSize, 0) * referenceHeight;
    return (2 * padding + referenceLayout(overlay, outputAspect).size.height()) / referenceHeight;
}

QRectF textBox(const Overlay& overlay, QSizeF outputSize)
{
    const double aspect = outputSize.height() > 0 ? outputSize.width() / outputSize.height() : 0;
    return QRectF(overlay.rect.x * outputSize.width(), overlay.rect.y * outputSize.height(),
                  overlay.rect.w * outputSize.width(),
                  textBoxHeight(overlay, aspect) * outputSize.height());
}

void drawText(const Overlay& overlay, QPainter& painter, QSizeF outputSize)
{
    painter.save();
    drawTextWithShadow(overlay, painter, outputSize, nullptr);
    painter.restore();
}

void drawAnnotations(std::span<const Overlay> overlays, QPainter& painter, QSizeF outputSize)
{
    for (const Overlay& overlay : overlays) {
        painter.save();
        const double lineWidth = std::max(finiteOr(overlay.lineWidth * outputSize.height(), 0), 1.0);
        const DropShadow shadow{QPointF(0, 0.4 * lineWidth), 1.5 * lineWidth, QColor::fromRgbF(0, 0, 0, 0.45f)};
        const QColor color = colour(overlay.color);
        QPen pen(color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(color);
        painter.setRenderHint(QPainter::Antialiasing);

        switch (overlay.kind) {
        case OverlayKind::text:
            drawTextWithShadow(overlay, painter, outputSize, &shadow);
            break;
        case OverlayKind::arrow:
            drawArrow(overlay, painter, outputSize, lineWidth, shadow);
            break;
        case OverlayKind::rectangle:
        case OverlayKind::ellipse: {
            const QRectF rect = insetShapeRect(overlay, outputSize, lineWidth);
            if (rect.width() < 0 || rect.height() < 0)
                break;  // the line would be wider than the shape
            const QRectF bounds = rect.adjusted(-lineWidth, -lineWidth, lineWidth, lineWidth);
            const bool ellipse = overlay.kind == OverlayKind::ellipse;
            drawWithShadow(painter, &shadow, bounds, [&](QPainter& p) {
                p.setBrush(Qt::NoBrush);
                if (ellipse)
                    p.drawEllipse(rect);
                else
                    p.drawRect(rect);
            });
            break;
        }
        case OverlayKind::zoom:
        case OverlayKind::pip:
            break;
        }
        painter.restore();
    }
}

std::optional<OverlayImage> render(const Overlay& overlay, QSize outputSize)
{
    if (outputSize.width() <= 0 || outputSize.height() <= 0 || outputSize.width() > maximumBitmapSide ||
        outputSize.height() > maximumBitmapSide)
        return std::nullopt;
    QImage canvas(outputSize, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        drawAnnotations(std::span(&overlay, 1), painter, QSizeF(outputSize));
    }

    // Keep only the rows and columns that hold ink: the rest of a full-frame
    // overlay is transparent and would cost memory and blending for nothing.
    const int width = canvas.width();
    const int height = canvas.height();
    auto rowHasInk = [&](int y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        return std::any_of(row, row + width, [](QRgb pixel) { return pixel != 0; });
    };
    int top = 0;
    while (top < height && !rowHasInk(top))
        ++top;
    if (top == height)
        return OverlayImage{QImage(), QPoint()};
    int bottom = height - 1;
    while (bottom > top && !rowHasInk(bottom))
        --bottom;
    int left = width;
    int right = -1;
    for (int y = top; y <= bottom; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        for (int x = 0; x < left; ++x)
            if (row[x] != 0) {
                left = x;
                break;
            }
        for (int x = width - 1; x > right; --x)
            if (row[x] != 0) {
                right = x;
                break;
            }
    }
    const QRect ink(QPoint(left, top), QPoint(right, bottom));
    return OverlayImage{canvas.copy(ink), ink.topLeft()};
}

} // namespace ondexa::OverlayRenderer
