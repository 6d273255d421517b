// Displays, windows, cameras and audio inputs, and the audio-interface
// capture that runs while idle so that the record window shows levels.

#include "Ondexa/recording/AppState.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/recording/MicCapture.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <charconv>

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

QScreen* qtScreenOf(const platform::ScreenDisplay& display)
{
    const auto screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        if (screen->name().toStdString() == display.name) return screen;
    for (QScreen* screen : screens)
        if (screen->geometry() == display.frame) return screen;
    return nullptr;
}

} // namespace

void AppState::refreshSources(std::function<void()> done)
{
    refreshMicDevices();
    if (cameraEnabled_) refreshCameras();
    fetchSources();
    if (done) done();
}

void AppState::fetchSources()
{
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
        if (!window.normal || window.frame.width() <= kMinWindowWidth || window.frame.height() <= kMinWindowHeight)
            continue;
        if (window.application.empty() || window.pid == env_.processId) continue;
        windows_.push_back(std::move(window));
    }
    emit windowsChanged();
    if (!windows_.empty()
        && std::none_of(windows_.begin(), windows_.end(), [&](const auto& w) { return w.id == windowID_; }))
        setWindowID(windows_.front().id);

    setNeedsScreenPermission(false);

    if (!displays_.empty()
        && std::none_of(displays_.begin(), displays_.end(), [&](const auto& d) { return d.id == displayID_; }))
        setDisplayID(displays_.front().id);
}

void AppState::refreshCameras()
{
    cameras_.clear();
    for (const auto& device : env_.cameraDevices()) cameras_.push_back({device.uniqueID, device.name});
    emit camerasChanged();
    if (!cameras_.empty()
        && std::none_of(cameras_.begin(), cameras_.end(), [&](const auto& c) { return c.id == cameraID_; }))
        setCameraID(cameras_.front().id);
}

void AppState::refreshMicDevices()
{
    micDevices_ = env_.micDevices();
    emit micDevicesChanged();
    if (currentMicDevice()) {
        if (phase_ == Phase::idle) restartMic();
    } else if (!micDevices_.empty()) {
        setMicUID(micDevices_.front().uid);
    }
}

std::optional<AudioInputDevice> AppState::currentMicDevice() const
{
    for (const auto& device : micDevices_)
        if (device.uid == micUID_) return device;
    return std::nullopt;
}

void AppState::restartMic()
{
    if (phase_ != Phase::idle) return;
    mic_.reset();
    setMicLevels({});
    const auto device = currentMicDevice();
    if (!micEnabled_ || !device) return;

    const bool allowed = env_.soundInputAllowed();
    logLine("Hangkártya indítása: " + device->name + ", " + std::to_string(device->channelNames.size())
            + " csatorna, engedély=" + std::to_string(allowed ? kAccessAuthorized : kAccessDenied));
    if (!allowed) {
        // The sound server refused us: there is nothing to ask the user for
        // here, the sentence says where the permission lives.
        setErrorMessage(
            "A mikrofon-hozzáférés tiltva van. Engedélyezd: Rendszerbeállítások → Adatvédelem és biztonság → "
            "Mikrofon → Vendalum.");
        return;
    }

    std::unique_ptr<MicCapture> capture;
    try {
        capture = env_.makeMic(*device);
    } catch (const std::exception& error) {
        setErrorMessage(std::string(error.what()));
        return;
    }
    if (!capture) return;
    capture->setChannels(std::vector<int>(micChannels_.begin(), micChannels_.end()), stereoPairs());
    capture->setOnLevels([self = QPointer<AppState>(this)](std::vector<float> levels) {
        if (self) self->setMicLevels(std::move(levels));
    });
    mic_ = std::move(capture);
    logLine("Hangkártya fut, " + rateText(mic_->sampleRate()) + " Hz");
}

void AppState::applyChannels()
{
    if (mic_) mic_->setChannels(std::vector<int>(micChannels_.begin(), micChannels_.end()), stereoPairs());
}

std::string AppState::displayName(const platform::ScreenDisplay& display) const
{
    QScreen* screen = qtScreenOf(display);
    const std::string name = screen ? screen->name().toStdString() : std::string("Kijelző");
    return name + " – " + std::to_string(display.frame.width()) + "×" + std::to_string(display.frame.height());
}

std::string AppState::windowName(const platform::ScreenWindow& window)
{
    std::string name = window.application;
    if (!window.title.empty()) name += " – " + window.title;
    return name;
}

} // namespace ondexa
