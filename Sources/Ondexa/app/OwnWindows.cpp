#include "Ondexa/app/OwnWindows.h"

#include "Ondexa/recording/AppState.h"
#include "Ondexa/recording/AreaHighlight.h"

#include <QApplication>

#include <set>
#include <utility>

namespace ondexa {

namespace {
bool outside(const QWindow* window, const QRectF& captured)
{
    return window && AppState::keepsWindowShown(AppState::rootFrame(*window), captured);
}
} // namespace

void OwnWindows::hide(const QRectF& captured)
{
    takeAway(captured, false);
}

void OwnWindows::minimize(const QRectF& captured)
{
    takeAway(captured, true);
}

void OwnWindows::takeAway(const QRectF& captured, bool minimized)
{
    widgets_.clear();
    states_.clear();
    windows_.clear();
    active_ = QApplication::activeWindow();
    std::set<const QWindow*> ofWidgets;
    std::vector<QWidget*> closing;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        ofWidgets.insert(widget->windowHandle());
        if (!widget->isVisible() || widget->windowType() == Qt::Desktop) continue;
        // The tray icon docked in a panel (XEmbed) lives in the panel, not on
        // the recorded picture, and once unmapped it never docks again: the
        // recording's stop would go with it.
        if (widget->inherits("QSystemTrayIconSys")) continue;
        const Qt::WindowType type = widget->windowType();
        if (type == Qt::Popup || type == Qt::ToolTip) closing.push_back(widget);
        else if (!outside(widget->windowHandle(), captured)) widgets_.emplace_back(widget);
    }
    for (QWidget* widget : closing) widget->hide();
    for (const auto& widget : widgets_) {
        if (!widget) continue;
        if (!minimized) {
            widget->hide();
            continue;
        }
        states_.push_back(widget->windowState());
        widget->showMinimized();
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (ofWidgets.contains(window) || !window->isVisible() || AreaHighlight::isHighlightWindow(window)) continue;
        if (outside(window, captured)) continue;
        windows_.emplace_back(window);
        window->hide();
    }
}

void OwnWindows::show()
{
    const auto widgets = std::exchange(widgets_, {});
    const auto windows = std::exchange(windows_, {});
    const auto states = std::exchange(states_, {});
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        if (!widgets[i]) continue;
        // A minimized window the user already brought back keeps its state.
        if (i < states.size() && widgets[i]->isMinimized())
            widgets[i]->setWindowState(states[i] & ~Qt::WindowMinimized);
        widgets[i]->show();
    }
    for (const auto& window : windows)
        if (window) window->show();
    QWidget* focus = active_ && active_->isVisible() ? active_.data() : nullptr;
    for (auto at = widgets.begin(); !focus && at != widgets.end(); ++at) focus = *at;
    if (focus) {
        focus->raise();
        focus->activateWindow();
    } else {
        for (const auto& window : windows)
            if (window) return window->requestActivate();
    }
}

} // namespace ondexa
