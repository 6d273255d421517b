#include "Ondexa/app/OwnWindows.h"

#include "Ondexa/recording/AppState.h"
#include "Ondexa/recording/AreaHighlight.h"

#include <QApplication>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

namespace ondexa {

namespace {

bool outside(const QWindow* window, const QRectF& captured)
{
    return window && AppState::keepsWindowShown(AppState::rootFrame(*window), captured);
}

xcb_connection_t* x11Connection()
{
    // The offscreen platform answers as X11 too, without a connection.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t workspaceAtom(xcb_connection_t* connection)
{
    static const xcb_atom_t atom = [connection] {
        static constexpr char name[] = "_NET_WM_DESKTOP";
        auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }();
    return atom;
}

} // namespace

OwnWindows::Place OwnWindows::placeOf(QWindow& window)
{
    Place place{window.position(), std::nullopt};
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window.handle() || workspaceAtom(connection) == XCB_ATOM_NONE) return place;
    auto* reply = xcb_get_property_reply(connection,
                                         xcb_get_property(connection, 0, xcb_window_t(window.winId()),
                                                          workspaceAtom(connection), XCB_ATOM_CARDINAL, 0, 1),
                                         nullptr);
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4)
        place.workspace = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return place;
}

void OwnWindows::putBack(QWindow& window, const Place& place)
{
    // Not onto a monitor unplugged meanwhile: the window manager places
    // better than that.
    if (QGuiApplication::screenAt(place.position)) window.setPosition(place.position);
    // Withdrawn, the window is ours to mark: the manager reads the
    // workspace as the window maps again (and dropped its own on the way out).
    xcb_connection_t* connection = x11Connection();
    if (!place.workspace || !connection || !window.handle()) return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window.winId()), workspaceAtom(connection),
                        XCB_ATOM_CARDINAL, 32, 1, &*place.workspace);
}

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
    windows_.clear();
    minimized_ = minimized;
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
        else if (!outside(widget->windowHandle(), captured)) widgets_.push_back({widget, widget->windowState(), {}});
    }
    // Shown again in this order: a dialog (an alert) after its window, so
    // that the window manager stacks it over a window it knows.
    std::stable_partition(widgets_.begin(), widgets_.end(),
                          [](const Widget& taken) { return !taken.widget->parentWidget(); });
    for (QWidget* widget : closing) widget->hide();
    for (auto& taken : widgets_) {
        if (!taken.widget) continue;
        if (minimized) {
            taken.widget->showMinimized();
            continue;
        }
        if (QWindow* handle = taken.widget->windowHandle()) taken.place = placeOf(*handle);
        taken.widget->hide();
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (ofWidgets.contains(window) || !window->isVisible() || AreaHighlight::isHighlightWindow(window)) continue;
        if (outside(window, captured)) continue;
        windows_.push_back({window, placeOf(*window)});
        window->hide();
    }
}

void OwnWindows::show()
{
    const auto widgets = std::exchange(widgets_, {});
    const auto windows = std::exchange(windows_, {});
    for (const auto& [widget, state, place] : widgets) {
        if (!widget) continue;
        if (minimized_) {
            // A minimized window the user already brought back keeps its state.
            if (widget->isMinimized()) widget->setWindowState(state & ~Qt::WindowMinimized);
        } else if (widget->isHidden() && widget->windowHandle()) {
            // One brought back during the recording is where the user has it now.
            putBack(*widget->windowHandle(), place);
        }
        widget->show();
    }
    for (const auto& [window, place] : windows) {
        if (!window) continue;
        if (!window->isVisible()) putBack(*window, place);
        window->show();
    }
    QWidget* focus = active_ && active_->isVisible() ? active_.data() : nullptr;
    for (auto at = widgets.begin(); !focus && at != widgets.end(); ++at) focus = at->widget;
    if (focus) {
        focus->raise();
        focus->activateWindow();
    } else {
        for (const auto& taken : windows)
            if (taken.window) return taken.window->requestActivate();
    }
}

} // namespace ondexa
