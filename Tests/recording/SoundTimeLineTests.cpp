#include "Ondexa/recording/SoundTimeLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

using ondexa::SoundTimeLine;

namespace {

constexpr int kRate = 48000;
constexpr int kFrames = 1024;
constexpr std::int64_t kStart = 500'000'000'000;  // an arbitrary host time, ns

// Buffers of kFrames whose sound clock runs `ppm` fast against the host
// clock, stamped with a jitter of up to ±`jitterNs` (a fixed pseudo-random
// sequence). Returns the placements and checks that each buffer continues
// where the line left off.
struct Fed {
    std::vector<SoundTimeLine::Placement> placements;
    std::vector<std::int64_t> realTimes;  // host time of each buffer's first frame
    std::int64_t dropped = 0, repeated = 0;
};

Fed feed(SoundTimeLine& line, int buffers, double ppm, std::int64_t jitterNs)
{
    Fed run;
    std::uint32_t noise = 12345;
    std::int64_t position = 0;  // frames on the line
    for (int i = 0; i < buffers; ++i) {
        const auto real = kStart + std::int64_t(std::llround(double(i) * kFrames * 1e9 / kRate / (1 + ppm * 1e-6)));
        noise = noise * 1664525u + 1013904223u;
        const auto jitter = std::int64_t(double(noise >> 8) / double(1u << 24) * 2 * double(jitterNs)) - jitterNs;
        const SoundTimeLine::Placement p = line.place(kFrames, kRate, real + jitter, 0);
        if (i > 0) {
            EXPECT_EQ(p.time, run.placements[0].time + position * 1'000'000'000 / kRate)
                << "buffer " << i << " does not follow on";
        }
        position += p.frames;
        EXPECT_LE(std::abs(p.frames - kFrames), kFrames / SoundTimeLine::correctionFrames + 1);
        if (p.frames < kFrames) run.dropped += kFrames - p.frames;
        if (p.frames > kFrames) run.repeated += p.frames - kFrames;
        run.placements.push_back(p);
        run.realTimes.push_back(real);
    }
    return run;
}

} // namespace

// The line starts at the first stamp, jitter and all, and is then kept on
// the stamps' average: the first stamp's error is taken out, a clock that
// runs apart is followed, and the line stays close to the real times, not
// at the edge of the dead band.
TEST(SoundTimeLine, JitterAloneChangesLittleAndAClockThatRunsApartIsKeptWithinAMillisecondAndAHalf)
{
    for (const auto& [ppm, jitter] : {std::pair{0.0, 1'000'000}, {300.0, 1'500'000}, {-300.0, 1'500'000}}) {
        SCOPED_TRACE(ppm);
        SoundTimeLine line;
        const Fed run = feed(line, 3000, ppm, jitter);  // about a minute
        // 3000 buffers of 1024 frames: 300 ppm is about 920 frames to take out
        // or put in, all but what the dead band and the first stamp's jitter
        // leave; corrections the other way only take out the first stamp's
        // error; without drift, nothing more.
        const double expected = 3000.0 * kFrames * std::abs(ppm) * 1e-6;
        const double firstError = double(jitter) * kRate / 1e9 + 1;  // frames
        const std::int64_t along = ppm > 0 ? run.dropped : run.repeated;
        const std::int64_t against = ppm > 0 ? run.repeated : run.dropped;
        EXPECT_NEAR(double(along), expected, ppm == 0 ? firstError : 0.004 * kRate);
        EXPECT_LE(double(against), ppm == 0 ? 0 : firstError);
        // From the fourth second on, the line stays within 1.5 ms of the real times.
        for (std::size_t i = 150; i < run.placements.size(); ++i)
            ASSERT_LT(std::abs(run.placements[i].time - run.realTimes[i]), 1'500'000) << "buffer " << i;
    }
}

TEST(SoundTimeLine, AGapStartsAgainAtTheStamp)
{
    SoundTimeLine line;
    EXPECT_EQ(line.place(kFrames, kRate, kStart, 0).time, kStart);
    const std::int64_t late = kStart + kFrames * 1'000'000'000LL / kRate + 100'000'000;
    EXPECT_EQ(line.place(kFrames, kRate, late, 0).time, late);
}

// Another output's monitor takes over: its first stamp joins the line where
// the last stream ended. Up to 10 ms late is the stamps' jitter, earlier is
// sound the line already holds (cut), later is a true gap.
TEST(SoundTimeLine, AnotherStreamJoinsWhereTheLastEnded)
{
    const std::int64_t buffer = kFrames * 1'000'000'000LL / kRate;
    for (const auto& [offset, time, skipped] : {std::tuple<std::int64_t, std::int64_t, int>{5'000'000, 0, 0},
                                                {-15'000'000, 0, 720},
                                                {-2'000'000'000, -2'000'000'000, 0},
                                                {30'000'000, 30'000'000, 0}}) {
        SCOPED_TRACE(offset);
        SoundTimeLine line({.checksDelivery = true});
        line.place(kFrames, kRate, kStart, kStart);
        line.join();
        const std::int64_t end = kStart + buffer;
        const SoundTimeLine::Placement p = line.place(kFrames, kRate, end + offset, end + offset);
        EXPECT_EQ(p.time, end + time);
        EXPECT_EQ(p.skipped, skipped);
        EXPECT_EQ(p.frames, kFrames - skipped);
    }
}

// A monitor just opened on an output that rendered far ahead takes over:
// the server's latency for it holds at 700 ms for half a second, then falls
// to nothing over a second while its sound comes on steadily. The line goes
// on without a break; when the buffers themselves stop for 100 ms, that gap
// restarts it.
TEST(SoundTimeLine, ASettlingLatencyIsNoGapButAStreamThatStopsIs)
{
    SoundTimeLine line({.checksDelivery = true});
    const double seconds = double(kFrames) / kRate;
    line.place(kFrames, kRate, kStart - std::int64_t(seconds * 1e9), kStart - std::int64_t(seconds * 1e9));
    line.join();
    const std::int64_t start = kStart - std::int64_t(seconds * 1e9);
    std::int64_t arrival = kStart, placed = kFrames;  // frames on the line
    for (int i = 0; i < 300; ++i) {
        arrival = kStart + std::int64_t(std::llround(i * seconds * 1e9));
        const double latency = std::clamp(0.7 - (i * seconds - 0.5) * 0.7, 0.0, 0.7);  // s
        const SoundTimeLine::Placement p = line.place(kFrames, kRate, arrival - std::int64_t(latency * 1e9), arrival);
        ASSERT_EQ(p.time, start + placed * 1'000'000'000 / kRate) << "buffer " << i;
        ASSERT_EQ(p.skipped, 0);
        ASSERT_LE(std::abs(p.frames - kFrames), kFrames / SoundTimeLine::correctionFrames + 1);
        placed += p.frames;
    }
    // Back on the stamps, which now tell the truth.
    EXPECT_LT(std::llabs(start + placed * 1'000'000'000 / kRate - arrival - std::int64_t(seconds * 1e9)), 10'000'000);
    const std::int64_t late = arrival + std::int64_t(seconds * 1e9) + 100'000'000;
    EXPECT_EQ(line.place(kFrames, kRate, late, late).time, late);
}

// The same settling as the server gives it: buffers of uneven sizes, and at
// the end of the fall a stamp that moves less than its buffer (taken from a
// recording of the test desktop). Its distance from the line is beyond the
// restart limit, but the buffer came on time: the line goes on unbroken and
// meets the settled stamps within a few ms.
TEST(SoundTimeLine, ASettlingLatencyThatFallsInUnevenStepsIsNoGap)
{
    SoundTimeLine line({.checksDelivery = true});
    const std::int64_t buffer = kFrames * 1'000'000'000LL / kRate;
    line.place(kFrames, kRate, kStart - buffer, kStart);
    line.join();
    std::vector<std::tuple<int, double, double>> fed;  // frames, arrival ms after the join, latency ms
    double arrival = 0, latency = 725;
    for (int i = 0; i < 30; ++i, arrival += 21.3) fed.emplace_back(1023, arrival, latency);
    for (; latency > 106; arrival += 21.3, latency -= 21.3) fed.emplace_back(1023, arrival, latency);
    for (const auto& [frames, at, ms] : std::initializer_list<std::tuple<int, double, double>>{
             {1023, 0.0, 105.9}, {1023, 21.3, 84.6}, {1023, 42.6, 63.3}, {459, 64.0, 42.0}, {53, 64.1, 32.4},
             {16, 64.1, 31.3}, {501, 85.4, 31.0}, {1023, 85.6, 20.5}, {1023, 106.6, 0.4}, {1023, 128.0, 0.5}})
        fed.emplace_back(frames, arrival + at, ms);

    std::int64_t placed = 0, stamp = 0;
    for (const auto& [frames, at, ms] : fed) {
        const std::int64_t now = kStart + std::int64_t(at * 1e6);
        stamp = now - std::int64_t(ms * 1e6);
        const SoundTimeLine::Placement p = line.place(frames, kRate, stamp, now);
        ASSERT_NEAR(p.time, kStart + placed * 1'000'000'000 / kRate, 1000) << "at " << at << " ms";
        ASSERT_EQ(p.skipped, 0);
        placed += p.frames;
    }
    EXPECT_LT(std::llabs(*line.next() - (stamp + 1023 * 1'000'000'000LL / kRate)), 10'000'000);
}

// A loaded machine reads a line's first buffer late: its stamp alone is
// tens of ms off the ones after it. Half a second in, the line is moved
// once onto the median of its stamps (a cut, or a short gap) instead of
// taking that error out at one frame in 1000 for as many seconds; a first
// stamp within the stamps' jitter moves nothing.
TEST(SoundTimeLine, AYoungLineIsMovedOnceOntoItsStampsWhenItsFirstStampWasFarOff)
{
    const std::int64_t buffer = kFrames * 1'000'000'000LL / kRate;
    for (const auto& [firstError, checksDelivery] :
         {std::pair{20'000'000LL, false}, {-20'000'000LL, false}, {3'000'000LL, false}, {-3'000'000LL, false},
          {20'000'000LL, true}, {-20'000'000LL, true}}) {
        SCOPED_TRACE(testing::Message() << firstError << (checksDelivery ? " checking delivery" : ""));
        SoundTimeLine line({.checksDelivery = checksDelivery});
        std::uint32_t noise = 777;
        int cuts = 0, gaps = 0;
        std::int64_t expected = 0;  // where the next buffer follows on
        for (int i = 0; i < 200; ++i) {
            const std::int64_t real = kStart + i * buffer;
            noise = noise * 1664525u + 1013904223u;
            const std::int64_t jitter = i == 0 ? firstError : std::int64_t(noise >> 12) % 2'000'000 - 1'000'000;
            // Each buffer arrives on time, 5 ms after its last frame.
            const SoundTimeLine::Placement p = line.place(kFrames, kRate, real + jitter, real + buffer + 5'000'000);
            if (i > 0 && std::llabs(p.time - expected) > 1000) {
                ++gaps;
                EXPECT_NEAR(double(p.time - expected), double(-firstError), 1'500'000);
            }
            if (p.skipped > 0) {
                ++cuts;
                EXPECT_NEAR(double(p.skipped), double(firstError) * kRate / 1e9, 0.0015 * kRate);
            }
            expected = p.time + std::int64_t(p.frames) * 1'000'000'000 / kRate;
            // A far first stamp is out by the second second; one within the
            // jitter is taken out slowly.
            if (i >= (std::llabs(firstError) > SoundTimeLine::settleNanoseconds ? 50 : 150)) {
                ASSERT_LT(std::llabs(p.time + p.skipped * 1'000'000'000LL / kRate - real), 1'500'000) << i;
            }
        }
        const bool far = std::llabs(firstError) > SoundTimeLine::settleNanoseconds;
        EXPECT_EQ(cuts, far && firstError > 0 ? 1 : 0);
        EXPECT_EQ(gaps, far && firstError < 0 ? 1 : 0);
    }
}

// A recording that starts on a monitor whose output rendered far ahead: its
// latency falls in steps from the start, each within the restart limit.
// Those stamps say nothing of where the line began, and nothing moves it.
TEST(SoundTimeLine, AYoungLineOnASettlingLatencyIsNotMovedByItsStamps)
{
    SoundTimeLine line({.checksDelivery = true});
    const double seconds = double(kFrames) / kRate;
    std::int64_t placed = 0;
    std::int64_t start = 0;
    for (int i = 0; i < 100; ++i) {  // while the latency settles
        const std::int64_t arrival = kStart + std::int64_t(std::llround(i * seconds * 1e9));
        const double latency = std::max(0.0, 0.3 - ((i + 20) / 30) * 0.03);  // s, 30 ms less at 10, 40, 70 …
        const SoundTimeLine::Placement p = line.place(kFrames, kRate, arrival - std::int64_t(latency * 1e9), arrival);
        if (i == 0) start = p.time;
        ASSERT_EQ(p.time, start + placed * 1'000'000'000 / kRate) << "buffer " << i;
        ASSERT_EQ(p.skipped, 0);
        placed += p.frames;
    }
}
