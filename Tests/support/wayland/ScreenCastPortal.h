#pragma once

// A plain client of the desktop's ScreenCast portal for tests on the Wayland
// test session: it checks what the session offers and opens streams to read
// back, independently of the program's own portal code. Every call waits for
// the portal's answer (running a nested event loop); a QCoreApplication is
// made when there is none.

#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <vector>

namespace screencast {

// Bits of AvailableSourceTypes and of SelectSources' "types".
constexpr std::uint32_t monitorSource = 1, windowSource = 2;
// Bits of AvailableCursorModes and values of "cursor_mode".
constexpr std::uint32_t hiddenCursor = 1, embeddedCursor = 2, metadataCursor = 4;

struct Stream {
    std::uint32_t node = 0;
    QSize size;
    QPoint position;
    std::uint32_t sourceType = 0;
};

// A request's outcome: response 0 is success, 1 cancelled, 2 other failure;
// `error` is set when the call itself failed (no portal, a D-Bus error, no
// answer in time).
struct Reply {
    std::uint32_t response = 2;
    QVariantMap results;
    QString error;
    bool ok() const { return error.isEmpty() && response == 0; }
};

class Portal {
public:
    explicit Portal(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // A ScreenCast property (version, AvailableSourceTypes, AvailableCursorModes);
    // an invalid QVariant when the portal does not answer.
    QVariant property(const char* name) const;
    // The interfaces the portal object offers, from its introspection.
    QStringList interfaces() const;

    Reply createSession();
    Reply selectSources(const QString& session, const QVariantMap& options);
    Reply start(const QString& session);
    // A descriptor of the PipeWire connection for the session's streams, or -1.
    int openPipeWireRemote(const QString& session, QString* error = nullptr);
    void closeSession(const QString& session);

    // The streams of a Start reply.
    static std::vector<Stream> streams(const Reply& started);

    // CreateSession, SelectSources (a monitor with `cursorMode`) and Start in
    // one; the session handle on success.
    Reply startMonitorCast(std::uint32_t cursorMode, QString* session);

private:
    Reply request(const char* method, const QList<QVariant>& arguments, QVariantMap options);

    std::chrono::milliseconds timeout_;
    int tokens_ = 0;
};

} // namespace screencast
