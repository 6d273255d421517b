#pragma once

// A fake desktop portal's GlobalShortcuts interface on a (private) session
// bus: it notes what it was asked to bind, answers each request through the
// Response signal of its Request object, and sends Activated on demand.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace testsupport {

// One a(sa{sv}) entry of BindShortcuts.
struct FakeShortcut {
    QString id;
    QVariantMap properties;
};

// A session object of a fake portal: notes when it is closed.
class FakePortalSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    int closed = 0;

public slots:
    void Close() { ++closed; }
};

// A Request object of a fake portal that never answers: notes when it is
// closed (the portal would take its dialog away).
class FakePortalRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    int closed = 0;

public slots:
    void Close() { ++closed; }
};

class FakeShortcutsPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    // Serves on `connection` under the portal's name until destroyed.
    explicit FakeShortcutsPortal(QDBusConnection connection);
    ~FakeShortcutsPortal() override;

    uint version() const { return 1; }

    uint bindAnswer = 0;                     // the desktop's answer: 0 bound, 1 refused by the user
    bool bindsSilently = false;              // BindShortcuts never answers
    FakePortalRequest silentBind;            // its Request object then
    QString triggerDescription = "Ctrl+Alt+A";  // what it says was granted
    QList<FakeShortcut> asked;               // what BindShortcuts was given
    QString sessionPath;                     // of the last session opened
    FakePortalSession session;

    // Sends Activated for `id` in `session`.
    void activate(const QString& session, const QString& id);

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<testsupport::FakeShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options,
                                  const QDBusMessage& message);

private:
    QDBusObjectPath answer(const QDBusMessage& message, const QVariantMap& options, uint code,
                           const QVariantMap& results);

    QDBusConnection connection_;
    QString silentBindPath_;
};

QDBusArgument& operator<<(QDBusArgument& argument, const FakeShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, FakeShortcut& shortcut);

} // namespace testsupport

Q_DECLARE_METATYPE(testsupport::FakeShortcut)
