#pragma once

#include "Platform/capture/PortalRequest.h"

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The desktop's screen-cast service on a Wayland session: the
// xdg-desktop-portal's org.freedesktop.portal.ScreenCast interface, asked
// over D-Bus. It asks the user (its own dialog is the permission), and hands
// over a PipeWire connection with the chosen monitor's or window's stream.
//
// Threads: everything here runs on the thread of the QObject context given
// (the main thread); callbacks come there, never while the caller waits.

// What the service offers.
struct ScreenCastOffer {
    bool available = false;          // the interface answered
    bool monitors = false;           // source type monitor
    bool windows = false;            // source type window
    bool cursorMetadata = false;     // cursor mode metadata: the pointer beside the pictures
    bool cursorEmbedded = false;     // cursor mode embedded: the pointer drawn in
    bool cursorHidden = false;
    bool globalShortcuts = false;    // org.freedesktop.portal.GlobalShortcuts is there too
    std::uint32_t version = 0;       // of the ScreenCast interface
    std::string failure;             // why not available, Hungarian, for the log
};

// One stream of a started cast.
struct ScreenCastStream {
    std::uint32_t nodeId = 0;
    std::optional<QPoint> position;  // on the desktop (monitors only), logical pixels
    std::optional<QSize> size;       // logical pixels
    bool window = false;             // a window's stream, not a monitor's
};

// An open cast: the portal session, closed when the last holder lets go.
class ScreenCastSession {
public:
    ScreenCastSession(QDBusConnection bus, QString handle, int pipeWireFd);
    ~ScreenCastSession();  // closes the session and the connection

    ScreenCastSession(const ScreenCastSession&) = delete;
    ScreenCastSession& operator=(const ScreenCastSession&) = delete;

    // A new descriptor of the PipeWire connection for one consumer (it closes
    // it); -1 when there is none.
    int takePipeWireFd() const;
    const QString& handle() const { return handle_; }
    // Takes over the connection PipeWire opened for this session.
    void adoptPipeWireFd(int fd);
    // Calls `closed` once, in `context`'s thread, when the desktop ends the
    // cast itself (its own screen-sharing control, or the shared window or
    // monitor went away); not after `context` is destroyed.
    void watchClosed(QObject* context, std::function<void()> closed) const;

private:
    QDBusConnection bus_;
    QString handle_;
    int pipeWireFd_ = -1;
};

struct ScreenCastRequest {
    enum class Source { monitor, window };
    enum class Cursor { hidden, embedded, metadata };
    Source source = Source::monitor;
    Cursor cursor = Cursor::embedded;
    std::string restoreToken;  // of an earlier grant; empty: ask the user
};

struct ScreenCastResult {
    enum class Outcome {
        started,  // the user (or an earlier grant) allowed it: streams and session are there
        refused,  // the user said no in the dialog
        failed,   // the service failed or isn't there: `error` says why
    };
    Outcome outcome = Outcome::failed;
    std::string error;                  // Hungarian, with the service's own detail in parentheses
    std::vector<ScreenCastStream> streams;
    std::string restoreToken;           // to skip the dialog next time; empty when the service gives none
    ScreenCastRequest::Cursor cursor = ScreenCastRequest::Cursor::embedded;  // the mode asked for
    std::shared_ptr<ScreenCastSession> session;
};

namespace screencast {

using portal::path;
using portal::service;
inline constexpr const char* interface = "org.freedesktop.portal.ScreenCast";

// Reads what the service offers; `done` runs in `context`'s thread.
void query(QDBusConnection bus, QObject* context, std::function<void(ScreenCastOffer)> done);

// CreateSession, SelectSources, Start (the dialog, unless the restore token
// is honoured) and OpenPipeWireRemote, one after the other without blocking.
// `done` runs once, in `context`'s thread; not at all when `context` is
// destroyed first. The persist mode asked for is "until revoked". A step
// left unanswered for `deadline` fails the whole (and closes its dialog).
void open(QDBusConnection bus, QObject* context, ScreenCastRequest request,
          std::function<void(ScreenCastResult)> done,
          std::chrono::milliseconds deadline = portal::defaultDeadline);

} // namespace screencast

} // namespace platform
