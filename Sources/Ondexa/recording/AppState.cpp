// The controller's state, its persisted settings and its start-up.

#include "Ondexa/recording/AppState.h"

#include "Ondexa/model/JsonCoding.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/recording/AreaHighlight.h"
#include "Ondexa/recording/AreaSelector.h"
#include "Ondexa/recording/HotKey.h"
#include "Ondexa/recording/MicCapture.h"
#include "Platform/media/Player.h"

#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

namespace ondexa {

namespace {

// Keys of the store.
constexpr const char* kDisplayID = "displayID";
constexpr const char* kCaptureMode = "captureMode";
constexpr const char* kArea = "area";
constexpr const char* kCameraEnabled = "cameraEnabled";
constexpr const char* kFps = "fps";
constexpr const char* kCursorStyle = "cursorStyle";
constexpr const char* kCameraID = "cameraID";
constexpr const char* kSystemAudio = "systemAudio";
constexpr const char* kMicEnabled = "micEnabled";
constexpr const char* kMicUID = "micUID";
constexpr const char* kMicChannels = "micChannels";
constexpr const char* kStereoPairs = "stereoPairs";
// The portal's restore tokens, by source: {"monitor": "…", "window": "…"}.
constexpr const char* kScreenCastTokens = "screenCastTokens";

const char* sourceKey(platform::ScreenCastRequest::Source source)
{
    return source == platform::ScreenCastRequest::Source::window ? "window" : "monitor";
}

// X11 places and sizes in 16 bits: no display, and so no area chosen on one,
// reaches beyond this.
constexpr double kLargestCoordinate = 32767;
// The sound server's own limit on the channels of an input: the channel
// switches of the record window never go beyond it.
constexpr int kMostInputChannels = 32;

// The store's values come back as text from the INI file and typed from
// QSettings' own cache, so each reader takes both.

std::optional<QString> textOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString: return value.toString();
    case QMetaType::QByteArray: return QString::fromUtf8(value.toByteArray());
    // An INI value with commas and no quotes (a hand edit) comes back split.
    case QMetaType::QStringList: return value.toStringList().join(QLatin1Char(','));
    default: return std::nullopt;
    }
}

std::optional<bool> boolOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    const auto text = textOf(value);
    if (text == QLatin1String("true")) return true;
    if (text == QLatin1String("false")) return false;
    return std::nullopt;
}

std::optional<std::int64_t> integerOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong: return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong();
        if (u > qulonglong(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return std::int64_t(u);
    }
    default: break;
    }
    const auto text = textOf(value);
    if (!text) return std::nullopt;
    bool ok = false;
    const qlonglong n = text->trimmed().toLongLong(&ok, 10);
    if (!ok) return std::nullopt;
    return n;
}

std::optional<Json> jsonOf(const QVariant& value)
{
    const auto text = textOf(value);
    if (!text) return std::nullopt;
    try {
        return parseJson(text->toStdString());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QString jsonText(const Json& json) { return QString::fromStdString(json.dump()); }

// The per-device stereo choices; entries that are not Booleans count as absent.
std::map<std::string, bool> stereoPairsOf(const QVariant& value)
{
    std::map<std::string, bool> pairs;
    const auto json = jsonOf(value);
    if (!json || !json->is_object()) return pairs;
    for (const auto& [uid, entry] : json->items())
        if (entry.is_boolean()) pairs[uid] = entry.get<bool>();
    return pairs;
}

} // namespace

const char* AppState::rawValue(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::display: return "display";
    case CaptureMode::area: return "area";
    case CaptureMode::window: return "window";
    }
    return "display";
}

AppState& AppState::shared()
{
    // Kept until the process ends; never destroyed, like the hot key and
    // the device listener it owns.
    static AppState* instance =
        new AppState(std::make_unique<QSettings>(QStringLiteral("Vendalum"), QStringLiteral("Vendalum")),
                     Environment::system());
    return *instance;
}

AppState::AppState(std::unique_ptr<QSettings> settings, Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)), settings_(std::move(settings))
{
    readSettings();

    if (env_.makeHotKey) {
        QPointer<AppState> self(this);
        hotKey_ = env_.makeHotKey([self] {
            if (self) QTimer::singleShot(0, self, [self] { self->toggleRecording(); });
        });
        if (hotKey_) {
            hotKeyNotice_ = hotKey_->takenNotice();
            hotKey_->setOnChange([self] {
                if (self) emit self->hotKeyChanged();
            });
        }
    }
    if (env_.observeMicDevices) {
        QPointer<AppState> self(this);
        env_.observeMicDevices([self] {
            if (self) QTimer::singleShot(0, self, [self] { self->refreshMicDevices(); });
        });
    }
    QTimer::singleShot(0, this, [this] { runStartupTask(); });
}

AppState::~AppState()
{
    // The recorder first: it may still hold the audio-interface capture.
    recorder_.reset();
    clickMonitor_.reset();
    areaSelector_.reset();
    areaHighlight_.reset();
    mic_.reset();
    // The players are the process's, this controller is not.
    if (windowsHidden_) platform::Player::setAllHeld(false);
}

void AppState::readSettings()
{
    QSettings& store = settings();

    displayID_ = 0;
    if (const auto id = integerOf(store.value(kDisplayID)); id && *id >= 0 && *id <= 0xFFFFFFFFll)
        displayID_ = std::uint32_t(*id);

    const auto mode = textOf(store.value(kCaptureMode));
    captureMode_ = mode == QLatin1String("area")     ? CaptureMode::area
                   : mode == QLatin1String("window") ? CaptureMode::window
                                                     : CaptureMode::display;

    area_.reset();
    if (const auto json = jsonOf(store.value(kArea)); json && json->is_array() && json->size() == 4
        && std::all_of(json->begin(), json->end(), [](const Json& n) { return n.is_number(); })) {
        const auto coordinate = [&](int i) { return std::clamp((*json)[i].get<double>(), 0.0, kLargestCoordinate); };
        area_ = QRectF(coordinate(0), coordinate(1), coordinate(2), coordinate(3));
    }

    cameraEnabled_ = boolOf(store.value(kCameraEnabled)).value_or(false);
    fps_ = integerOf(store.value(kFps)) == 60 ? 60 : 30;

    cursorStyle_ = CursorStyle{};
    if (const auto json = jsonOf(store.value(kCursorStyle))) {
        try {
            cursorStyle_ = decodeJson<CursorStyle>(*json).withinControls();
        } catch (const std::exception&) {
            // Left in the store until the style is next set.
        }
    }

    cameraID_ = textOf(store.value(kCameraID)).value_or(QString()).toStdString();
    systemAudio_ = boolOf(store.value(kSystemAudio)).value_or(true);
    micEnabled_ = boolOf(store.value(kMicEnabled)).value_or(true);
    micUID_ = textOf(store.value(kMicUID)).value_or(QString()).toStdString();

    micChannels_ = {0};
    if (const auto json = jsonOf(store.value(kMicChannels)); json && json->is_array()
        && std::all_of(json->begin(), json->end(), [](const Json& n) {
               return n.is_number_integer() && n.get<std::int64_t>() >= std::numeric_limits<int>::min()
                      && n.get<std::int64_t>() <= std::numeric_limits<int>::max();
           })) {
        micChannels_.clear();
        for (const auto& n : *json)
            if (const int channel = n.get<int>(); channel >= 0 && channel < kMostInputChannels)
                micChannels_.insert(channel);
    }
}

void AppState::writeSetting(const char* key, const QVariant& value)
{
    settings().setValue(key, value);
    settings().sync();
}

namespace {
AppState::TestRunner& testRunner()
{
    static AppState::TestRunner runner;
    return runner;
}
} // namespace

void AppState::setTestRunner(TestRunner runner) { testRunner() = std::move(runner); }

void AppState::runStartupTask()
{
    // On the portal's path what it offers decides the modes and notes: it
    // is asked first (it answers at once, without the user).
    if (env_.queryScreenCast && !screenCastOffer_) {
        env_.queryScreenCast([self = QPointer<AppState>(this)](platform::ScreenCastOffer offer) {
            if (!self) return;
            if (!offer.available) logLine(offer.failure);
            self->screenCastOffer_ = std::move(offer);
            emit self->screenCastOfferChanged();
            self->runStartupTask();
        });
        return;
    }
    // The device list starts the capture of the audio interface; the tests
    // begin once that capture runs (or could not open).
    refreshSources([self = QPointer<AppState>(this)] {
        if (!self) return;
        self->sourcesKnown_ = true;
        emit self->sourcesKnownChanged();
        // Said once, in the record window: the shortcut in its footer won't work.
        if (!self->hotKeyNotice_.empty() && !self->errorMessage_)
            self->setErrorMessage(std::exchange(self->hotKeyNotice_, {}));
        self->whenMicSettled([self] {
            if (!self) return;
            self->updateAreaHighlight();
            if (const auto& runner = testRunner()) runner(*self);
        });
    });
}

// --- The screen-cast portal (a Wayland session) ---

std::string AppState::screenCastToken(platform::ScreenCastRequest::Source source) const
{
    const auto json = jsonOf(settings_->value(kScreenCastTokens));
    if (!json || !json->is_object()) return {};
    const auto it = json->find(sourceKey(source));
    return it != json->end() && it->is_string() ? it->get<std::string>() : std::string();
}

void AppState::keepScreenCastToken(platform::ScreenCastRequest::Source source, const std::string& token)
{
    auto json = jsonOf(settings().value(kScreenCastTokens)).value_or(Json::object());
    if (!json.is_object()) json = Json::object();
    if (token.empty()) json.erase(sourceKey(source));
    else json[sourceKey(source)] = token;
    writeSetting(kScreenCastTokens, jsonText(json));
}

bool AppState::needsPortalGrant() const
{
    return capturesThroughPortal() && !portalGranted_
           && screenCastToken(platform::ScreenCastRequest::Source::monitor).empty();
}

bool AppState::windowsRecordable() const
{
    return !capturesThroughPortal() || !screenCastOffer_ || screenCastOffer_->windows;
}

std::string AppState::hotKeyText() const
{
    if (hotKey_ && hotKey_->boundByDesktop() && !hotKey_->grantedTrigger().empty()) return hotKey_->grantedTrigger();
    return platform::describeKeyChord(HotKey::recordingKeyCode, HotKey::recordingModifiers);
}

void AppState::setTrayShown(bool shown)
{
    if (trayShown_ == shown) return;
    trayShown_ = shown;
    emit hotKeyChanged();  // the notes name the way to stop
}

bool AppState::stopWithinReach() const
{
    return trayShown_ || (hotKey_ && hotKey_->isGlobal());
}

std::vector<std::string> AppState::sessionNotes() const
{
    if (!capturesThroughPortal()) return {};
    std::vector<std::string> notes{access::portal::noClicks};
    if (screenCastOffer_ && screenCastOffer_->available && !screenCastOffer_->cursorMetadata)
        notes.push_back(access::portal::pointerEmbedded);
    if (hotKey_ && !hotKey_->isGlobal())
        notes.push_back(trayShown_ ? access::portal::hotKeyWhileFocused : access::portal::hotKeyWhileFocusedNoTray);
    if (hotKey_ && hotKey_->boundByDesktop())
        notes.push_back(access::portal::hotKeyGlobal(hotKey_->grantedTrigger()));
    return notes;
}

platform::ScreenCastRequest AppState::screenCastRequest(platform::ScreenCastRequest::Source source) const
{
    using Cursor = platform::ScreenCastRequest::Cursor;
    platform::ScreenCastRequest request;
    request.source = source;
    // Beside the pictures where offered: the pointer log and the redrawn
    // pointer need its positions. Else drawn in, so that it is seen at all.
    const auto& offer = screenCastOffer_;
    request.cursor = offer && offer->cursorMetadata                          ? Cursor::metadata
                     : !offer || offer->cursorEmbedded || !offer->cursorHidden ? Cursor::embedded
                                                                              : Cursor::hidden;
    request.restoreToken = screenCastToken(source);
    return request;
}

void AppState::requestScreenPermission(std::function<void()> done)
{
    if (!capturesThroughPortal()) {
        refreshSources(std::move(done));
        return;
    }
    using Source = platform::ScreenCastRequest::Source;
    const Source source = captureMode_ == CaptureMode::window && windowsRecordable() ? Source::window : Source::monitor;
    env_.openScreenCast(screenCastRequest(source), [self = QPointer<AppState>(this), source,
                                                    done = std::move(done)](platform::ScreenCastResult result) {
        if (!self) return;
        using Outcome = platform::ScreenCastResult::Outcome;
        if (result.outcome == Outcome::started) {
            // Only the grant is wanted now: the session closes with the result.
            self->portalGranted_ = true;
            if (!result.restoreToken.empty()) self->keepScreenCastToken(source, result.restoreToken);
            self->setNeedsScreenPermission(false);
        } else if (result.outcome == Outcome::refused) {
            self->setNeedsScreenPermission(true);
            self->setErrorMessage(access::portal::refused);
        } else {
            self->setErrorMessage(result.error);
        }
        if (done) done();
    });
}

// --- Published state without observers ---

void AppState::setPhase(Phase phase)
{
    phase_ = phase;
    emit phaseChanged();
}

void AppState::setNeedsScreenPermission(bool needs)
{
    needsScreenPermission_ = needs;
    emit needsScreenPermissionChanged();
}

void AppState::setScreenOnWayland(bool wayland)
{
    if (wayland == screenOnWayland_) return;
    screenOnWayland_ = wayland;
    emit screenOnWaylandChanged();
}

void AppState::setMicLevels(std::vector<float> levels)
{
    micLevels_ = std::move(levels);
    emit micLevelsChanged();
}

void AppState::setElapsed(double seconds)
{
    elapsed_ = seconds;
    emit elapsedChanged();
}

void AppState::setBlinkOn(bool on)
{
    blinkOn_ = on;
    emit blinkOnChanged();
}

void AppState::setWindowID(std::uint32_t id)
{
    windowID_ = id;
    emit windowIDChanged();
}

// --- Settings: each assignment runs its effects, even with an equal value ---

void AppState::setErrorMessage(std::optional<std::string> message)
{
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
    if (errorMessage_) logLine("HIBA: " + *errorMessage_);
}

void AppState::setDisplayID(std::uint32_t id)
{
    displayID_ = id;
    writeSetting(kDisplayID, qulonglong(id));
    emit displayIDChanged();
    updateAreaHighlight();
}

void AppState::setCaptureMode(CaptureMode mode)
{
    const CaptureMode old = captureMode_;
    captureMode_ = mode;
    writeSetting(kCaptureMode, QString::fromLatin1(rawValue(mode)));
    emit captureModeChanged();
    if (mode != old) areaHighlightDismissed_ = false;
    updateAreaHighlight();
}

void AppState::setArea(std::optional<QRectF> area)
{
    area_ = area;
    if (area) {
        try {
            writeSetting(kArea, jsonText(Json::array({encodeJson(area->x()), encodeJson(area->y()),
                                                      encodeJson(area->width()), encodeJson(area->height())})));
        } catch (const EncodingError&) {
            // Not a number: nothing the next start could read back.
        }
    } else {
        settings().remove(kArea);
        settings().sync();
    }
    emit areaChanged();
    updateAreaHighlight();
}

void AppState::setCameraEnabled(bool enabled)
{
    cameraEnabled_ = enabled;
    writeSetting(kCameraEnabled, enabled);
    emit cameraEnabledChanged();
    if (enabled) refreshCameras();
}

void AppState::setCameraID(std::string id)
{
    cameraID_ = std::move(id);
    writeSetting(kCameraID, QString::fromStdString(cameraID_));
    emit cameraIDChanged();
}

void AppState::setCursorStyle(CursorStyle style)
{
    cursorStyle_ = style;
    try {
        writeSetting(kCursorStyle, jsonText(encodeJson(style)));
    } catch (const EncodingError&) {
        // Nothing is written; the stored style stays.
    }
    emit cursorStyleChanged();
}

void AppState::setFps(int fps)
{
    fps_ = fps;
    writeSetting(kFps, fps);
    emit fpsChanged();
}

void AppState::setSystemAudio(bool enabled)
{
    systemAudio_ = enabled;
    writeSetting(kSystemAudio, enabled);
    emit systemAudioChanged();
}

void AppState::setMicEnabled(bool enabled)
{
    micEnabled_ = enabled;
    writeSetting(kMicEnabled, enabled);
    emit micEnabledChanged();
    restartMic();
}

void AppState::setMicUID(std::string uid)
{
    const bool changed = uid != micUID_;
    awayMicUID_.clear();
    micUID_ = std::move(uid);
    if (changed) writeSetting(kMicUID, QString::fromStdString(micUID_));
    emit micUIDChanged();
    if (changed) restartMic();
}

void AppState::setMicChannels(std::set<int> channels)
{
    micChannels_ = std::move(channels);
    writeSetting(kMicChannels, jsonText(Json(std::vector<int>(micChannels_.begin(), micChannels_.end()))));
    emit micChannelsChanged();
    applyChannels();
}

bool AppState::stereoPairs() const
{
    const auto pairs = stereoPairsOf(settings_->value(kStereoPairs));
    if (const auto it = pairs.find(micUID_); it != pairs.end()) return it->second;
    if (const auto device = currentMicDevice()) return device->channelNames.size() > 2;
    return false;
}

void AppState::setStereoPairs(bool pairs)
{
    auto stored = stereoPairsOf(settings().value(kStereoPairs));
    stored[micUID_] = pairs;
    Json json = Json::object();
    for (const auto& [uid, value] : stored) json[uid] = value;
    writeSetting(kStereoPairs, jsonText(json));
    // After the store: stereoPairs() reads it back from there.
    emit stereoPairsChanged();
    applyChannels();
}

} // namespace ondexa
