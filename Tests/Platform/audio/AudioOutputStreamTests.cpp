// The playing position that paces a player's pictures: its arithmetic alone,
// and a real stream on the test desktop's sink.

#include "Platform/audio/AudioOutputStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace platform;
using Timing = AudioOutputStream::Timing;

TEST(AudioOutputStream, heardFramesCountTheLatencyOnlyOnceTheServerPlays)
{
    // Before the server plays nothing is heard, whatever the buffer holds.
    EXPECT_EQ(AudioOutputStream::heardFrames(3840, 0, Timing{false, 20}), 0);
    // Playing: what was written and is no longer queued.
    EXPECT_EQ(AudioOutputStream::heardFrames(3840, 0, Timing{true, 3500}), 340);
    // A negative latency comes as nothing queued: all of it is heard.
    EXPECT_EQ(AudioOutputStream::heardFrames(3840, 100, Timing{true, 0}), 3840);
    // A latency above what was written (it counts the server's own buffer).
    EXPECT_EQ(AudioOutputStream::heardFrames(3840, 0, Timing{true, 5000}), 0);
}

TEST(AudioOutputStream, heardFramesStandWhileNothingPlaysAndNeverGoBack)
{
    // Run dry or paused: it stands where it was.
    EXPECT_EQ(AudioOutputStream::heardFrames(9000, 4000, Timing{false, 0}), 4000);
    // Playing again after an underrun, with more written meanwhile.
    EXPECT_EQ(AudioOutputStream::heardFrames(12000, 4000, Timing{true, 7000}), 5000);
    // A reading that says less than the last one.
    EXPECT_EQ(AudioOutputStream::heardFrames(12000, 5000, Timing{true, 8000}), 5000);
    // What was heard before never exceeds what was written.
    EXPECT_EQ(AudioOutputStream::heardFrames(100, 5000, Timing{false, 0}), 100);
    EXPECT_EQ(AudioOutputStream::heardFrames(0, 0, Timing{true, 0}), 0);
}

// The stream's clock runs from zero when it starts and never ahead of the
// time since: a picture paced by it is not judged late at the start.
TEST(AudioOutputStream, startsFromZeroAndNeverRunsAheadOfTheWallClock)
{
    using Clock = std::chrono::steady_clock;
    constexpr int rate = 48000;
    AudioOutputStream stream(AudioOutputStream::Options{rate, 2, 120});
    // As a player starts: a new generation, its buffer filled while paused.
    const std::uint64_t generation = stream.flush();
    std::vector<float> silence(std::size_t(rate) * 2);
    auto fill = [&] {
        const int room = stream.waitWritable(1, generation);
        ASSERT_GT(room, 0);
        ASSERT_TRUE(stream.write(silence.data(), std::min(room, rate), generation));
    };
    fill();
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(stream.playingPosition().frames, 0);  // paused
    }

    const auto start = Clock::now();
    stream.setPaused(false);
    std::int64_t last = 0;
    double reached = 0;
    while (Clock::now() - start < std::chrono::milliseconds(400)) {
        const AudioOutputStream::Position position = stream.playingPosition();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(position.generation, generation);
        ASSERT_GE(position.frames, last);
        // Sound is heard late on a busy machine, never early.
        ASSERT_LE(double(position.frames) / rate, elapsed + 0.010) << "after " << elapsed << " s";
        last = position.frames;
        reached = double(last) / rate;
        fill();
    }
    EXPECT_GT(reached, 0.1);  // and it does run

    // A flush starts the next generation from zero again.
    const std::uint64_t next = stream.flush();
    EXPECT_EQ(stream.playingPosition().generation, next);
    EXPECT_EQ(stream.playingPosition().frames, 0);
}
