// MicCapture's processing on synthetic buffers: no sound server involved.

#include "Ondexa/recording/MicCapture.h"
#include "rendering/GuiTestApplication.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cmath>

using ondexa::MicCapture;
using platform::MediaTime;

namespace {

constexpr int kRate = 48000;
constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kMs = kSecond / 1000;

// Frame f of channel c holds (c + 1) / 10 + f / 100000: every sample tells where it came from.
std::vector<float> ramp(int frames, int channels)
{
    std::vector<float> samples(std::size_t(frames * channels));
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) samples[std::size_t(f * channels + c)] = float(c + 1) / 10 + float(f) / 100000;
    return samples;
}

struct Harness {
    MicCapture mic{{7, "iface", "Interfész", {"Bemenet 1", "Bemenet 2", "Bemenet 3", "Bemenet 4"}}, kRate,
                   MicCapture::NoInput{}};
    std::vector<MicCapture::SampleBuffer> delivered;
    std::int64_t now = 100 * kSecond;

    Harness()
    {
        mic.setClock([this] { return now; });
        mic.setSink([this](MicCapture::SampleBuffer buffer) { delivered.push_back(std::move(buffer)); });
    }

    void feed(const std::vector<float>& samples, int channels, std::optional<std::int64_t> hostTime)
    {
        mic.process({.samples = samples.data(), .frames = int(samples.size()) / channels, .channels = channels,
                     .sampleRate = kRate, .hostTime = hostTime});
    }
};

MediaTime ns(std::int64_t value) { return MediaTime(value, kSecond); }

} // namespace

TEST(MicCapture, MixesTheChosenChannelsToStereo)
{
    const std::vector<float> input = ramp(64, 4);
    const float g = 1.0f / std::sqrt(2.0f);  // two sources on one side
    auto in = [&](int f, int c) { return input[std::size_t(f * 4 + c)]; };
    using Expected = std::function<std::pair<float, float>(int frame)>;
    const auto both = [](float m) { return std::pair{m, m}; };
    const std::vector<std::tuple<std::vector<int>, bool, Expected>> cases = {
        {{0, 1}, true, [&](int f) { return std::pair{in(f, 0), in(f, 1)}; }},
        {{0, 1}, false, [&](int f) { return both(g * in(f, 0) + g * in(f, 1)); }},
        {{1, 2}, true, [&](int f) { return both(g * in(f, 1) + g * in(f, 2)); }},  // no pair
        {{0, 1, 3}, true, [&](int f) { return std::pair{g * in(f, 0) + g * in(f, 3), g * in(f, 1) + g * in(f, 3)}; }},
        {{0, 1, 2, 3}, true,
         [&](int f) { return std::pair{g * in(f, 0) + g * in(f, 2), g * in(f, 1) + g * in(f, 3)}; }},
        {{2}, false, [&](int f) { return both(in(f, 2)); }},
        {{1, 9, -1}, true, [&](int f) { return both(in(f, 1)); }},  // outside the device: ignored
        {{4, 5}, true, nullptr},                                    // none of the device's: nothing
    };
    for (const auto& [channels, pairs, expected] : cases) {
        SCOPED_TRACE(::testing::PrintToString(channels) + (pairs ? " pairs" : " mono"));
        Harness h;
        h.mic.setChannels(channels, pairs);
        h.feed(input, 4, 5 * kSecond);
        if (!expected) {
            EXPECT_TRUE(h.delivered.empty());
            EXPECT_FALSE(h.mic.nextPTS());
            continue;
        }
        ASSERT_EQ(h.delivered.size(), 1u);
        const auto& out = h.delivered[0];
        EXPECT_EQ(out.frames, 64);
        EXPECT_EQ(out.channels, 2);
        EXPECT_EQ(out.sampleRate, kRate);
        EXPECT_EQ(out.presentationTime, ns(5 * kSecond));
        ASSERT_EQ(out.samples.size(), 128u);
        for (int f = 0; f < 64; ++f) {
            auto [left, right] = expected(f);
            EXPECT_FLOAT_EQ(out.samples[std::size_t(2 * f)], left) << "frame " << f;
            EXPECT_FLOAT_EQ(out.samples[std::size_t(2 * f + 1)], right) << "frame " << f;
        }
    }
}

TEST(MicCapture, StampsOnTheHostClockWithDriftCorrection)
{
    Harness h;
    h.mic.setChannels({0}, false);
    const auto tenMs = ramp(480, 4);
    const auto twoHundredMs = ramp(9600, 4);
    const std::int64_t t0 = 10 * kSecond;
    auto last = [&] { return h.delivered.back(); };

    h.feed({}, 4, t0 - kSecond);  // no frames: ignored, no line
    EXPECT_FALSE(h.mic.nextPTS());
    h.feed(tenMs, 4, t0);  // the first buffer starts the line at its own time
    EXPECT_EQ(last().presentationTime, ns(t0));
    EXPECT_EQ(h.mic.nextPTS(), ns(t0 + 10 * kMs));

    h.feed(tenMs, 4, t0 + 30 * kMs);  // 20 ms late: jitter, the line goes on
    EXPECT_EQ(last().presentationTime, ns(t0 + 10 * kMs));
    h.feed(tenMs, 4, t0 + 20 * kMs - 39 * kMs);  // 39 ms early: also jitter
    EXPECT_EQ(last().presentationTime, ns(t0 + 20 * kMs));
    EXPECT_EQ(last().frames, 480);

    h.feed(tenMs, 4, t0 + 130 * kMs);  // 100 ms late: a new line at its time
    EXPECT_EQ(last().presentationTime, ns(t0 + 130 * kMs));

    // 100 ms early: 0.1 × rate leading samples are cut, the line stays.
    h.feed(twoHundredMs, 4, t0 + 40 * kMs);
    EXPECT_EQ(last().presentationTime, ns(t0 + 140 * kMs));
    EXPECT_EQ(last().frames, 4800);
    EXPECT_FLOAT_EQ(last().samples[0], twoHundredMs[4800 * 4]);
    EXPECT_EQ(h.mic.nextPTS(), ns(t0 + 240 * kMs));

    // 100 ms early but only 10 ms long: all of it cut, nothing delivered, the line stays.
    const std::size_t count = h.delivered.size();
    h.feed(tenMs, 4, t0 + 140 * kMs);
    EXPECT_EQ(h.delivered.size(), count);
    EXPECT_EQ(h.mic.nextPTS(), ns(t0 + 240 * kMs));

    h.feed(tenMs, 4, t0 - 400 * kMs);  // a jump back of more than half a second restarts the line
    EXPECT_EQ(last().presentationTime, ns(t0 - 400 * kMs));
    h.feed(tenMs, 4, std::nullopt);  // no host time: the line goes on
    EXPECT_EQ(last().presentationTime, ns(t0 - 390 * kMs));

    // A new sink (the next recording) starts a new line; without host time at the clock's now.
    h.mic.setSink([&](MicCapture::SampleBuffer b) { h.delivered.push_back(std::move(b)); });
    EXPECT_FALSE(h.mic.nextPTS());
    h.now = 77 * kSecond;
    h.feed(tenMs, 4, std::nullopt);
    EXPECT_EQ(last().presentationTime, ns(77 * kSecond));
}

// Every interface's clock runs a little apart from the host clock. Ten
// minutes of 1024-frame buffers from a device 500 ppm fast or slow, stamped
// with ±2 ms of jitter: the sound stays within a few ms of the moment it was
// made, with every buffer following on where the last one ended (no hole, no
// overlap) and no more than the drift taken out or put in.
TEST(MicCapture, KeepsTimeWithADeviceClockThatRunsApartForTenMinutes)
{
    constexpr int kFrames = 1024;
    constexpr int kBuffers = 10 * 60 * kRate / kFrames;
    for (const double ppm : {500.0, -500.0}) {
        SCOPED_TRACE(ppm);
        Harness h;
        h.mic.setChannels({0}, false);
        std::optional<std::int64_t> end;  // where the last buffer ended
        std::int64_t worst = 0, changed = 0;
        int holes = 0;
        std::int64_t realFirst = 0;  // host time the current buffer's first frame was made
        h.mic.setSink([&](MicCapture::SampleBuffer b) {
            const std::int64_t at = std::llround(b.presentationTime.seconds() * 1e9);
            if (end && std::llabs(at - *end) > 1000) ++holes;
            end = at + std::int64_t(b.frames) * kSecond / kRate;
            worst = std::max<std::int64_t>(worst, std::llabs(at - realFirst));
            changed += std::abs(b.frames - kFrames);
        });
        const std::vector<float> input(kFrames, 0.25f);
        std::uint32_t noise = 777;
        const std::int64_t t0 = 1000 * kSecond;
        for (int i = 0; i < kBuffers; ++i) {
            realFirst = t0 + std::llround(double(i) * kFrames * 1e9 / (kRate * (1 + ppm * 1e-6)));
            noise = noise * 1664525u + 1013904223u;
            const auto jitter = std::int64_t(double(noise >> 8) / double(1u << 24) * 4e6) - 2'000'000;
            h.feed(input, 1, realFirst + jitter);
        }
        EXPECT_EQ(holes, 0);
        EXPECT_LT(worst, 5 * kMs);
        // The drift over ten minutes is 0.3 s of sound; single frames, barely more.
        const double drift = double(kBuffers) * kFrames * std::abs(ppm) * 1e-6;
        EXPECT_NEAR(double(changed), drift, 0.01 * kRate);
    }
}

TEST(MicCapture, PublishesLevelsAtMostEvery50msWithThePeakSinceTheLast)
{
    Harness h;
    h.mic.clearSink();
    std::vector<std::vector<float>> calls;
    h.mic.setOnLevels([&](std::vector<float> levels) { calls.push_back(std::move(levels)); });
    auto buffer = [](float a, float b) { return std::vector<float>{a, -b, 0.0f, b, a / 2, b}; };  // 2 channels
    auto step = [&](std::int64_t at, float a, float b) {
        h.now = at;
        h.feed(buffer(a, b), 2, at);
    };

    step(1000 * kMs, 0.1f, 0.2f);  // the first publication comes at once …
    EXPECT_TRUE(calls.empty());    // … through the main thread's event loop
    QCoreApplication::processEvents();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<float>{0.1f, 0.2f}));
    EXPECT_FALSE(h.mic.nextPTS());  // meters only: no time line

    step(1010 * kMs, 0.5f, 0.1f);
    step(1030 * kMs, 0.3f, -0.0f);
    step(1050 * kMs, 0.2f, 0.7f);  // exactly 50 ms: still held back
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.size(), 1u);
    step(1051 * kMs, 0.05f, 0.05f);  // a little more: the greatest since the last
    QCoreApplication::processEvents();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], (std::vector<float>{0.5f, 0.7f}));

    for (int i = 1; i <= 100; ++i) step(1051 * kMs + i * kMs, 0.01f * float(i % 7), 0.0f);
    QCoreApplication::processEvents();
    ASSERT_EQ(calls.size(), 3u);  // at +51 ms; the next is due after +102 ms
    EXPECT_EQ(calls[2][0], 0.06f);

    // Gone before the posted call ran: no call.
    calls.clear();
    {
        Harness other;
        other.mic.setOnLevels([&](std::vector<float> levels) { calls.push_back(std::move(levels)); });
        other.feed(buffer(0.4f, 0.4f), 2, other.now);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(calls.empty());
}
