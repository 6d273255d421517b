#include "Ondexa/ui/DarkWindows.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QPlatformSurfaceEvent>
#include <QStandardPaths>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ondexa {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

DarkWindows::DarkWindows(QObject* parent) : QObject(parent) {}

void DarkWindows::mark(QWindow& window)
{
    // The offscreen platform answers as X11 too, without a connection.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window.handle()) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return;
    // GTK's variant, read by Mutter and Marco (Xfwm reads no hint and keeps
    // its theme's colours). KWin takes a colour-scheme file for the frame
    // instead: the desktop's own dark one, where it is installed.
    static const xcb_atom_t variant = atom(connection, "_GTK_THEME_VARIANT");
    static const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    if (variant == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE) return;
    static constexpr char dark[] = "dark";
    const auto id = xcb_window_t(window.winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, variant, utf8, 8, sizeof dark - 1, dark);
    static const QByteArray scheme =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, "color-schemes/BreezeDark.colors").toLocal8Bit();
    static const xcb_atom_t kdeScheme = scheme.isEmpty() ? xcb_atom_t(XCB_ATOM_NONE)
                                                         : atom(connection, "_KDE_NET_WM_COLOR_SCHEME");
    if (kdeScheme != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, kdeScheme, XCB_ATOM_STRING, 8,
                            std::uint32_t(scheme.size()), scheme.constData());
    xcb_flush(connection);
}

bool DarkWindows::eventFilter(QObject* watched, QEvent* event)
{
    // Once per native window: when it is made, and made again after a
    // change of parent or screen.
    if (event->type() == QEvent::PlatformSurface && watched->isWindowType()
        && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
               == QPlatformSurfaceEvent::SurfaceCreated) {
        auto* window = static_cast<QWindow*>(watched);
        if (window->isTopLevel()) mark(*window);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ondexa
