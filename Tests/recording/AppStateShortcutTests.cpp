// The recording hot key on a Wayland session: bound through the desktop
// portal's global shortcuts where the desktop takes it, else only in our own
// windows, and the record window's note says which; against a fake portal
// on a private session bus.

#include "AppStateFakes.h"

#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/HotKey.h"

#include "support/FakeShortcutsPortal.h"

#include <QKeyEvent>

#include <algorithm>

using ondexa::AppState;
using ondexa::HotKey;
using namespace ondexa::testing;
using testsupport::FakeShortcutsPortal;

namespace {

constexpr std::chrono::seconds kWait(10);

// Ctrl+Alt+A pressed in one of our windows.
void pressInOurWindow()
{
    QObject window;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(&window, &press);
    settle();
}

class AppStateShortcut : public AppStateTest {
protected:
    AppStateShortcut()
    {
        platform::ScreenCastOffer offer;
        offer.available = offer.monitors = offer.cursorEmbedded = true;
        offer.globalShortcuts = true;
        offer.version = 4;
        system.portalOffer = offer;
        system.pointer.reset();
        const QString address = QString::fromStdString(privateBus().address());
        static int serial = 0;
        ++serial;
        client_ = QDBusConnection::connectToBus(address, QStringLiteral("hotKeyClient%1").arg(serial));
        service_ = QDBusConnection::connectToBus(address, QStringLiteral("hotKeyService%1").arg(serial));
    }

    std::unique_ptr<HotKey> hotKey(std::function<void()> action,
                                   std::chrono::milliseconds deadline = platform::portal::defaultDeadline)
    {
        return HotKey::throughPortal(client_, HotKey::recordingKeyCode, HotKey::recordingModifiers, std::move(action),
                                     deadline);
    }

    // `hotKeyChanged` counts the controller's signal from its very start.
    std::unique_ptr<AppState> makeWithPortalKey(int* hotKeyChanged = nullptr)
    {
        auto env = system.environment();
        env.makeHotKey = [this](std::function<void()> action) { return hotKey(std::move(action)); };
        auto state = std::make_unique<AppState>(
            std::make_unique<QSettings>(QString::fromStdString(settingsFile().string()), QSettings::IniFormat),
            std::move(env));
        // The desktop answers through the event loop, not before it runs.
        if (hotKeyChanged) QObject::connect(state.get(), &AppState::hotKeyChanged, [hotKeyChanged] { ++*hotKeyChanged; });
        pumpUntil([&] { return state->screenCastOffer().has_value(); });
        settle();
        return state;
    }

    static bool hasNote(const AppState& state, const std::string& note)
    {
        const auto notes = state.sessionNotes();
        return std::count(notes.begin(), notes.end(), note) == 1;
    }

    QDBusConnection client_{QString()};
    QDBusConnection service_{QString()};
};

} // namespace

TEST_F(AppStateShortcut, AKeyTheDesktopTookFiresOnceAnywhereAndNotAgainInOurWindows)
{
    FakeShortcutsPortal portal(service_);
    int presses = 0;
    bool changed = false;
    auto key = hotKey([&] { ++presses; });
    key->setOnChange([&] { changed = true; });
    EXPECT_FALSE(key->isGlobal());  // until the desktop answers
    ASSERT_TRUE(pumpUntil([&] { return changed; }, kWait));
    EXPECT_TRUE(key->isGlobal());
    EXPECT_TRUE(key->boundByDesktop());
    EXPECT_EQ(key->grantedTrigger(), "Ctrl+Alt+A");

    portal.activate(portal.sessionPath, "recording");
    ASSERT_TRUE(pumpUntil([&] { return presses == 1; }, kWait));
    portal.activate(portal.sessionPath, "recording");
    ASSERT_TRUE(pumpUntil([&] { return presses >= 2; }, kWait));
    EXPECT_EQ(presses, 2);
    // The desktop passes the chord in our windows too: our own filter is gone.
    pressInOurWindow();
    EXPECT_EQ(presses, 2);
}

TEST_F(AppStateShortcut, ARefusedKeyWorksInOurWindowsOnly)
{
    FakeShortcutsPortal portal(service_);
    portal.bindAnswer = 1;
    int presses = 0;
    auto key = hotKey([&] { ++presses; });
    ASSERT_TRUE(pumpUntil([&] { return logHas("nem engedélyezte a globális billentyűparancsot"); }, kWait));
    EXPECT_FALSE(key->isGlobal());
    EXPECT_FALSE(key->boundByDesktop());
    portal.activate(portal.sessionPath, "recording");
    pressInOurWindow();
    pumpUntil([&] { return presses > 1; }, std::chrono::milliseconds(200));
    EXPECT_EQ(presses, 1);
}

TEST_F(AppStateShortcut, ADesktopThatNeverAnswersLeavesTheKeyToOurWindowsAndSaysSo)
{
    FakeShortcutsPortal portal(service_);
    portal.bindsSilently = true;
    int presses = 0;
    auto key = hotKey([&] { ++presses; }, std::chrono::milliseconds(300));
    ASSERT_TRUE(pumpUntil([&] { return logHas("nem válaszolt időben"); }, kWait));
    EXPECT_TRUE(logHas("kérésre: BindShortcuts. A gyorsbillentyű csak a Vendalum ablakaiban működik."));
    // The request and the session are closed, so that a late bind takes no keys.
    EXPECT_TRUE(pumpUntil([&] { return portal.silentBind.closed == 1 && portal.session.closed == 1; }, kWait));
    portal.activate(portal.sessionPath, "recording");
    pressInOurWindow();
    pumpUntil([&] { return presses > 1; }, std::chrono::milliseconds(200));
    EXPECT_EQ(presses, 1);
    EXPECT_FALSE(key->isGlobal());
    EXPECT_FALSE(key->boundByDesktop());
}

TEST_F(AppStateShortcut, TheRecordWindowsNoteFollowsTheDesktopsAnswer)
{
    {
        SCOPED_TRACE("bound");
        FakeShortcutsPortal portal(service_);
        int changed = 0;
        auto state = makeWithPortalKey(&changed);
        ASSERT_TRUE(pumpUntil([&] { return changed == 1; }, kWait));
        EXPECT_TRUE(hasNote(*state, ondexa::access::portal::hotKeyGlobal("Ctrl+Alt+A")));
        EXPECT_FALSE(hasNote(*state, ondexa::access::portal::hotKeyWhileFocused));
        EXPECT_NE(ondexa::access::portal::hotKeyGlobal("Ctrl+Alt+A").find("Ctrl+Alt+A"), std::string::npos);
    }
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present ? "refused" : "no such interface");
        std::optional<FakeShortcutsPortal> portal;
        if (present) {
            portal.emplace(service_);
            portal->bindAnswer = 1;
        }
        auto state = makeWithPortalKey();
        pumpUntil([&] { return logHas(present ? "nem engedélyezte a globális" : "billentyűparancs-szolgáltatása nem érhető el"); }, kWait);
        EXPECT_TRUE(hasNote(*state, ondexa::access::portal::hotKeyWhileFocused));
        EXPECT_FALSE(hasNote(*state, ondexa::access::portal::hotKeyGlobal("Ctrl+Alt+A")));
    }
}

TEST_F(AppStateShortcut, TheKeysNamedAreTheOnesTheDesktopGranted)
{
    struct Case {
        const char* name;
        std::optional<uint> answer;  // none: no portal at all
        QString granted;
        std::string shown;
    };
    for (const Case& c : {Case{"other keys", 0u, "Meta+Shift+R", "Meta+Shift+R"},
                          Case{"no words for them", 0u, "", "Ctrl+Alt+A"},
                          Case{"refused", 1u, "Meta+Shift+R", "Ctrl+Alt+A"},
                          Case{"no such interface", std::nullopt, "", "Ctrl+Alt+A"}}) {
        SCOPED_TRACE(c.name);
        std::optional<FakeShortcutsPortal> portal;
        if (c.answer) {
            portal.emplace(service_);
            portal->bindAnswer = *c.answer;
            portal->triggerDescription = c.granted;
        }
        int changed = 0;
        auto state = makeWithPortalKey(&changed);
        if (c.answer == 0u) {
            ASSERT_TRUE(pumpUntil([&] { return changed == 1; }, kWait));
        } else {
            pumpUntil([&] {
                return logHas(c.answer ? "nem engedélyezte a globális" : "billentyűparancs-szolgáltatása nem érhető el");
            }, kWait);
        }
        EXPECT_EQ(state->hotKeyText(), c.shown);
    }
}
