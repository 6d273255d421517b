// The portal tests' private bus answers with what the tests put on it and
// nothing else: a desktop portal installed on the machine is never started
// for a name no test has registered.

#include "PortalTestBus.h"

#include "Platform/capture/PortalRequest.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// A folder for one test, removed at its end.
struct Folder {
    std::filesystem::path path;
    Folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vendalum-test-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

TEST(PrivateBus, ANameNoTestRegisteredIsUnknownAtOnceEvenWhereItsServiceIsInstalled)
{
    portaltest::application();
    // A portal installed where a session bus looks for services; starting it leaves a mark.
    Folder data;
    ASSERT_FALSE(data.path.empty());
    const std::filesystem::path services = data.path / "share" / "dbus-1" / "services";
    std::filesystem::create_directories(services);
    const std::filesystem::path mark = data.path / "started";
    std::ofstream(services / "org.freedesktop.portal.Desktop.service")
        << "[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/bin/sh -c 'touch " << mark.string()
        << "'\n";
    testsupport::ScopedEnv dataHome("XDG_DATA_HOME", (data.path / "share").string());
    testsupport::ScopedEnv dataDirs("XDG_DATA_DIRS", (data.path / "share").string());

    testsupport::PrivateBus bus;
    const auto connection = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "activation");
    ASSERT_TRUE(connection.isConnected());
    QElapsedTimer clock;
    clock.start();
    const QDBusMessage reply = QDBusConnection(connection).call(
        QDBusMessage::createMethodCall(platform::portal::service, platform::portal::path,
                                       "org.freedesktop.DBus.Peer", "Ping"),
        QDBus::Block, 5000);
    EXPECT_EQ(reply.errorName().toStdString(), "org.freedesktop.DBus.Error.ServiceUnknown")
        << reply.errorMessage().toStdString();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(std::filesystem::exists(mark));
    QDBusConnection::disconnectFromBus("activation");
}
