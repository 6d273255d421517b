// The road of one recording: the checks, the start, the clock and the stop.

#include "Ondexa/recording/AppState.h"

#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/model/RecordingInfo.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/recording/AreaHighlight.h"
#include "Ondexa/recording/MicCapture.h"
#include "Platform/media/Player.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace ondexa {

namespace {

// The recording clock refreshes `elapsed` and blinks this often.
constexpr int kClockIntervalMs = 500;
// Smaller areas are a slip of the hand in the selector.
constexpr double kMinimumAreaSide = 16;

void finished(const std::function<void()>& done)
{
    if (done) done();
}

// A start that fails with a sentence of its own, not a technical reason.
class StartRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A camera we may not open or another program holds says so in its own
// words; its technical detail goes to the log.
std::unique_ptr<CameraCapture> openCamera(const AppState::Environment& env, const CameraCapture::Device& device)
{
    try {
        return env.makeCamera(device);
    } catch (const platform::CameraError& error) {
        using Kind = platform::CameraError::Kind;
        if (error.kind() != Kind::busy && error.kind() != Kind::permissionDenied) throw;
        logLine(error.what());
        throw StartRefused(error.kind() == Kind::busy ? access::cameraBusy() : access::cameraDenied());
    }
}

} // namespace

void AppState::toggleRecording()
{
    if (phase_ == Phase::idle && !checkingStart_)
        QTimer::singleShot(0, this, [this] { startRecording(); });
    else if (phase_ == Phase::recording)
        QTimer::singleShot(0, this, [this] { stopRecording(true); });
}

// What the sound server said before a start: whether it accepts us, and
// its inputs as they are now.
struct AppState::SoundCheck {
    platform::SoundAccess access;
    std::optional<std::vector<AudioInputDevice>> devices;  // absent when the list could not be read
    std::string listFailure;
};

void AppState::startRecording(std::function<void()> done)
{
    // While the sound server is asked, the phase is still idle: a second
    // start must not begin a second road.
    if (phase_ != Phase::idle || checkingStart_) return finished(done);
    setErrorMessage(std::nullopt);

    const platform::ScreenAccess access = env_.screenAccess();
    // XWayland shows only the windows of X11 programs: the rest of the
    // picture would be black under "Felvétel mentve".
    if (access.refusal == platform::ScreenAccess::Refusal::waylandOnly) {
        if (!access.reason.empty()) logLine(access.reason);
        setScreenOnWayland(true);
        setErrorMessage(access::screenRefused(access));
        return finished(done);
    }
    if (!access.granted) {
        if (!access.reason.empty()) logLine(access.reason);
        setNeedsScreenPermission(true);
        setErrorMessage(access::screenRefused(access));
        return finished(done);
    }

    if (!micEnabled_) return checkCamera(std::move(done));

    checkingStart_ = true;
    askSoundServer([soundAccess = env_.soundAccess, list = env_.micDevices, done = std::move(done)]() -> MainThreadStep {
        SoundCheck check;
        check.access = soundAccess();
        if (check.access.granted) {
            try {
                check.devices = list();
            } catch (const std::exception& error) {
                check.listFailure = error.what();
            }
        }
        return [check = std::move(check), done](AppState& state) { state.soundChecked(check, done); };
    });
}

void AppState::soundChecked(SoundCheck check, std::function<void()> done)
{
    const auto stop = [this, &done](const std::string& message) {
        checkingStart_ = false;
        setErrorMessage(message);
        finished(done);
    };
    // Switched off while the server was asked: the recording goes without it.
    if (!micEnabled_) {
        checkingStart_ = false;
        return checkCamera(std::move(done));
    }
    if (!check.access.granted) {
        if (!check.access.reason.empty()) logLine(check.access.reason);
        return stop(access::soundRefusedAtStart(check.access));
    }
    if (!check.listFailure.empty()) logLine("A hangbemenetek listája nem olvasható: " + check.listFailure);
    // The list as the server has it now: a device gone since the last
    // change report must not pass for present.
    if (check.devices && *check.devices != micDevices_) {
        micDevices_ = std::move(*check.devices);
        emit micDevicesChanged();
    }

    // A capture of a vanished or changed device would record silence under
    // its name: it is opened afresh for micUID first.
    auto goOn = [self = QPointer<AppState>(this), done = std::move(done)]() mutable {
        if (!self) return;
        self->checkingStart_ = false;
        if (!self->mic_) {
            self->setErrorMessage("A hangkártya nem érhető el. Kapcsold ki, vagy válassz másik eszközt.");
            return finished(done);
        }
        if (self->micChannels_.empty()) {
            self->setErrorMessage("Jelölj be legalább egy bemenetet a hangkártyán.");
            return finished(done);
        }
        self->checkCamera(std::move(done));
    };
    if (micIsStale()) restartMic(std::move(goOn));
    else goOn();
}

void AppState::checkCamera(std::function<void()> done)
{
    if (cameraEnabled_) {
        // A camera that is not there is reported when the target is resolved.
        for (const auto& device : env_.cameraDevices()) {
            if (device.answersTo(cameraID_) && env_.cameraAccessDenied(device)) {
                setErrorMessage(access::cameraDenied());
                return finished(done);
            }
        }
    }
    launch(std::move(done));
}

void AppState::launch(std::function<void()> done)
{
    setPhase(Phase::starting);
    if (captureMode_ == CaptureMode::area) {
        areaHighlightDismissed_ = false;
        updateAreaHighlight();
    }

    CaptureTarget target;
    try {
        const platform::ScreenContent content = env_.fetchContent();

        const auto displayIt = std::find_if(content.displays.begin(), content.displays.end(),
                                            [&](const auto& d) { return d.id == displayID_; });
        if (content.displays.empty()) throw OndexaError("Nem található kijelző.");
        const platform::ScreenDisplay& display =
            displayIt != content.displays.end() ? *displayIt : content.displays.front();

        switch (captureMode_) {
        case CaptureMode::display: target = CaptureTarget::ofDisplay(display); break;
        case CaptureMode::area: {
            const auto tooSmall = [](const QRectF& r) {
                return !(r.width() >= kMinimumAreaSide) || !(r.height() >= kMinimumAreaSide);
            };
            if (!area_ || tooSmall(*area_)) throw OndexaError("Jelölj ki egy területet a felvételhez.");
            // An area dragged on a wider display keeps to the display chosen
            // now: beyond its edge lies a neighbouring monitor.
            const QRectF onDisplay = area_->intersected(QRectF(QPointF(0, 0), QSizeF(display.frame.size())));
            if (tooSmall(onDisplay)) throw OndexaError("Jelölj ki egy területet a felvételhez.");
            target = CaptureTarget::ofArea(display, onDisplay);
            break;
        }
        case CaptureMode::window: {
            // The portal's window is picked in its dialog.
            if (capturesThroughPortal()) {
                if (!windowsRecordable()) throw StartRefused(access::portal::noWindows);
                target.kind = CaptureTarget::Kind::window;
                break;
            }
            const auto it = std::find_if(content.windows.begin(), content.windows.end(),
                                         [&](const auto& w) { return w.id == windowID_ && w.onScreen; });
            if (it == content.windows.end()) throw OndexaError("A kiválasztott ablak már nem található.");
            target = CaptureTarget::ofWindow(*it);
            break;
        }
        }
    } catch (const StartRefused& refusal) {
        return failStart(refusal.what(), std::move(done), true);
    } catch (const std::exception& error) {
        return failStart(error.what(), std::move(done));
    }

    if (!capturesThroughPortal()) return launchWith(std::move(target), std::move(done));
    // The portal's dialog (or an earlier grant) decides; the phase stays
    // "starting" meanwhile, and a quit may give the wait up.
    using Source = platform::ScreenCastRequest::Source;
    const std::uint64_t wait = portalWait_ = ++portalStarts_;
    portalWaitDone_ = std::move(done);
    env_.openScreenCast(
        screenCastRequest(target.kind == CaptureTarget::Kind::window ? Source::window : Source::monitor),
        [self = QPointer<AppState>(this), target, wait](platform::ScreenCastResult result) mutable {
            // A start given up meanwhile: its cast (the session) goes with the result.
            if (!self || self->portalWait_ != wait) return;
            self->portalWait_ = 0;
            self->screenCastOpened(std::move(target), std::move(result), std::exchange(self->portalWaitDone_, {}));
        });
}

bool AppState::cancelStart()
{
    if (phase_ != Phase::starting || portalWait_ == 0) return false;
    portalWait_ = 0;
    logLine("A felvétel indítása megszakadt, mielőtt a képernyőmegosztó szolgáltatás válaszolt.");
    setPhase(Phase::idle);
    updateAreaHighlight();  // kept away while starting
    finished(std::exchange(portalWaitDone_, {}));
    return true;
}

void AppState::screenCastOpened(CaptureTarget target, platform::ScreenCastResult result, std::function<void()> done)
{
    using Outcome = platform::ScreenCastResult::Outcome;
    using Source = platform::ScreenCastRequest::Source;
    const Source source = target.kind == CaptureTarget::Kind::window ? Source::window : Source::monitor;
    if (result.outcome == Outcome::refused) {
        // A stored grant the user has just overruled is of no more use.
        portalGranted_ = false;
        keepScreenCastToken(source, {});
        return failStart(access::portal::refused, std::move(done), true);
    }
    if (result.outcome != Outcome::started || result.streams.empty())
        return failStart(result.error.empty() ? "a képernyőmegosztás nem indult el." : result.error, std::move(done));
    portalGranted_ = true;
    setNeedsScreenPermission(false);
    if (!result.restoreToken.empty()) keepScreenCastToken(source, result.restoreToken);
    // The desktop's own control may end the cast during the recording.
    castWatch_ = std::make_unique<QObject>();
    if (result.session)
        result.session->watchClosed(castWatch_.get(), [self = QPointer<AppState>(this)] {
            if (self) self->captureStopped({}, true);
        });

    const platform::ScreenCastStream& stream = result.streams.front();
    CaptureTarget::PortalStream portal;
    portal.session = result.session;
    portal.nodeId = stream.nodeId;
    portal.pointerMetadata = result.cursor == platform::ScreenCastRequest::Cursor::metadata;
    if (target.kind == CaptureTarget::Kind::window) {
        portal.frame = QRectF(QPointF(0, 0), QSizeF(stream.size.value_or(QSize(1280, 720))));
    } else {
        // The monitor the portal gave (the user may have picked another in
        // its dialog than the one chosen here): an area is cut from it.
        // Its size is in the stream's pixels, which a scaled output has
        // more of than logical ones: the area and the pointer are logical.
        const QPoint position = stream.position.value_or(target.display.frame.topLeft());
        if (position != target.display.frame.topLeft())
            logLine("A képernyőmegosztás másik kijelzőt adott, mint a kiválasztott; a felvétel azt rögzíti.");
        const auto given = std::find_if(displays_.begin(), displays_.end(),
                                        [&](const auto& d) { return d.frame.topLeft() == position; });
        const platform::ScreenDisplay* display = position == target.display.frame.topLeft() ? &target.display
                                                 : given != displays_.end()                 ? &*given
                                                                                            : nullptr;
        if (display) {
            portal.frame = QRectF(QPointF(position), QSizeF(display->frame.size()));
            portal.scale = display->scale;
            if (stream.size && display->frame.width() > 0)
                portal.scale = std::max(portal.scale, double(stream.size->width()) / display->frame.width());
        } else {
            // A monitor not listed here: as the portal gives it, at the chosen one's scale.
            portal.scale = target.display.scale > 0 ? target.display.scale : 1;
            portal.frame = QRectF(QPointF(position),
                                  QSizeF(stream.size.value_or(target.display.frame.size())) / portal.scale);
        }
        if (target.kind == CaptureTarget::Kind::area) {
            target.area = target.area.intersected(QRectF(QPointF(0, 0), portal.frame.size()));
            if (!(target.area.width() >= kMinimumAreaSide) || !(target.area.height() >= kMinimumAreaSide))
                return failStart("Jelölj ki egy területet a felvételhez.", std::move(done), true);
        }
    }
    target.portal = std::move(portal);
    launchWith(std::move(target), std::move(done));
}

void AppState::launchWith(CaptureTarget target, std::function<void()> done)
{
    std::unique_ptr<RecorderHandle> recorder;
    try {
        std::unique_ptr<CameraCapture> camera;
        if (cameraEnabled_) {
            const auto devices = env_.cameraDevices();
            const auto it = std::find_if(devices.begin(), devices.end(),
                                         [&](const auto& d) { return d.answersTo(cameraID_); });
            if (it == devices.end()) throw OndexaError("A kiválasztott kamera nem található.");
            camera = openCamera(env_, *it);
        }

        Environment::RecorderRequest request;
        request.url = env_.newRecordingURL();
        request.target = std::move(target);
        request.systemAudio = systemAudio_;
        request.mic = micEnabled_ ? mic_.get() : nullptr;
        request.camera = std::move(camera);
        request.fps = fps_;
        recorder = env_.makeRecorder(std::move(request));
        if (!recorder) throw OndexaError("A videó kódoló nem indítható.");

        // The pointer goes into the picture only when it is not redrawn later.
        recorder->setShowsCursor(!cursorStyle_.enabled);
        recorder->setOnStreamError([self = QPointer<AppState>(this)](const std::string& description, bool byUser) {
            if (self) self->captureStopped(description, byUser);
        });
        recorder->setOnPointer([self = QPointer<AppState>(this)](double time, QPointF point) {
            if (self && self->phase_ != Phase::idle) self->addPointerSample(time, point);
        });
    } catch (const StartRefused& refusal) {
        return failStart(refusal.what(), std::move(done), true);
    } catch (const std::exception& error) {
        return failStart(error.what(), std::move(done));
    }

    // X11 can't leave our windows out of the picture: they go before the
    // first frame. The pointer is logged once now, so that a pointer that
    // never moves still has its place at the first frame.
    // A Wayland client does not know where its windows lie on the desktop:
    // none may stay (an empty rectangle keeps none).
    hideWindows(capturesThroughPortal() ? QRectF() : recorder->capturedFrame());
    clickLog_.clear();
    cursorLog_.clear();
    samplePointer();

    recorder_ = std::move(recorder);
    recorder_->start([self = QPointer<AppState>(this), done = std::move(done)](std::optional<std::string> error) mutable {
        if (!self) return;
        if (error) self->failStart(*error, std::move(done));
        else self->recorderStarted(std::move(done));
    });
}

void AppState::failStart(const std::string& description, std::function<void()> done, bool wholeMessage)
{
    recorder_.reset();
    castWatch_.reset();
    setPhase(Phase::idle);
    if (capturesThroughPortal()) updateAreaHighlight();  // kept away while starting
    setNeedsScreenPermission(capturesThroughPortal() ? needsPortalGrant() : !env_.screenAccess().granted);
    setErrorMessage(wholeMessage ? description : "Nem sikerült elindítani a felvételt: " + description);
    showWindows();
    openHeldFiles();
    finished(done);
}

void AppState::recorderStarted(std::function<void()> done)
{
    RecordingInfo info;
    info.audioTracks = recorder_->audioTrackNames();
    info.save(recorder_->url());

    // The screen could be read: a notice still asking for it is out of date.
    if (needsScreenPermission_) setNeedsScreenPermission(false);
    startClickMonitor();
    stoppedByUser_ = false;
    startDate_ = QDateTime::currentDateTime();
    startClock_.start();
    setElapsed(0);
    setPhase(Phase::recording);
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(kClockIntervalMs);
        connect(timer_, &QTimer::timeout, this, &AppState::clockTick);
    }
    timer_->start();
    finished(done);
}

void AppState::clockTick()
{
    if (!startDate_) return;
    setElapsed(double(startClock_.nsecsElapsed()) / 1e9);
    setBlinkOn(!blinkOn_);
}

void AppState::stopRecording(bool openEditorAfter, std::function<void()> done)
{
    if (phase_ != Phase::recording || !recorder_) return finished(done);

    setPhase(Phase::finishing);
    stopNotice_.clear();
    if (timer_) timer_->stop();
    stopClickMonitor();
    areaHighlightDismissed_ = true;
    updateAreaHighlight();

    recorder_->stop([self = QPointer<AppState>(this), openEditorAfter,
                     done = std::move(done)](const Recorder::StopResult& result) {
        if (!self) return;
        // Dropped when this ends, not before: the handle answers the questions below.
        const std::unique_ptr<RecorderHandle> recorder = std::move(self->recorder_);
        self->castWatch_.reset();
        if (result.movieStart && result.error.empty()) {
            self->saveClicks(*recorder, result.movieStart->seconds());
            const std::filesystem::path url = recorder->url();
            logLine("Felvétel mentve: " + url.string() + " · " + std::to_string(recorder->fps()) + " kép/mp · "
                    + std::to_string(recorder->writtenFrames()) + " képkocka, "
                    + std::to_string(recorder->droppedFrames()) + " eldobva");
            // The movie is kept, but the user hears of the sound it lacks.
            if (!result.notice.empty()) {
                self->stopNotice_ = result.notice;
                self->setErrorMessage(result.notice);
            }
            if (openEditorAfter) {
                self->showWindows();
                // The finished recording last, so that its editor is in front.
                self->openHeldFiles();
                if (self->openEditor_) self->openEditor_(url);
            } else {
                // The windows stay away (a quit, the self-test), but our
                // players need not keep quiet any longer.
                self->releasePlayers();
            }
            self->setPhase(Phase::idle);
        } else {
            self->setErrorMessage("A felvétel lezárása hibával járt: "
                                  + (result.error.empty() ? std::string("ismeretlen hiba.") : result.error));
            self->setPhase(Phase::idle);
            // Our windows come back so that the message can be seen; no
            // editor opens for the recording.
            self->showWindows();
            self->openHeldFiles();
        }
        // An input that ended or changed device during the recording comes
        // back for the meters now that restarts are allowed again.
        if (self->micEnabled_ && self->micIsStale()) self->refreshMicDevices();
        finished(done);
    });
}

void AppState::captureStopped(const std::string& description, bool byUser)
{
    // The desktop's control ends the cast and its stream, in either order:
    // heard while a fault's stop is under way, it still silences the fault.
    if (byUser && (phase_ == Phase::recording || phase_ == Phase::finishing)) stoppedByUser_ = true;
    if (phase_ != Phase::recording) return;
    QTimer::singleShot(0, this, [this, description] {
        stopRecording(true, [self = QPointer<AppState>(this), description] {
            if (!self || self->stoppedByUser_) return;
            // What the stop kept (a movie cut short by a full disk) is said after why it stopped.
            std::string message = "A felvétel leállt: " + description;
            if (!self->stopNotice_.empty()) {
                if (!message.empty() && message.back() != '.') message += '.';
                message += " " + self->stopNotice_;
            }
            self->setErrorMessage(message);
        });
    });
}

// --- Hiding our windows for a recording ---

bool AppState::keepsWindowShown(const QRectF& frame, const QRectF& captured)
{
    // Without a known picture nothing is safe to leave.
    if (captured.isEmpty() || frame.isEmpty()) return false;
    return !frame.intersects(captured);
}

QRectF AppState::rootFrame(const QWindow& window)
{
    const QRect frame = window.frameGeometry();
    const double scale = window.devicePixelRatio();
    return QRectF(frame.x() * scale, frame.y() * scale, frame.width() * scale, frame.height() * scale);
}

void AppState::holdPicture(bool held)
{
    if (recorder_) recorder_->holdPicture(held);
}

void AppState::hideWindows(const QRectF& captured)
{
    windowsHidden_ = true;
    // Nothing of ours may sound in the system sound, shown or not.
    platform::Player::setAllHeld(true);
    if (env_.hideWindows) return env_.hideWindows(captured);
    hiddenWindows_.clear();
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || AreaHighlight::isHighlightWindow(window)) continue;
        if (keepsWindowShown(rootFrame(*window), captured)) continue;
        hiddenWindows_.emplace_back(window);
        window->hide();
    }
}

void AppState::releasePlayers()
{
    if (windowsHidden_) platform::Player::setAllHeld(false);
}

void AppState::showWindows()
{
    if (!windowsHidden_) return;
    releasePlayers();
    windowsHidden_ = false;
    if (env_.showWindows) return env_.showWindows();
    const auto windows = std::move(hiddenWindows_);
    hiddenWindows_.clear();
    for (const auto& window : windows)
        if (window) window->show();
    for (const auto& window : windows) {
        if (window) {
            window->requestActivate();
            break;
        }
    }
}

} // namespace ondexa
