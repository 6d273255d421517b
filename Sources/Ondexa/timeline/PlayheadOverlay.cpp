#include "Ondexa/timeline/PlayheadOverlay.h"

#include "Ondexa/editing/PlayheadClock.h"
#include "Ondexa/ui/Theme.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ondexa {

PlayheadOverlay::PlayheadOverlay(PlayheadClock& clock, QWidget* parent) : QWidget(parent), clock_(&clock)
{
    // Opaque: moving it repaints only the strip it left, from the canvas's cache.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(&clock, &PlayheadClock::timeChanged, this, &PlayheadOverlay::place);
    if (parent) parent->installEventFilter(this);
    place();
    raise();
}

void PlayheadOverlay::setView(double pps, double scrollX)
{
    pps_ = pps;
    scrollX_ = scrollX;
    place();
}

int PlayheadOverlay::lineX() const
{
    const double t = clock_ ? clock_->time() : 0;
    const double x = t * pps_ + 10 - scrollX_ - 1;
    // Far outside is as good as anywhere outside; keeps the conversion defined.
    if (!std::isfinite(x)) return -100;
    return int(std::lround(std::clamp(x, -1e6, 1e6)));
}

void PlayheadOverlay::place()
{
    const int height = parentWidget() ? parentWidget()->height() : this->height();
    setGeometry(lineX(), 0, 2, height);
}

void PlayheadOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::red());
}

bool PlayheadOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) place();
    return QWidget::eventFilter(watched, event);
}

} // namespace ondexa
