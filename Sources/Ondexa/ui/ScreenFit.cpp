#include "Ondexa/ui/ScreenFit.h"

#include <algorithm>

namespace ondexa::ui {

ScreenFit::ScreenFit(QWidget& window, std::function<void()> refit) : window_(window), refit_(std::move(refit)) {}

void ScreenFit::follow()
{
    QWindow* handle = window_.windowHandle();
    if (handle && handle != handle_) {
        handle_ = handle;
        // Not moved here: the user may be dragging it; a smaller height that
        // follows comes back through the window's resize.
        QObject::connect(handle, &QWindow::screenChanged, &window_, [this] {
            follow();
            refit_();
        });
    }
    QScreen* screen = handle ? handle->screen() : window_.screen();
    if (screen == screen_) return;
    QObject::disconnect(screenGeometry_);
    screen_ = screen;
    if (screen)
        screenGeometry_ = QObject::connect(screen, &QScreen::availableGeometryChanged, &window_, [this] {
            refit_();
            keepOnScreen();
        });
}

int ScreenFit::contentHeight() const
{
    QScreen* screen = screen_ ? screen_.data() : window_.screen();
    if (!screen) return 0;
    const QMargins frame = handle_ ? handle_->frameMargins() : QMargins();
    return screen->availableGeometry().height() - frame.top() - frame.bottom();
}

void ScreenFit::keepOnScreen()
{
    if (!window_.isVisible() || !screen_) return;
    const QRect available = screen_->availableGeometry();
    const QRect frame = window_.frameGeometry();
    const int top = std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height()));
    if (top != frame.top()) window_.move(frame.left(), top);
}

} // namespace ondexa::ui
