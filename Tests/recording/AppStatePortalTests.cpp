// A Wayland session's recording road through the controller: the
// screen-cast portal's dialog as the permission, its restore token kept in
// the settings, its monitor, area and window, and what such a session
// leaves out, against a fake portal.

#include "AppStateFakes.h"

#include "Ondexa/recording/AccessMessages.h"
#include "Platform/capture/ScreenCastPortal.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

using ondexa::AppState;
using ondexa::CaptureTarget;
using ondexa::RecordingInfo;
using namespace ondexa::testing;
using Mode = AppState::CaptureMode;
using Phase = AppState::Phase;
using Outcome = platform::ScreenCastResult::Outcome;
using Source = platform::ScreenCastRequest::Source;
using Cursor = platform::ScreenCastRequest::Cursor;

namespace {

platform::ScreenCastOffer offer(bool windows, bool metadata)
{
    platform::ScreenCastOffer o;
    o.available = true;
    o.monitors = true;
    o.windows = windows;
    o.cursorEmbedded = true;
    o.cursorHidden = true;
    o.cursorMetadata = metadata;
    o.version = 4;
    return o;
}

platform::ScreenCastResult granted(std::string token, QPoint position = QPoint(0, 0), QSize size = QSize(1920, 1080))
{
    platform::ScreenCastResult result;
    result.outcome = Outcome::started;
    result.restoreToken = std::move(token);
    result.streams = {{42, position, size, false}};
    result.session = std::make_shared<platform::ScreenCastSession>(QDBusConnection(QString()), QString(), -1);
    return result;
}

platform::ScreenCastResult refused()
{
    platform::ScreenCastResult result;
    result.outcome = Outcome::refused;
    return result;
}

// A screen-cast portal that takes each request and never answers it.
class SilentScreenCast : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")

public:
    int asked = 0;

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message)
    {
        ++asked;
        QString sender = message.service().mid(1);
        sender.replace('.', '_');
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                   .arg(sender, options.value("handle_token").toString()));
    }
};

// Two connections to the private bus: ours, and the fake portal's, which
// owns the portal's name while it lives.
struct PortalBus {
    PortalBus()
    {
        static int serial = 0;
        ++serial;
        const QString address = QString::fromStdString(privateBus().address());
        client = QDBusConnection::connectToBus(address, QStringLiteral("castClient%1").arg(serial));
        service = QDBusConnection::connectToBus(address, QStringLiteral("castService%1").arg(serial));
        EXPECT_TRUE(service.registerService(platform::portal::service));
    }
    ~PortalBus()
    {
        service.unregisterObject(platform::portal::path);
        service.unregisterService(platform::portal::service);
    }

    QDBusConnection client{QString()};
    QDBusConnection service{QString()};
};

class AppStatePortal : public AppStateTest {
protected:
    AppStatePortal()
    {
        system.portalOffer = offer(false, false);
        system.pointer.reset();  // no global pointer position on Wayland
    }
    std::unique_ptr<AppState> makeSettled()
    {
        auto state = make();
        pumpUntil([&] { return state->screenCastOffer().has_value(); });
        settle();
        return state;
    }
};

} // namespace

TEST_F(AppStatePortal, ThePortalsDialogIsThePermissionAndARefusalIsThePermissionFailure)
{
    auto state = makeSettled();
    ASSERT_TRUE(state->capturesThroughPortal());
    // No grant yet: the record window shows its permission notice.
    EXPECT_TRUE(state->needsScreenPermission());

    system.portalAnswer = refused();
    start(*state);
    ASSERT_EQ(system.portalRequests.size(), 1u);
    EXPECT_EQ(system.portalRequests[0].source, Source::monitor);
    EXPECT_EQ(system.portalRequests[0].restoreToken, "");
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->errorMessage(), ondexa::access::portal::refused);
    EXPECT_TRUE(state->needsScreenPermission());
    EXPECT_EQ(system.recordersMade, 0);
    EXPECT_EQ(system.hides, 0);

    // "Engedély megadása…" asks the portal too; its grant lifts the notice.
    system.portalAnswer = granted("token-1");
    bool asked = false;
    state->requestScreenPermission([&] { asked = true; });
    ASSERT_TRUE(pumpUntil([&] { return asked; }));
    EXPECT_EQ(system.portalRequests.size(), 2u);
    EXPECT_FALSE(state->needsScreenPermission());
    EXPECT_EQ(state->screenCastToken(Source::monitor), "token-1");
    EXPECT_EQ(system.recordersMade, 0);
}

TEST_F(AppStatePortal, TheRestoreTokenIsKeptSoThatLaterRecordingsDoNotAsk)
{
    {
        auto state = makeSettled();
        system.portalAnswer = granted("token-1", QPoint(1920, 0), QSize(1280, 720));
        start(*state);
        ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
        const CaptureTarget& target = system.recorder->request.target;
        ASSERT_TRUE(target.portal);
        EXPECT_EQ(target.portal->nodeId, 42u);
        EXPECT_EQ(target.portal->frame, QRectF(1920, 0, 1280, 720));  // the monitor the portal gave
        EXPECT_TRUE(target.portal->session);
        EXPECT_EQ(system.recorder->capturedFrame(), QRectF(1920, 0, 1280, 720));
        stop(*state);
    }
    // A new launch over the same settings: no notice, and the token is handed to the portal.
    auto state = makeSettled();
    EXPECT_FALSE(state->needsScreenPermission());
    system.portalAnswer = granted("token-2");
    start(*state);
    ASSERT_EQ(system.portalRequests.size(), 2u);
    EXPECT_EQ(system.portalRequests[1].restoreToken, "token-1");
    EXPECT_EQ(state->screenCastToken(Source::monitor), "token-2");  // the portal's newest
    stop(*state);

    // Refused in spite of the token (the user took the grant back): it is forgotten.
    system.portalAnswer = refused();
    start(*state);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->screenCastToken(Source::monitor), "");
    EXPECT_TRUE(state->needsScreenPermission());
}

TEST_F(AppStatePortal, AnAreaIsACropOfItsMonitorsStreamClippedToIt)
{
    auto state = makeSettled();
    state->setArea(QRectF(1600, 900, 640, 360));  // reaches beyond the 1920 × 1080 monitor
    state->setCaptureMode(Mode::area);
    // No highlight, before, during or after a start: on Wayland it would
    // cover the whole display and may hide all beneath it.
    EXPECT_FALSE(state->isAreaHighlightShown());
    system.portalAnswer = refused();
    start(*state);
    EXPECT_FALSE(state->isAreaHighlightShown());
    system.portalAnswer = granted("t");
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_FALSE(state->isAreaHighlightShown());
    const CaptureTarget& target = system.recorder->request.target;
    EXPECT_EQ(target.kind, CaptureTarget::Kind::area);
    EXPECT_EQ(target.area, QRectF(1600, 900, 320, 180));
    // Our windows' places are unknown on Wayland: none is kept for lying outside the area.
    EXPECT_EQ(system.hides, 1);
    EXPECT_TRUE(system.hiddenFor.isEmpty());
    EXPECT_EQ(system.portalRequests.back().source, Source::monitor);
    stop(*state);
}

TEST_F(AppStatePortal, AScaledMonitorsStreamIsCutInItsOwnPixelsFromTheLogicalArea)
{
    // An output at scale 2: 960 × 540 logical pixels, a 1920 × 1080 stream.
    system.content.displays[0].frame = QRect(0, 0, 960, 540);
    auto state = makeSettled();
    state->setArea(QRectF(800, 400, 400, 400));  // reaches beyond the monitor's logical size
    state->setCaptureMode(Mode::area);
    system.portalAnswer = granted("t", QPoint(0, 0), QSize(1920, 1080));
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    const CaptureTarget& target = system.recorder->request.target;
    ASSERT_TRUE(target.portal);
    EXPECT_EQ(target.portal->frame, QRectF(0, 0, 960, 540));
    EXPECT_DOUBLE_EQ(target.portal->scale, 2);
    EXPECT_EQ(target.area, QRectF(800, 400, 160, 140));
    stop(*state);

    // Where the portal gives the logical size, the output's own scale counts.
    system.content.displays[0].scale = 2;
    state->refreshSources();
    settle();
    system.portalAnswer = granted("t", QPoint(0, 0), QSize(960, 540));
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_DOUBLE_EQ(system.recorder->request.target.portal->scale, 2);
    stop(*state);
}

TEST_F(AppStatePortal, WindowModeIsThePortalsWindowWhereItOffersOneAndRefusedWhereNot)
{
    {
        auto state = makeSettled();
        EXPECT_FALSE(state->windowsRecordable());
        state->setCaptureMode(Mode::window);
        start(*state);
        EXPECT_EQ(state->phase(), Phase::idle);
        EXPECT_EQ(state->errorMessage(), ondexa::access::portal::noWindows);
        EXPECT_TRUE(system.portalRequests.empty());
    }
    std::filesystem::remove(settingsFile());
    system.portalOffer = offer(true, false);
    auto state = makeSettled();
    EXPECT_TRUE(state->windowsRecordable());
    state->setCaptureMode(Mode::window);
    system.portalAnswer = granted("window-token", QPoint(0, 0), QSize(800, 600));
    system.portalAnswer.streams[0].position.reset();
    system.portalAnswer.streams[0].window = true;
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.portalRequests.back().source, Source::window);
    EXPECT_EQ(system.recorder->request.target.kind, CaptureTarget::Kind::window);
    EXPECT_EQ(system.recorder->capturedFrame(), QRectF(0, 0, 800, 600));
    EXPECT_EQ(state->screenCastToken(Source::window), "window-token");
    EXPECT_EQ(state->screenCastToken(Source::monitor), "");
    stop(*state);
}

TEST_F(AppStatePortal, PointerMetadataFeedsThePointerLogAndEmbeddedLeavesItEmptyAndSaysSo)
{
    for (const bool metadata : {true, false}) {
        SCOPED_TRACE(metadata ? "metadata" : "embedded");
        std::filesystem::remove(settingsFile());
        system.portalOffer = offer(false, metadata);
        auto state = makeSettled();
        system.portalAnswer = granted("t");
        start(*state);
        ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
        EXPECT_EQ(system.portalRequests.back().cursor, metadata ? Cursor::metadata : Cursor::embedded);
        EXPECT_EQ(system.recorder->request.target.portal->pointerMetadata, metadata);
        const auto notes = state->sessionNotes();
        EXPECT_EQ(std::count(notes.begin(), notes.end(), ondexa::access::portal::pointerEmbedded), metadata ? 0 : 1);
        EXPECT_EQ(std::count(notes.begin(), notes.end(), ondexa::access::portal::noClicks), 1);
        if (metadata) {
            // Positions as the stream reports them, unmoved ones once.
            system.recorder->onPointer(0.5, QPointF(960, 540));
            system.recorder->onPointer(0.6, QPointF(960, 540));
            system.recorder->onPointer(0.7, QPointF(480, 270));
        }
        const std::filesystem::path movie = system.recorder->url();
        stop(*state);
        EXPECT_FALSE(system.clickMonitorRuns);
        const auto info = RecordingInfo::load(movie);
        ASSERT_TRUE(info);
        const auto cursor = info->cursor.value_or(std::vector<std::vector<double>>{});
        if (metadata) {
            ASSERT_EQ(cursor.size(), 2u);
            EXPECT_DOUBLE_EQ(cursor[0][1], 0.5);
            EXPECT_DOUBLE_EQ(cursor[1][1], 0.25);
        } else {
            EXPECT_TRUE(cursor.empty());
        }
        EXPECT_TRUE(info->clicks.value_or(std::vector<std::vector<double>>{}).empty());
    }
}

TEST_F(AppStatePortal, AHotKeyOnlyForOurWindowsIsToldAndX11HasNoNotes)
{
    system.hotKeyWhileFocused = true;
    {
        auto state = makeSettled();
        const auto notes = state->sessionNotes();
        EXPECT_EQ(std::count(notes.begin(), notes.end(), ondexa::access::portal::hotKeyWhileFocused), 1);
        EXPECT_TRUE(state->stopWithinReach());  // the tray's menu
        // No tray either: the windows go to the task bar, and the note says so.
        state->setTrayShown(false);
        EXPECT_FALSE(state->stopWithinReach());
        const auto bare = state->sessionNotes();
        EXPECT_EQ(std::count(bare.begin(), bare.end(), ondexa::access::portal::hotKeyWhileFocused), 0);
        EXPECT_EQ(std::count(bare.begin(), bare.end(), ondexa::access::portal::hotKeyWhileFocusedNoTray), 1);
    }
    system.portalOffer.reset();
    auto state = make();
    EXPECT_FALSE(state->capturesThroughPortal());
    EXPECT_TRUE(state->sessionNotes().empty());
    EXPECT_TRUE(state->windowsRecordable());
}

TEST_F(AppStatePortal, AStartThePortalNeverAnswersEndsAtTheDeadlineIdleAndSaysWhy)
{
    PortalBus bus;
    SilentScreenCast portal;
    bus.service.registerObject(platform::portal::path, &portal, QDBusConnection::ExportAllSlots);
    QObject calls;
    auto env = system.environment();
    env.openScreenCast = [&](platform::ScreenCastRequest request,
                             std::function<void(platform::ScreenCastResult)> done) {
        platform::screencast::open(bus.client, &calls, std::move(request), std::move(done),
                                   std::chrono::milliseconds(300));
    };
    auto state = makeWith(std::move(env));
    pumpUntil([&] { return state->screenCastOffer().has_value(); });
    settle();

    start(*state);
    EXPECT_EQ(portal.asked, 1);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->errorMessage(), "Nem sikerült elindítani a felvételt: A képernyőmegosztó szolgáltatás "
                                     "(xdg-desktop-portal) nem válaszolt időben a kérésre: CreateSession.");
    EXPECT_EQ(system.recordersMade, 0);
    EXPECT_EQ(system.hides, 0);
}

TEST_F(AppStatePortal, AStartWaitingForThePortalIsGivenUpAtOnceAndItsLateGrantStartsNothing)
{
    auto state = makeSettled();
    EXPECT_FALSE(state->cancelStart());  // nothing waits
    system.portalWaits = true;
    bool ended = false;
    state->startRecording([&] { ended = true; });
    ASSERT_TRUE(pumpUntil([&] { return bool(system.portalPending); }));
    EXPECT_EQ(state->phase(), Phase::starting);

    EXPECT_TRUE(state->cancelStart());
    EXPECT_TRUE(ended);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_FALSE(state->errorMessage());
    EXPECT_FALSE(state->cancelStart());

    std::exchange(system.portalPending, nullptr)(granted("late"));
    settle();
    EXPECT_EQ(system.recordersMade, 0);
    EXPECT_EQ(state->phase(), Phase::idle);
}

TEST_F(AppStatePortal, TheDesktopEndingTheCastIsTheUsersStopTheMovieIsKeptAndOpened)
{
    PortalBus bus;
    auto state = makeSettled();
    std::vector<std::filesystem::path> opened;
    state->setOpenEditor([&](const std::filesystem::path& file) { opened.push_back(file); });
    const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/1_2/vendalum");
    system.portalAnswer = granted("t");
    system.portalAnswer.session = std::make_shared<platform::ScreenCastSession>(bus.client, session, -1);

    struct Case {
        const char* name;
        std::function<void()> end;
    };
    const Case cases[] = {
        {"the session closed",
         [&] {
             // Our listener is on the bus before the desktop speaks.
             bus.client.interface()->isServiceRegistered(platform::portal::service);
             QDBusMessage closed = QDBusMessage::createSignal(session, "org.freedesktop.portal.Session", "Closed");
             closed << QVariantMap();
             bus.service.send(closed);
         }},
        {"the stream ended", [&] { system.recorder->onStreamError("A rendszer leállította az adatfolyamot.", true); }},
        {"a fault, then the desktop's end",
         [&] {
             system.recorder->onStreamError("Hiba.", false);
             system.recorder->onStreamError("A rendszer leállította az adatfolyamot.", true);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(*state);
        ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
        const std::filesystem::path movie = system.recorder->url();
        const std::size_t before = opened.size();
        c.end();
        ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle; }));
        settle();
        EXPECT_FALSE(state->errorMessage());
        ASSERT_EQ(opened.size(), before + 1);
        EXPECT_EQ(opened.back(), movie);
    }
}

TEST(AppStateSession, AWaylandSessionWithItsDisplayTakesThePortalsPathAndX11KeepsItsOwn)
{
    struct Case {
        const char* name;
        std::optional<std::string> type, display;
        bool portal;
    };
    const Case cases[] = {
        {"Wayland", "wayland", "wayland-0", true},
        {"X11", "x11", std::nullopt, false},
        {"Wayland type without its display", "wayland", std::nullopt, false},
        {"Wayland display in another session type", "tty", "wayland-0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv type("XDG_SESSION_TYPE", c.type);
        ScopedEnv display("WAYLAND_DISPLAY", c.display);
        const AppState::Environment env = AppState::Environment::system();
        EXPECT_EQ(bool(env.openScreenCast), c.portal);
        EXPECT_EQ(bool(env.queryScreenCast), c.portal);
        // No X on the portal's path: neither the pointer nor the clicks are asked of it.
        EXPECT_EQ(bool(env.pointerPosition), !c.portal);
        EXPECT_EQ(bool(env.installClickMonitor), !c.portal);
        if (c.portal) {
            // The displays are the compositor's outputs as Qt knows them.
            const platform::ScreenContent content = env.fetchContent();
            ASSERT_FALSE(content.displays.empty());
            EXPECT_TRUE(content.displays.front().primary);
            EXPECT_FALSE(content.displays.front().frame.isEmpty());
            EXPECT_TRUE(content.windows.empty());
        }
    }
}

#include "AppStatePortalTests.moc"
