// Displays, windows, cameras and audio inputs, and the audio-interface
// capture that runs while idle so that the record window shows levels.

#include "Ondexa/recording/AppState.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/MicCapture.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace ondexa {

namespace {

// Microphone permission as the log states it: 3 allowed, 2 refused.
constexpr int kAccessDenied = 2;
constexpr int kAccessAuthorized = 3;

// Windows this small are toolbars and tooltips, not something to record.
constexpr int kMinWindowWidth = 80;
constexpr int kMinWindowHeight = 60;

// "48000.0": always with a fractional part, independent of the locale.
std::string rateText(double rate)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, rate);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".en") == std::string::npos) text += ".0";
    return text;
}

} // namespace

void AppState::refreshSources(std::function<void()> done)
{
    // The sound server answers on its queue, the rest meanwhile; `done` waits
    // for both.
    auto pending = std::make_shared<int>(2);
    auto settle = [pending, done = std::move(done)] {
        if (--*pending == 0 && done) done();
    };
    refreshMicDevices(settle);
    if (cameraEnabled_) refreshCameras();
    fetchSources();
    settle();
}

namespace {

// A step still queued when the application is destroyed is dropped inside
// Qt's own clean-up, which holds the lock that a dying QObject (a capture the
// step carries) needs: the process would hang on its way out. Such a step is
// kept instead, reachable, for the few moments the process has left.
struct ParkedAtExit {
    explicit ParkedAtExit(std::function<void(AppState&)> s) : step(std::move(s)) {}
    ~ParkedAtExit()
    {
        if (!QCoreApplication::closingDown()) return;
        static auto* parked = new std::vector<std::function<void(AppState&)>>;
        parked->push_back(std::move(step));
    }
    std::function<void(AppState&)> step;
};

} // namespace

void AppState::askSoundServer(std::function<MainThreadStep()> work)
{
    QPointer<AppState> self(this);
    auto job = [self, work = std::move(work)] {
        // Posted to the application, which outlives every controller: what
        // the step holds is dropped on the main thread either way.
        auto step = std::make_shared<ParkedAtExit>(work());
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, platform::handedOver([self, step] {
                    if (self) step->step(*self);
                }),
                Qt::QueuedConnection);
    };
    if (env_.soundQueue) env_.soundQueue(std::move(job));
    else job();
}

void AppState::fetchSources()
{
    setScreenOnWayland(env_.screenAccess().refusal == platform::ScreenAccess::Refusal::waylandOnly);
    platform::ScreenContent content;
    try {
        content = env_.fetchContent();
    } catch (const std::exception& error) {
        logLine(std::string("A képernyő tartalma nem olvasható: ") + error.what());
        setNeedsScreenPermission(true);
        return;
    }

    displays_ = content.displays;
    emit displaysChanged();

    windows_.clear();
    for (auto& window : content.windows) {
        // Only what can be seen can be recorded: a minimised window gives no picture.
        if (!window.onScreen || !window.normal || window.frame.width() <= kMinWindowWidth
            || window.frame.height() <= kMinWindowHeight)
            continue;
        if (window.application.empty() || window.pid == env_.processId) continue;
        windows_.push_back(std::move(window));
    }
    emit windowsChanged();
    if (!windows_.empty()
        && std::none_of(windows_.begin(), windows_.end(), [&](const auto& w) { return w.id == windowID_; }))
        setWindowID(windows_.front().id);

    // On the portal's path the notice stands until the portal's first grant.
    setNeedsScreenPermission(needsPortalGrant());

    if (!displays_.empty()
        && std::none_of(displays_.begin(), displays_.end(), [&](const auto& d) { return d.id == displayID_; }))
        setDisplayID(displays_.front().id);
}

void AppState::refreshCameras()
{
    cameras_.clear();
    const auto devices = env_.cameraDevices();
    for (const auto& device : devices) cameras_.push_back({device.uniqueID, device.name});
    emit camerasChanged();
    if (!cameras_.empty()
        && std::none_of(cameras_.begin(), cameras_.end(), [&](const auto& c) { return c.id == cameraID_; })) {
        // A choice stored under the camera's port follows it to its own id.
        const auto known = std::find_if(devices.begin(), devices.end(),
                                        [&](const auto& d) { return d.answersTo(cameraID_); });
        setCameraID(known != devices.end() ? known->uniqueID : cameras_.front().id);
    }
}

void AppState::refreshMicDevices(std::function<void()> done)
{
    askSoundServer([list = env_.micDevices, done = std::move(done)]() -> MainThreadStep {
        std::vector<AudioInputDevice> devices;
        std::string failure;
        try {
            devices = list();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        return [devices = std::move(devices), failure, done](AppState& state) {
            // Without a server there is no input to choose: the list is empty.
            if (!failure.empty()) logLine("A hangbemenetek listája nem olvasható: " + failure);
            state.micDevicesArrived(devices);
            if (done) done();
        };
    });
}

void AppState::micDevicesArrived(std::vector<AudioInputDevice> devices)
{
    micDevices_ = std::move(devices);
    emit micDevicesChanged();
    // A running recording keeps its input and the stored choice: the
    // device may come back, and the next start asks the server itself.
    if (phase_ != Phase::idle) return;
    const auto listed = [&](const std::string& uid) {
        return std::any_of(micDevices_.begin(), micDevices_.end(), [&](const auto& d) { return d.uid == uid; });
    };
    if (!awayMicUID_.empty() && listed(awayMicUID_)) {
        setMicUID(awayMicUID_);  // back again: chosen again
    } else if (currentMicDevice()) {
        restartMic();
    } else if (!micDevices_.empty()) {
        const std::string chosen = awayMicUID_.empty() ? micUID_ : awayMicUID_;
        setMicUID(micDevices_.front().uid);
        awayMicUID_ = chosen;
    }
}

std::optional<AudioInputDevice> AppState::currentMicDevice() const
{
    for (const auto& device : micDevices_)
        if (device.uid == micUID_) return device;
    return std::nullopt;
}

bool AppState::micIsStale() const
{
    if (!mic_ || mic_->hasEnded() || mic_->device().uid != micUID_) return true;
    return std::none_of(micDevices_.begin(), micDevices_.end(),
                        [&](const AudioInputDevice& d) { return d.uid == mic_->device().uid; });
}

void AppState::restartMic(std::function<void()> done)
{
    if (done) micWaiters_.push_back(std::move(done));
    if (phase_ != Phase::idle) return micSettled();
    // A restart still on its way is outdone by this one: its capture is dropped.
    const std::uint64_t generation = ++micGeneration_;
    mic_.reset();
    setMicLevels({});
    const auto device = currentMicDevice();
    if (!micEnabled_ || !device) return micSettled();

    micOpening_ = true;
    askSoundServer([generation, device = *device, access = env_.soundAccess, make = env_.makeMic]() -> MainThreadStep {
        const platform::SoundAccess allowed = access();
        // Held so that the step can be copied; it is moved out once, on the main thread.
        auto capture = std::make_shared<std::unique_ptr<MicCapture>>();
        std::string failure;
        if (allowed.granted) {
            try {
                *capture = make(device);
            } catch (const std::exception& error) {
                failure = error.what();
            }
        }
        return [generation, device, allowed, capture, failure](AppState& state) {
            state.micOpened(generation, device, allowed, std::move(*capture), failure);
        };
    });
}

void AppState::micOpened(std::uint64_t generation, const AudioInputDevice& device, const platform::SoundAccess& access,
                         std::unique_ptr<MicCapture> capture, const std::string& error)
{
    if (generation != micGeneration_) return;  // a newer restart settles the waiters
    logLine("Hangkártya indítása: " + device.name + ", " + std::to_string(device.channelNames.size())
            + " csatorna, engedély=" + std::to_string(access.granted ? kAccessAuthorized : kAccessDenied));
    if (!access.granted) {
        if (!access.reason.empty()) logLine(access.reason);
        // Down or refusing: the sentence says which, and what to do.
        setErrorMessage(access::soundRefusedForInput(access));
        return micSettled();
    }
    if (!error.empty()) {
        setErrorMessage(error);
        return micSettled();
    }
    if (!capture || phase_ != Phase::idle) return micSettled();
    capture->setChannels(std::vector<int>(micChannels_.begin(), micChannels_.end()), stereoPairs());
    QPointer<AppState> self(this);
    capture->setOnLevels([self](std::vector<float> levels) {
        if (self) self->setMicLevels(std::move(levels));
    });
    // An input that stops while idle (unplugged, the server restarted): the
    // device list says what to open next. A start under way reopens it itself.
    capture->setOnEnded([self] {
        if (self && self->phase_ == Phase::idle && !self->checkingStart_) self->refreshMicDevices();
    });
    mic_ = std::move(capture);
    logLine("Hangkártya fut, " + rateText(mic_->sampleRate()) + " Hz");
    micSettled();
}

void AppState::whenMicSettled(std::function<void()> done)
{
    if (micOpening_) micWaiters_.push_back(std::move(done));
    else done();
}

void AppState::micSettled()
{
    micOpening_ = false;
    auto waiters = std::exchange(micWaiters_, {});
    for (auto& waiter : waiters) waiter();
}

void AppState::applyChannels()
{
    if (mic_) mic_->setChannels(std::vector<int>(micChannels_.begin(), micChannels_.end()), stereoPairs());
}

std::string AppState::displayName(const platform::ScreenDisplay& display) const
{
    // The monitor's own name; its connector tells two alike monitors apart
    // and stands in for a monitor that gives no name.
    std::string name = display.model;
    const bool twin = !name.empty() && std::any_of(displays_.begin(), displays_.end(), [&](const auto& other) {
        return other.model == display.model && other.id != display.id;
    });
    // The root without RandR monitors has a name only for its id.
    const bool named = !display.name.empty() && display.name != platform::ScreenDisplay::wholeRootName;
    if (name.empty()) name = named ? display.name : std::string("Kijelző");
    else if (twin && named) name += " (" + display.name + ")";
    // In pixels: a scaled output's own resolution, not the desktop's units.
    const auto pixels = [&](int length) { return std::to_string(std::lround(length * display.scale)); };
    return name + " – " + pixels(display.frame.width()) + "×" + pixels(display.frame.height());
}

std::string AppState::windowName(const platform::ScreenWindow& window)
{
    std::string name = window.application;
    if (!window.title.empty()) name += " – " + window.title;
    return name;
}

} // namespace ondexa
