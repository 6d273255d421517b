// The recording road through the controller with a fake system: each check
// of the start with its message, a start and stop with the hand-over to the
// editor, and the failures of both.

#include "AppStateFakes.h"

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

    std::vector<std::filesystem::path> opened;
};

} // namespace

TEST_F(AppStateRecording, EachCheckOfTheStartStopsWithItsMessageAndLeavesTheControllerIdle)
{
    const std::string failed = "Nem sikerült elindítani a felvételt: ";
    const std::string noInput = "A hangkártya nem érhető el. Kapcsold ki, vagy válassz másik eszközt.";
    const std::string noArea = failed + "Jelölj ki egy területet a felvételhez.";
    const auto camera = [](FakeSystem& s, AppState& state) {
        s.cameras = {{"cam", "Kamera", "/dev/video0"}};
        state.setCameraEnabled(true);
    };
    struct Case {
        std::string name;
        std::function<void(FakeSystem&, AppState&)> arrange;
        std::string message;
    };
    using S = FakeSystem;
    using A = AppState;
    const std::vector<Case> cases = {
        {"screen refused", [](S& s, A&) { s.screenAccess = {false, "Wayland alatt nincs X kijelző."}; },
         "Nincs engedély a képernyő felvételéhez. Rendszerbeállítások → Adatvédelem és biztonság → Képernyő- és "
         "rendszerhangfelvétel: kapcsold be a Vendalumot, majd lépj ki és indítsd újra az appot."},
        {"sound refused", [](S& s, A&) { s.soundAllowed = false; },
         "Nincs engedély a hangkártyához. Rendszerbeállítások → Adatvédelem és biztonság → Mikrofon: kapcsold be a "
         "Vendalumot."},
        {"no audio input", [](S& s, A& a) { s.mics.clear(); a.refreshMicDevices(); a.setMicUID("gone"); }, noInput},
        {"input cannot open", [](S& s, A& a) { s.micFails = true; a.restartMic(); }, noInput},
        {"no channel, checked before the camera",
         [&](S& s, A& a) { a.setMicChannels({}); s.deniedCameras = {"cam"}; camera(s, a); },
         "Jelölj be legalább egy bemenetet a hangkártyán."},
        {"camera refused", [&](S& s, A& a) { s.deniedCameras = {"cam"}; camera(s, a); },
         "Nincs engedély a kamerához. Rendszerbeállítások → Adatvédelem és biztonság → Kamera: kapcsold be a "
         "Vendalumot."},
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
        std::filesystem::remove(settingsFile());
        system = initial;
        auto state = make();
        c.arrange(system, *state);
        settle();
        start(*state);
        EXPECT_EQ(state->phase(), Phase::idle);
        EXPECT_EQ(state->errorMessage(), c.message);
        EXPECT_TRUE(logHas("HIBA: " + c.message + "\n"));
        EXPECT_EQ(state->needsScreenPermission(), c.name == "screen refused");
        EXPECT_EQ(system.recordersAlive, 0);
        EXPECT_FALSE(system.clickMonitorRuns);
        EXPECT_EQ(system.hides, system.shows);  // hidden windows came back
    }
    EXPECT_TRUE(logHas("Wayland alatt nincs X kijelző."));  // why the screen was refused
    EXPECT_TRUE(logHas(system.soundRefusal));               // and why the sound input was
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

    // The input is not restarted under a running recording.
    auto* running = state->mic();
    system.mics = {device("usb", 2)};
    state->refreshMicDevices();
    settle();
    EXPECT_EQ(state->micUID(), "usb");
    EXPECT_EQ(state->mic(), running);

    system.recorder->onStreamError("A felvett ablak bezárult.");
    ASSERT_TRUE(pumpUntil([&] { return state->phase() == Phase::idle && state->errorMessage(); }));
    EXPECT_EQ(state->errorMessage(), "A felvétel leállt: A felvett ablak bezárult.");
    EXPECT_EQ(opened.size(), 1u);  // what was recorded is kept
    settle();  // back to idle, the capture follows the device chosen meanwhile
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
    system.screenAccess = {false, "Wayland munkamenet: az X kijelző csak X11 ablakokat mutat.", true};
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
