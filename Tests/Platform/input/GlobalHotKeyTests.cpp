#include "Platform/input/GlobalHotKey.h"
#include "Platform/input/KeyRepeatFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kCtrlAlt = KeyModifier::control | KeyModifier::alt;

// Runs a command on the test display and waits for it.
void run(const std::string& command)
{
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

bool succeeds(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The server hands the events to the hot key's own thread; give it time to
// see everything xdotool sent before counting.
void settle() { std::this_thread::sleep_for(300ms); }

class GlobalHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
        // Start from a known keyboard: every lock off, auto-repeat on.
        setLock("Caps Lock", "Caps_Lock", false);
        setLock("Num Lock", "Num_Lock", false);
        run("xset r on");
    }

    void TearDown() override
    {
        setLock("Caps Lock", "Caps_Lock", false);
        setLock("Num Lock", "Num_Lock", false);
    }

    static bool lockIsOn(const std::string& label)
    {
        return succeeds("xset q | grep -q '" + label + ": *on'");
    }

    static void setLock(const std::string& label, const std::string& key, bool on)
    {
        if (lockIsOn(label) != on) run("xdotool key " + key);
        ASSERT_EQ(lockIsOn(label), on) << label;
    }

    std::atomic<int> fired{0};

    std::unique_ptr<GlobalHotKey> makeHotKey()
    {
        return std::make_unique<GlobalHotKey>(KeySymbol::a, kCtrlAlt, [this] { ++fired; });
    }
};

} // namespace

TEST_F(GlobalHotKeyTest, FiresOncePerPressOfTheChordOnly)
{
    auto hotKey = makeHotKey();
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 1);

    // Near misses: another key, a modifier missing, an extra modifier.
    run("xdotool key ctrl+alt+b ctrl+a alt+a a ctrl+alt+shift+a");
    settle();
    EXPECT_EQ(fired, 1);

    run("xdotool key ctrl+alt+a ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 3);
}

TEST_F(GlobalHotKeyTest, HoldingTheKeysFiresOnce)
{
    auto hotKey = makeHotKey();
    // Held past the server's repeat delay (660 ms here), so the server sends
    // repeat pairs for A; they must not count.
    run("xdotool keydown ctrl+alt+a; sleep 1; xdotool keyup ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 1);

    // Releasing A alone and pressing it again while Ctrl+Alt stay down is a
    // new press.
    run("xdotool keydown ctrl+alt+a; sleep 0.1; xdotool keyup a; sleep 0.1; xdotool keydown a; sleep 0.1; "
        "xdotool keyup ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 3);
}

TEST_F(GlobalHotKeyTest, FiresWithCapsLockAndNumLockOn)
{
    auto hotKey = makeHotKey();
    setLock("Caps Lock", "Caps_Lock", true);
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 1);

    setLock("Num Lock", "Num_Lock", true);
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 2);

    setLock("Caps Lock", "Caps_Lock", false);
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 3);

    run("xdotool keydown ctrl+alt+a; sleep 1; xdotool keyup ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 4);
}

TEST_F(GlobalHotKeyTest, ATakenChordIsAnErrorAndDestructionReleasesIt)
{
    auto first = makeHotKey();
    try {
        GlobalHotKey second(KeySymbol::a, kCtrlAlt, [] {});
        FAIL() << "a second grab of the same chord succeeded";
    } catch (const HotKeyError& error) {
        EXPECT_STREQ(error.what(), "A Ctrl+Alt+A gyorsbillentyűt már egy másik program használja.");
    }
    // The failed attempt left the first grab working.
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 1);

    first.reset();
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(fired, 1);

    // Released: someone else can take it now.
    std::atomic<int> secondFired{0};
    GlobalHotKey second(KeySymbol::a, kCtrlAlt, [&] { ++secondFired; });
    run("xdotool key ctrl+alt+a");
    settle();
    EXPECT_EQ(secondFired, 1);
}

TEST(GlobalHotKeyErrors, UnreachableDisplayAndUnknownKey)
{
    try {
        GlobalHotKey hotKey(KeySymbol::a, kCtrlAlt, [] {}, ":87");
        FAIL() << "connected to a display that does not exist";
    } catch (const HotKeyError& error) {
        EXPECT_STREQ(error.what(),
                     "A gyorsbillentyű nem állítható be: az X kijelző nem érhető el (DISPLAY=:87).");
    }
    if (std::getenv("DISPLAY")) {
        EXPECT_THROW(GlobalHotKey(0x10fffff, kCtrlAlt, [] {}), HotKeyError);
    }
}

// The two forms of auto-repeat an X server sends, and what must still count.
TEST(KeyRepeatFilter, TellsRepeatsFromNewPresses)
{
    KeyRepeatFilter filter;
    EXPECT_TRUE(filter.press(1000));
    // Classic repeat: release and press with one time stamp, or a tick apart.
    filter.release(1660);
    EXPECT_FALSE(filter.press(1660));
    filter.release(1700);
    EXPECT_FALSE(filter.press(1701));
    filter.release(1740);  // the real release
    EXPECT_TRUE(filter.press(1900));

    // Detectable auto-repeat: presses without releases.
    EXPECT_FALSE(filter.press(2560));
    EXPECT_FALSE(filter.press(2600));
    filter.release(2620);
    EXPECT_TRUE(filter.press(2700));

    // Across the wrap of the server's 32-bit millisecond clock.
    KeyRepeatFilter wrapping;
    EXPECT_TRUE(wrapping.press(0xfffffff0u));
    wrapping.release(0xffffffffu);
    EXPECT_FALSE(wrapping.press(0));
    wrapping.release(5);
    EXPECT_TRUE(wrapping.press(200));
}
