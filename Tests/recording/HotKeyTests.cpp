#include "Ondexa/recording/HotKey.h"

#include "AppStateFakes.h"

using ondexa::HotKey;
using namespace ondexa::testing;

TEST(HotKey, ConstructionNeverFailsAndTheLogSaysWhy)
{
    TempFolder state;
    ScopedEnv log("XDG_STATE_HOME", state.path.string());
    ScopedEnv display("DISPLAY", ":87");
    HotKey hotKey(HotKey::recordingKeyCode, HotKey::recordingModifiers, [] {});
    EXPECT_FALSE(hotKey.isRegistered());
    EXPECT_EQ(hotKey.registrationError(),
              "A gyorsbillentyű nem állítható be: az X kijelző nem érhető el (DISPLAY=:87).");
    const std::string text = readFile(state.path / "Vendalum" / "Vendalum.log");
    EXPECT_NE(text.find(hotKey.registrationError()), std::string::npos) << text;
}
