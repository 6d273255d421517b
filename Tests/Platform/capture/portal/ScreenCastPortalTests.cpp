// The screen-cast portal client against a fake portal: a small D-Bus
// service under the portal's name on a private session bus, answering each
// request through the Response signal of its Request object, as the real
// portal does.

#include "Platform/capture/ScreenCastPortal.h"

#include "PortalTestBus.h"
#include "support/FakeShortcutsPortal.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

using platform::ScreenCastOffer;
using platform::ScreenCastRequest;
using platform::ScreenCastResult;

// The portal's a(ua{sv}) streams and their (ii) properties.
struct FakePair {
    int a = 0, b = 0;
};
struct FakeStream {
    uint node = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(FakePair)
Q_DECLARE_METATYPE(FakeStream)

QDBusArgument& operator<<(QDBusArgument& argument, const FakePair& pair)
{
    argument.beginStructure();
    argument << pair.a << pair.b;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, FakePair& pair)
{
    argument.beginStructure();
    argument >> pair.a >> pair.b;
    argument.endStructure();
    return argument;
}
QDBusArgument& operator<<(QDBusArgument& argument, const FakeStream& stream)
{
    argument.beginStructure();
    argument << stream.node << stream.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, FakeStream& stream)
{
    argument.beginStructure();
    argument >> stream.node >> stream.properties;
    argument.endStructure();
    return argument;
}

using portaltest::application;
using portaltest::bus;
using portaltest::pumpUntil;

namespace {

// The fake portal's ScreenCast interface.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
    Q_PROPERTY(uint AvailableCursorModes READ cursorModes)
    Q_PROPERTY(uint version READ version)

public:
    explicit FakePortal(QDBusConnection connection) : connection_(std::move(connection)) {}

    uint sourceTypes() const { return 1; }  // monitors only
    uint cursorModes() const { return 1 | 2; }  // hidden and embedded
    uint version() const { return 4; }

    uint startAnswer = 0;       // the user's answer in the dialog: 0 allowed, 1 refused
    bool startSilent = false;   // the dialog never comes back
    QVariantMap selectOptions;  // what SelectSources was given
    QStringList handleTokens;   // each request's handle_token, in order
    testsupport::FakePortalSession session;
    QString sessionPath;
    testsupport::FakePortalRequest silentStart;  // Start's Request when it never answers

    // The desktop ends the cast itself (a session's Closed signal).
    void endSession(const QString& path)
    {
        QDBusMessage closed = QDBusMessage::createSignal(path, "org.freedesktop.portal.Session", "Closed");
        closed << QVariantMap();
        connection_.send(closed);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message)
    {
        sessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender(message), options.value("session_handle_token").toString());
        connection_.registerObject(sessionPath, &session, QDBusConnection::ExportAllSlots);
        return answer(message, options, 0, {{"session_handle", sessionPath}});
    }
    QDBusObjectPath SelectSources(const QDBusObjectPath&, const QVariantMap& options, const QDBusMessage& message)
    {
        selectOptions = options;
        return answer(message, options, 0, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& options,
                          const QDBusMessage& message)
    {
        FakeStream stream;
        stream.node = 57;
        stream.properties.insert("position", QVariant::fromValue(FakePair{1920, 0}));
        stream.properties.insert("size", QVariant::fromValue(FakePair{1280, 720}));
        stream.properties.insert("source_type", 1u);
        QVariantMap results;
        results.insert("streams", QVariant::fromValue(QList<FakeStream>{stream}));
        results.insert("restore_token", QStringLiteral("new-token"));
        if (startSilent) {
            const QString path = requestPath(message, options);
            connection_.registerObject(path, &silentStart, QDBusConnection::ExportAllSlots);
            return QDBusObjectPath(path);
        }
        return answer(message, options, startAnswer, startAnswer == 0 ? results : QVariantMap());
    }
    QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath&, const QVariantMap&)
    {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        QDBusUnixFileDescriptor descriptor(fd);
        close(fd);
        return descriptor;
    }

private:
    static QString sender(const QDBusMessage& message)
    {
        QString name = message.service().mid(1);
        return name.replace('.', '_');
    }

    QString requestPath(const QDBusMessage& message, const QVariantMap& options)
    {
        const QString token = options.value("handle_token").toString();
        handleTokens << token;
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender(message), token);
    }

    // The Request object's path, and its Response once the call has returned.
    QDBusObjectPath answer(const QDBusMessage& message, const QVariantMap& options, uint code,
                           const QVariantMap& results)
    {
        const QString path = requestPath(message, options);
        QTimer::singleShot(0, this, [this, path, code, results] {
            QDBusMessage response =
                QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
            response << code << results;
            connection_.send(response);
        });
        return QDBusObjectPath(path);
    }

    QDBusConnection connection_;
};

class ScreenCastPortalTest : public ::testing::Test {
protected:
    ScreenCastPortalTest()
    {
        application();
        qDBusRegisterMetaType<FakePair>();
        qDBusRegisterMetaType<FakeStream>();
        qDBusRegisterMetaType<QList<FakeStream>>();
        const QString address = QString::fromStdString(bus().address());
        static int serial = 0;
        ++serial;
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("client%1").arg(serial)));
        service_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("service%1").arg(serial)));
        EXPECT_TRUE(client_->isConnected());
        EXPECT_TRUE(service_->isConnected());
    }
    ~ScreenCastPortalTest() override
    {
        if (portal_) {
            service_->unregisterObject(platform::screencast::path);
            service_->unregisterService(platform::screencast::service);
        }
    }

    // Puts the fake portal on the bus.
    FakePortal& serve()
    {
        portal_ = std::make_unique<FakePortal>(*service_);
        EXPECT_TRUE(service_->registerObject(platform::screencast::path, portal_.get(),
                                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        EXPECT_TRUE(service_->registerService(platform::screencast::service));
        return *portal_;
    }

    ScreenCastResult open(ScreenCastRequest request,
                          std::chrono::milliseconds deadline = platform::portal::defaultDeadline)
    {
        std::optional<ScreenCastResult> result;
        platform::screencast::open(
            *client_, &context_, std::move(request), [&](ScreenCastResult r) { result = std::move(r); }, deadline);
        EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }));
        return result.value_or(ScreenCastResult{});
    }

    // Everything the client sent so far has reached the portal.
    void roundTrip()
    {
        QDBusMessage get = QDBusMessage::createMethodCall(platform::screencast::service, platform::screencast::path,
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << QString::fromLatin1(platform::screencast::interface) << QStringLiteral("version");
        QDBusPendingCall call = client_->asyncCall(get);
        EXPECT_TRUE(pumpUntil([&] { return call.isFinished(); }));
    }

    std::unique_ptr<QDBusConnection> client_, service_;
    std::unique_ptr<FakePortal> portal_;
    QObject context_;
};

} // namespace

TEST_F(ScreenCastPortalTest, TheOfferIsReadFromThePortalsProperties)
{
    serve();
    std::optional<ScreenCastOffer> offer;
    platform::screencast::query(*client_, &context_, [&](ScreenCastOffer o) { offer = o; });
    ASSERT_TRUE(pumpUntil([&] { return offer.has_value(); }));
    EXPECT_TRUE(offer->available) << offer->failure;
    EXPECT_TRUE(offer->monitors);
    EXPECT_FALSE(offer->windows);
    EXPECT_TRUE(offer->cursorHidden);
    EXPECT_TRUE(offer->cursorEmbedded);
    EXPECT_FALSE(offer->cursorMetadata);
    EXPECT_FALSE(offer->globalShortcuts);
    EXPECT_EQ(offer->version, 4u);
}

TEST_F(ScreenCastPortalTest, AGrantGivesTheStreamTheConnectionAndANewRestoreToken)
{
    FakePortal& portal = serve();
    ScreenCastRequest request;
    request.cursor = ScreenCastRequest::Cursor::metadata;
    request.restoreToken = "old-token";
    ScreenCastResult result = open(request);
    ASSERT_EQ(result.outcome, ScreenCastResult::Outcome::started) << result.error;

    // What the portal was asked for: one monitor, the pointer beside the
    // picture, remembered until revoked, restored from the earlier grant.
    EXPECT_EQ(portal.selectOptions.value("types").toUInt(), 1u);
    EXPECT_EQ(portal.selectOptions.value("multiple").toBool(), false);
    EXPECT_EQ(portal.selectOptions.value("cursor_mode").toUInt(), 4u);
    EXPECT_EQ(portal.selectOptions.value("persist_mode").toUInt(), 2u);
    EXPECT_EQ(portal.selectOptions.value("restore_token").toString(), "old-token");
    // Each request had a token of its own.
    ASSERT_EQ(portal.handleTokens.size(), 3);
    EXPECT_EQ(portal.handleTokens.removeDuplicates(), 0);

    ASSERT_EQ(result.streams.size(), 1u);
    EXPECT_EQ(result.streams[0].nodeId, 57u);
    EXPECT_EQ(result.streams[0].position, QPoint(1920, 0));
    EXPECT_EQ(result.streams[0].size, QSize(1280, 720));
    EXPECT_FALSE(result.streams[0].window);
    EXPECT_EQ(result.restoreToken, "new-token");
    ASSERT_TRUE(result.session);
    const int fd = result.session->takePipeWireFd();
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);

    // The session stays open while it is held (a round trip to the portal
    // comes after anything sent before it), and closes once let go.
    roundTrip();
    EXPECT_EQ(portal.session.closed, 0);
    result.session.reset();
    EXPECT_TRUE(pumpUntil([&] { return portal.session.closed == 1; }));
}

TEST_F(ScreenCastPortalTest, ARefusalInTheDialogIsTheRefusedOutcomeAndClosesTheSession)
{
    FakePortal& portal = serve();
    portal.startAnswer = 1;
    const ScreenCastResult result = open({});
    EXPECT_EQ(result.outcome, ScreenCastResult::Outcome::refused);
    EXPECT_FALSE(result.session);
    EXPECT_TRUE(result.streams.empty());
    EXPECT_TRUE(pumpUntil([&] { return portal.session.closed == 1; }));
    // Without a token to restore none is sent.
    EXPECT_FALSE(portal.selectOptions.contains("restore_token"));
}

TEST_F(ScreenCastPortalTest, WithoutAPortalTheFailureSaysWhichServiceIsMissing)
{
    std::optional<ScreenCastOffer> offer;
    platform::screencast::query(*client_, &context_, [&](ScreenCastOffer o) { offer = o; });
    ASSERT_TRUE(pumpUntil([&] { return offer.has_value(); }));
    EXPECT_FALSE(offer->available);
    EXPECT_NE(offer->failure.find("xdg-desktop-portal"), std::string::npos) << offer->failure;

    const ScreenCastResult result = open({});
    EXPECT_EQ(result.outcome, ScreenCastResult::Outcome::failed);
    EXPECT_NE(result.error.find("xdg-desktop-portal"), std::string::npos) << result.error;
}

TEST_F(ScreenCastPortalTest, ADialogLeftUnansweredFailsAtTheDeadlineAndIsTakenAway)
{
    FakePortal& portal = serve();
    portal.startSilent = true;
    const ScreenCastResult result = open({}, std::chrono::milliseconds(300));
    EXPECT_EQ(result.outcome, ScreenCastResult::Outcome::failed);
    EXPECT_EQ(result.error,
              "A képernyőmegosztó szolgáltatás (xdg-desktop-portal) nem válaszolt időben a kérésre: Start.");
    EXPECT_FALSE(result.session);
    // The dialog's Request and the session are closed: nothing stays on the screen.
    EXPECT_TRUE(pumpUntil([&] { return portal.silentStart.closed == 1 && portal.session.closed == 1; }));
}

TEST_F(ScreenCastPortalTest, TheDesktopEndingTheCastIsHeardForItsOwnSessionOnly)
{
    FakePortal& portal = serve();
    ScreenCastResult result = open({});
    ASSERT_EQ(result.outcome, ScreenCastResult::Outcome::started) << result.error;
    QObject listener;
    int closed = 0;
    result.session->watchClosed(&listener, [&] { ++closed; });
    roundTrip();

    portal.endSession(portal.sessionPath + "x");  // another session's end
    roundTrip();
    EXPECT_EQ(closed, 0);
    portal.endSession(portal.sessionPath);
    EXPECT_TRUE(pumpUntil([&] { return closed == 1; }));
}

TEST(ScreenCastPortalPaths, TheRequestPathFollowsThePortalsRule)
{
    application();
    const auto connection = QDBusConnection::connectToBus(QString::fromStdString(bus().address()), "paths");
    const QString unique = connection.baseService();  // ":1.23"
    QString expected = unique.mid(1);
    expected.replace('.', '_');
    EXPECT_EQ(platform::portal::requestPath(connection, "abc"),
              "/org/freedesktop/portal/desktop/request/" + expected + "/abc");
}

#include "ScreenCastPortalTests.moc"
