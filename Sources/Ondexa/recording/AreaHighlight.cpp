#include "Ondexa/recording/AreaHighlight.h"

#include "Ondexa/recording/AreaSelector.h"
#include "Platform/capture/ScreenGrab.h"

#include <QPainter>
#include <QPainterPath>
#include <QRasterWindow>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

const char* const bandName = "ondexa.areaHighlight";
const QColor dimColour = QColor::fromRgbF(0, 0, 0, 0.45f);
const QColor outlineColour = QColor::fromRgbF(1, 1, 1, 0.9f);
constexpr double outlineWidth = 1.5;

} // namespace

// One window of the highlight: its part of the dimming and of the outline.
class AreaHighlightBand : public QRasterWindow {
public:
    AreaHighlightBand(const OverlayPlacement& placement, const QRect& band, const QRectF& rootArea,
                      AreaHighlight::Style style)
        : placement_(placement), rootArea_(rootArea), style_(style)
    {
        setObjectName(QString::fromLatin1(bandName));
        setFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                 Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
        if (style == AreaHighlight::Style::dimmed) {
            QSurfaceFormat format = this->format();
            format.setAlphaBufferSize(8);
            setFormat(format);
        }
        if (placement.screen) setScreen(placement.screen);
        const QRect geometry = placement.fullScreenOnly ? placement.frame : placement.toWindowGeometry(band);
        if (!placement.fullScreenOnly) setGeometry(geometry);
        else resize(geometry.size());
        // Where the window really lies, in root pixels, for drawing the outline in place.
        rootOrigin_ = QPointF(placement.screenOrigin) +
                      QPointF(geometry.topLeft() - placement.screenOrigin) * placement.ratio;
    }

    void showOver(const QRect& band) { placement_.show(*this, band); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRect(QPoint(0, 0), size()),
                         style_ == AreaHighlight::Style::dimmed ? dimColour : QColor(Qt::black));
        // One window over the whole display (Wayland): the area stays clear
        // inside it, so that the crop recorded from the stream is untouched.
        if (placement_.fullScreenOnly)
            painter.fillRect(QRectF(rootArea_.translated(-rootOrigin_).topLeft() / placement_.ratio,
                                    rootArea_.size() / placement_.ratio),
                             Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(1 / placement_.ratio, 1 / placement_.ratio);
        painter.translate(-rootOrigin_);
        painter.setPen(QPen(outlineColour, outlineWidth));
        painter.setBrush(Qt::NoBrush);
        // A rectangle one point larger on each side, so the line lies just outside the area.
        painter.drawRect(rootArea_.adjusted(-1, -1, 1, 1));
    }

private:
    OverlayPlacement placement_;
    QRectF rootArea_;       // the area in root pixels
    QPointF rootOrigin_;    // the window's top left in root pixels
    AreaHighlight::Style style_;
};

QRect AreaHighlight::hole(const QRect& displayFrame, const QRectF& area)
{
    const QRectF root = area.normalized().translated(displayFrame.topLeft());
    const int left = int(std::floor(root.left()));
    const int top = int(std::floor(root.top()));
    const int right = int(std::ceil(root.right()));
    const int bottom = int(std::ceil(root.bottom()));
    return QRect(left, top, right - left, bottom - top);
}

std::vector<QRect> AreaHighlight::bands(const QRect& displayFrame, const QRectF& area, Style style)
{
    const QRect free = hole(displayFrame, area);
    const QRect outer = style == Style::dimmed
                            ? displayFrame
                            : free.adjusted(-frameWidth, -frameWidth, frameWidth, frameWidth) & displayFrame;
    if (outer.isEmpty()) return {};
    // Exclusive edges, the hole's kept within the outer rectangle.
    const int ol = outer.x(), ot = outer.y(), orr = outer.x() + outer.width(), ob = outer.y() + outer.height();
    const int hl = std::clamp(free.x(), ol, orr), hr = std::clamp(free.x() + free.width(), ol, orr);
    const int ht = std::clamp(free.y(), ot, ob), hb = std::clamp(free.y() + free.height(), ot, ob);
    const QRect candidates[] = {
        QRect(ol, ot, orr - ol, ht - ot),  // above
        QRect(ol, hb, orr - ol, ob - hb),  // below
        QRect(ol, ht, hl - ol, hb - ht),   // left
        QRect(hr, ht, orr - hr, hb - ht),  // right
    };
    std::vector<QRect> result;
    for (const QRect& band : candidates)
        if (!band.isEmpty()) result.push_back(band);
    return result;
}

bool AreaHighlight::isHighlightWindow(const QWindow* window)
{
    return window && window->objectName() == QLatin1String(bandName);
}

AreaHighlight::AreaHighlight(const platform::ScreenDisplay& display, const QRectF& area)
    : AreaHighlight(display, area, platform::compositingManagerRunning() ? Style::dimmed : Style::outlineOnly)
{
}

AreaHighlight::AreaHighlight(const platform::ScreenDisplay& display, const QRectF& area, Style style)
    : style_(style)
{
    const OverlayPlacement placement = OverlayPlacement::of(display.frame);
    const QRectF rootArea = area.normalized().translated(display.frame.topLeft());
    // Where windows can't be placed, one see-through window covers the display.
    const std::vector<QRect> shown = placement.fullScreenOnly ? std::vector<QRect>{display.frame}
                                                              : bands(display.frame, area, style);
    if (placement.fullScreenOnly) style_ = style = Style::dimmed;
    for (const QRect& band : shown) {
        auto window = std::make_unique<AreaHighlightBand>(placement, band, rootArea, style);
        if (window->geometry().isEmpty()) continue;  // thinner than one unit at a fractional scale
        window->showOver(band);
        window_.push_back(std::move(window));
    }
}

AreaHighlight::~AreaHighlight() { orderOut(); }

void AreaHighlight::orderOut()
{
    for (const auto& window : window_) window->hide();
}

std::vector<QWindow*> AreaHighlight::windows() const
{
    std::vector<QWindow*> result;
    for (const auto& window : window_) result.push_back(window.get());
    return result;
}

} // namespace ondexa
