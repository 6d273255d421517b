#include "Platform/capture/ScreenCastPortal.h"

#include "Platform/capture/PortalRequest.h"
#include "Platform/capture/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QPointer>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// The portal's bit values.
constexpr std::uint32_t kMonitor = 1, kWindow = 2;
constexpr std::uint32_t kCursorHidden = 1, kCursorEmbedded = 2, kCursorMetadata = 4;
// Persist mode "until explicitly revoked".
constexpr std::uint32_t kPersistUntilRevoked = 2;
// Restore tokens and the persist mode came with version 4 of the interface,
// the cursor mode with version 2.
constexpr std::uint32_t kPersistVersion = 4, kCursorVersion = 2;

using portal::nextToken;
using portal::withDetail;

std::string text(const QString& s) { return s.toStdString(); }

QDBusMessage portalCall(const char* interface, const char* method)
{
    return QDBusMessage::createMethodCall(screencast::service, screencast::path, interface, method);
}

// A (ii) structure of the stream's properties.
std::optional<std::pair<int, int>> pairOf(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    int a = 0, b = 0;
    argument.beginStructure();
    argument >> a >> b;
    argument.endStructure();
    return std::pair{a, b};
}

std::vector<ScreenCastStream> streamsOf(const QVariant& value)
{
    std::vector<ScreenCastStream> streams;
    if (!value.canConvert<QDBusArgument>()) return streams;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        ScreenCastStream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.nodeId >> properties;
        argument.endStructure();
        if (auto p = pairOf(properties.value(QStringLiteral("position")))) stream.position = QPoint(p->first, p->second);
        if (auto s = pairOf(properties.value(QStringLiteral("size")))) stream.size = QSize(s->first, s->second);
        stream.window = properties.value(QStringLiteral("source_type")).toUInt() == kWindow;
        streams.push_back(stream);
    }
    argument.endArray();
    return streams;
}

// One cast being opened: the portal's requests one after the other, each
// answered by a Response signal on its Request object.
class OpenCall : public QObject {
    Q_OBJECT

public:
    OpenCall(QDBusConnection bus, QObject* context, ScreenCastRequest request,
             std::function<void(ScreenCastResult)> done, std::chrono::milliseconds deadline)
        : bus_(std::move(bus)), context_(context), request_(std::move(request)), done_(std::move(done)),
          deadline_(deadline)
    {
        result_.cursor = request_.cursor;
    }

    void begin()
    {
        // The interface's version decides which options it understands.
        QDBusMessage get = portalCall(kPropertiesInterface, "Get");
        get << QString::fromLatin1(screencast::interface) << QStringLiteral("version");
        watch(bus_.asyncCall(get, int(deadline_.count())), [this](const QDBusMessage& reply) {
            if (portal::isTimeout(QDBusError(reply))) return timedOut("Get version");
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                version_ = reply.arguments().first().value<QDBusVariant>().variant().toUInt();
            QVariantMap options;
            options.insert(QStringLiteral("session_handle_token"), nextToken());
            ask(Step::createSession, "CreateSession", {options});
        });
    }

private:
    void response(uint code, const QVariantMap& results)
    {
        if (code != portal::responseSuccess) {
            if (step_ == Step::start && code == portal::responseCancelled) {
                result_.outcome = ScreenCastResult::Outcome::refused;
                return finish();
            }
            return fail("A képernyőmegosztó szolgáltatás nem indította el a megosztást (válaszkód: "
                        + std::to_string(code) + ").");
        }
        switch (step_) {
        case Step::createSession: {
            session_ = portal::sessionHandle(results);
            if (session_.isEmpty()) return fail("A képernyőmegosztó szolgáltatás nem nyitott munkamenetet.");
            // From here on the session is closed whatever happens.
            result_.session = std::make_shared<ScreenCastSession>(bus_, session_, -1);
            QVariantMap options;
            options.insert(QStringLiteral("types"),
                           request_.source == ScreenCastRequest::Source::window ? kWindow : kMonitor);
            options.insert(QStringLiteral("multiple"), false);
            if (version_ >= kCursorVersion) {
                const std::uint32_t mode = request_.cursor == ScreenCastRequest::Cursor::metadata ? kCursorMetadata
                                           : request_.cursor == ScreenCastRequest::Cursor::hidden ? kCursorHidden
                                                                                                   : kCursorEmbedded;
                options.insert(QStringLiteral("cursor_mode"), mode);
            }
            if (version_ >= kPersistVersion) {
                options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
                if (!request_.restoreToken.empty())
                    options.insert(QStringLiteral("restore_token"), QString::fromStdString(request_.restoreToken));
            }
            return ask(Step::selectSources, "SelectSources", {QVariant::fromValue(QDBusObjectPath(session_)), options});
        }
        case Step::selectSources:
            return ask(Step::start, "Start", {QVariant::fromValue(QDBusObjectPath(session_)), QString(), QVariantMap()});
        case Step::start:
            result_.streams = streamsOf(results.value(QStringLiteral("streams")));
            result_.restoreToken = text(results.value(QStringLiteral("restore_token")).toString());
            if (result_.streams.empty()) return fail("A képernyőmegosztó szolgáltatás nem adott képforrást.");
            return openRemote();
        }
    }

    enum class Step { createSession, selectSources, start };

    void watch(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> then)
    {
        auto* watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, then = std::move(then)] {
            watcher->deleteLater();
            then(watcher->reply());
        });
    }

    void ask(Step step, const char* method, const QVariantList& arguments)
    {
        step_ = step;
        portal::request(
            bus_, this, screencast::interface, method, arguments,
            [this, method](portal::Answer answer) {
                if (answer.timedOut) return timedOut(method);
                if (!answer.called)
                    return fail(withDetail(std::string("A képernyőmegosztó szolgáltatás (xdg-desktop-portal) nem "
                                                       "érhető el, vagy visszautasította a kérést: ")
                                               + method + ".",
                                           answer.error));
                response(answer.code, answer.results);
            },
            deadline_);
    }

    void openRemote()
    {
        QDBusMessage call = portalCall(screencast::interface, "OpenPipeWireRemote");
        call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap();
        watch(bus_.asyncCall(call, int(deadline_.count())), [this](const QDBusMessage& reply) {
            if (portal::isTimeout(QDBusError(reply))) return timedOut("OpenPipeWireRemote");
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return fail(withDetail("A képernyőmegosztás PipeWire-kapcsolata nem nyitható meg.", QDBusError(reply)));
            const auto descriptor = reply.arguments().first().value<QDBusUnixFileDescriptor>();
            const int fd = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
            if (fd < 0) return fail("A képernyőmegosztás PipeWire-kapcsolata nem nyitható meg.");
            // The same session: a second object would close it on its way out.
            result_.session->adoptPipeWireFd(fd);
            result_.outcome = ScreenCastResult::Outcome::started;
            finish();
        });
    }

    void timedOut(const char* method)
    {
        fail(std::string("A képernyőmegosztó szolgáltatás (xdg-desktop-portal) nem válaszolt időben a kérésre: ")
             + method + ".");
    }

    void fail(const std::string& error)
    {
        result_.outcome = ScreenCastResult::Outcome::failed;
        result_.error = error;
        result_.streams.clear();
        finish();
    }

    void finish()
    {
        if (result_.outcome != ScreenCastResult::Outcome::started) result_.session.reset();  // closes it
        if (context_ && done_) std::exchange(done_, nullptr)(std::move(result_));
        deleteLater();
    }

    QDBusConnection bus_;
    QPointer<QObject> context_;
    ScreenCastRequest request_;
    std::function<void(ScreenCastResult)> done_;
    std::chrono::milliseconds deadline_;  // of each step
    ScreenCastResult result_;
    Step step_ = Step::createSession;
    std::uint32_t version_ = 0;
    QString session_;
};

} // namespace

ScreenCastSession::ScreenCastSession(QDBusConnection bus, QString handle, int pipeWireFd)
    : bus_(std::move(bus)), handle_(std::move(handle)), pipeWireFd_(pipeWireFd)
{
}

ScreenCastSession::~ScreenCastSession()
{
    if (pipeWireFd_ >= 0) ::close(pipeWireFd_);
    portal::closeSession(bus_, handle_);
}

void ScreenCastSession::adoptPipeWireFd(int fd)
{
    if (pipeWireFd_ >= 0) ::close(pipeWireFd_);
    pipeWireFd_ = fd;
}

void ScreenCastSession::watchClosed(QObject* context, std::function<void()> closed) const
{
    portal::watchSessionClosed(bus_, handle_, context, std::move(closed));
}

int ScreenCastSession::takePipeWireFd() const
{
    return pipeWireFd_ >= 0 ? fcntl(pipeWireFd_, F_DUPFD_CLOEXEC, 3) : -1;
}

namespace screencast {

void query(QDBusConnection bus, QObject* context, std::function<void(ScreenCastOffer)> done)
{
    QDBusMessage getAll = portalCall(kPropertiesInterface, "GetAll");
    getAll << QString::fromLatin1(interface);
    QDBusMessage shortcuts = portalCall(kPropertiesInterface, "Get");
    shortcuts << QString::fromLatin1(shortcuts::interface) << QStringLiteral("version");

    auto offer = std::make_shared<ScreenCastOffer>();
    auto pending = std::make_shared<int>(2);
    QPointer<QObject> alive(context);
    auto settle = [offer, pending, alive, done = std::move(done)] {
        if (--*pending == 0 && alive && done) done(*offer);
    };

    auto* castWatcher = new QDBusPendingCallWatcher(bus.asyncCall(getAll), context);
    QObject::connect(castWatcher, &QDBusPendingCallWatcher::finished, context, [castWatcher, offer, settle] {
        castWatcher->deleteLater();
        const QDBusMessage reply = castWatcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            offer->failure = withDetail("A képernyőmegosztó szolgáltatás (xdg-desktop-portal ScreenCast) nem "
                                        "érhető el.",
                                        QDBusError(reply));
            return settle();
        }
        const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().first());
        const std::uint32_t types = properties.value(QStringLiteral("AvailableSourceTypes")).toUInt();
        const std::uint32_t cursors = properties.value(QStringLiteral("AvailableCursorModes")).toUInt();
        offer->available = true;
        offer->version = properties.value(QStringLiteral("version")).toUInt();
        offer->monitors = types & kMonitor;
        offer->windows = types & kWindow;
        offer->cursorHidden = cursors & kCursorHidden;
        offer->cursorEmbedded = cursors & kCursorEmbedded;
        offer->cursorMetadata = cursors & kCursorMetadata;
        settle();
    });
    auto* keysWatcher = new QDBusPendingCallWatcher(bus.asyncCall(shortcuts), context);
    QObject::connect(keysWatcher, &QDBusPendingCallWatcher::finished, context, [keysWatcher, offer, settle] {
        keysWatcher->deleteLater();
        offer->globalShortcuts = keysWatcher->reply().type() == QDBusMessage::ReplyMessage;
        settle();
    });
}

void open(QDBusConnection bus, QObject* context, ScreenCastRequest request, std::function<void(ScreenCastResult)> done,
          std::chrono::milliseconds deadline)
{
    auto* call = new OpenCall(std::move(bus), context, std::move(request), std::move(done), deadline);
    call->begin();
}

} // namespace screencast

} // namespace platform

#include "ScreenCastPortal.moc"
