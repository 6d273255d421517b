// The controller's real ties to the system.

#include "Ondexa/recording/AppState.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/model/Paths.h"
#include "Ondexa/recording/FileManager.h"
#include "Ondexa/recording/HotKey.h"
#include "Ondexa/recording/MicCapture.h"
#include "Platform/audio/AudioServer.h"
#include "Platform/core/SerialQueue.h"
#include "Platform/input/ClickMonitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QScreen>
#include <QMetaObject>

#include <unistd.h>

namespace ondexa {

namespace {

class RealRecorder final : public AppState::RecorderHandle {
public:
    explicit RealRecorder(std::unique_ptr<Recorder> recorder) : recorder_(std::move(recorder)) {}

    std::filesystem::path url() const override { return recorder_->url(); }
    std::vector<std::string> audioTrackNames() const override { return recorder_->audioTrackNames(); }
    QRectF capturedFrame() const override { return recorder_->capturedFrame(); }
    int fps() const override { return recorder_->fps(); }
    std::int64_t writtenFrames() const override { return recorder_->writtenFrames(); }
    std::int64_t droppedFrames() const override { return recorder_->droppedFrames(); }
    void setShowsCursor(bool shows) override { recorder_->setShowsCursor(shows); }
    void setOnStreamError(Recorder::StreamErrorHandler handler) override
    {
        recorder_->setOnStreamError(std::move(handler));
    }
    void setOnPointer(Recorder::PointerHandler handler) override { recorder_->setOnPointer(std::move(handler)); }
    void holdPicture(bool held) override { recorder_->holdPicture(held); }
    void start(Recorder::StartCompletion done) override { recorder_->start(std::move(done)); }
    void stop(Recorder::StopCompletion done) override { recorder_->stop(std::move(done)); }

private:
    std::unique_ptr<Recorder> recorder_;
};

// On a Wayland session the displays are the compositor's outputs as Qt
// knows them (logical pixels); windows can't be listed (the portal's
// dialog picks one).
platform::ScreenContent waylandContent()
{
    platform::ScreenContent content;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return content;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        platform::ScreenDisplay display;
        display.name = screen->name().toStdString();
        display.id = platform::ScreenContent::displayId(display.name);
        display.frame = screen->geometry();
        display.primary = screen == primary;
        display.model = screen->model().toStdString();
        display.scale = screen->devicePixelRatio();
        if (display.primary) content.displays.insert(content.displays.begin(), display);
        else content.displays.push_back(display);
    }
    return content;
}

void postToMain(std::function<void()> job)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, platform::handedOver(std::move(job)), Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<AppState::RecorderHandle> AppState::RecorderHandle::of(std::unique_ptr<Recorder> recorder)
{
    return std::make_unique<RealRecorder>(std::move(recorder));
}

AppState::Environment AppState::Environment::system()
{
    Environment env;
    env.screenAccess = [] { return platform::ScreenAccess::check(); };
    // Sound input is ours when the sound server accepts our connection.
    env.soundAccess = [] { return platform::SoundAccess::check(); };
    env.cameraAccessDenied = [](const CameraCapture::Device& device) { return CameraCapture::accessDenied(device); };
    env.fetchContent = [] { return platform::ScreenContent::fetch(); };
    env.cameraDevices = [] { return CameraCapture::devices(); };
    env.makeCamera = [](const CameraCapture::Device& device) { return std::make_unique<CameraCapture>(device); };
    env.micDevices = [] { return AudioDeviceList::read(); };
    env.makeMic = [](const AudioInputDevice& device) { return std::make_unique<MicCapture>(device); };
    // One worker for every wait on the sound server, so that answers come in
    // the order asked; it ends (after its queued jobs) with the controller.
    auto soundQueue = std::make_shared<platform::SerialQueue>("ondexa.sound-requests");
    env.soundQueue = [soundQueue](std::function<void()> job) { soundQueue->async(std::move(job)); };
    env.observeMicDevices = [](std::function<void()> changed) { AudioDeviceList::observeChanges(std::move(changed)); };
    env.makeHotKey = [](std::function<void()> action) {
        return std::make_unique<HotKey>(HotKey::recordingKeyCode, HotKey::recordingModifiers, std::move(action));
    };
    env.newRecordingURL = [] { return Paths::newRecordingURL(); };
    env.makeRecorder = [](RecorderRequest request) {
        return RecorderHandle::of(std::make_unique<Recorder>(std::move(request.url), std::move(request.target),
                                                             request.systemAudio, request.mic,
                                                             std::move(request.camera), request.fps));
    };
    // One connection for the sampler, opened on first use (main thread).
    auto pointer = std::make_shared<std::unique_ptr<platform::PointerPosition>>();
    env.pointerPosition = [pointer]() -> std::optional<platform::RootPoint> {
        if (!*pointer) *pointer = std::make_unique<platform::PointerPosition>();
        return (*pointer)->current();
    };
    env.installClickMonitor = [](ClickHandler handler) -> std::shared_ptr<void> {
        auto monitor = std::make_shared<platform::ClickMonitor>(
            [handler = std::move(handler)](const platform::MouseClick& click) {
                handler(click.button == platform::MouseButton::right,
                        QPointF(click.position.x, click.position.y), click.hostTime);
            },
            postToMain);
        if (!monitor->start()) {
            logLine(monitor->error());
            return nullptr;
        }
        return monitor;
    };
    env.openFolder = [](const std::filesystem::path& folder, std::function<void()> unopened) {
        showInFileManager(folder, std::move(unopened));
    };
    env.arguments = [] {
        QStringList arguments = QCoreApplication::arguments();
        if (!arguments.isEmpty()) arguments.removeFirst();
        return arguments;
    };
    env.processId = ::getpid();

    if (platform::ScreenAccess::usesScreenCastPortal()) {
        // Nothing of X here: the screen through the portal, no global
        // pointer position or clicks; the hot key through the desktop's
        // global shortcuts, else only in our own windows.
        env.fetchContent = [] { return waylandContent(); };
        env.pointerPosition = nullptr;
        env.installClickMonitor = nullptr;
        env.makeHotKey = [](std::function<void()> action) {
            return HotKey::throughPortal(QDBusConnection::sessionBus(), HotKey::recordingKeyCode,
                                         HotKey::recordingModifiers, std::move(action));
        };
        env.queryScreenCast = [](std::function<void(platform::ScreenCastOffer)> done) {
            platform::screencast::query(QDBusConnection::sessionBus(), QCoreApplication::instance(), std::move(done));
        };
        env.openScreenCast = [](platform::ScreenCastRequest request,
                                std::function<void(platform::ScreenCastResult)> done) {
            platform::screencast::open(QDBusConnection::sessionBus(), QCoreApplication::instance(), std::move(request),
                                       std::move(done));
        };
    }
    return env;
}

} // namespace ondexa
