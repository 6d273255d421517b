#include "Ondexa/ui/Alert.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace ondexa::ui {

namespace {

constexpr char kKeeperName[] = "ondexa-alert-keeper";

// Follows one alert and the window it belongs to; a child of the alert.
class Keeper : public QObject {
public:
    explicit Keeper(QDialog& alert) : QObject(&alert), alert_(alert)
    {
        setObjectName(kKeeperName);
        alert.installEventFilter(this);
        // However it was answered, it waits no more.
        connect(&alert, &QDialog::finished, this, [this] { waiting_ = false; });
    }

    static Keeper* find(const QDialog& alert)
    {
        return static_cast<Keeper*>(alert.findChild<QObject*>(kKeeperName, Qt::FindDirectChildrenOnly));
    }
    static Keeper& of(QDialog& alert)
    {
        Keeper* keeper = find(alert);
        return keeper ? *keeper : *new Keeper(alert);
    }

    void open()
    {
        if (isOpen()) return;
        follow();
        const QWidget* window = windowOfAlert();
        if (!window || window->isVisible()) return alert_.open();
        waiting_ = true;
        QTimer::singleShot(0, this, [this] { showWaiting(); });
    }
    bool isOpen() const { return waiting_ || alert_.isVisible(); }
    void close()
    {
        waiting_ = false;
        alert_.hide();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &alert_ && event->type() == QEvent::Show) {
            const QWidget* window = windowOfAlert();
            alone_ = window && !window->isVisible();
        } else if (watched == window_ && (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)) {
            // After whatever showed or focused the window has done so: it
            // raises and activates it next, and X11 activates a window only
            // once it is mapped.
            QTimer::singleShot(0, this, [this] { bringForward(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* windowOfAlert() const
    {
        QWidget* parent = alert_.parentWidget();
        return parent ? parent->window() : nullptr;
    }
    void follow()
    {
        QWidget* window = windowOfAlert();
        if (window == window_) return;
        if (window_) window_->removeEventFilter(this);
        window_ = window;
        if (window) window->installEventFilter(this);
    }
    void showWaiting()
    {
        if (!std::exchange(waiting_, false)) return;
        alert_.open();
    }
    void bringForward()
    {
        if (waiting_) return showWaiting();
        const QWidget* window = windowOfAlert();
        if (!alert_.isVisible() || !window || !window->isVisible()) return;
        // A Wayland window that was hidden comes back as a new surface, and
        // an alert shown meanwhile is tied to none: the compositor then
        // stacks the two as strangers. Shown again, it is the new one's.
        // (An X11 window keeps its id, and the window manager the tie.)
        if (std::exchange(alone_, false) && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
            alert_.hide();
            alert_.show();
        }
        alert_.raise();
        alert_.activateWindow();
    }

    QDialog& alert_;
    QPointer<QWidget> window_;  // whose showing and activation are followed
    bool waiting_ = false;      // opened while its window was away
    bool alone_ = false;        // shown while its window was hidden
};

} // namespace

void Alert::open(QDialog& alert) { Keeper::of(alert).open(); }

bool Alert::isOpen(const QDialog& alert)
{
    const Keeper* keeper = Keeper::find(alert);
    return keeper ? keeper->isOpen() : alert.isVisible();
}

void Alert::close(QDialog& alert)
{
    if (Keeper* keeper = Keeper::find(alert)) return keeper->close();
    alert.hide();
}

} // namespace ondexa::ui
