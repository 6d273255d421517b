#pragma once

// A wheel notch as the window system delivers it: spontaneous, so that the
// application hands it on to the parents while no widget accepts it (an
// event sent from code stops at its receiver).

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

namespace ondexa::testing {

// Turns the wheel over the middle of `widget`; true when some widget took it.
inline bool turnWheel(QWidget& widget, QPoint angleDelta)
{
    const QPointF at = QRectF(widget.rect()).center();
    QWheelEvent event(at, widget.mapToGlobal(at), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(&widget, &event);
    return event.isAccepted();
}

} // namespace ondexa::testing
