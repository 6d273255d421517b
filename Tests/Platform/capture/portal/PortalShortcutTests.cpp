// The desktop's global shortcut through the portal, against a fake
// GlobalShortcuts interface on a private session bus.

#include "Platform/capture/PortalShortcut.h"

#include "PortalTestBus.h"
#include "support/FakeShortcutsPortal.h"

#include <gtest/gtest.h>

#include <QDBusConnection>

#include <memory>
#include <optional>

using platform::PortalShortcut;
using platform::PortalShortcutBinding;
using portaltest::pumpUntil;
using testsupport::FakeShortcutsPortal;

namespace {

class PortalShortcutTest : public ::testing::Test {
protected:
    PortalShortcutTest()
    {
        portaltest::application();
        const QString address = QString::fromStdString(portaltest::bus().address());
        static int serial = 0;
        ++serial;
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("keysClient%1").arg(serial)));
        service_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("keysService%1").arg(serial)));
    }

    // Binds the recording shortcut; `presses` counts its activations.
    PortalShortcutBinding bind()
    {
        std::optional<PortalShortcutBinding> binding;
        shortcut_ = std::make_unique<PortalShortcut>(
            *client_, platform::WantedShortcut{"recording", "Felvétel indítása és leállítása", "CTRL+ALT+a"},
            [&binding](PortalShortcutBinding b) { binding = std::move(b); }, [this] { ++presses; });
        EXPECT_TRUE(pumpUntil([&] { return binding.has_value(); }));
        return binding.value_or(PortalShortcutBinding{});
    }

    // Lets every signal sent so far arrive: a press sent after them is seen
    // after them.
    void settle(FakeShortcutsPortal& portal)
    {
        const int before = presses;
        portal.activate(portal.sessionPath, "recording");
        ASSERT_TRUE(pumpUntil([&] { return presses == before + 1; }));
        presses = before;
    }

    std::unique_ptr<QDBusConnection> client_, service_;
    std::unique_ptr<PortalShortcut> shortcut_;
    int presses = 0;
};

} // namespace

TEST_F(PortalShortcutTest, TheShortcutIsAskedForWithItsDescriptionAndKeysAndOnlyItsOwnPressesCount)
{
    FakeShortcutsPortal portal(*service_);
    const PortalShortcutBinding binding = bind();
    ASSERT_EQ(binding.outcome, PortalShortcutBinding::Outcome::bound) << binding.error;
    EXPECT_EQ(binding.trigger, "Ctrl+Alt+A");
    ASSERT_EQ(portal.asked.size(), 1);
    EXPECT_EQ(portal.asked[0].id, "recording");
    EXPECT_EQ(portal.asked[0].properties.value("description").toString(), "Felvétel indítása és leállítása");
    EXPECT_EQ(portal.asked[0].properties.value("preferred_trigger").toString(), "CTRL+ALT+a");

    // Another shortcut's press, or one of another session, is not ours.
    portal.activate(portal.sessionPath, "other");
    portal.activate(portal.sessionPath + "x", "recording");
    settle(portal);
    EXPECT_EQ(presses, 0);
    portal.activate(portal.sessionPath, "recording");
    EXPECT_TRUE(pumpUntil([&] { return presses == 1; }));
    settle(portal);
    EXPECT_EQ(presses, 1);

    // Let go, the session is closed and presses stop.
    shortcut_.reset();
    EXPECT_TRUE(pumpUntil([&] { return portal.session.closed == 1; }));
}

TEST_F(PortalShortcutTest, ARefusalOrAMissingInterfaceBindsNothing)
{
    {
        FakeShortcutsPortal portal(*service_);
        portal.bindAnswer = 1;
        const PortalShortcutBinding binding = bind();
        EXPECT_EQ(binding.outcome, PortalShortcutBinding::Outcome::refused);
        // A press the desktop sends anyway is not taken.
        portal.activate(portal.sessionPath, "recording");
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(presses, 0);
    }
    const PortalShortcutBinding binding = bind();
    EXPECT_EQ(binding.outcome, PortalShortcutBinding::Outcome::failed);
    EXPECT_NE(binding.error.find("billentyűparancs"), std::string::npos) << binding.error;
}
