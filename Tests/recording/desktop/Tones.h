#pragma once

// Measuring tones in sound read back from a movie.

#include "support/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tones {

// The amplitude of the `hz` component of `n` samples (Goertzel).
inline double goertzel(const float* samples, std::size_t n, int rate, double hz)
{
    const double w = 2 * M_PI * hz / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s0 = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return n ? 2 * std::sqrt(std::max(power, 0.0)) / double(n) : 0;
}

// The amplitude of the `hz` component of `samples` over the middle of the
// track, so that the AAC encoder's fade-in and any silence padding at the
// ends stay out. Averaged over windows of 100 ms: the recording keeps the
// sound on the host clock by dropping or repeating single frames, which
// shifts a tone by up to 0.1 %, enough to cancel it in one long window.
inline double toneAmplitude(const std::vector<float>& samples, int rate, double hz)
{
    const std::size_t n = std::min<std::size_t>(samples.size() / 2, std::size_t(rate));
    const std::size_t from = (samples.size() - n) / 2;
    const std::size_t window = std::max<std::size_t>(std::size_t(rate / 10), 1);
    if (n < window) return goertzel(samples.data() + from, n, rate, hz);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t at = from; at + window <= from + n; at += window, ++count)
        sum += goertzel(samples.data() + at, window, rate, hz);
    return sum / double(count);
}

// The amplitude of the `hz` component of the left channel from `from` to
// `to` s of the movie's time.
inline double toneAt(const fixtures::MovieStream& sound, double hz, double from, double to)
{
    const auto a = std::size_t(std::max(0.0, (from - sound.soundStart) * sound.sampleRate));
    const auto b = std::min(sound.left.size(), std::size_t(std::max(0.0, (to - sound.soundStart) * sound.sampleRate)));
    if (b <= a) return 0;
    // In windows of 100 ms, as in toneAmplitude.
    const auto window = std::max<std::size_t>(std::size_t(sound.sampleRate / 10), 1);
    if (b - a < 2 * window) return goertzel(sound.left.data() + a, b - a, sound.sampleRate, hz);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t at = a; at + window <= b; at += window, ++count)
        sum += goertzel(sound.left.data() + at, window, sound.sampleRate, hz);
    return sum / double(count);
}

} // namespace tones
