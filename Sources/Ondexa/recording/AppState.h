#pragma once

#include "Ondexa/model/Overlays.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/AudioDevices.h"
#include "Ondexa/recording/CameraCapture.h"
#include "Ondexa/recording/Recorder.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/capture/ScreenContent.h"
#include "Platform/input/PointerPosition.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QSettings;
class QTimer;
class QWindow;

namespace ondexa {

class AreaHighlight;
class AreaSelector;
class HotKey;
class MicCapture;

// The recording controller: the capture settings (persisted the moment they
// change), the lists of displays, windows, cameras and audio inputs, the
// permission state and the last error, and the road of one recording from
// start to stop, with its click and pointer log and the hand-over of the
// movie to the editor.
//
// Threads: everything here belongs to the main thread, which runs the Qt
// event loop. Work of other threads (hot key, device list, levels, recorder)
// reaches it through queued calls that hold it weakly (QPointer).
//
// Asynchronous operations (startRecording, stopRecording, refreshSources,
// refreshMicDevices, restartMic) return at once and call their `done` on the
// main thread when they end. Whatever waits for the sound server (its
// permission, the input list, opening a capture) runs on the environment's
// sound queue, so a server that hangs costs a deadline there, never a frozen
// main thread.
class AppState : public QObject {
    Q_OBJECT

public:
    // The road of one recording.
    enum class Phase {
        idle,       // no recording; the settings may change freely
        starting,   // the checks passed; the recorder is being made and started
        recording,  // the recorder runs; clicks and the pointer are logged
        finishing,  // the recorder finishes the movie
    };
    Q_ENUM(Phase)

    // What a recording captures; the raw values are what is stored.
    enum class CaptureMode { display, area, window };
    Q_ENUM(CaptureMode)
    static const char* rawValue(CaptureMode mode);

    struct CameraInfo {
        std::string id;    // the camera's unique id
        std::string name;  // its name to show
        bool operator==(const CameraInfo&) const = default;
    };

    // One logged click: host-clock seconds, root-window point, right button.
    struct ClickEntry {
        double time = 0;
        QPointF point;
        bool right = false;
    };
    // One logged pointer position.
    struct PointerEntry {
        double time = 0;
        QPointF point;
    };

    // What the controller needs of a recorder. The real one wraps Recorder;
    // tests give their own.
    class RecorderHandle {
    public:
        virtual ~RecorderHandle() = default;
        virtual std::filesystem::path url() const = 0;
        virtual std::vector<std::string> audioTrackNames() const = 0;
        virtual QRectF capturedFrame() const = 0;
        virtual int fps() const = 0;
        virtual std::int64_t writtenFrames() const = 0;
        virtual std::int64_t droppedFrames() const = 0;
        virtual void setShowsCursor(bool shows) = 0;
        virtual void setOnStreamError(Recorder::StreamErrorHandler handler) = 0;
        // Pointer positions the screen stream reports (the portal's metadata).
        virtual void setOnPointer(Recorder::PointerHandler) {}
        virtual void holdPicture(bool held) = 0;
        virtual void start(Recorder::StartCompletion done) = 0;
        virtual void stop(Recorder::StopCompletion done) = 0;

        static std::unique_ptr<RecorderHandle> of(std::unique_ptr<Recorder> recorder);
    };

    // The controller's ties to the system. system() gives the real ones;
    // tests replace single members with fakes. The hot key, device listener,
    // pointer, click monitor, window hooks, folder opener, arguments and
    // sound queue may be left empty; the others are required.
    struct Environment {
        // Permissions of this platform.
        std::function<platform::ScreenAccess()> screenAccess;
        // The sound server accepts us (else the reason, for the log). Waits
        // for the server: run on the sound queue.
        std::function<platform::SoundAccess()> soundAccess;
        std::function<bool(const CameraCapture::Device&)> cameraAccessDenied;
        // Sources. fetchContent throws when no display answers.
        std::function<platform::ScreenContent()> fetchContent;
        std::function<std::vector<CameraCapture::Device>()> cameraDevices;
        std::function<std::unique_ptr<CameraCapture>(const CameraCapture::Device&)> makeCamera;
        // The audio inputs, and a capture of one; both wait for the sound
        // server and throw when it fails: run on the sound queue.
        std::function<std::vector<AudioInputDevice>()> micDevices;
        std::function<std::unique_ptr<MicCapture>(const AudioInputDevice&)> makeMic;
        // Runs a job away from the main thread, jobs in the order given: every
        // wait for the sound server goes here. Empty: the job runs in place
        // (its result still reaches the controller through the event loop).
        std::function<void(std::function<void()>)> soundQueue;
        // Calls the callback on the main thread whenever the input devices change.
        std::function<void(std::function<void()>)> observeMicDevices;
        std::function<std::unique_ptr<HotKey>(std::function<void()> action)> makeHotKey;
        // A Wayland session records through the desktop's screen-cast portal:
        // both are set there and empty on X11. Each calls back on the main
        // thread later (the portal may wait for the user), never in place.
        std::function<void(std::function<void(platform::ScreenCastOffer)>)> queryScreenCast;
        std::function<void(platform::ScreenCastRequest, std::function<void(platform::ScreenCastResult)>)>
            openScreenCast;
        // The recording.
        std::function<std::filesystem::path()> newRecordingURL;
        struct RecorderRequest {
            std::filesystem::path url;
            CaptureTarget target;
            bool systemAudio = true;
            MicCapture* mic = nullptr;
            std::unique_ptr<CameraCapture> camera;
            int fps = 30;
        };
        std::function<std::unique_ptr<RecorderHandle>(RecorderRequest)> makeRecorder;
        // Where the pointer is now, in root-window points.
        std::function<std::optional<platform::RootPoint>()> pointerPosition;
        // Starts reporting left and right clicks on the main thread; the
        // monitor runs while the returned token lives. Null when no monitor
        // can be installed (the recording then goes on without clicks).
        using ClickHandler = std::function<void(bool right, QPointF point, double hostTime)>;
        std::function<std::shared_ptr<void>(ClickHandler)> installClickMonitor;
        // The application's windows leave the screen before the first frame
        // (X11 can't leave them out of a capture) and come back afterwards;
        // hideWindows gets the captured rectangle in root pixels, and a
        // window wholly outside it stays (keepsWindowShown). The defaults
        // hide and show the visible top-level windows except the area
        // highlight, as windows: a program with widgets installs its own
        // (setWindowHooks), since Qt counts a widget hidden that way as shown.
        std::function<void(const QRectF& captured)> hideWindows;
        std::function<void()> showWindows;
        // Shows a folder in the file manager; `unopened` runs (main thread)
        // when no file manager could show it.
        std::function<void(const std::filesystem::path&, std::function<void()> unopened)> openFolder;
        // The command-line arguments after the program's name.
        std::function<QStringList()> arguments;
        std::int64_t processId = 0;

        static Environment system();
    };

    // The one controller of the process, made on first use with the real
    // environment and the settings of organisation and application "Vendalum".
    static AppState& shared();

    // A controller over the given store (tests: a temporary INI file). Reads
    // the settings, registers the hot key, listens for device changes and
    // queues the start-up task.
    AppState(std::unique_ptr<QSettings> settings, Environment environment, QObject* parent = nullptr);
    ~AppState() override;

    // --- Published state ---
    Phase phase() const { return phase_; }
    double elapsed() const { return elapsed_; }
    bool blinkOn() const { return blinkOn_; }
    const std::vector<platform::ScreenDisplay>& displays() const { return displays_; }
    const std::vector<AudioInputDevice>& micDevices() const { return micDevices_; }
    const std::vector<float>& micLevels() const { return micLevels_; }
    bool needsScreenPermission() const { return needsScreenPermission_; }
    // A Wayland session: the screen can't be recorded there (yet); the
    // record window says so in place of the permission notice.
    bool screenOnWayland() const { return screenOnWayland_; }
    static constexpr const char* waylandNotice = access::waylandSession;
    const std::vector<platform::ScreenWindow>& windows() const { return windows_; }
    // The screen goes through the desktop's screen-cast portal (a Wayland
    // session): its dialog is the permission, its monitor the display, its
    // window the window, and an area a crop of the monitor's stream.
    bool capturesThroughPortal() const { return bool(env_.openScreenCast); }
    // What the portal offers; absent until it has answered at start-up.
    const std::optional<platform::ScreenCastOffer>& screenCastOffer() const { return screenCastOffer_; }
    // The start-up work has read the portal's offer and the sources: the
    // record window's rows and notices are those it will show.
    bool sourcesKnown() const { return sourcesKnown_; }
    // The sentences the record window shows on the portal's path about what
    // such a session leaves out (clicks; the pointer's log or the global
    // hot key where the desktop lacks them). Empty on X11.
    std::vector<std::string> sessionNotes() const;
    // Whether the desktop shows our tray icon (its menu stops a recording);
    // the app says so, and the notes follow.
    void setTrayShown(bool shown);
    // Whether a recording can be stopped with our windows off the screen:
    // from the tray icon, or with a hot key that reaches us from anywhere.
    bool stopWithinReach() const;
    // The keys that start and stop a recording, as the record window names
    // them: the desktop's words where it bound the hot key to keys of its
    // choosing, else "Ctrl+Alt+A".
    std::string hotKeyText() const;
    // Whether window mode can record here: on the portal's path only where it offers windows.
    bool windowsRecordable() const;
    const std::vector<CameraInfo>& cameras() const { return cameras_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }

    // --- Settings (persisted unless said otherwise) ---
    std::uint32_t displayID() const { return displayID_; }
    CaptureMode captureMode() const { return captureMode_; }
    const std::optional<QRectF>& area() const { return area_; }  // in the display's points, origin top left
    std::uint32_t windowID() const { return windowID_; }         // not persisted
    bool cameraEnabled() const { return cameraEnabled_; }
    const std::string& cameraID() const { return cameraID_; }
    const CursorStyle& cursorStyle() const { return cursorStyle_; }
    int fps() const { return fps_; }
    bool systemAudio() const { return systemAudio_; }
    bool micEnabled() const { return micEnabled_; }
    const std::string& micUID() const { return micUID_; }
    const std::set<int>& micChannels() const { return micChannels_; }
    // Per device: are the chosen channels taken as stereo pairs? A device
    // without a stored choice pairs when it has more than two channels.
    bool stereoPairs() const;

    void setErrorMessage(std::optional<std::string> message);
    void setDisplayID(std::uint32_t id);
    void setCaptureMode(CaptureMode mode);
    void setArea(std::optional<QRectF> area);
    void setWindowID(std::uint32_t id);
    void setCameraEnabled(bool enabled);
    void setCameraID(std::string id);
    void setCursorStyle(CursorStyle style);
    void setFps(int fps);
    void setSystemAudio(bool enabled);
    void setMicEnabled(bool enabled);
    void setMicUID(std::string uid);
    void setMicChannels(std::set<int> channels);
    void setStereoPairs(bool pairs);
    // The portal's restore token of the last grant for `source` (persisted):
    // later recordings of the same source don't ask again. Empty: none.
    std::string screenCastToken(platform::ScreenCastRequest::Source source) const;

    // The permission notice's "Engedély megadása…": on X11 the display is
    // looked at again; on the portal's path the portal is asked (its dialog),
    // and a grant is kept for the recordings. `done` once it is settled.
    void requestScreenPermission(std::function<void()> done = {});

    // --- The hand-over to the editor ---
    using Opener = std::function<void(const std::filesystem::path&)>;
    bool hasOpenEditor() const { return bool(openEditor_); }
    // Installing an opener hands it every queued file, in order (after the
    // recording when one is under way).
    void setOpenEditor(Opener opener);
    // Files handed over before an opener existed or during a recording.
    const std::vector<std::filesystem::path>& pendingOpen() const { return pendingOpen_; }
    // Opens the file now when an opener exists, else queues it. During a
    // recording it waits for the stop: its window would be recorded.
    void open(const std::filesystem::path& file);

    // Asking the user for a recording or a project to open. The application
    // installs its open dialog as the chooser; `done` gets the chosen file,
    // or none when the user cancels or no chooser is installed.
    using Choice = std::function<void(std::optional<std::filesystem::path>)>;
    using Chooser = std::function<void(Choice done)>;
    static void setRecordingChooser(Chooser chooser);
    static void chooseRecording(Choice done);

    // --- Recording ---
    void toggleRecording();
    void startRecording(std::function<void()> done = {});
    void stopRecording(bool openEditorAfter, std::function<void()> done = {});
    // The stream stopped by itself (the window closed, writing failed): the
    // movie is finished and opened, then `description` is said. `byUser`:
    // the desktop's own screen-sharing control ended it (Wayland), which is
    // the user's stop and says nothing.
    void captureStopped(const std::string& description, bool byUser = false);
    // Gives up a start that waits for the screen-cast portal (its dialog,
    // or a portal that does not answer): back to idle without a message,
    // its `done` called; the portal's answer, when it comes, is dropped.
    // False, and nothing changes, when no start waits for the portal.
    bool cancelStart();
    std::optional<QDateTime> startDate() const { return startDate_; }
    // Replaces how the application's windows leave the screen for a
    // recording and come back (the application installs its own).
    void setWindowHooks(std::function<void(const QRectF& captured)> hide, std::function<void()> show)
    {
        env_.hideWindows = std::move(hide);
        env_.showWindows = std::move(show);
    }
    // Whether a window of ours whose frame (root pixels) is `frame` may stay
    // on the screen while `captured` is recorded: only when wholly outside.
    static bool keepsWindowShown(const QRectF& frame, const QRectF& captured);
    // The frame of a window, decorations included, in root pixels.
    static QRectF rootFrame(const QWindow& window);
    // While our tray menu is open the movie holds the picture from before it
    // opened (the menu must not be recorded). Nothing without a recorder.
    void holdPicture(bool held);

    // --- Sources and devices ---
    // The sound server is asked on the sound queue; the lists change, and
    // `done` runs, on the main thread once its answer (or its failure) is in.
    void refreshSources(std::function<void()> done = {});
    void refreshCameras();
    void refreshMicDevices(std::function<void()> done = {});
    // Replaces the audio-interface capture; the new one opens off the main
    // thread. `done` runs once the newest restart has settled (mic() is then
    // the capture, or null when it could not open).
    void restartMic(std::function<void()> done = {});
    // `done` once the restart under way has settled; at once when none is.
    void whenMicSettled(std::function<void()> done);
    void applyChannels();
    std::optional<AudioInputDevice> currentMicDevice() const;
    MicCapture* mic() const { return mic_.get(); }
    // Picker labels: "DELL U2719D – 2560×1440" (the connector added where
    // two monitors share a name: "DELL U2719D (DP-1) – …"; alone where the
    // monitor gives none: "DP-1 – …"), "Firefox – Title".
    std::string displayName(const platform::ScreenDisplay& display) const;
    static std::string windowName(const platform::ScreenWindow& window);

    // --- Clicks and pointer ---
    void startClickMonitor();
    void stopClickMonitor();
    // Completes the movie's side file with the clicks, the pointer path and
    // the pointer style, relative to the movie's first frame (host seconds).
    void saveClicks(const RecorderHandle& recorder, double movieStart);
    const std::vector<ClickEntry>& clickLog() const { return clickLog_; }
    const std::vector<PointerEntry>& cursorLog() const { return cursorLog_; }
    // Logs where the pointer is unless it has not moved since the last entry.
    void samplePointer();
    void addClick(bool right, QPointF point, double time);
    // A pointer position the screen stream reported (the portal's metadata).
    void addPointerSample(double time, QPointF point);

    // The built-in tests of a launch. The program installs the runner before
    // it first touches the controller; the start-up task calls it once, on
    // the main thread, after the sources and the area highlight.
    using TestRunner = std::function<void(AppState&)>;
    static void setTestRunner(TestRunner runner);
    // The screen check of this platform, asked now: an X display answers a grab.
    bool screenAccessGranted() const { return env_.screenAccess && env_.screenAccess().granted; }
    // On the portal's path: no grant yet (none stored, none in this run).
    bool needsPortalGrant() const;

    // --- Area, highlight, recordings folder ---
    void updateAreaHighlight();
    void selectArea();
    bool isSelectingArea() const { return areaSelector_ != nullptr; }
    bool isAreaHighlightShown() const { return areaHighlight_ != nullptr; }
    AreaSelector* areaSelector() const { return areaSelector_.get(); }
    AreaHighlight* areaHighlight() const { return areaHighlight_.get(); }
    bool areaHighlightDismissed() const { return areaHighlightDismissed_; }
    void revealRecordingsFolder();
    // The listed display with the id, if there is one: where the area
    // windows open.
    std::optional<platform::ScreenDisplay> screen(std::uint32_t displayID) const;

    // Tests of the views put the controller into states that otherwise need
    // a running recording, time or sound input.
    void forcePhaseForTesting(Phase phase) { setPhase(phase); }
    void forceElapsedForTesting(double seconds) { setElapsed(seconds); }
    void forceMicLevelsForTesting(std::vector<float> levels) { setMicLevels(std::move(levels)); }
    void forceBlinkOnForTesting(bool on) { setBlinkOn(on); }

signals:
    void phaseChanged();
    void elapsedChanged();
    void blinkOnChanged();
    void displaysChanged();
    void micDevicesChanged();
    void micLevelsChanged();
    void needsScreenPermissionChanged();
    void screenOnWaylandChanged();
    void screenCastOfferChanged();
    void hotKeyChanged();  // it became global, or its keys changed
    void windowsChanged();
    void camerasChanged();
    void errorMessageChanged();
    void displayIDChanged();
    void captureModeChanged();
    void areaChanged();
    void windowIDChanged();
    void cameraEnabledChanged();
    void cameraIDChanged();
    void cursorStyleChanged();
    void fpsChanged();
    void systemAudioChanged();
    void micEnabledChanged();
    void micUIDChanged();
    void micChannelsChanged();
    void stereoPairsChanged();
    void pendingOpenChanged();
    void sourcesKnownChanged();

private:
    void readSettings();
    void writeSetting(const char* key, const QVariant& value);
    void runStartupTask();

    void setPhase(Phase phase);
    void setNeedsScreenPermission(bool needs);
    void setScreenOnWayland(bool wayland);
    void setMicLevels(std::vector<float> levels);
    void setElapsed(double seconds);
    void setBlinkOn(bool on);
    void fetchSources();

    // The start road: the sound input's checks (answered by the sound
    // queue), the camera's, then the steps from "starting" on.
    struct SoundCheck;
    void soundChecked(SoundCheck check, std::function<void()> done);
    void checkCamera(std::function<void()> done);
    void launch(std::function<void()> done);
    // The part of the start after the target is known (and, on the portal's
    // path, its stream opened).
    void launchWith(CaptureTarget target, std::function<void()> done);
    void screenCastOpened(CaptureTarget target, platform::ScreenCastResult result, std::function<void()> done);
    void keepScreenCastToken(platform::ScreenCastRequest::Source source, const std::string& token);
    platform::ScreenCastRequest screenCastRequest(platform::ScreenCastRequest::Source source) const;
    bool micIsStale() const;
    void micDevicesArrived(std::vector<AudioInputDevice> devices);
    void micOpened(std::uint64_t generation, const AudioInputDevice& device, const platform::SoundAccess& access,
                   std::unique_ptr<MicCapture> capture, const std::string& error);
    void micSettled();
    // Runs `work` on the sound queue; what it returns runs on the main
    // thread afterwards, unless this controller is gone by then.
    using MainThreadStep = std::function<void(AppState&)>;
    void askSoundServer(std::function<MainThreadStep()> work);
    // `description` follows "Nem sikerült elindítani a felvételt: " unless it is a whole message.
    void failStart(const std::string& description, std::function<void()> done, bool wholeMessage = false);
    void recorderStarted(std::function<void()> done);
    void clockTick();
    void hideWindows(const QRectF& captured);
    // Hands the queued files to the opener; those without one stay queued.
    void openHeldFiles();
    void showWindows();
    // Our players may sound again; the windows stay as they are.
    void releasePlayers();

    void areaSelectorFinished(std::optional<QRectF> rect);
    void removeAreaHighlight();

    QSettings& settings() { return *settings_; }

    Environment env_;
    std::unique_ptr<QSettings> settings_;  // main thread

    // Published.
    Phase phase_ = Phase::idle;
    double elapsed_ = 0;
    bool blinkOn_ = true;
    std::vector<platform::ScreenDisplay> displays_;
    std::vector<AudioInputDevice> micDevices_;
    std::vector<float> micLevels_;
    bool needsScreenPermission_ = false;
    bool screenOnWayland_ = false;
    std::optional<platform::ScreenCastOffer> screenCastOffer_;
    bool sourcesKnown_ = false;
    bool portalGranted_ = false;  // the portal allowed a cast in this run
    std::vector<platform::ScreenWindow> windows_;
    std::vector<CameraInfo> cameras_;
    std::optional<std::string> errorMessage_;
    std::uint32_t displayID_ = 0;
    CaptureMode captureMode_ = CaptureMode::display;
    std::optional<QRectF> area_;
    std::uint32_t windowID_ = 0;
    bool cameraEnabled_ = false;
    std::string cameraID_;
    CursorStyle cursorStyle_;
    int fps_ = 30;
    bool systemAudio_ = true;
    bool micEnabled_ = true;
    std::string micUID_;
    // The user's choice while its device is away and another stands in for it.
    std::string awayMicUID_;
    std::set<int> micChannels_{0};

    Opener openEditor_;
    std::vector<std::filesystem::path> pendingOpen_;

    std::unique_ptr<MicCapture> mic_;
    std::uint64_t micGeneration_ = 0;               // counts restarts; only the newest one's capture is kept
    std::vector<std::function<void()>> micWaiters_;  // waiting for the newest restart to settle
    bool micOpening_ = false;                        // a restart waits for the sound server
    bool checkingStart_ = false;                    // a start waits for the sound server's answer
    std::uint64_t portalStarts_ = 0;                // counts the starts that asked the portal
    std::uint64_t portalWait_ = 0;                  // the one whose answer is awaited; 0: none
    std::function<void()> portalWaitDone_;          // its `done`
    std::unique_ptr<QObject> castWatch_;            // hears the portal end the recording's cast while it lives
    bool stoppedByUser_ = false;                    // the desktop's control ended this recording
    std::string stopNotice_;                        // what the last stop said of the movie it kept
    std::unique_ptr<RecorderHandle> recorder_;
    QTimer* timer_ = nullptr;                 // the 0.5 s recording clock; child of this
    std::optional<QDateTime> startDate_;
    QElapsedTimer startClock_;                // monotonic twin of startDate_ for elapsed
    std::unique_ptr<HotKey> hotKey_;
    std::string hotKeyNotice_;  // told once at start-up: another program holds the hot key
    bool trayShown_ = true;     // the app's word: the desktop shows our tray icon
    std::shared_ptr<void> clickMonitor_;      // the monitor's token; null when none runs
    std::vector<ClickEntry> clickLog_;
    std::vector<PointerEntry> cursorLog_;
    QTimer* cursorTimer_ = nullptr;           // the 60 Hz pointer sampler; child of this
    std::unique_ptr<AreaSelector> areaSelector_;
    std::unique_ptr<AreaHighlight> areaHighlight_;
    bool areaHighlightDismissed_ = false;
    bool windowsHidden_ = false;                    // between hideWindows() and showWindows()
    std::vector<QPointer<QWindow>> hiddenWindows_;  // hidden by the default hideWindows()
};

} // namespace ondexa
