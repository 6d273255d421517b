#include "ScreenCastPortal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <unistd.h>

namespace screencast {

namespace {

const QString service = "org.freedesktop.portal.Desktop";
const QString path = "/org/freedesktop/portal/desktop";
const QString screenCast = "org.freedesktop.portal.ScreenCast";

void ensureApplication()
{
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "screencast-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

QDBusConnection bus()
{
    ensureApplication();
    return QDBusConnection::sessionBus();
}

} // namespace

// Receives one Request's Response signal.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    std::uint32_t response = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void respond(uint code, const QVariantMap& values)
    {
        answered = true;
        response = code;
        results = values;
        loop.quit();
    }
};

Portal::Portal(std::chrono::milliseconds timeout) : timeout_(timeout)
{
    ensureApplication();
}

QVariant Portal::property(const char* name) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    call << screenCast << QString::fromLatin1(name);
    const QDBusMessage reply = bus().call(call, QDBus::Block, int(timeout_.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

QStringList Portal::interfaces() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Introspectable", "Introspect");
    const QDBusMessage reply = bus().call(call, QDBus::Block, int(timeout_.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    QStringList names;
    static const QRegularExpression interface(R"re(<interface name="([^"]+)")re");
    for (auto it = interface.globalMatch(reply.arguments().first().toString()); it.hasNext();)
        names << it.next().captured(1);
    return names;
}

Reply Portal::request(const char* method, const QList<QVariant>& arguments, QVariantMap options)
{
    Reply out;
    QDBusConnection connection = bus();
    if (!connection.isConnected()) {
        out.error = "no session bus";
        return out;
    }
    // The Request object's path is known before the call, so the answer
    // cannot come before we listen for it.
    const QString token = QString("ondexa_test_%1_%2").arg(::getpid()).arg(++tokens_);
    QString sender = connection.baseService().mid(1);
    sender.replace('.', '_');
    const QString requestPath = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    ResponseWaiter waiter;
    connection.connect(service, requestPath, "org.freedesktop.portal.Request", "Response", &waiter,
                       SLOT(respond(uint, QVariantMap)));
    options.insert("handle_token", token);

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, screenCast, method);
    QList<QVariant> all = arguments;
    all << options;
    call.setArguments(all);
    const QDBusMessage reply = connection.call(call, QDBus::Block, int(timeout_.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        out.error = reply.errorName() + ": " + reply.errorMessage();
    } else {
        if (!waiter.answered) {
            QTimer::singleShot(timeout_, &waiter.loop, &QEventLoop::quit);
            waiter.loop.exec();
        }
        if (!waiter.answered) out.error = QString("no answer to %1").arg(method);
        out.response = waiter.response;
        out.results = waiter.results;
    }
    connection.disconnect(service, requestPath, "org.freedesktop.portal.Request", "Response", &waiter,
                          SLOT(respond(uint, QVariantMap)));
    return out;
}

Reply Portal::createSession()
{
    return request("CreateSession", {}, {{"session_handle_token", QString("ondexa_test_session_%1").arg(++tokens_)}});
}

Reply Portal::selectSources(const QString& session, const QVariantMap& options)
{
    return request("SelectSources", {QVariant::fromValue(QDBusObjectPath(session))}, options);
}

Reply Portal::start(const QString& session)
{
    return request("Start", {QVariant::fromValue(QDBusObjectPath(session)), QString()}, {});
}

int Portal::openPipeWireRemote(const QString& session, QString* error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, screenCast, "OpenPipeWireRemote");
    call << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap();
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus().call(call, QDBus::Block, int(timeout_.count()));
    if (!reply.isValid()) {
        if (error) *error = reply.error().name() + ": " + reply.error().message();
        return -1;
    }
    // The descriptor object closes its own copy.
    return ::dup(reply.value().fileDescriptor());
}

void Portal::closeSession(const QString& session)
{
    bus().call(QDBusMessage::createMethodCall(service, session, "org.freedesktop.portal.Session", "Close"), QDBus::Block,
               int(timeout_.count()));
}

std::vector<Stream> Portal::streams(const Reply& started)
{
    std::vector<Stream> out;
    const QVariant value = started.results.value("streams");
    if (!value.canConvert<QDBusArgument>()) return out;
    const QDBusArgument list = value.value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Stream stream;
        QVariantMap properties;
        list.beginStructure();
        list >> stream.node >> properties;
        list.endStructure();
        const auto pair = [&](const char* key) {
            int a = 0, b = 0;
            const QVariant v = properties.value(key);
            if (v.canConvert<QDBusArgument>()) {
                const QDBusArgument s = v.value<QDBusArgument>();
                s.beginStructure();
                s >> a >> b;
                s.endStructure();
            }
            return std::pair(a, b);
        };
        const auto [w, h] = pair("size");
        const auto [x, y] = pair("position");
        stream.size = QSize(w, h);
        stream.position = QPoint(x, y);
        stream.sourceType = properties.value("source_type").toUInt();
        out.push_back(stream);
    }
    list.endArray();
    return out;
}

Reply Portal::startMonitorCast(std::uint32_t cursorMode, QString* session)
{
    Reply created = createSession();
    if (!created.ok()) return created;
    const QVariant handle = created.results.value("session_handle");
    *session = handle.userType() == qMetaTypeId<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
    Reply selected =
        selectSources(*session, {{"types", monitorSource}, {"multiple", false}, {"cursor_mode", cursorMode}});
    if (!selected.ok()) return selected;
    return start(*session);
}

} // namespace screencast

#include "ScreenCastPortal.moc"
