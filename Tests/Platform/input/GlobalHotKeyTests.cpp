#include "Platform/input/GlobalHotKey.h"
#include "Platform/input/KeyRepeatFilter.h"

#include "InputTestSupport.h"

#include <atomic>
#include <memory>
#include <tuple>

using namespace platform;
using namespace inputtest;

namespace {

constexpr std::uint32_t kCtrlAlt = KeyModifier::control | KeyModifier::alt;

class GlobalHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run on the test desktop";
        // A known keyboard: every lock off, auto-repeat on and quick to start.
        setLocks(false, false);
        run("xset r on r rate 200 30");
    }
    void TearDown() override
    {
        setLocks(false, false);
        run("xset r rate");
    }

    static void setLocks(bool caps, bool num)
    {
        for (auto [label, key, on] : {std::tuple{"Caps Lock", "Caps_Lock", caps}, {"Num Lock", "Num_Lock", num}}) {
            const auto isOn = [&] { return succeeds(std::string("xset q | grep -q '") + label + ": *on'"); };
            if (isOn() != on) run(std::string("xdotool key ") + key);
            ASSERT_EQ(isOn(), on) << label;
        }
    }

    // Waits for the count to reach `expected`, then a little longer for one too many.
    void expectFired(int expected)
    {
        EXPECT_TRUE(waitFor([&] { return fired >= expected; })) << fired;
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(fired, expected);
    }

    std::atomic<int> fired{0};
    std::function<void()> count = [this] { ++fired; };
};

} // namespace

TEST_F(GlobalHotKeyTest, FiresOncePerPressOfTheChordOnly)
{
    GlobalHotKey hotKey(KeySymbol::a, kCtrlAlt, count);
    run("xdotool key ctrl+alt+a");
    expectFired(1);
    // Near misses (another key, a modifier missing, an extra one), then the chord.
    run("xdotool key ctrl+alt+b ctrl+a alt+a a ctrl+alt+shift+a ctrl+alt+a");
    expectFired(2);
}

// Held past the repeat delay, the server sends repeats for A; they must not count.
TEST_F(GlobalHotKeyTest, FiresOncePerPressAndHoldWithAnyLocks)
{
    GlobalHotKey hotKey(KeySymbol::a, kCtrlAlt, count);
    int expected = 0;
    for (auto [caps, num] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(testing::Message() << "Caps Lock " << caps << ", Num Lock " << num);
        setLocks(caps, num);
        run("xdotool key ctrl+alt+a");
        expectFired(++expected);
        run("xdotool keydown ctrl+alt+a; sleep 0.4; xdotool keyup ctrl+alt+a");
        expectFired(++expected);
    }
}

TEST_F(GlobalHotKeyTest, ATakenChordIsAnErrorAndDestructionReleasesIt)
{
    auto first = std::make_unique<GlobalHotKey>(KeySymbol::a, kCtrlAlt, count);
    try {
        GlobalHotKey second(KeySymbol::a, kCtrlAlt, [] {});
        FAIL() << "a second grab of the same chord succeeded";
    } catch (const HotKeyError& error) {
        EXPECT_STREQ(error.what(), "A Ctrl+Alt+A gyorsbillentyűt már egy másik program használja.");
        EXPECT_TRUE(error.takenByAnotherProgram());  // the user is told, not only the log
    }
    run("xdotool key ctrl+alt+a");
    expectFired(1);  // the failed attempt left the first grab working

    first.reset();
    GlobalHotKey second(KeySymbol::a, kCtrlAlt, count);
    run("xdotool key ctrl+alt+a");
    expectFired(2);
}

// Both forms of auto-repeat an X server may send, one across the wrap of its
// 32-bit millisecond clock.
TEST(KeyRepeatFilter, TellsRepeatsFromNewPresses)
{
    KeyRepeatFilter filter;
    EXPECT_TRUE(filter.press(0xfffffff0u));
    filter.release(0xffffffffu);
    EXPECT_FALSE(filter.press(0));   // classic: a release and a press a tick apart
    EXPECT_FALSE(filter.press(40));  // detectable: presses without releases
    filter.release(60);
    EXPECT_TRUE(filter.press(200));
}
