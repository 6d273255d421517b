// The loudness maximizer on exact inputs; the levels it settles at are worked
// out from its time constants and curve.

#include "Ondexa/rendering/Dynamics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <vector>

using namespace ondexa;

namespace {

std::vector<float> sine(double amplitude, double frequency, std::size_t frames)
{
    std::vector<float> out(frames);
    for (std::size_t i = 0; i < frames; ++i)
        out[i] = float(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i) / 48000));
    return out;
}

// A fresh maximizer at 48 kHz over interleaved samples, in blocks of the given sizes in turn.
std::vector<float> maximized(std::vector<float> samples, int channels, float preGain, std::vector<int> blocks = {4096})
{
    Dynamics dynamics(preGain);
    dynamics.prepare(48000, channels);
    for (int done = 0, b = 0, frames = int(samples.size()) / channels; done < frames; ++b) {
        const int n = std::min(blocks[std::size_t(b) % blocks.size()], frames - done);
        dynamics.process(samples.data() + done * channels, n);
        done += n;
    }
    return samples;
}

float peakFrom(const std::vector<float>& s, std::size_t from)
{
    return std::accumulate(s.begin() + std::ptrdiff_t(from), s.end(), 0.0f,
                           [](float peak, float x) { return std::max(peak, std::fabs(x)); });
}

} // namespace

TEST(Dynamics, QuietSignalIsOnlyDelayedByTheLookahead)
{
    const auto input = sine(0.1, 997, 9600);  // -20 dBFS: under the compressor
    const auto output = maximized(input, 1, 1);
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(output[i], i < 240 ? 0.0f : input[i - 240]) << i;
    const auto tap = makeTap(1);  // at 1000 Hz 5 ms would be 5 samples: 16
    tap->prepare(1000, 1, 32);
    std::vector<float> block(input.begin() + 1, input.begin() + 33);
    tap->process(block.data(), 32);
    EXPECT_EQ(block[15], 0.0f);
    EXPECT_EQ(block[16], input[1]);
}

TEST(Dynamics, PeakMeetsAGainAlreadyDownThatHoldsWhileItPasses)
{
    // One full-scale sample in -40 dBFS: the limiter's goal 0.89 is held for
    // the 240 samples the peak takes through the delay, and the applied gain
    // falls towards it with the 1.2 ms constant from 1 to 0.89 + 0.11 e^(−240/57.6).
    std::vector<float> input(2000, 0.01f);
    input[1000] = 1;
    const auto out = maximized(input, 1, 1);
    EXPECT_EQ(out[999], 0.01f);
    EXPECT_NEAR(out[1239], 0.01 * (0.89 + 0.11 * std::exp(-240 / 57.6)), 2e-7);
    EXPECT_EQ(out[1240], 0.89f);
}

TEST(Dynamics, LoudSignalsSettleWhereTheCurveAndCeilingSay)
{
    // 2 s: past the limiter's recovery. Recovering in single precision, the held
    // and the applied gain each stop up to 0.5 / (1 − e^(−1/7200)) float steps short.
    constexpr std::size_t end = 96000;
    constexpr double stall = 4.4e-4;
    const auto sineOut = maximized(sine(1, 1000, end), 1, 1);
    const auto constant = maximized(std::vector<float>(end, 1.0f), 1, 1);
    const auto limited = maximized(std::vector<float>(end, 1.0f), 1, 31.6f);
    for (const auto* out : {&sineOut, &constant, &limited})
        EXPECT_LE(peakFrom(*out, 0), Dynamics::ceiling);

    // 0 dBFS is 18 dB over the threshold: 10.8 dB down, 10^−0.54.
    EXPECT_NEAR(constant.back(), 0.288403, 0.288403 * stall);
    // +30 dB: compressed to 31.6^0.4 × 10^−0.54 ≈ 1.15, limited to the ceiling.
    EXPECT_NEAR(limited.back(), 0.89, 0.89 * stall);
    // A sine's envelope rests at E where the 5 ms rise over the wave tops balances
    // the 200 ms fall between them, 40 ∫(|sin| − E)⁺ = ∫(E − |sin|)⁺: E = 0.94440,
    // gain E^−0.6 × 10^−0.54 = 0.29847.
    EXPECT_NEAR(peakFrom(sineOut, end - 4800), 0.29847, 0.29847 * 0.005);
}

TEST(Dynamics, ChannelsShareTheGainOfTheLouderOne)
{
    // A swelling loud sine beside a copy at 5 %, on either side: the loud one
    // comes out as if alone, the quiet one with the same gain.
    auto loud = sine(1, 440, 48000);
    for (std::size_t i = 0; i < loud.size(); ++i)
        loud[i] *= float(i) / 24000;
    const auto alone = maximized(loud, 1, 4);
    EXPECT_LT(peakFrom(alone, 0), 0.7f);  // from 8 at the input
    for (const std::size_t l : {0u, 1u}) {
        std::vector<float> stereo(2 * loud.size());
        for (std::size_t i = 0; i < loud.size(); ++i)
            stereo[2 * i + l] = loud[i], stereo[2 * i + 1 - l] = loud[i] * 0.05f;
        const auto out = maximized(stereo, 2, 4);
        for (std::size_t i = 0; i < alone.size(); ++i) {
            ASSERT_EQ(out[2 * i + l], alone[i]) << i;
            ASSERT_NEAR(out[2 * i + 1 - l], alone[i] * 0.05f, 1e-6) << i;
        }
    }
}

TEST(Dynamics, BlockSizeChangesNothingAndNonFiniteSamplesAreSilence)
{
    auto signal = sine(0.05, 300, 24000);  // stereo: a burst the limiter catches
    std::transform(signal.begin() + 6000, signal.begin() + 9000, signal.begin() + 6000, [](float x) { return 40 * x; });
    const auto whole = maximized(signal, 2, 3);
    EXPECT_EQ(maximized(signal, 2, 3, {1, 7, 64, 480, 3, 1000}), whole);

    // Else one infinite sample would hold the envelope at infinity and silence
    // the rest of the track.
    auto broken = signal;
    broken[101] = std::numeric_limits<float>::infinity();
    broken[500] = std::numeric_limits<float>::quiet_NaN();
    signal[101] = signal[500] = 0;
    EXPECT_EQ(maximized(broken, 2, 3), maximized(signal, 2, 3));
}

TEST(Dynamics, SteadyLevelsAboveTheThresholdFollowTheCurve)
{
    // Levels from just over the threshold to just under the ceiling (so the
    // limiter stays out): each dB over -18 dBFS comes out as 0.4 dB. The
    // envelope's attack stalls up to 0.5 / (1 − e^(−1/240)) float steps short.
    for (const double level : {0.13, 0.2, 0.35, 0.5, 0.7, 0.88}) {
        const auto out = maximized(std::vector<float>(48000, float(level)), 1, 1);
        const double expected = level * std::pow(level / std::pow(10.0, -18.0 / 20), -0.6);
        EXPECT_NEAR(out.back(), expected, expected * 2e-5) << level;
    }
}
