#include "Ondexa/recording/AreaSelector.h"

#include "Platform/capture/ScreenGrab.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRasterWindow>
#include <QScreen>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ondexa {

// ---- placement ----

OverlayPlacement OverlayPlacement::of(const QRect& displayFrame)
{
    OverlayPlacement placement;
    placement.frame = displayFrame;
    // Qt keeps each screen's top left in root pixels and scales only its size.
    QScreen* chosen = nullptr;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        if (screen->geometry().topLeft() == displayFrame.topLeft()) {
            chosen = screen;
            break;
        }
    if (!chosen)
        for (QScreen* screen : screens) {
            const QRect native(screen->geometry().topLeft(), screen->geometry().size() * screen->devicePixelRatio());
            if (native.contains(displayFrame.center())) {
                chosen = screen;
                break;
            }
        }
    if (!chosen) chosen = QGuiApplication::primaryScreen();
    placement.fullScreenOnly = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (chosen) {
        placement.screen = chosen;
        placement.screenOrigin = chosen->geometry().topLeft();
        placement.ratio = chosen->devicePixelRatio() > 0 && !placement.fullScreenOnly ? chosen->devicePixelRatio() : 1.0;
    }
    return placement;
}

void OverlayPlacement::show(QWindow& window, const QRect& rootRect) const
{
    if (screen) window.setScreen(screen);
    if (fullScreenOnly) {
        window.showFullScreen();
        return;
    }
    window.setGeometry(toWindowGeometry(rootRect));
    window.show();
}

QRect OverlayPlacement::toWindowGeometry(const QRect& rootRect) const
{
    // The tolerance keeps exact quotients (every one at scale 1) from tipping over.
    constexpr double tolerance = 1e-6;
    const auto unitsX = [this](int x) { return (x - screenOrigin.x()) / ratio; };
    const auto unitsY = [this](int y) { return (y - screenOrigin.y()) / ratio; };
    const int left = int(std::ceil(unitsX(rootRect.x()) - tolerance));
    const int top = int(std::ceil(unitsY(rootRect.y()) - tolerance));
    const int right = int(std::floor(unitsX(rootRect.x() + rootRect.width()) + tolerance));
    const int bottom = int(std::floor(unitsY(rootRect.y() + rootRect.height()) + tolerance));
    return QRect(screenOrigin.x() + left, screenOrigin.y() + top, std::max(0, right - left),
                 std::max(0, bottom - top));
}

// ---- the drag ----

void AreaDrag::moveTo(QPointF at)
{
    const QPointF point(std::clamp(std::round(at.x()), 0.0, double(bounds_.width())),
                        std::clamp(std::round(at.y()), 0.0, double(bounds_.height())));
    if (!start_) start_ = point;
    current_ = point;
}

std::optional<QRectF> AreaDrag::selection() const
{
    if (!start_ || !current_) return std::nullopt;
    return QRectF(std::min(start_->x(), current_->x()), std::min(start_->y(), current_->y()),
                  std::abs(start_->x() - current_->x()), std::abs(start_->y() - current_->y()));
}

std::optional<QRectF> AreaDrag::finish()
{
    const std::optional<QRectF> chosen = selection();
    if (chosen && chosen->width() >= minimumSide && chosen->height() >= minimumSide) return chosen;
    start_.reset();
    current_.reset();
    return std::nullopt;
}

// ---- monospaced digits ----

MonospacedDigits::MonospacedDigits(const QString& text, const std::function<double(QChar)>& advance)
{
    double cell = 0;
    for (char digit = '0'; digit <= '9'; ++digit) cell = std::max(cell, advance(QChar(digit)));
    offsets.reserve(std::size_t(text.size()));
    for (const QChar ch : text) {
        const double own = advance(ch);
        if (ch.isDigit() && ch.unicode() < 0x80) {
            // Centred in the widest digit's cell.
            offsets.push_back(width + (cell - own) / 2);
            width += cell;
        } else {
            offsets.push_back(width);
            width += own;
        }
    }
}

// ---- the window ----

namespace {

const QColor dimColour = QColor::fromRgbF(0, 0, 0, 0.45f);
const QColor capsuleColour = QColor::fromRgbF(0, 0, 0, 0.7f);
constexpr double labelGap = 30;  // the size label sits this far above the selection

QFont semibold(int pixelSize)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSizeF capsuleSize(const QString& text, const QFont& font, QSizeF padding)
{
    const QFontMetricsF metrics(font);
    return QSizeF(metrics.horizontalAdvance(text) + 2 * padding.width(), metrics.height() + 2 * padding.height());
}

// The size label on its capsule: white, monospaced digits, so that the
// label keeps its width while the numbers change under the drag.
void drawSizeLabel(QPainter& painter, const QString& text, const QFont& font, QPointF topLeft, QSizeF padding)
{
    const QFontMetricsF metrics(font);
    const MonospacedDigits run(text, [&](QChar ch) { return metrics.horizontalAdvance(ch); });
    const QRectF box(topLeft, QSizeF(run.width + 2 * padding.width(), metrics.height() + 2 * padding.height()));
    QPainterPath capsule;
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(capsule, capsuleColour);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const double baseline = box.top() + padding.height() + metrics.ascent();
    for (qsizetype i = 0; i < text.size(); ++i)
        painter.drawText(QPointF(box.left() + padding.width() + run.offsets[std::size_t(i)], baseline), QString(text[i]));
}

// White text on a black capsule, `padding` around the text.
void drawCapsule(QPainter& painter, const QString& text, const QFont& font, QPointF topLeft, QSizeF padding)
{
    const QRectF box(topLeft, capsuleSize(text, font, padding));
    QPainterPath capsule;
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.fillPath(capsule, capsuleColour);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

} // namespace

const QString AreaSelector::hint = QStringLiteral("Húzd ki a felvenni kívánt területet  ·  Esc = mégse");

class AreaSelectionView : public QRasterWindow {
public:
    AreaSelectionView(const OverlayPlacement& placement, QImage still,
                      std::function<void(std::optional<QRectF>)> onFinish)
        : drag(placement.frame.size()), placement_(placement), still_(std::move(still)),
          onFinish_(std::move(onFinish))
    {
    }

    // Draws the view at `size` (Qt units); the painter may be scaled.
    void render(QPainter& painter, QSizeF size) const
    {
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds(QPointF(0, 0), size);
        if (still_.isNull()) {
            // No still (Wayland): the live desktop shows through, dimmed.
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(bounds, Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else {
            painter.drawImage(bounds, still_);
        }

        const std::optional<QRectF> chosen = drag.selection();
        const double units = 1 / placement_.ratio;  // Qt units per display point
        QPainterPath dim;
        dim.setFillRule(Qt::OddEvenFill);
        dim.addRect(bounds);
        if (!chosen) {
            painter.fillPath(dim, dimColour);
            const QFont font = semibold(20);
            const QSizeF padding(16, 10);
            const QSizeF box = capsuleSize(AreaSelector::hint, font, padding);
            drawCapsule(painter, AreaSelector::hint, font,
                        QPointF((size.width() - box.width()) / 2, (size.height() - box.height()) / 2), padding);
            return;
        }

        const QRectF shown(chosen->x() * units, chosen->y() * units, chosen->width() * units,
                           chosen->height() * units);
        dim.addRect(shown);
        painter.fillPath(dim, dimColour);
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(shown);
        const QString label = QStringLiteral("%1 × %2").arg(int(chosen->width())).arg(int(chosen->height()));
        drawSizeLabel(painter, label, semibold(13), QPointF(shown.x(), std::max(0.0, shown.y() - labelGap)),
                      QSizeF(8, 4));
    }

    QImage snapshot() const
    {
        QImage image(placement_.frame.size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.scale(placement_.ratio, placement_.ratio);
        render(painter, QSizeF(placement_.frame.size()) / placement_.ratio);
        return image;
    }

    void close()
    {
        setKeyboardGrabEnabled(false);
        hide();
    }

    AreaDrag drag;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        render(painter, QSizeF(size()));
    }

    void exposeEvent(QExposeEvent* event) override
    {
        QRasterWindow::exposeEvent(event);
        // Without a window manager nobody gives us the keyboard; the grab
        // also keeps Escape ours when a manager hands focus elsewhere.
        if (isExposed() && !keyboardTaken_) {
            requestActivate();
            keyboardTaken_ = setKeyboardGrabEnabled(true);
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) return;
        dragTo(event->position());
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton)) return;
        dragTo(event->position());
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) return;
        dragTo(event->position());
        if (const std::optional<QRectF> chosen = drag.finish()) {
            onFinish_(chosen);
            return;
        }
        update();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape) onFinish_(std::nullopt);
    }

private:
    void dragTo(QPointF position)
    {
        drag.moveTo(position * placement_.ratio);
        update();
    }

    OverlayPlacement placement_;
    QImage still_;  // the display as it was when the selector opened
    std::function<void(std::optional<QRectF>)> onFinish_;
    bool keyboardTaken_ = false;
};

// ---- the selector ----

namespace {

QImage stillOf(const QRect& frame)
{
    // A Wayland session gives no program a picture of the screen: the
    // selector shows the live desktop through itself instead.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return {};
    // Let the server carry out what we asked of it (the highlight just
    // removed) before another connection reads the screen.
    QGuiApplication::sync();
    try {
        return platform::grabScreen(frame);
    } catch (const platform::CaptureError&) {
        // Selecting still works on black; the recording itself will report the screen.
        QImage black(frame.size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        black.fill(Qt::black);
        return black;
    }
}

} // namespace

AreaSelector::AreaSelector(const platform::ScreenDisplay& display, Completion completion)
    : AreaSelector(display, stillOf(display.frame), std::move(completion))
{
}

AreaSelector::AreaSelector(const platform::ScreenDisplay& display, QImage still, Completion completion)
    : completion_(std::move(completion))
{
    const OverlayPlacement placement = OverlayPlacement::of(display.frame);
    const bool seeThrough = still.isNull();
    window_ = std::make_unique<AreaSelectionView>(placement, std::move(still),
                                                   [this](std::optional<QRectF> area) { finish(area); });
    if (seeThrough) {
        QSurfaceFormat format = window_->format();
        format.setAlphaBufferSize(8);
        window_->setFormat(format);
    }
    window_->setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                      Qt::X11BypassWindowManagerHint);
    window_->setTitle(QStringLiteral("Vendalum"));
    placement.show(*window_, display.frame);
    window_->requestActivate();
}

AreaSelector::~AreaSelector() = default;

QWindow* AreaSelector::window() const { return window_.get(); }

const AreaDrag& AreaSelector::drag() const { return window_->drag; }

QImage AreaSelector::snapshot() const { return window_->snapshot(); }

void AreaSelector::finish(std::optional<QRectF> area)
{
    if (!completion_) return;
    window_->close();
    // Called from the event loop, not from inside the window's own event
    // handler, so that the owner may destroy the selector in the completion.
    QPointer<QWindow> alive(window_.get());
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive, area, completion = std::exchange(completion_, nullptr)] {
            if (alive) completion(area);
        },
        Qt::QueuedConnection);
}

} // namespace ondexa
