// The controller's source lists and its audio-interface capture: which
// windows are offered and how the pickers name them, when the capture is
// opened again (and when not), and when the area highlight is held back.

#include "AppStateFakes.h"
#include "Ondexa/recording/AreaSelector.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

using ondexa::AppState;
using namespace ondexa::testing;
using Mode = AppState::CaptureMode;
using Phase = AppState::Phase;

namespace {

platform::ScreenWindow window(std::uint32_t id, std::string application, std::string title, QRect frame)
{
    platform::ScreenWindow w;
    w.id = id;
    w.application = std::move(application);
    w.title = std::move(title);
    w.pid = 100 + id;
    w.frame = frame;
    w.onScreen = true;
    return w;
}

std::vector<std::uint32_t> ids(const std::vector<platform::ScreenWindow>& windows)
{
    std::vector<std::uint32_t> result;
    for (const auto& w : windows) result.push_back(w.id);
    return result;
}

// A capture (by the open that made it) and how many had been opened when it
// was current.
struct MicCaptureHandle {
    int open;
    int made;
};

} // namespace

using AppStateSources = AppStateTest;

TEST_F(AppStateSources, OnlyOrdinaryWindowsOfOtherProgramsThatCanBeSeenAreOffered)
{
    auto minimised = window(6, "Gimp", "Kép", {0, 0, 800, 600});
    minimised.onScreen = false;
    auto dock = window(7, "Panel", "", {0, 0, 1920, 400});
    dock.normal = false;
    auto own = window(4, "Vendalum", "Felvétel", {0, 0, 800, 600});
    own.pid = system.ownPid;
    system.content.windows = {
        window(1, "Firefox", "Dokumentum", {10, 10, 81, 61}),  // just large enough
        window(2, "Eszköztár", "", {0, 0, 80, 200}),
        window(3, "Eszköztár", "", {0, 0, 200, 60}),
        own,
        window(5, "", "Nincs gazdája", {0, 0, 800, 600}),
        minimised,
        dock,
        window(8, "XTerm", "", {0, 0, 640, 480}),
    };
    auto state = make();
    EXPECT_EQ(ids(state->windows()), (std::vector<std::uint32_t>{1, 8}));
    EXPECT_EQ(state->windowID(), 1u);  // the first, as nothing was chosen

    std::vector<std::string> labels;
    for (const auto& w : state->windows()) labels.push_back(AppState::windowName(w));
    EXPECT_EQ(labels, (std::vector<std::string>{"Firefox – Dokumentum", "XTerm"}));

    // A choice still listed stays; one that went off screen falls to the first.
    state->setWindowID(8);
    state->refreshSources();
    EXPECT_EQ(state->windowID(), 8u);
    system.content.windows[7].onScreen = false;
    state->refreshSources();
    EXPECT_EQ(state->windowID(), 1u);
}

TEST_F(AppStateSources, ADisplayIsNamedAfterItsMonitorWithTheConnectorOnlyWhereNeeded)
{
    system.content.displays = {
        {7, "DP-1", QRect(0, 0, 2560, 1440), true, "DELL U2719D"},
        {8, "DP-2", QRect(2560, 0, 2560, 1440), false, "DELL U2719D"},
        {9, "HDMI-1", QRect(5120, 0, 1920, 1080), false, "LG ULTRAFINE"},
        {10, "eDP-1", QRect(7040, 0, 1920, 1200), false, ""},
        {11, "", QRect(0, 1440, 1280, 1024), false, ""},
    };
    auto state = make();
    std::vector<std::string> labels;
    for (const auto& d : state->displays()) labels.push_back(state->displayName(d));
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "DELL U2719D (DP-1) – 2560×1440",  // two alike: the connector tells them apart
                          "DELL U2719D (DP-2) – 2560×1440",
                          "LG ULTRAFINE – 1920×1080",
                          "eDP-1 – 1920×1200",  // no name in its EDID
                          "Kijelző – 1280×1024",
                      }));

    // One of the twins unplugged: the other goes by its name alone.
    system.content.displays.erase(system.content.displays.begin() + 1);
    state->refreshSources();
    EXPECT_EQ(state->displayName(state->displays().front()), "DELL U2719D – 2560×1440");
}

TEST_F(AppStateSources, SettingTheChosenInputToItselfNeitherWritesNorRestarts)
{
    system.mics = {device("iface", 4), device("usb", 2)};
    store("micUID", "iface");
    auto state = make();
    ASSERT_TRUE(state->mic());
    MicCaptureHandle first{openOf(state->mic()), system.micsMade};
    // Changed behind the controller's back: a write would put "iface" back.
    store("micUID", "tampered");

    state->setMicUID("iface");
    settle();
    EXPECT_EQ(stored("micUID").toString(), "tampered");
    EXPECT_EQ(openOf(state->mic()), first.open);
    EXPECT_EQ(system.micsMade, first.made);

    state->setMicUID("usb");
    settle();
    EXPECT_EQ(stored("micUID").toString(), "usb");
    ASSERT_TRUE(state->mic());
    EXPECT_EQ(state->mic()->device().uid, "usb");
    EXPECT_EQ(system.micsMade, first.made + 1);
}

TEST_F(AppStateSources, AStartOpensTheInputAgainOnlyWhenItsCaptureIsStale)
{
    const std::string unavailable = "A hangkártya nem érhető el. Kapcsold ki, vagy válassz másik eszközt.";
    struct Case {
        std::string name;
        std::function<void(FakeSystem&, AppState&)> arrange;
        std::string device;   // whose capture the recorder gets; empty: the start fails
        bool reopened = false;
    };
    const std::vector<Case> cases = {
        {"healthy", [](FakeSystem&, AppState&) {}, "iface", false},
        {"its input ended", [](FakeSystem&, AppState& a) { a.mic()->inputStopped("A hangbemenet leállt."); },
         "iface", true},
        // Unplugged, and the change report has not come yet: the start asks
        // the server itself and does not record silence under the old name.
        {"its device vanished", [](FakeSystem& s, AppState&) { s.mics = {device("usb", 2)}; }, "", true},
    };
    const FakeSystem initial = system;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(settingsFile());
        system = initial;
        system.mics = {device("iface", 4), device("usb", 2)};
        auto state = make();
        ASSERT_TRUE(state->mic());
        const MicCaptureHandle before{openOf(state->mic()), system.micsMade};
        c.arrange(system, *state);  // no event runs in between: the start sees it first
        start(*state);
        EXPECT_EQ(system.micsMade - before.made, c.reopened && !c.device.empty() ? 1 : 0);
        if (c.device.empty()) {
            EXPECT_EQ(state->phase(), Phase::idle);
            EXPECT_EQ(state->errorMessage(), unavailable);
            EXPECT_EQ(system.recordersMade, 0);
            continue;
        }
        ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
        ASSERT_TRUE(system.recorder->request.mic);
        EXPECT_EQ(system.recorder->request.mic->device().uid, c.device);
        EXPECT_FALSE(system.recorder->request.mic->hasEnded());
        EXPECT_EQ(openOf(system.recorder->request.mic) == before.open, !c.reopened);
        stop(*state);
    }
}

TEST_F(AppStateSources, AnInputThatEndsWhileIdleFollowsTheDeviceList)
{
    system.mics = {device("iface", 4), device("usb", 2)};
    store("micUID", "usb");
    auto state = make();
    ASSERT_EQ(state->mic()->device().uid, "usb");
    system.mics = {device("iface", 4)};  // unplugged
    state->mic()->inputStopped("A hangbemenet leállt.");
    settle();
    EXPECT_EQ(state->micUID(), "iface");
    ASSERT_TRUE(state->mic());
    EXPECT_EQ(state->mic()->device().uid, "iface");
    EXPECT_FALSE(state->errorMessage());  // an unplugged device is no error
    EXPECT_TRUE(logHas("Hangkártya leállt (Eszköz usb): A hangbemenet leállt."));
}

TEST_F(AppStateSources, TheChosenInputOutlastsItsDeviceBeingAwayAndIsChosenAgainWhenItComesBack)
{
    system.mics = {device("iface", 4), device("usb", 2)};
    store("micUID", "usb");
    auto state = make();
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording);
    system.mics = {device("iface", 4)};  // away during the recording
    state->refreshMicDevices();
    settle();
    EXPECT_EQ(state->micUID(), "usb");
    EXPECT_EQ(stored("micUID").toString(), "usb");

    // Still away after the stop: another input stands in for the meters.
    stop(*state);
    settle();
    EXPECT_EQ(state->micUID(), "iface");
    system.mics = {device("iface", 4), device("usb", 2)};
    state->refreshMicDevices();
    settle();
    EXPECT_EQ(state->micUID(), "usb");
    EXPECT_EQ(stored("micUID").toString(), "usb");
    ASSERT_TRUE(state->mic());
    EXPECT_EQ(state->mic()->device().uid, "usb");

    // A choice the user makes while it is away is the one kept.
    system.mics = {device("iface", 4)};
    state->refreshMicDevices();
    settle();
    state->setMicUID("iface");
    system.mics = {device("iface", 4), device("usb", 2)};
    state->refreshMicDevices();
    settle();
    EXPECT_EQ(state->micUID(), "iface");
}

TEST_F(AppStateSources, TheHighlightIsHeldBackAfterARecordingUntilTheUserTurnsToTheAreaAgain)
{
    auto state = make();
    state->setArea(QRectF(100, 100, 400, 300));
    EXPECT_FALSE(state->isAreaHighlightShown());  // display mode
    state->setCaptureMode(Mode::area);
    EXPECT_TRUE(state->isAreaHighlightShown());

    const auto recordOnce = [&] {
        start(*state);
        ASSERT_EQ(state->phase(), Phase::recording);
        EXPECT_TRUE(state->isAreaHighlightShown());  // marks the area while recording
        stop(*state, false);
        EXPECT_TRUE(state->areaHighlightDismissed());
        EXPECT_FALSE(state->isAreaHighlightShown());
    };
    // Each way back, after a recording has dismissed the highlight.
    struct Step {
        std::string name;
        std::function<void()> act;
        bool shown;
    };
    const auto escapeSelector = [&] {
        state->selectArea();
        ASSERT_TRUE(state->isSelectingArea());
        EXPECT_FALSE(state->isAreaHighlightShown());  // the selector replaces it
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QGuiApplication::sendEvent(state->areaSelector()->window(), &escape);
        settle();
    };
    const auto dragInSelector = [&] {
        state->selectArea();
        ASSERT_TRUE(state->isSelectingArea());
        QWindow* w = state->areaSelector()->window();
        const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QGuiApplication::sendEvent(w, &event);
        };
        send(QEvent::MouseButtonPress, {50, 60}, Qt::LeftButton);
        send(QEvent::MouseMove, {250, 160}, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, {250, 160}, Qt::NoButton);
        settle();
    };
    const std::vector<Step> steps = {
        {"the same mode again", [&] { state->setCaptureMode(Mode::area); }, false},
        {"another area", [&] { state->setArea(QRectF(0, 0, 200, 200)); }, false},
        {"mode changed back and forth", [&] { state->setCaptureMode(Mode::display); state->setCaptureMode(Mode::area); },
         true},
        {"selector cancelled", escapeSelector, true},
        {"area dragged out", dragInSelector, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        recordOnce();
        step.act();
        EXPECT_EQ(state->isAreaHighlightShown(), step.shown);
        EXPECT_EQ(state->areaHighlightDismissed(), !step.shown);
    }
    EXPECT_EQ(state->area(), QRectF(50, 60, 200, 100));

    // A recording that starts in area mode brings it back by itself.
    recordOnce();
    start(*state);
    EXPECT_TRUE(state->isAreaHighlightShown());
    stop(*state, false);
}

TEST_F(AppStateSources, AnInputSwitchedOffWhileTheServerIsAskedLeavesTheRecordingWithoutIt)
{
    auto state = make();
    bool ended = false;
    state->startRecording([&] { ended = true; });
    state->setMicEnabled(false);  // before the server's answer is handled
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.recorder->request.mic, nullptr);
    EXPECT_EQ(system.recorder->trackNames, std::vector<std::string>{"Rendszerhang"});
    stop(*state);
}

TEST_F(AppStateSources, ACameraChosenUnderItsPortKeepsTheChoiceUnderItsOwnId)
{
    const std::string c920 = "usb-Logitech_C920_AB12-video-index0";
    ondexa::CameraCapture::Device other{"usb-0000:00:14.0-1", "Beépített kamera", "/dev/video0", "usb-0000:00:14.0-1"};
    ondexa::CameraCapture::Device chosen{c920, "C920", "/dev/video2", "usb-0000:00:14.0-2"};
    system.cameras = {other, chosen};
    store("cameraID", "usb-0000:00:14.0-2");  // stored when the id was the port
    store("cameraEnabled", true);
    auto state = make();
    EXPECT_EQ(state->cameraID(), c920);
    EXPECT_EQ(stored("cameraID").toString().toStdString(), c920);

    // In another port now: the choice stays with it.
    system.cameras[1].portID = "usb-0000:00:14.0-4";
    system.cameras[1].path = "/dev/video4";
    state->refreshCameras();
    EXPECT_EQ(state->cameraID(), c920);
    state->setMicEnabled(false);
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.camerasOpened, std::vector<std::string>{c920});
    stop(*state);

    // The start finds a camera by its port too, before any refresh.
    system.camerasOpened.clear();
    state->setCameraID("usb-0000:00:14.0-4");
    start(*state);
    ASSERT_EQ(state->phase(), Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(system.camerasOpened, std::vector<std::string>{c920});
    stop(*state);
}
