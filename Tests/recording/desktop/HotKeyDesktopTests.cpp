#include "Ondexa/recording/HotKey.h"
#include "recording/AppStateFakes.h"

using ondexa::HotKey;
using namespace std::chrono_literals;
using ondexa::testing::ScopedEnv;

TEST(HotKey, CallsTheActionOnTheMainThreadOnlyWhileItLives)
{
    ondexa::testing::TempFolder state;
    ScopedEnv log("XDG_STATE_HOME", state.path.string());
    int calls = 0;
    std::thread::id caller;
    auto hotKey = std::make_unique<HotKey>(HotKey::recordingKeyCode, HotKey::recordingModifiers, [&] {
        ++calls;
        caller = std::this_thread::get_id();
    });
    ASSERT_TRUE(hotKey->isRegistered()) << hotKey->registrationError();

    auto press = [] {
        ASSERT_EQ(std::system("xdotool key ctrl+alt+a"), 0);
        std::this_thread::sleep_for(300ms);
    };
    press();
    EXPECT_EQ(calls, 0);  // waits for the main thread's event loop
    EXPECT_TRUE(ondexa::testing::pumpUntil([&] { return calls > 0; }, 5s));
    ondexa::testing::pumpFor(100ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(caller, std::this_thread::get_id());

    // A press still on its way when the hot key goes is dropped.
    press();
    hotKey.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);

    // And the chord is free again.
    HotKey again(HotKey::recordingKeyCode, HotKey::recordingModifiers, [] {});
    EXPECT_TRUE(again.isRegistered()) << again.registrationError();
}
