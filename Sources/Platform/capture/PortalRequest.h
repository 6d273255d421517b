#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class QObject;

namespace platform::portal {

// The desktop portal's common ground: a call makes a Request object whose
// Response signal carries the answer, and sessions are closed through their
// own object. Everything runs on the thread of the QObject context given.

inline constexpr const char* service = "org.freedesktop.portal.Desktop";
inline constexpr const char* path = "/org/freedesktop/portal/desktop";

// Response codes of a Request.
inline constexpr std::uint32_t responseSuccess = 0, responseCancelled = 1;

// How long one request may go unanswered, the user's time in a dialog
// included: a portal (or its backend) that hangs must not hold a start, or
// the program's quit, forever.
inline constexpr std::chrono::milliseconds defaultDeadline{30'000};

struct Answer {
    bool called = false;   // the method returned; else `error` says why
    bool timedOut = false;  // no answer within the deadline: the request was closed and given up
    QDBusError error;
    std::uint32_t code = 0;  // the Response's code
    QVariantMap results;
};

// Calls `method` of `interface`; the last of `arguments` is the options map,
// to which a fresh handle_token is added. `done` runs once with the call's
// error or the Response, in `context`'s thread; not at all when `context` is
// destroyed first. Unanswered after `deadline`, the Request is closed (a
// dialog it shows goes away) and `done` gets an answer that timed out.
void request(QDBusConnection bus, QObject* context, const char* interface, const char* method,
             QVariantList arguments, std::function<void(Answer)> done,
             std::chrono::milliseconds deadline = defaultDeadline);

// Whether a plain method call's reply is the bus's "no reply in time".
bool isTimeout(const QDBusError& error);

// A token unique in this process, for handle and session tokens.
QString nextToken();

// The path of the Request object that a call with `token` makes for this
// connection (the portal's documented rule).
QString requestPath(const QDBusConnection& bus, const QString& token);

// The session handle of CreateSession's results (an object path, or a
// string from older portals); empty when there is none.
QString sessionHandle(const QVariantMap& results);

void closeSession(const QDBusConnection& bus, const QString& handle);

// Calls `closed` once, in `context`'s thread, when the portal closes the
// session `handle` itself (the desktop's own control ended it); not after
// `context` is destroyed. Our own closeSession() does not count.
void watchSessionClosed(const QDBusConnection& bus, const QString& handle, QObject* context,
                        std::function<void()> closed);

// `sentence` with the D-Bus error's name and message in parentheses.
std::string withDetail(const std::string& sentence, const QDBusError& error);

} // namespace platform::portal
