#include "Platform/input/GlobalHotKey.h"

#include "Platform/input/KeyRepeatFilter.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Core protocol modifier bits.
constexpr std::uint16_t kShiftMask = 1u << 0;
constexpr std::uint16_t kLockMask = 1u << 1;
constexpr std::uint16_t kControlMask = 1u << 2;
constexpr std::uint16_t kMod1Mask = 1u << 3;
constexpr std::uint16_t kMod4Mask = 1u << 6;

constexpr std::uint8_t kBadAccess = 10;

// Key symbols of the modifier keys we look up in the modifier mapping.
constexpr xcb_keysym_t kNumLock = 0xff7f;
constexpr xcb_keysym_t kAltL = 0xffe9, kAltR = 0xffea, kMetaL = 0xffe7, kMetaR = 0xffe8;
constexpr xcb_keysym_t kSuperL = 0xffeb, kSuperR = 0xffec;

template <class T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using XcbPtr = std::unique_ptr<T, FreeDeleter<T>>;

std::string keyName(std::uint32_t keySymbol)
{
    if (keySymbol >= 'a' && keySymbol <= 'z') return std::string(1, char(keySymbol - 'a' + 'A'));
    if ((keySymbol >= '0' && keySymbol <= '9') || (keySymbol >= 'A' && keySymbol <= 'Z'))
        return std::string(1, char(keySymbol));
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", unsigned(keySymbol));
    return text;
}

} // namespace

std::string describeKeyChord(std::uint32_t keySymbol, std::uint32_t modifiers)
{
    std::string text;
    if (modifiers & KeyModifier::control) text += "Ctrl+";
    if (modifiers & KeyModifier::alt) text += "Alt+";
    if (modifiers & KeyModifier::shift) text += "Shift+";
    if (modifiers & KeyModifier::super) text += "Super+";
    return text + keyName(keySymbol);
}

struct GlobalHotKey::Impl {
    // Set up by the constructor; afterwards used only by `thread`, and by the
    // destructor once `thread` has ended.
    xcb_connection_t* connection = nullptr;
    xcb_key_symbols_t* symbols = nullptr;
    xcb_window_t root = 0;
    std::uint32_t keySymbol = 0;
    std::uint32_t modifiers = 0;
    std::string chord;
    std::vector<xcb_keycode_t> keycodes;                              // keys carrying keySymbol
    std::uint16_t chordMask = 0;                                      // the modifiers as core bits
    std::uint16_t ignoredMask = kLockMask;                            // Caps Lock and Num Lock
    std::vector<std::pair<xcb_keycode_t, std::uint16_t>> grabs;       // what is grabbed now
    bool heldByOther = false;                                         // the last grab failed for another client
    KeyRepeatFilter repeats;
    std::function<void()> onPressed;

    int wakeFd = -1;   // written by the destructor to end `thread`
    std::thread thread;

    ~Impl()
    {
        if (connection) {
            ungrabAll();
            xcb_flush(connection);
        }
        if (symbols) xcb_key_symbols_free(symbols);
        if (connection) xcb_disconnect(connection);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    // The modifier bit that carries one of `keySyms`, or 0.
    std::uint16_t modifierBitFor(std::initializer_list<xcb_keysym_t> keySyms)
    {
        XcbPtr<xcb_get_modifier_mapping_reply_t> mapping(
            xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
        if (!mapping) return 0;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (xcb_keysym_t sym : keySyms) {
            XcbPtr<xcb_keycode_t> symCodes(xcb_key_symbols_get_keycode(symbols, sym));
            if (!symCodes) continue;
            for (int mod = 0; mod < 8; ++mod) {
                for (int i = 0; i < perModifier; ++i) {
                    xcb_keycode_t code = codes[mod * perModifier + i];
                    if (code == 0) continue;
                    for (const xcb_keycode_t* c = symCodes.get(); *c != XCB_NO_SYMBOL; ++c)
                        if (*c == code) return std::uint16_t(1u << mod);
                }
            }
        }
        return 0;
    }

    // Reads the keyboard and modifier mapping: which keys carry the symbol and
    // which bits mean Alt, Super and Num Lock on this server.
    void readMapping()
    {
        keycodes.clear();
        XcbPtr<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keySymbol));
        if (codes)
            for (const xcb_keycode_t* c = codes.get(); *c != XCB_NO_SYMBOL; ++c) keycodes.push_back(*c);

        std::uint16_t altBit = modifierBitFor({kAltL, kAltR, kMetaL, kMetaR});
        std::uint16_t superBit = modifierBitFor({kSuperL, kSuperR});
        std::uint16_t numLockBit = modifierBitFor({kNumLock});
        chordMask = 0;
        if (modifiers & KeyModifier::shift) chordMask |= kShiftMask;
        if (modifiers & KeyModifier::control) chordMask |= kControlMask;
        if (modifiers & KeyModifier::alt) chordMask |= altBit ? altBit : kMod1Mask;
        if (modifiers & KeyModifier::super) chordMask |= superBit ? superBit : kMod4Mask;
        ignoredMask = std::uint16_t(kLockMask | numLockBit);
    }

    void ungrabAll()
    {
        for (auto [code, mods] : grabs) xcb_ungrab_key(connection, code, root, mods);
        grabs.clear();
    }

    // Grabs the chord with every combination of the lock modifiers. Returns
    // the error sentence, or an empty string on success; a failure grabs
    // nothing.
    std::string grabAll()
    {
        if (keycodes.empty())
            return "A gyorsbillentyű nem állítható be: a billentyűzeten nincs ilyen billentyű (" + chord + ").";
        const std::uint16_t numLockBit = ignoredMask & ~kLockMask;
        std::vector<std::uint16_t> lockCombos{0, kLockMask};
        if (numLockBit) {
            lockCombos.push_back(numLockBit);
            lockCombos.push_back(std::uint16_t(kLockMask | numLockBit));
        }
        std::vector<std::pair<xcb_void_cookie_t, std::pair<xcb_keycode_t, std::uint16_t>>> requests;
        for (xcb_keycode_t code : keycodes)
            for (std::uint16_t locks : lockCombos) {
                std::uint16_t mods = chordMask | locks;
                requests.push_back({xcb_grab_key_checked(connection, 1, root, mods, code, XCB_GRAB_MODE_ASYNC,
                                                         XCB_GRAB_MODE_ASYNC),
                                    {code, mods}});
            }
        bool taken = false;
        bool failed = false;
        for (auto& [cookie, grab] : requests) {
            XcbPtr<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
            if (!error) {
                grabs.push_back(grab);
            } else if (error->error_code == kBadAccess) {
                taken = true;
            } else {
                failed = true;
            }
        }
        if (!taken && !failed) return {};
        ungrabAll();
        xcb_flush(connection);
        heldByOther = taken;
        if (taken) return "A " + chord + " gyorsbillentyűt már egy másik program használja.";
        return "A gyorsbillentyű nem állítható be: az X kijelző elutasította (" + chord + ").";
    }

    bool isOurKey(xcb_keycode_t code) const
    {
        for (xcb_keycode_t c : keycodes)
            if (c == code) return true;
        return false;
    }

    void handle(xcb_generic_event_t* event)
    {
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
            if (!isOurKey(key->detail)) return;
            const bool fresh = repeats.press(key->time);
            const std::uint16_t held = key->state & 0xff & ~ignoredMask;
            if (fresh && held == chordMask && onPressed) onPressed();
            return;
        }
        case XCB_KEY_RELEASE: {
            auto* key = reinterpret_cast<xcb_key_release_event_t*>(event);
            if (isOurKey(key->detail)) repeats.release(key->time);
            return;
        }
        case XCB_MAPPING_NOTIFY: {
            // A new keyboard layout may move the key or the lock modifiers:
            // grab again. When that fails the chord stays silent, as it would
            // had the layout been there from the start.
            auto* mapping = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
            if (mapping->request == XCB_MAPPING_POINTER) return;
            xcb_refresh_keyboard_mapping(symbols, mapping);
            ungrabAll();
            readMapping();
            grabAll();
            repeats.reset();
            xcb_flush(connection);
            return;
        }
        default:
            return;
        }
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "hotkey");
        pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                handle(event);
                std::free(event);
            }
            if (xcb_connection_has_error(connection)) return;  // the server went away
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
        }
    }
};

GlobalHotKey::GlobalHotKey(std::uint32_t keySymbol, std::uint32_t modifiers, std::function<void()> onPressed,
                           const std::string& display)
    : keySymbol_(keySymbol), modifiers_(modifiers), impl_(std::make_unique<Impl>())
{
    Impl& d = *impl_;
    d.keySymbol = keySymbol;
    d.modifiers = modifiers & KeyModifier::all;
    d.chord = describeKeyChord(keySymbol, modifiers);
    d.onPressed = std::move(onPressed);

    int screenNumber = 0;
    d.connection = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(d.connection)) {
        const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
        throw HotKeyError("A gyorsbillentyű nem állítható be: az X kijelző nem érhető el (DISPLAY=" +
                          std::string(name ? name : "") + ").");
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(d.connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) throw HotKeyError("A gyorsbillentyű nem állítható be: az X kijelzőnek nincs képernyője.");
    d.root = screens.data->root;
    d.symbols = xcb_key_symbols_alloc(d.connection);

    d.readMapping();
    if (std::string error = d.grabAll(); !error.empty()) throw HotKeyError(error, d.heldByOther);

    d.wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (d.wakeFd < 0) throw HotKeyError("A gyorsbillentyű nem állítható be: nem indítható a figyelése.");
    d.thread = std::thread([&d] { d.run(); });
}

GlobalHotKey::~GlobalHotKey()
{
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(impl_->wakeFd, &one, sizeof one);
    impl_->thread.join();
}

} // namespace platform
