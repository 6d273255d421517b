#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// Modifier keys of a key chord.
namespace KeyModifier {
inline constexpr std::uint32_t shift = 1u << 0;
inline constexpr std::uint32_t control = 1u << 2;
inline constexpr std::uint32_t alt = 1u << 3;
inline constexpr std::uint32_t super = 1u << 6;
inline constexpr std::uint32_t all = shift | control | alt | super;
} // namespace KeyModifier

// Key symbols as the X keyboard mapping names them; for Latin letters and
// digits that is the lower-case ASCII code ('a' is 0x61).
namespace KeySymbol {
inline constexpr std::uint32_t a = 0x61;
} // namespace KeySymbol

// Why a hot key could not be set up. what() is one Hungarian sentence.
class HotKeyError : public std::runtime_error {
public:
    explicit HotKeyError(const std::string& sentence, bool taken = false)
        : std::runtime_error(sentence), taken_(taken) {}
    // Another program holds the chord: worth telling the user, not only the log.
    bool takenByAnotherProgram() const { return taken_; }

private:
    bool taken_ = false;
};

// "Ctrl+Alt+A": the chord as the desktop's own menus write it.
std::string describeKeyChord(std::uint32_t keySymbol, std::uint32_t modifiers);

// One key chord grabbed on the root window of the X display, so it reaches us
// whichever program has the keyboard focus. It fires with Caps Lock and Num
// Lock on as well, and once per press: auto-repeat while the keys are held is
// ignored.
//
// Threads: the hot key has its own X connection and its own thread, on which
// `onPressed` runs; hand the work over to the thread that owns it. The
// destructor releases the grab and joins the thread; after it returns
// `onPressed` is never called again.
class GlobalHotKey {
public:
    // Grabs the chord at once. Throws HotKeyError when the display can't be
    // reached, when no key of the keyboard carries `keySymbol`, or when another
    // program already holds the chord. `display` is an X display name; empty
    // means $DISPLAY.
    GlobalHotKey(std::uint32_t keySymbol, std::uint32_t modifiers, std::function<void()> onPressed,
                 const std::string& display = {});
    ~GlobalHotKey();

    GlobalHotKey(const GlobalHotKey&) = delete;
    GlobalHotKey& operator=(const GlobalHotKey&) = delete;

    std::uint32_t keySymbol() const { return keySymbol_; }
    std::uint32_t modifiers() const { return modifiers_; }

private:
    struct Impl;

    std::uint32_t keySymbol_;
    std::uint32_t modifiers_;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
