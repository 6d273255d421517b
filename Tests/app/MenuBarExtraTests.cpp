// The tray: its menu in each phase and what its items do; the icon and the
// tooltip while recording.

#include "AppTestSupport.h"
#include "support/FakeShortcutsPortal.h"
#include "support/PrivateBus.h"

#include "Ondexa/app/MenuBarExtra.h"

#include <QAction>
#include <QImage>
#include <QSystemTrayIcon>

namespace ondexa {
namespace {

using namespace testing;
using Phase = AppState::Phase;

using TrayTest = RecordWindowTest;

TEST_F(TrayTest, MenuFollowsThePhase)
{
    auto state = make();
    Tray tray(*state);
    QAction* record = tray.menu()->recordAction();
    const struct {
        Phase phase;
        const char* title;
        bool enabled;
    } cases[] = {
        {Phase::idle, "Felvétel indítása", true},
        {Phase::starting, "Felvétel indítása", false},
        {Phase::recording, "Felvétel leállítása", true},
        {Phase::finishing, "Felvétel indítása", false},
    };
    for (const auto& c : cases) {
        state->forcePhaseForTesting(c.phase);
        EXPECT_EQ(record->text().toStdString(), c.title);
        EXPECT_EQ(record->isEnabled(), c.enabled) << c.title;
    }
    state->forcePhaseForTesting(Phase::idle);
    QStringList items;
    for (const QAction* action : tray.menu()->actions()) items << (action->isSeparator() ? "—" : action->text());
    EXPECT_EQ(items, (QStringList{"Felvétel indítása", "—", "Vendalum ablak", "Kilépés"}));
    EXPECT_EQ(record->shortcut().toString(), "Ctrl+Alt+A");
    tray.menu()->adjustSize();
    saveScreenshot(*tray.menu(), "tray-menu");
}

TEST_F(TrayTest, TheRecordItemNamesTheKeysTheDesktopGranted)
{
    // A Wayland desktop that binds the shortcut to keys of its own choosing:
    // keys Qt reads are the item's shortcut, other words stand after a tab.
    testsupport::PrivateBus bus;
    const QString address = QString::fromStdString(bus.address());
    QDBusConnection client = QDBusConnection::connectToBus(address, "trayHotKeyClient");
    testsupport::FakeShortcutsPortal portal(QDBusConnection::connectToBus(address, "trayHotKeyService"));
    system.hotKey = [client](std::function<void()> action) {
        return HotKey::throughPortal(client, HotKey::recordingKeyCode, HotKey::recordingModifiers, std::move(action));
    };
    const struct {
        const char* granted;
        const char* text;
        const char* shortcut;
    } cases[] = {
        {"Meta+Shift+R", "Felvétel indítása", "Meta+Shift+R"},
        {"Nyomd le egyszerre: Meta+Shift+R", "Felvétel indítása\tNyomd le egyszerre: Meta+Shift+R", ""},
    };
    for (const auto& c : cases) {
        portal.triggerDescription = c.granted;
        auto state = make();
        Tray tray(*state);
        QAction* record = tray.menu()->recordAction();
        const auto shortcut = [&] { return record->shortcut().toString(QKeySequence::NativeText).toStdString(); };
        EXPECT_TRUE(pumpUntil([&] { return record->text() == c.text && shortcut() == c.shortcut; }))
            << record->text().toStdString() << " / " << shortcut();
        tray.menu()->adjustSize();
        if (!*c.shortcut) saveScreenshot(*tray.menu(), "tray-menu-granted-hot-key");
    }
}

TEST_F(TrayTest, ItemsActOnTheControllerAndAskTheApplication)
{
    auto state = make();
    Tray tray(*state);
    int windows = 0, quits = 0;
    QObject::connect(tray.menu(), &MenuBarContent::recordWindowRequested, [&] { ++windows; });
    QObject::connect(tray.menu(), &MenuBarContent::quitRequested, [&] { ++quits; });
    tray.menu()->recordAction()->trigger();
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::recording; }));
    tray.menu()->recordAction()->trigger();
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle; }));
    tray.menu()->windowAction()->trigger();
    tray.menu()->quitAction()->trigger();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(TrayTest, ALeftClickOnTheIconAsksForTheRecordWindowAndOtherClicksDoNot)
{
    auto state = make();
    Tray tray(*state);
    int windows = 0;
    QObject::connect(tray.menu(), &MenuBarContent::recordWindowRequested, [&] { ++windows; });
    for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
        emit tray.icon()->activated(reason);
    EXPECT_EQ(windows, 0);  // the right click opens the menu, nothing more
    emit tray.icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(tray.icon()->contextMenu(), tray.menu());
}

TEST_F(TrayTest, RecordingBlinksTheDotAndShowsTheTime)
{
    auto state = make();
    Tray tray(*state);
    EXPECT_FALSE(tray.icon()->icon().isNull());
    EXPECT_EQ(tray.icon()->toolTip(), "Vendalum");

    state->forceElapsedForTesting(7.2);
    state->forceBlinkOnForTesting(true);
    state->forcePhaseForTesting(Phase::recording);
    EXPECT_EQ(tray.icon()->toolTip(), "00:07");
    EXPECT_EQ(tray.icon()->icon().cacheKey(), MenuBarLabel::dotOn().cacheKey());
    state->forceBlinkOnForTesting(false);
    EXPECT_EQ(tray.icon()->icon().cacheKey(), MenuBarLabel::dotOff().cacheKey());
    state->forceElapsedForTesting(3723);
    EXPECT_EQ(tray.icon()->toolTip(), "1:02:03");

    state->forcePhaseForTesting(Phase::finishing);
    EXPECT_NE(tray.icon()->icon().cacheKey(), MenuBarLabel::dotOff().cacheKey());
    EXPECT_FALSE(tray.icon()->icon().isNull());
    state->forcePhaseForTesting(Phase::idle);
}

TEST(MenuBarLabel, DotIsATenPixelDiscInFourteen)
{
    const struct {
        const QIcon& icon;
        int alpha;
    } cases[] = {{MenuBarLabel::dotOn(), 255}, {MenuBarLabel::dotOff(), 64}};
    for (const auto& c : cases) {
        const QImage image = c.icon.pixmap(QSize(14, 14)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(14, 14));
        EXPECT_NEAR(qAlpha(image.pixel(7, 7)), c.alpha, 3);
        EXPECT_GT(qRed(image.pixel(7, 7)), qGreen(image.pixel(7, 7)));
        for (const QPoint empty : {QPoint(1, 7), QPoint(7, 1), QPoint(12, 7), QPoint(2, 2)})
            EXPECT_EQ(qAlpha(image.pixel(empty)), 0) << empty.x() << "," << empty.y();
        EXPECT_GT(qAlpha(image.pixel(3, 7)), 0);
    }
}

} // namespace
} // namespace ondexa
