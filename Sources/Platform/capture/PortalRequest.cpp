#include "Platform/capture/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <utility>

#include <unistd.h>

namespace platform::portal {

namespace {

constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";

// One request waiting for its Response; a child of the caller's context, so
// that it goes (unanswered) with it.
class PendingRequest : public QObject {
    Q_OBJECT

public:
    PendingRequest(QDBusConnection bus, QObject* context, std::function<void(Answer)> done)
        : QObject(context), bus_(std::move(bus)), done_(std::move(done))
    {
    }

    ~PendingRequest() override { unsubscribe(); }

    void send(const char* interface, const char* method, QVariantList arguments, std::chrono::milliseconds deadline)
    {
        deadline_ = new QTimer(this);
        deadline_->setSingleShot(true);
        connect(deadline_, &QTimer::timeout, this, &PendingRequest::giveUp);
        deadline_->start(deadline);
        const QString token = nextToken();
        QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.takeLast().toMap();
        options.insert(QStringLiteral("handle_token"), token);
        arguments.append(options);
        // Subscribed before the call, so that a quick answer is not missed.
        subscribe(requestPath(bus_, token));
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(arguments);
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, int(deadline.count())), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                if (isTimeout(QDBusError(reply))) return giveUp();
                Answer answer;
                answer.error = QDBusError(reply);
                return finish(std::move(answer));
            }
            // An older portal may name its Request otherwise.
            const QString handle = reply.arguments().first().value<QDBusObjectPath>().path();
            if (!handle.isEmpty() && handle != subscribed_) {
                unsubscribe();
                subscribe(handle);
            }
        });
    }

private slots:
    void response(uint code, const QVariantMap& results)
    {
        Answer answer;
        answer.called = true;
        answer.code = code;
        answer.results = results;
        finish(std::move(answer));
    }

private:
    void giveUp()
    {
        // Closing the Request takes its dialog off the screen; a late
        // Response finds nobody listening.
        if (!subscribed_.isEmpty() && bus_.isConnected())
            bus_.send(QDBusMessage::createMethodCall(service, subscribed_, kRequestInterface, QStringLiteral("Close")));
        Answer answer;
        answer.timedOut = true;
        finish(std::move(answer));
    }

    void subscribe(const QString& requestObject)
    {
        subscribed_ = requestObject;
        bus_.connect(service, requestObject, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(response(uint, QVariantMap)));
    }

    void unsubscribe()
    {
        if (subscribed_.isEmpty()) return;
        bus_.disconnect(service, subscribed_, kRequestInterface, QStringLiteral("Response"), this,
                        SLOT(response(uint, QVariantMap)));
        subscribed_.clear();
    }

    void finish(Answer answer)
    {
        if (deadline_) deadline_->stop();
        unsubscribe();
        if (done_) std::exchange(done_, nullptr)(std::move(answer));
        deleteLater();
    }

    QDBusConnection bus_;
    std::function<void(Answer)> done_;
    QString subscribed_;  // the Request whose Response we wait for
    QTimer* deadline_ = nullptr;  // child of this
};

// Listens for one session's Closed signal; a child of the caller's context.
class SessionWatch : public QObject {
    Q_OBJECT

public:
    SessionWatch(QDBusConnection bus, QString handle, QObject* context, std::function<void()> closed)
        : QObject(context), bus_(std::move(bus)), handle_(std::move(handle)), closed_(std::move(closed))
    {
        listening_ = bus_.connect(service, handle_, kSessionInterface, QStringLiteral("Closed"), this,
                                  SLOT(sessionClosed()));
    }

    ~SessionWatch() override
    {
        if (listening_)
            bus_.disconnect(service, handle_, kSessionInterface, QStringLiteral("Closed"), this,
                            SLOT(sessionClosed()));
    }

private slots:
    void sessionClosed()
    {
        if (closed_) std::exchange(closed_, nullptr)();
    }

private:
    QDBusConnection bus_;
    QString handle_;
    std::function<void()> closed_;
    bool listening_ = false;
};

} // namespace

void request(QDBusConnection bus, QObject* context, const char* interface, const char* method,
             QVariantList arguments, std::function<void(Answer)> done, std::chrono::milliseconds deadline)
{
    auto* pending = new PendingRequest(std::move(bus), context, std::move(done));
    pending->send(interface, method, std::move(arguments), deadline);
}

bool isTimeout(const QDBusError& error)
{
    return error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout
           || error.type() == QDBusError::TimedOut;
}

QString nextToken()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("vendalum%1_%2").arg(::getpid()).arg(++counter);
}

QString requestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString sessionHandle(const QVariantMap& results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    return handle.canConvert<QDBusObjectPath>() && handle.userType() != QMetaType::QString
               ? handle.value<QDBusObjectPath>().path()
               : handle.toString();
}

void closeSession(const QDBusConnection& bus, const QString& handle)
{
    if (handle.isEmpty() || !bus.isConnected()) return;
    QDBusConnection(bus).send(
        QDBusMessage::createMethodCall(service, handle, kSessionInterface, QStringLiteral("Close")));
}

void watchSessionClosed(const QDBusConnection& bus, const QString& handle, QObject* context,
                        std::function<void()> closed)
{
    if (handle.isEmpty() || !bus.isConnected() || !context) return;
    new SessionWatch(bus, handle, context, std::move(closed));
}

std::string withDetail(const std::string& sentence, const QDBusError& error)
{
    if (!error.isValid()) return sentence;
    return sentence + " (" + error.name().toStdString() + ": " + error.message().toStdString() + ")";
}

} // namespace platform::portal

#include "PortalRequest.moc"
