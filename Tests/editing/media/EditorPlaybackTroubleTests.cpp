// The preview when things go wrong: a sound server that takes the connection
// and never answers leaves every edit at full speed, and a file that stops
// decoding in its middle pauses playback there; each is said in the log once.

#include "EditTestSupport.h"
#include "rendering/GuiTestApplication.h"

#include "support/DamagedMedia.h"
#include "support/ScopedEnv.h"
#include "support/SilentSoundServer.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace ondexa;
using namespace ondexa::testing;
using testsupport::ScopedEnv;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The wall time of one call on the main thread.
template <typename Call>
std::chrono::milliseconds timed(Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

class EditorPlaybackTrouble : public ::testing::Test {
protected:
    void SetUp() override { movie = copyOf(smallRecording(), folder.path, "felvétel.mov"); }

    void open()
    {
        model = std::make_unique<EditorModel>(movie, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(*model));
        ASSERT_FALSE(model->loadError());
    }

    fs::path log() const { return folder.path / "state" / "Vendalum" / "Vendalum.log"; }

    TempFolder folder;
    ScopedEnv state{"XDG_STATE_HOME", (folder.path / "state").string()};
    fs::path movie;
    std::unique_ptr<EditorModel> model;
};

TEST_F(EditorPlaybackTrouble, ASilentSoundServerNeverHoldsUpEditsAndPlaybackRunsOnTheClock)
{
    testsupport::SilentSoundServer silent;
    ASSERT_TRUE(silent.listening());
    ScopedEnv pulse{"PULSE_SERVER", silent.address()};
    // Each edit rebuilds the player; one wait for the server on the main
    // thread would take its whole deadline (5 s).
    std::chrono::milliseconds longest{};
    const auto edit = [&](auto call) { longest = std::max(longest, timed(call)); };
    edit([&] { open(); });
    edit([&] { model->step(2); });
    edit([&] { model->splitAtPlayhead(); });
    EXPECT_EQ(model->tracks()[0].clips.size(), 2u);
    edit([&] { model->undo(); });
    edit([&] { model->redo(); });
    EXPECT_LT(longest, 1s);

    // Played meanwhile by the clock, without sound.
    model->togglePlay();
    EXPECT_TRUE(runUntil([&] { return model->clock().time() > 2.5; }, 5s));
    model->togglePlay();

    // Once the server's deadline has passed, the log says so, once, and
    // later edits neither wait nor say it again.
    const std::string said =
        "A hangkiszolgáló (PulseAudio) nem válaszolt 5 másodpercen belül. Az előnézet hang nélkül megy tovább.";
    // The main thread turns its loop the while: nothing it runs waits.
    auto last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longestTurn{};
    ASSERT_TRUE(runUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            longestTurn = std::max(longestTurn, now - last);
            last = now;
            return occurrencesIn(log(), said) > 0;
        },
        30s))
        << fixtures::fileBytes(log());
    EXPECT_LT(longestTurn, 1s);
    edit([&] { model->splitAtPlayhead(); });
    edit([&] { model->undo(); });
    EXPECT_LT(longest, 1s);
    runUntil([] { return false; }, 500ms);
    EXPECT_EQ(occurrencesIn(log(), said), 1);
}

TEST_F(EditorPlaybackTrouble, AFileThatStopsDecodingPausesPlaybackThereAndIsLoggedOnce)
{
    // Every picture from 2 s on overwritten with zeros, as a bad disk leaves it.
    for (const auto& packet : fixtures::packetPlaces(movie, "v"))
        if (packet.time >= 2.0) fixtures::overwrite(movie, packet.pos, std::string(packet.size, '\0'));
    open();

    model->togglePlay();
    ASSERT_TRUE(runUntil([&] { return model->isPlaying(); }, 5s));
    ASSERT_TRUE(runUntil([&] { return !model->isPlaying(); }, 10s)) << "played on over the damage";
    // Paused where the picture stops, not run on to the end.
    EXPECT_NEAR(model->player().currentTime().seconds(), 2.0, 0.4);
    const std::string said = "A videó 2.00 másodperctől nem dekódolható: „" + movie.string() + "”.";
    EXPECT_EQ(occurrencesIn(log(), said), 1) << fixtures::fileBytes(log());

    // Played again, it stops at once, and the log does not repeat itself.
    model->togglePlay();
    EXPECT_TRUE(runUntil([&] { return !model->isPlaying(); }, 5s));
    EXPECT_LT(model->player().currentTime().seconds(), 2.5);
    EXPECT_EQ(occurrencesIn(log(), said), 1);
}

} // namespace
