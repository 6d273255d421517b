#include "Ondexa/ui/WheelPassing.h"

#include <QEvent>
#include <QWidget>

namespace ondexa {

namespace {

class UnfocusedWheelPasser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus()) return false;
        // Handled here but not accepted: the application hands it to the parent.
        event->ignore();
        return true;
    }
};

} // namespace

void passUnfocusedWheel(QWidget& control)
{
    if (control.focusPolicy() == Qt::WheelFocus) control.setFocusPolicy(Qt::StrongFocus);
    control.installEventFilter(new UnfocusedWheelPasser(&control));
}

} // namespace ondexa
