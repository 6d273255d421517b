#include "support/FakeShortcutsPortal.h"

#include <QDBusMetaType>
#include <QTimer>

namespace testsupport {

namespace {

constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kService = "org.freedesktop.portal.Desktop";

QString senderPart(const QDBusMessage& message)
{
    QString name = message.service().mid(1);
    return name.replace('.', '_');
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const FakeShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, FakeShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

FakeShortcutsPortal::FakeShortcutsPortal(QDBusConnection connection) : connection_(std::move(connection))
{
    qDBusRegisterMetaType<FakeShortcut>();
    qDBusRegisterMetaType<QList<FakeShortcut>>();
    connection_.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    connection_.registerService(kService);
}

FakeShortcutsPortal::~FakeShortcutsPortal()
{
    connection_.unregisterService(kService);
    connection_.unregisterObject(kPath);
    if (!sessionPath.isEmpty()) connection_.unregisterObject(sessionPath);
    if (!silentBindPath_.isEmpty()) connection_.unregisterObject(silentBindPath_);
}

void FakeShortcutsPortal::activate(const QString& sessionHandle, const QString& id)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(kPath, "org.freedesktop.portal.GlobalShortcuts", "Activated");
    signal << QVariant::fromValue(QDBusObjectPath(sessionHandle)) << id << qulonglong(1234) << QVariantMap();
    connection_.send(signal);
}

QDBusObjectPath FakeShortcutsPortal::CreateSession(const QVariantMap& options, const QDBusMessage& message)
{
    sessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                      .arg(senderPart(message), options.value("session_handle_token").toString());
    connection_.registerObject(sessionPath, &session, QDBusConnection::ExportAllSlots);
    return answer(message, options, 0, {{"session_handle", QVariant::fromValue(QDBusObjectPath(sessionPath))}});
}

QDBusObjectPath FakeShortcutsPortal::BindShortcuts(const QDBusObjectPath&, const QList<FakeShortcut>& shortcuts,
                                                   const QString&, const QVariantMap& options,
                                                   const QDBusMessage& message)
{
    asked = shortcuts;
    QList<FakeShortcut> granted;
    for (FakeShortcut shortcut : shortcuts) {
        shortcut.properties = {{"description", shortcut.properties.value("description")},
                               {"trigger_description", triggerDescription}};
        granted << shortcut;
    }
    if (bindsSilently) {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(senderPart(message), options.value("handle_token").toString());
        connection_.registerObject(path, &silentBind, QDBusConnection::ExportAllSlots);
        silentBindPath_ = path;
        return QDBusObjectPath(path);
    }
    return answer(message, options, bindAnswer,
                  bindAnswer == 0 ? QVariantMap{{"shortcuts", QVariant::fromValue(granted)}} : QVariantMap());
}

// The Request object's path, and its Response once the call has returned.
QDBusObjectPath FakeShortcutsPortal::answer(const QDBusMessage& message, const QVariantMap& options, uint code,
                                            const QVariantMap& results)
{
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                             .arg(senderPart(message), options.value("handle_token").toString());
    QTimer::singleShot(0, this, [this, path, code, results] {
        QDBusMessage response = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << code << results;
        connection_.send(response);
    });
    return QDBusObjectPath(path);
}

} // namespace testsupport
