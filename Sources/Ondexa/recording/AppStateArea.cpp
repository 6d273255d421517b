// The area: choosing it, keeping it marked on screen; the recordings folder;
// the hand-over of files to the editor.

#include "Ondexa/recording/AppState.h"

#include "Ondexa/model/Paths.h"
#include "Ondexa/recording/AreaHighlight.h"
#include "Ondexa/recording/AreaSelector.h"

#include <system_error>

namespace ondexa {

std::optional<platform::ScreenDisplay> AppState::screen(std::uint32_t displayID) const
{
    for (const auto& display : displays_)
        if (display.id == displayID) return display;
    return std::nullopt;
}

void AppState::removeAreaHighlight()
{
    if (!areaHighlight_) return;
    areaHighlight_->orderOut();
    areaHighlight_.reset();
}

void AppState::updateAreaHighlight()
{
    removeAreaHighlight();
    if (captureMode_ != CaptureMode::area || areaSelector_ || areaHighlightDismissed_ || !area_) return;
    // On Wayland the highlight would be one window over the whole display,
    // and a compositor may show nothing beneath a full-screen window (sway
    // does so): it would cover the desktop, and be all a recording saw. The
    // record window names the area instead.
    if (capturesThroughPortal()) return;
    const auto display = screen(displayID_);
    if (!display) return;
    areaHighlight_ = std::make_unique<AreaHighlight>(*display, *area_);
}

void AppState::selectArea()
{
    const auto display = screen(displayID_);
    if (!display) return;
    removeAreaHighlight();
    areaSelector_.reset();  // a selector still open closes without answering
    areaSelector_ = std::make_unique<AreaSelector>(*display, [self = QPointer<AppState>(this)](std::optional<QRectF> rect) {
        if (self) self->areaSelectorFinished(rect);
    });
}

void AppState::areaSelectorFinished(std::optional<QRectF> rect)
{
    areaSelector_.reset();
    areaHighlightDismissed_ = false;
    if (rect) {
        setArea(*rect);
        setCaptureMode(CaptureMode::area);
    }
    updateAreaHighlight();
}

void AppState::revealRecordingsFolder()
{
    const std::filesystem::path folder = Paths::recordingsFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    if (!env_.openFolder) return;
    env_.openFolder(folder, [self = QPointer<AppState>(this), folder] {
        if (self)
            self->setErrorMessage("A felvételek mappája nem nyitható meg: nincs fájlkezelő, amely megmutatná. A mappa: " +
                                  folder.string());
    });
}

void AppState::setOpenEditor(Opener opener)
{
    openEditor_ = std::move(opener);
    // A window opened during a recording would be recorded: the queue waits for the stop.
    if (phase_ != Phase::idle) return;
    openHeldFiles();
}

void AppState::openHeldFiles()
{
    auto queue = std::move(pendingOpen_);
    pendingOpen_.clear();
    for (auto& file : queue) {
        if (openEditor_) openEditor_(file);
        else pendingOpen_.push_back(std::move(file));
    }
    emit pendingOpenChanged();
}

void AppState::open(const std::filesystem::path& file)
{
    if (openEditor_ && phase_ == Phase::idle) return openEditor_(file);
    pendingOpen_.push_back(file);
    emit pendingOpenChanged();
}

namespace {
AppState::Chooser& recordingChooser()
{
    static AppState::Chooser chooser;  // main thread
    return chooser;
}
} // namespace

void AppState::setRecordingChooser(Chooser chooser) { recordingChooser() = std::move(chooser); }

void AppState::chooseRecording(Choice done)
{
    if (recordingChooser()) recordingChooser()(std::move(done));
    else done(std::nullopt);
}

} // namespace ondexa
