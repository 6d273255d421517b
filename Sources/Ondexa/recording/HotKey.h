#pragma once

#include "Platform/capture/PortalRequest.h"
#include "Platform/input/GlobalHotKey.h"

#include <QDBusConnection>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QObject;

namespace ondexa {

// One system-wide keyboard shortcut that calls `action` on the main thread
// whenever it is pressed, whichever program has the keyboard focus. Create
// and destroy it on the main thread (a running Qt event loop delivers the
// calls). Holding the keys calls `action` once.
class HotKey {
public:
    // The recording shortcut: Ctrl+Alt+A (a global Ctrl+A would take
    // select-all from every program on the desktop).
    static constexpr std::uint32_t recordingKeyCode = platform::KeySymbol::a;
    static constexpr std::uint32_t recordingModifiers = platform::KeyModifier::control | platform::KeyModifier::alt;

    // `keyCode`: the key's symbol (platform::KeySymbol); `modifiers`: a mask of
    // platform::KeyModifier. Registers at once and never fails: a shortcut
    // that can't be registered (no X display, another program holds it)
    // never fires, and registrationError() and the log say why.
    HotKey(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> action);
    // Unregisters; `action` is not called afterwards, not even for a press
    // already on its way to the main thread.
    ~HotKey();

    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    // Where no program may take keys from the whole desktop (a Wayland
    // session without the portal's global shortcuts): the chord works only
    // while a window of this program has the keyboard focus. Needs a
    // QGuiApplication (without one it never fires).
    static std::unique_ptr<HotKey> whileFocused(std::uint32_t keyCode, std::uint32_t modifiers,
                                                std::function<void()> action);
    // A Wayland session's shortcut through the desktop portal's global
    // shortcuts on `bus`: works like whileFocused() until the desktop binds
    // it, then whichever program has the focus; stays focus-only when the
    // desktop refuses it, lacks the interface or leaves a request unanswered
    // for `deadline`.
    static std::unique_ptr<HotKey> throughPortal(
        QDBusConnection bus, std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> action,
        std::chrono::milliseconds deadline = platform::portal::defaultDeadline);
    // Whether the chord reaches us whichever program has the focus (one
    // another program holds reaches us nowhere).
    bool isGlobal() const { return !focusOnly_ && (hotKeyRef_ || boundByDesktop_); }
    // Whether the desktop portal took it (throughPortal() only).
    bool boundByDesktop() const { return boundByDesktop_; }
    // The desktop's words for the keys it bound; empty where it gave none.
    const std::string& grantedTrigger() const { return grantedTrigger_; }
    // Called on the main thread when isGlobal() or grantedTrigger() changes.
    void setOnChange(std::function<void()> changed) { changed_ = std::move(changed); }

    // A hot key whose registration failed with `sentence`, as the constructor
    // leaves one: for the controller's tests.
    static std::unique_ptr<HotKey> failed(std::uint32_t keyCode, std::uint32_t modifiers, std::string sentence,
                                          bool taken);

    bool isRegistered() const { return hotKeyRef_ != nullptr; }
    // The sentence that says why registration failed; empty when registered.
    const std::string& registrationError() const { return registrationError_; }
    // What to tell the user when another program holds the chord; empty otherwise.
    std::string takenNotice() const;

private:
    HotKey() = default;

    std::uint32_t keyCode_ = 0;
    std::uint32_t modifiers_ = 0;
    bool taken_ = false;
    bool focusOnly_ = false;
    bool boundByDesktop_ = false;
    std::unique_ptr<platform::GlobalHotKey> hotKeyRef_;   // absent when registration failed
    std::unique_ptr<QObject> handlerRef_;                 // main thread: presses are queued to it (or, focus
                                                          // only, the application's key filter)
    std::function<void()> action_;                        // called on the main thread only
    std::string registrationError_;
    std::string grantedTrigger_;
    std::function<void()> changed_;
    std::shared_ptr<void> portalRef_;                     // the desktop's binding, closed with this
};

} // namespace ondexa
