#include "Ondexa/recording/HotKey.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/model/Log.h"
#include "Platform/capture/PortalShortcut.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

namespace ondexa {

HotKey::HotKey(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> action)
    : keyCode_(keyCode), modifiers_(modifiers), handlerRef_(std::make_unique<QObject>()), action_(std::move(action))
{
    // Presses arrive on the hot key's own thread; the handler object lives on
    // this (the main) thread, so a queued call runs here, and is discarded
    // with the handler when this object goes. The handler outlives the hot
    // key's thread (see the destructor), so the thread may use it freely.
    QObject* handler = handlerRef_.get();
    try {
        hotKeyRef_ = std::make_unique<platform::GlobalHotKey>(keyCode, modifiers, [this, handler] {
            QMetaObject::invokeMethod(
                handler,
                platform::handedOver([this] {
                    if (action_) action_();
                }),
                Qt::QueuedConnection);
        });
    } catch (const platform::HotKeyError& error) {
        registrationError_ = error.what();
        taken_ = error.takenByAnotherProgram();
        logLine(registrationError_);
    }
}

namespace {

// Catches the chord in every window of the application before the window
// itself sees it.
class FocusedChord : public QObject {
public:
    FocusedChord(int key, Qt::KeyboardModifiers modifiers, std::function<void()>* action)
        : key_(key), modifiers_(modifiers), action_(action)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return QObject::eventFilter(watched, event);
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers relevant = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (key->key() != key_ || (key->modifiers() & relevant) != modifiers_) return false;
        // A held chord fires once; the override only claims the key.
        if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
            QTimer::singleShot(0, this, [this] {
                if (*action_) (*action_)();
            });
        event->accept();
        return true;
    }

private:
    int key_;
    Qt::KeyboardModifiers modifiers_;
    std::function<void()>* action_;  // the hot key's, which outlives this filter
};

} // namespace

std::unique_ptr<HotKey> HotKey::whileFocused(std::uint32_t keyCode, std::uint32_t modifiers,
                                             std::function<void()> action)
{
    std::unique_ptr<HotKey> hotKey(new HotKey);
    hotKey->keyCode_ = keyCode;
    hotKey->modifiers_ = modifiers;
    hotKey->focusOnly_ = true;
    hotKey->action_ = std::move(action);
    // Key symbols of Latin letters are their lower-case codes; Qt names the key by the upper-case one.
    const int key = keyCode >= 'a' && keyCode <= 'z' ? int(keyCode - 'a' + Qt::Key_A) : int(keyCode);
    Qt::KeyboardModifiers qtModifiers;
    if (modifiers & platform::KeyModifier::shift) qtModifiers |= Qt::ShiftModifier;
    if (modifiers & platform::KeyModifier::control) qtModifiers |= Qt::ControlModifier;
    if (modifiers & platform::KeyModifier::alt) qtModifiers |= Qt::AltModifier;
    if (modifiers & platform::KeyModifier::super) qtModifiers |= Qt::MetaModifier;
    hotKey->handlerRef_ = std::make_unique<FocusedChord>(key, qtModifiers, &hotKey->action_);
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(hotKey->handlerRef_.get());
    return hotKey;
}

namespace {

// The portal's notation of a chord, e.g. "CTRL+ALT+a".
std::string portalTrigger(std::uint32_t keyCode, std::uint32_t modifiers)
{
    std::string trigger;
    if (modifiers & platform::KeyModifier::control) trigger += "CTRL+";
    if (modifiers & platform::KeyModifier::alt) trigger += "ALT+";
    if (modifiers & platform::KeyModifier::shift) trigger += "SHIFT+";
    if (modifiers & platform::KeyModifier::super) trigger += "LOGO+";
    return trigger + char(keyCode);
}

} // namespace

std::unique_ptr<HotKey> HotKey::throughPortal(QDBusConnection bus, std::uint32_t keyCode, std::uint32_t modifiers,
                                              std::function<void()> action, std::chrono::milliseconds deadline)
{
    std::unique_ptr<HotKey> hotKey = whileFocused(keyCode, modifiers, std::move(action));
    HotKey* self = hotKey.get();
    platform::WantedShortcut wanted;
    wanted.id = "recording";
    wanted.description = "Felvétel indítása és leállítása";
    wanted.preferredTrigger = portalTrigger(keyCode, modifiers);
    // Both callbacks stop with the binding, which this object owns.
    hotKey->portalRef_ = std::make_shared<platform::PortalShortcut>(
        std::move(bus), std::move(wanted),
        [self](platform::PortalShortcutBinding binding) {
            if (binding.outcome != platform::PortalShortcutBinding::Outcome::bound) {
                logLine(binding.outcome == platform::PortalShortcutBinding::Outcome::refused
                            ? std::string("Az asztal nem engedélyezte a globális billentyűparancsot; a "
                                          "gyorsbillentyű csak a Vendalum ablakaiban működik.")
                            : binding.error + " A gyorsbillentyű csak a Vendalum ablakaiban működik.");
                return;
            }
            // The desktop passes the chord now, also while our windows have the focus.
            self->handlerRef_.reset();
            self->focusOnly_ = false;
            self->boundByDesktop_ = true;
            self->grantedTrigger_ = std::move(binding.trigger);
            if (self->changed_) self->changed_();
        },
        [self] {
            if (self->action_) self->action_();
        },
        deadline);
    return hotKey;
}

std::unique_ptr<HotKey> HotKey::failed(std::uint32_t keyCode, std::uint32_t modifiers, std::string sentence,
                                       bool taken)
{
    std::unique_ptr<HotKey> hotKey(new HotKey);
    hotKey->keyCode_ = keyCode;
    hotKey->modifiers_ = modifiers;
    hotKey->registrationError_ = std::move(sentence);
    hotKey->taken_ = taken;
    return hotKey;
}

std::string HotKey::takenNotice() const
{
    if (!taken_) return {};
    return "A " + platform::describeKeyChord(keyCode_, modifiers_) + " billentyűparancsot egy másik program használja.";
}

HotKey::~HotKey()
{
    // Stop the presses first, then drop what is queued for the main thread.
    hotKeyRef_.reset();
    handlerRef_.reset();
}

} // namespace ondexa
