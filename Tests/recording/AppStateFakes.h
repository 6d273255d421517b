#pragma once

// A recording controller over a temporary settings file and a fake system,
// and the event-loop helpers the desktop tests share.

#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/recording/AppState.h"
#include "Ondexa/recording/HotKey.h"
#include "Ondexa/recording/MicCapture.h"
#include "rendering/GuiTestApplication.h"
#include "support/PrivateBus.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <atomic>
#include <thread>

namespace ondexa::testing {

// Runs the event loop until `done` or the timeout.
template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds duration) { pumpUntil([] { return false; }, duration); }

// One private session bus for the tests that talk to a fake desktop portal.
inline testsupport::PrivateBus& privateBus()
{
    static testsupport::PrivateBus instance;
    return instance;
}

// Runs what the event loop holds and what that posts in turn, a few rounds
// deep: the fake system answers at once, but always through the loop.
inline void settle()
{
    for (int round = 0; round < 10; ++round) QCoreApplication::processEvents();
}

// Runs xdotool while the event loop keeps going: the windows under test live on this thread.
inline int xdotool(const std::string& arguments)
{
    std::atomic<int> status = -1;  // set by the runner, read here
    std::thread runner([&] { status = std::system(("xdotool " + arguments).c_str()); });
    pumpUntil([&] { return status != -1; }, std::chrono::seconds(10));
    runner.join();
    return status;
}

// An environment variable for one scope.
using testsupport::ScopedEnv;

inline std::string readFile(const std::filesystem::path& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

inline AudioInputDevice device(std::string uid, int channels)
{
    AudioInputDevice d{std::uint32_t(uid.size()), uid, "Eszköz " + uid, {}};
    for (int n = 1; n <= channels; ++n) d.channelNames.push_back("Bemenet " + std::to_string(n));
    return d;
}

class FakeRecorder;

// The number of the open that made `mic` (1 for the first), 0 for none.
inline int openOf(const MicCapture* mic)
{
    return mic ? mic->property("open").toInt() : 0;
}

// Answers as each test says and notes what the controller did.
struct FakeSystem {
    platform::ScreenAccess screenAccess{true, {}};
    bool soundAllowed = true;
    std::string soundRefusal = "A hangkiszolgáló (PulseAudio) nem fogadta a kapcsolódást (Connection refused).";
    bool soundRefusedAccess = false;  // when not allowed: turned away, not down
    std::vector<std::string> deniedCameras;
    platform::ScreenContent content;
    bool contentFails = false;
    std::vector<CameraCapture::Device> cameras;
    bool cameraFails = false;
    std::vector<std::string> camerasOpened;  // unique ids, in order
    std::optional<platform::CameraError::Kind> cameraOpenError;  // how opening the camera fails
    std::vector<AudioInputDevice> mics;
    bool micFails = false;
    int micsMade = 0;  // captures opened
    std::optional<platform::RootPoint> pointer;
    std::optional<std::string> recorderStartError;
    std::string recorderStopError;
    std::string recorderStopNotice;  // a saved movie's notice (the sound it lacks)

    int hides = 0, shows = 0;
    QRectF hiddenFor;  // the captured rectangle the windows were hidden for
    bool realWindows = false;  // no window hooks: the program's own hiding runs
    std::function<void()> starting;  // called as a recorder is asked to start
    int recordersMade = 0, recordersAlive = 0;
    FakeRecorder* recorder = nullptr;  // the newest one still alive
    bool clickMonitorRuns = false;
    std::filesystem::path folder;      // where recordings go
    std::int64_t ownPid = 4242;        // the program's process

    // A Wayland session's screen-cast portal: set, the controller takes the
    // portal's path. Each request is noted and answered with `portalAnswer`
    // through the event loop.
    std::optional<platform::ScreenCastOffer> portalOffer;
    std::vector<platform::ScreenCastRequest> portalRequests;
    platform::ScreenCastResult portalAnswer;
    bool portalWaits = false;  // no answer until the test gives one through portalPending
    std::function<void(platform::ScreenCastResult)> portalPending;
    bool hotKeyWhileFocused = false;  // the hot key works only in our windows
    std::function<std::unique_ptr<HotKey>(std::function<void()>)> hotKey;  // set: makes the hot key

    AppState::Environment environment();
};

// A recorder that starts and stops as its system says, from the event loop.
class FakeRecorder : public AppState::RecorderHandle {
public:
    FakeRecorder(FakeSystem& s, AppState::Environment::RecorderRequest r) : system(s), request(std::move(r))
    {
        ++system.recordersMade;
        ++system.recordersAlive;
        system.recorder = this;
        if (request.systemAudio) trackNames.push_back("Rendszerhang");
        if (request.mic) trackNames.push_back(request.mic->device().name);
        const QRectF display = request.target.portal ? request.target.portal->frame
                                                     : QRectF(request.target.display.frame);
        frame = request.target.kind == CaptureTarget::Kind::area ? request.target.area.translated(display.topLeft())
                                                                 : display;
    }
    ~FakeRecorder() override
    {
        --system.recordersAlive;
        if (system.recorder == this) system.recorder = nullptr;
    }

    std::filesystem::path url() const override { return request.url; }
    std::vector<std::string> audioTrackNames() const override { return trackNames; }
    QRectF capturedFrame() const override { return frame; }
    int fps() const override { return request.fps; }
    std::int64_t writtenFrames() const override { return 12; }
    std::int64_t droppedFrames() const override { return 1; }
    void setShowsCursor(bool shows) override { showsCursor = shows; }
    void setOnStreamError(Recorder::StreamErrorHandler handler) override { onStreamError = std::move(handler); }
    void setOnPointer(Recorder::PointerHandler handler) override { onPointer = std::move(handler); }
    void holdPicture(bool held) override { pictureHeld = held; }
    void start(Recorder::StartCompletion done) override
    {
        if (system.starting) system.starting();
        QTimer::singleShot(0, &alive, [error = system.recorderStartError, done = std::move(done)] { done(error); });
    }
    void stop(Recorder::StopCompletion done) override
    {
        Recorder::StopResult result;
        if (!system.recorderStopError.empty()) result.error = system.recorderStopError;
        else result.movieStart = platform::MediaTime::fromSeconds(0, 1'000'000'000);
        if (result.movieStart) result.notice = system.recorderStopNotice;
        QTimer::singleShot(0, &alive, [result, done = std::move(done)] { done(result); });
    }

    FakeSystem& system;
    AppState::Environment::RecorderRequest request;
    std::vector<std::string> trackNames;
    QRectF frame;
    bool showsCursor = true;
    bool pictureHeld = false;
    Recorder::StreamErrorHandler onStreamError;
    Recorder::PointerHandler onPointer;
    QObject alive;  // its pending completions end with it
};

inline AppState::Environment FakeSystem::environment()
{
    AppState::Environment env;
    env.screenAccess = [this] { return screenAccess; };
    env.soundAccess = [this] {
        return soundAllowed ? platform::SoundAccess{true, {}}
                            : platform::SoundAccess{false, soundRefusal, soundRefusedAccess};
    };
    env.cameraAccessDenied = [this](const CameraCapture::Device& d) {
        return std::find(deniedCameras.begin(), deniedCameras.end(), d.uniqueID) != deniedCameras.end();
    };
    env.fetchContent = [this] {
        if (contentFails) throw platform::CaptureError("Nincs X kijelző.");
        return content;
    };
    env.cameraDevices = [this] { return cameras; };
    env.makeCamera = [this](const CameraCapture::Device& d) -> std::unique_ptr<CameraCapture> {
        if (cameraFails) throw std::runtime_error("A kamera nem használható: " + d.name);
        camerasOpened.push_back(d.uniqueID);
        if (cameraOpenError) throw platform::CameraError(*cameraOpenError, "A kamera nem nyitható meg: " + d.name);
        return nullptr;
    };
    env.micDevices = [this] { return mics; };
    env.makeMic = [this](const AudioInputDevice& d) {
        if (micFails) throw std::runtime_error("Nem sikerült megnyitni: " + d.name);
        auto mic = std::make_unique<MicCapture>(d, 48000.0, MicCapture::NoInput{});
        // Which open made it: a freed capture's address may come back for the next one.
        mic->setProperty("open", ++micsMade);
        return mic;
    };
    env.newRecordingURL = [this] { return folder / ("Felvétel " + std::to_string(recordersMade + 1) + ".mov"); };
    env.makeRecorder = [this](AppState::Environment::RecorderRequest request) {
        return std::make_unique<FakeRecorder>(*this, std::move(request));
    };
    env.pointerPosition = [this] { return pointer; };
    env.installClickMonitor = [this](AppState::Environment::ClickHandler) -> std::shared_ptr<void> {
        clickMonitorRuns = true;
        return std::shared_ptr<void>(nullptr, [this](void*) { clickMonitorRuns = false; });
    };
    if (!realWindows) {
        env.hideWindows = [this](const QRectF& captured) {
            ++hides;
            hiddenFor = captured;
        };
        env.showWindows = [this] { ++shows; };
    }
    env.processId = ownPid;
    if (portalOffer) {
        env.queryScreenCast = [this](std::function<void(platform::ScreenCastOffer)> done) {
            QTimer::singleShot(0, [offer = *portalOffer, done = std::move(done)] { done(offer); });
        };
        env.openScreenCast = [this](platform::ScreenCastRequest request,
                                    std::function<void(platform::ScreenCastResult)> done) {
            portalRequests.push_back(request);
            if (portalWaits) {
                portalPending = std::move(done);
                return;
            }
            platform::ScreenCastResult answer = portalAnswer;
            answer.cursor = request.cursor;
            QTimer::singleShot(0, [answer, done = std::move(done)] { done(answer); });
        };
    }
    if (hotKeyWhileFocused)
        env.makeHotKey = [](std::function<void()> action) {
            return HotKey::whileFocused(HotKey::recordingKeyCode, HotKey::recordingModifiers, std::move(action));
        };
    if (hotKey) env.makeHotKey = hotKey;
    return env;
}

// The base of the controller tests: a temporary home (log, recordings) and
// settings file, a fake system with one 1920×1080 display and one 4-channel
// audio input.
class AppStateTest : public ::testing::Test {
protected:
    AppStateTest()
    {
        system.folder = temp.path / "Videos";
        std::filesystem::create_directories(system.folder);
        system.content.displays.resize(1);
        system.content.displays[0].id = 7;
        system.content.displays[0].frame = QRect(0, 0, 1920, 1080);
        system.mics = {device("iface", 4)};
    }

    std::filesystem::path settingsFile() const { return temp.path / "Vendalum.conf"; }
    QSettings settings() const
    {
        return QSettings(QString::fromStdString(settingsFile().string()), QSettings::IniFormat);
    }
    void store(const char* key, const QVariant& value) { settings().setValue(key, value); }
    QVariant stored(const char* key) const { return settings().value(key); }

    // A controller; `settled` runs its start-up task first.
    std::unique_ptr<AppState> make(bool settled = true) { return makeWith(system.environment(), settled); }
    std::unique_ptr<AppState> makeWith(AppState::Environment env, bool settled = true)
    {
        auto state = std::make_unique<AppState>(
            std::make_unique<QSettings>(QString::fromStdString(settingsFile().string()), QSettings::IniFormat),
            std::move(env));
        if (settled) settle();
        return state;
    }

    bool logHas(const std::string& text) const
    {
        return readFile(temp.path / "state" / "Vendalum" / "Vendalum.log").find(text) != std::string::npos;
    }

    // Starts or stops and waits until the road ends.
    void start(AppState& state)
    {
        bool ended = false;
        state.startRecording([&] { ended = true; });
        ASSERT_TRUE(pumpUntil([&] { return ended; }));
    }
    void stop(AppState& state, bool openEditorAfter = true)
    {
        bool ended = false;
        state.stopRecording(openEditorAfter, [&] { ended = true; });
        ASSERT_TRUE(pumpUntil([&] { return ended; }));
    }

    TempFolder temp;
    ScopedEnv stateHome{"XDG_STATE_HOME", (temp.path / "state").string()};
    ScopedEnv home{"HOME", temp.path.string()};
    ScopedEnv configHome{"XDG_CONFIG_HOME", (temp.path / "config").string()};
    FakeSystem system;
};

} // namespace ondexa::testing
