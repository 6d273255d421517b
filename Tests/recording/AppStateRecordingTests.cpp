// The recording road through the controller with a fake system: each check
// of the start with its message, a start and stop with the hand-over to the
// editor, and the failures of both.

#include "AppStateFakes.h"

#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/HotKey.h"
#include "Platform/media/Player.h"

using ondexa::AppState;
using ondexa::RecordingInfo;
using namespace ondexa::testing;
using Mode = AppState::CaptureMode;
using Phase = AppState::Phase;

namespace {

class AppStateRecording : public AppStateTest {
protected:
    std::unique_ptr<AppState> makeWithEditor()
    {
        auto state = make();
        state->setOpenEditor([this](const std::filesystem::path& movie) { opened.push_back(movie); });
        return state;
    }

    // A camera chosen and switched on.
    static void withCamera(FakeSystem& s, AppState& state)
    {
        s.cameras = {{"cam", "Kamera", "/dev/video0"}};
        state.setCameraEnabled(true);
    }
    // A start from a fresh controller over `initial` as `arrange` leaves it.
    std::unique_ptr<AppState> startAfresh(const FakeSystem& initial,
                                          const std::function<void(FakeSystem&, AppState&)>& arrange)
    {
        std::filesystem::remove(settingsFile());
        system = initial;
        auto state = make();
        arrange(system, *state);
        settle();
        start(*state);
        return state;
    }

    std::vector<std::filesystem::path> opened;
};

} // namespace

TEST_F(AppStateRecording, EachCheckOfTheStartStopsWithItsMessageAndLeavesTheControllerIdle)
{
    const std::string failed = "Nem sikerült elindítani a felvételt: ";
    const std::string noInput = "A hangkártya nem érhető el. Kapcsold ki, vagy válassz másik eszközt.";
    const std::string noArea = failed + "Jelölj ki egy területet a felvételhez.";
    const auto camera = &AppStateRecording::withCamera;
    struct Case {
        std::string name;
        std::function<void(FakeSystem&, AppState&)> arrange;
        std::string message;
    };
    using S = FakeSystem;
    using A = AppState;
    const std::vector<Case> cases = {
        {"screen refused",
         [](S& s, A&) {
             s.screenAccess = {false, "A DISPLAY környezeti változó üres.", platform::ScreenAccess::Refusal::noDisplay};
         },
         ondexa::access::screenRefused({false, {}, platform::ScreenAccess::Refusal::noDisplay})},
        {"sound refused", [](S& s, A&) { s.soundAllowed = false; },
         ondexa::access::soundRefusedAtStart({false, {}, false})},
        {"no audio input", [](S& s, A& a) { s.mics.clear(); a.refreshMicDevices(); a.setMicUID("gone"); }, noInput},
        {"input cannot open", [](S& s, A& a) { s.micFails = true; a.restartMic(); }, noInput},
        {"no channel, checked before the camera",
         [&](S& s, A& a) { a.setMicChannels({}); s.deniedCameras = {"cam"}; camera(s, a); },
         "Jelölj be legalább egy bemenetet a hangkártyán."},
        {"camera refused", [&](S& s, A& a) { s.deniedCameras = {"cam"}; camera(s, a); },
         ondexa::access::cameraDenied()},
        {"no display", [](S& s, A&) { s.content.displays.clear(); }, failed + "Nem található kijelző."},
        {"content unreadable", [](S& s, A&) { s.contentFails = true; }, failed + "Nincs X kijelző."},
        {"no area", [](S&, A& a) { a.setCaptureMode(Mode::area); }, noArea},
        {"area too narrow", [](S&, A& a) { a.setArea(QRectF(0, 0, 15.9, 100)); a.setCaptureMode(Mode::area); }, noArea},
        {"window closed", [](S&, A& a) { a.setWindowID(31); a.setCaptureMode(Mode::window); },
         failed + "A kiválasztott ablak már nem található."},
        {"window minimised since the list was made",
         [](S& s, A& a) {
             s.content.windows = {{.id = 31, .application = "xterm", .frame = QRect(0, 0, 400, 300)}};
             a.setWindowID(31);
             a.setCaptureMode(Mode::window);
         },
         failed + "A kiválasztott ablak már nem található."},
        {"camera unplugged", [&](S& s, A& a) { camera(s, a); s.cameras.clear(); },
         failed + "A kiválasztott kamera nem található."},
        {"camera unusable", [&](S& s, A& a) { s.cameraFails = true; camera(s, a); },
         failed + "A kamera nem használható: Kamera"},
        {"recorder fails to start", [](S& s, A&) { s.recorderStartError = "A fájl nem írható: /x.mov"; },
         failed + "A fájl nem írható: /x.mov"},
    };

    const FakeSystem initial = system;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto state = startAfresh(initial, c.arrange);
        EXPECT_EQ(state->phase(), Phase::idle);
        EXPECT_EQ(state->errorMessage(), c.message);
        EXPECT_TRUE(logHas("HIBA: " + c.message + "\n"));
        EXPECT_EQ(state->needsScreenPermission(), c.name == "screen refused");
        EXPECT_EQ(system.recordersAlive, 0);
        EXPECT_FALSE(system.clickMonitorRuns);
        EXPECT_EQ(system.hides, system.shows);  // hidden windows came back
    }
    EXPECT_TRUE(logHas("A DISPLAY környezeti változó üres."));  // why the screen was refused
    EXPECT_TRUE(logHas(system.soundRefusal));                   // and why the sound input was
}

TEST_F(AppStateRecording, EachRefusalNamesItsCauseOnLinuxAndKeepsTheTechnicalReasonInTheLog)
{
    using Refusal = platform::ScreenAccess::Refusal;
    using Kind = platform::CameraError::Kind;
    const auto camera = &AppStateRecording::withCamera;
    struct Case {
        std::string name;
        std::function<void(FakeSystem&, AppState&)> arrange;
        std::string firstSentence;
        std::vector<std::string> says;  // what the rest must name
    };
    using S = FakeSystem;
    using A = AppState;
    const std::vector<Case> cases = {
        {"no X display", [](S& s, A&) { s.screenAccess = {false, "Nincs X kijelző.", Refusal::noDisplay}; },
         "Nincs engedély a képernyő felvételéhez.", {"DISPLAY", "X11"}},
        {"Wayland session", [](S& s, A&) { s.screenAccess = {false, "Wayland.", Refusal::waylandOnly}; },
         "A képernyő ebben a munkamenetben nem vehető fel.", {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE=wayland"}},
        {"X display refused the picture",
         [](S& s, A&) { s.screenAccess = {false, "BadAccess.", Refusal::refused}; },
         "Nincs engedély a képernyő felvételéhez.", {"nem engedte a képernyő rögzítését"}},
        {"sound server down", [](S& s, A&) { s.soundAllowed = false; },
         "A hangkártya nem érhető el.", {"nem fut, vagy nem érhető el", "kapcsold ki a Hangkártyát"}},
        {"sound server turned us away",
         [](S& s, A&) {
             s.soundAllowed = false;
             s.soundRefusedAccess = true;
         },
         "Nincs engedély a hangkártyához.", {"visszautasította a kapcsolódást"}},
        {"camera node not ours", [&](S& s, A& a) { s.deniedCameras = {"cam"}; camera(s, a); },
         "Nincs engedély a kamerához.", {"video csoport", "usermod -aG video"}},
        {"camera refused on opening",
         [&](S& s, A& a) {
             s.cameraOpenError = Kind::permissionDenied;
             camera(s, a);
         },
         "Nincs engedély a kamerához.", {"video csoport"}},
        {"camera busy",
         [&](S& s, A& a) {
             s.cameraOpenError = Kind::busy;
             camera(s, a);
         },
         "A kamerát egy másik program használja.", {"Zárd be azt a programot"}},
    };
    const FakeSystem initial = system;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto state = startAfresh(initial, c.arrange);
        EXPECT_EQ(state->phase(), Phase::idle);
        const std::string message = state->errorMessage().value_or("");
        EXPECT_EQ(message.rfind(c.firstSentence + " ", 0), 0u) << message;
        for (const auto& word : c.says) EXPECT_NE(message.find(word), std::string::npos) << message;
        for (const char* foreign : {"Rendszerbeállítás", "Adatvédelem", "macOS", "engedély kell"})
            EXPECT_EQ(message.find(foreign), std::string::npos) << message;
        EXPECT_EQ(system.recordersAlive, 0);
    }
    EXPECT_TRUE(logHas("BadAccess."));
    EXPECT_TRUE(logHas(system.soundRefusal));                    // the server's own words stay in the log
    EXPECT_TRUE(logHas("A kamera nem nyitható meg: Kamera"));  // and the camera's
}

TEST_F(AppStateRecording, AnInputOpenedForTheMetersSaysWhetherTheServerIsDownOrRefusing)
{
    for (const bool refusing : {false, true}) {
        SCOPED_TRACE(refusing ? "refusing" : "down");
        system.soundAllowed = false;
        system.soundRefusedAccess = refusing;
        auto state = make();
        state->restartMic();
        settle();
        const std::string message = state->errorMessage().value_or("");
        EXPECT_EQ(message.rfind(refusing ? "A mikrofon-hozzáférés tiltva van. " : "A hangkártya nem érhető el. ", 0),
                  0u)
            << message;
        EXPECT_NE(message.find(refusing ? "visszautasította" : "nem fut"), std::string::npos) << message;
        EXPECT_EQ(message.find("Rendszerbeállítás"), std::string::npos) << message;
    }
}

TEST_F(AppStateRecording, AHotKeyHeldByAnotherProgramIsToldOnceAndOtherFailuresOnlyLogged)
{
    for (const bool taken : {true, false}) {
        SCOPED_TRACE(taken ? "taken" : "display refused");
        auto env = system.environment();
        env.makeHotKey = [taken](std::function<void()>) {
            return ondexa::HotKey::failed(ondexa::HotKey::recordingKeyCode, ondexa::HotKey::recordingModifiers,
                                          "A gyorsbillentyű nem állítható be.", taken);
        };
        AppState state(std::make_unique<QSettings>(QString::fromStdString(settingsFile().string()), QSettings::IniFormat),
                       std::move(env));
        settle();
        if (!taken) {
            EXPECT_FALSE(state.errorMessage());
            continue;
        }
        EXPECT_EQ(state.errorMessage(), "A Ctrl+Alt+A billentyűparancsot egy másik program használja.");
        state.setErrorMessage(std::nullopt);  // the user closed the alert
        state.refreshSources();
        settle();
        EXPECT_FALSE(state.errorMessage());  // not again
    }
}

TEST_F(AppStateRecording, AStartAndStopHideTheWindowsWriteTheTrackNamesFirstAndHandOver)
{
    auto state = makeWithEditor();
    std::vector<Phase> phases;
    QObject::connect(state.get(), &AppState::phaseChanged, [&] { phases.push_back(state->phase()); });
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.hides - system.shows, 1);
    EXPECT_EQ(system.recorder->request.target.display.id, 7u);
    EXPECT_EQ(system.recorder->request.mic, state->mic());
    EXPECT_FALSE(system.recorder->showsCursor);  // the pointer is redrawn later
    const std::filesystem::path movie = system.recorder->url();
    const std::vector<std::string> tracks = {"Rendszerhang", "Eszköz iface"};
    EXPECT_EQ(RecordingInfo::load(movie)->audioTracks, tracks);  // at once: they survive a crash
    pumpFor(std::chrono::milliseconds(600));
    EXPECT_GE(state->elapsed(), 0.45);  // the timer may fire a little early

    stop(*state);
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::starting, Phase::recording, Phase::finishing, Phase::idle}));
    EXPECT_EQ(system.recordersAlive, 0);
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{movie});
    EXPECT_EQ(system.shows, 1);
    EXPECT_EQ(RecordingInfo::load(movie)->audioTracks, tracks);
    EXPECT_EQ(state->errorMessage(), std::nullopt);  // nothing to tell of a whole movie
}

TEST_F(AppStateRecording, AMovieSavedWithoutPartOfItsSystemSoundIsHandedOverAndTheUserIsTold)
{
    auto state = makeWithEditor();
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    const std::filesystem::path movie = system.recorder->url();
    const std::string notice = "A felvétel elkészült, de a rendszerhang a 3. másodpercétől hiányzik belőle.";
    system.recorderStopNotice = notice;
    stop(*state);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_TRUE(logHas("Felvétel mentve: " + movie.string()));
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{movie});
    EXPECT_EQ(state->errorMessage(), notice);
}

// A full disk stops the recording; the part written before it is kept:
// the editor opens it and the message says both why and how much is there.
TEST_F(AppStateRecording, AWriteFailureThatKeptPartOfTheMovieSaysSoAndOpensIt)
{
    auto state = makeWithEditor();
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    const std::filesystem::path movie = system.recorder->url();
    system.recorderStopNotice = "A felvétel a 4. másodpercéig megmaradt.";
    system.recorder->onStreamError("Írási hiba a felvétel közben (No space left on device)", false);
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle && state->errorMessage(); }));
    EXPECT_EQ(state->errorMessage(), "A felvétel leállt: Írási hiba a felvétel közben (No space left on device). "
                                     "A felvétel a 4. másodpercéig megmaradt.");
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{movie});

    // A stream that ends with nothing to tell of the movie says only why.
    system.recorderStopNotice.clear();
    start(*state);
    system.recorder->onStreamError("A felvett ablak bezárult.", false);
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle && state->errorMessage(); }));
    EXPECT_EQ(state->errorMessage(), "A felvétel leállt: A felvett ablak bezárult.");
}

TEST_F(AppStateRecording, AStopThatFailsReportsItShowsTheWindowsAndOpensNoEditor)
{
    system.soundAllowed = false;  // not asked when the input is off
    auto state = makeWithEditor();
    state->setMicEnabled(false);
    state->setArea(QRectF(100, 100, 16, 16));  // sixteen points are enough
    state->setCaptureMode(Mode::area);
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.recorder->trackNames, std::vector<std::string>{"Rendszerhang"});
    const std::filesystem::path movie = system.recorder->url();
    system.recorderStopError = "Nem érkezett kép a felvétel alatt.";
    stop(*state);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->errorMessage(), "A felvétel lezárása hibával járt: Nem érkezett kép a felvétel alatt.");
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(logHas("Felvétel mentve"));
    EXPECT_EQ(RecordingInfo::load(movie)->clicks, std::nullopt);  // only the track names
    EXPECT_EQ(system.recordersAlive, 0);
    EXPECT_EQ(system.shows, 1);  // back on screen, so the message can be read
}

TEST_F(AppStateRecording, ASecondToggleWhileStartingIsIgnoredAndAStreamErrorEndsTheRecording)
{
    auto state = makeWithEditor();
    state->toggleRecording();
    state->toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::recording; }));
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(system.recordersMade, 1);

    // The input is not restarted under a running recording, nor is the choice moved.
    const int running = openOf(state->mic());
    system.mics = {device("usb", 2)};
    state->refreshMicDevices();
    settle();
    EXPECT_EQ(state->micUID(), "iface");
    EXPECT_EQ(openOf(state->mic()), running);

    system.recorder->onStreamError("A felvett ablak bezárult.", false);
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle && state->errorMessage(); }));
    EXPECT_EQ(state->errorMessage(), "A felvétel leállt: A felvett ablak bezárult.");
    EXPECT_EQ(opened.size(), 1u);  // what was recorded is kept
    settle();  // back to idle, the capture follows the device list
    ASSERT_TRUE(state->mic());
    EXPECT_EQ(state->mic()->device().uid, "usb");
}

TEST_F(AppStateRecording, FilesWaitForTheOpenerInOrder)
{
    auto state = make();
    state->open("/a.mov");
    state->open("/b.vdlproj");
    state->setOpenEditor([&](const std::filesystem::path& file) { opened.push_back(file); });
    EXPECT_EQ(opened, (std::vector<std::filesystem::path>{"/a.mov", "/b.vdlproj"}));
}

TEST_F(AppStateRecording, AnAreaIsClippedToItsDisplayAndRefusedWhenNothingOfItIsLeft)
{
    // A narrower display to the right of the first: an area dragged on the
    // wide one may reach beyond it.
    platform::ScreenDisplay narrow{8, "HDMI-1", QRect(1920, 0, 1280, 720), false};
    system.content.displays.push_back(narrow);
    const std::string noArea = "Nem sikerült elindítani a felvételt: Jelölj ki egy területet a felvételhez.";
    struct Case {
        std::string name;
        QRectF stored;
        std::optional<QRectF> recorded;  // none: refused
    };
    const std::vector<Case> cases = {
        {"inside", QRectF(100, 50, 640, 360), QRectF(100, 50, 640, 360)},
        {"over the right and bottom edges", QRectF(1200, 600, 400, 300), QRectF(1200, 600, 80, 120)},
        {"over the left and top edges", QRectF(-50, -20, 200, 100), QRectF(0, 0, 150, 80)},
        {"wholly beyond", QRectF(1300, 100, 200, 200), std::nullopt},
        {"a sliver left", QRectF(1270, 100, 200, 200), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = makeWithEditor();
        state->setMicEnabled(false);
        state->setDisplayID(8);
        state->setArea(c.stored);
        state->setCaptureMode(Mode::area);
        start(*state);
        if (!c.recorded) {
            EXPECT_EQ(state->phase(), Phase::idle);
            EXPECT_EQ(state->errorMessage(), noArea);
            EXPECT_EQ(system.recordersAlive, 0);
            continue;
        }
        ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
        EXPECT_EQ(system.recorder->request.target.display.id, 8u);
        EXPECT_EQ(system.recorder->request.target.area, *c.recorded);
        EXPECT_EQ(state->area(), c.stored);  // the stored choice stays as the user made it
        stop(*state);
    }
}

TEST_F(AppStateRecording, AWaylandSessionIsRefusedAtIdleAndAtAStartWithItsOwnSentence)
{
    // XWayland answers: the content can be read, yet a recording would be
    // black wherever a native Wayland window lies.
    system.screenAccess = {false, "Wayland munkamenet: az X kijelző csak X11 ablakokat mutat.",
                           platform::ScreenAccess::Refusal::waylandOnly};
    auto state = makeWithEditor();
    EXPECT_TRUE(state->screenOnWayland());  // the record window's notice, before any start
    start(*state);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->errorMessage(), AppState::waylandNotice);
    EXPECT_FALSE(state->needsScreenPermission());  // no permission would help
    EXPECT_EQ(system.recordersMade, 0);
    EXPECT_EQ(system.hides, 0);
    EXPECT_TRUE(logHas("HIBA: " + std::string(AppState::waylandNotice)));
    EXPECT_TRUE(logHas("csak X11 ablakokat mutat"));

    // On X11 the same controller starts.
    system.screenAccess = {true, {}};
    state->refreshSources();
    EXPECT_FALSE(state->screenOnWayland());
    start(*state);
    EXPECT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    stop(*state);
}

TEST_F(AppStateRecording, FilesHandedOverDuringARecordingOpenAfterTheStop)
{
    auto state = makeWithEditor();
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    const std::filesystem::path movie = system.recorder->url();
    state->open("/a.mov");  // a second launch, the file manager
    // The record window brought back installs its opener again.
    state->setOpenEditor([this](const std::filesystem::path& file) { opened.push_back(file); });
    state->open("/b.vdlproj");
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(state->pendingOpen(), (std::vector<std::filesystem::path>{"/a.mov", "/b.vdlproj"}));
    stop(*state);
    // The finished recording last, in front.
    EXPECT_EQ(opened, (std::vector<std::filesystem::path>{"/a.mov", "/b.vdlproj", movie}));
    EXPECT_TRUE(state->pendingOpen().empty());

    // A stop on the way out (quit) opens nothing; a failed stop still hands
    // over what waited.
    opened.clear();
    start(*state);
    state->open("/c.mov");
    stop(*state, false);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(state->pendingOpen(), std::vector<std::filesystem::path>{"/c.mov"});
    system.recorderStopError = "Nem érkezett kép a felvétel alatt.";
    start(*state);
    stop(*state);
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{"/c.mov"});
}

TEST_F(AppStateRecording, NothingOfOursPlaysWhileTheWindowsAreAway)
{
    auto state = makeWithEditor();
    EXPECT_FALSE(platform::Player::allHeld());
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_TRUE(platform::Player::allHeld());
    stop(*state);
    EXPECT_FALSE(platform::Player::allHeld());

    // A stop that opens no editor (the self-test) leaves the windows away
    // but lets the players go.
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_TRUE(platform::Player::allHeld());
    stop(*state, false);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_FALSE(platform::Player::allHeld());

    system.recorderStartError = "A fájl nem írható: /x.mov";
    start(*state);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_FALSE(platform::Player::allHeld());
}

TEST_F(AppStateRecording, TheWindowsAreHiddenForTheCapturedRectangleAndThePictureHoldsOnRequest)
{
    system.content.displays.push_back(system.content.displays[0]);
    system.content.displays[1].id = 8;
    system.content.displays[1].frame = QRect(1920, 0, 1280, 1024);
    auto state = makeWithEditor();
    state->setDisplayID(8);
    state->setArea(QRectF(100, 50, 400, 300));
    state->setCaptureMode(Mode::area);
    state->holdPicture(true);  // no recorder: nothing
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.hiddenFor, QRectF(2020, 50, 400, 300));
    EXPECT_FALSE(system.recorder->pictureHeld);
    state->holdPicture(true);
    EXPECT_TRUE(system.recorder->pictureHeld);
    state->holdPicture(false);
    EXPECT_FALSE(system.recorder->pictureHeld);
    stop(*state);
}

TEST(AppStateWindows, OnlyAWindowWhollyOutsideTheCapturedRectangleStaysShown)
{
    const QRectF captured(1920, 0, 1280, 1024);  // the second monitor
    struct Case {
        const char* what;
        QRectF frame;
        bool stays;
    };
    for (const Case& c : {Case{"on the other monitor", {200, 300, 400, 500}, true},
                          Case{"up against its edge", {1520, 0, 400, 300}, true},
                          Case{"one pixel over the edge", {1521, 0, 400, 300}, false},
                          Case{"inside", {2000, 100, 400, 300}, false},
                          Case{"across both monitors", {1800, 100, 400, 300}, false},
                          Case{"below the capture", {2000, 1024, 300, 200}, true},
                          Case{"of no size", {}, false}}) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AppState::keepsWindowShown(c.frame, captured), c.stays);
    }
    // Without a known picture nothing stays.
    EXPECT_FALSE(AppState::keepsWindowShown(QRectF(0, 0, 10, 10), QRectF()));
}
