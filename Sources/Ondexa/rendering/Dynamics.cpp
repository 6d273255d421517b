#include "Dynamics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace ondexa {

namespace {

// Compression starts here, in dBFS; above it each dB of input adds 0.4 dB.
constexpr float threshold = -18;
constexpr float slope = -0.6f;
// The threshold as a linear level. Above it the gain (level − threshold) ×
// slope in dB is (envelope / thresholdLinear)^slope.
const float thresholdLinear = std::pow(10.0f, threshold / 20);

// x^slope for x ≥ 1 without a pow per sample (it was most of the maximizer's
// cost): x = m × 2^e with m in [1, 2), so x^slope = m^slope × (2^slope)^e,
// the first from a table over m's top mantissa bits, interpolated linearly,
// the second from a table over e. Within 2e-7 of pow, a couple of float steps.
class SlopePower {
public:
    SlopePower()
    {
        for (std::size_t i = 0; i <= mantissaSteps; ++i)
            mantissa_[i] = float(std::pow(1.0 + double(i) / mantissaSteps, double(slope)));
        for (std::size_t e = 0; e < exponent_.size(); ++e)
            exponent_[e] = float(std::exp2(double(slope) * (double(e) - 127)));
    }

    float operator()(float x) const
    {
        const auto bits = std::bit_cast<std::uint32_t>(x);
        const std::uint32_t mantissa = bits & 0x7fffff;
        const std::uint32_t i = mantissa >> fractionBits;
        const float f = float(mantissa & ((1u << fractionBits) - 1)) * (1.0f / float(1u << fractionBits));
        const float m = mantissa_[i] + (mantissa_[i + 1] - mantissa_[i]) * f;
        return m * exponent_[(bits >> 23) & 0xff];
    }

private:
    static constexpr std::uint32_t indexBits = 10;
    static constexpr std::uint32_t fractionBits = 23 - indexBits;
    static constexpr std::size_t mantissaSteps = std::size_t(1) << indexBits;
    std::array<float, mantissaSteps + 1> mantissa_{};
    std::array<float, 256> exponent_{};
};

const SlopePower slopePower;

// The per-sample factor of a one-pole filter with time constant `seconds`.
float coefficient(double sampleRate, double seconds)
{
    return float(std::exp(-1.0 / (sampleRate * seconds)));
}

class DynamicsTap final : public platform::AudioTap {
public:
    explicit DynamicsTap(float preGain) : dynamics_(preGain) {}

    // Blocks are processed in place, so the largest block size doesn't matter.
    void prepare(int sampleRate, int channels, int) override { dynamics_.prepare(sampleRate, channels); }
    void process(float* samples, int frames) override { dynamics_.process(samples, frames); }

private:
    Dynamics dynamics_;
};

} // namespace

Dynamics::Dynamics(float preGain)
    : preGain_(preGain)
{
}

void Dynamics::prepare(double sampleRate, int channels)
{
    if (std::isfinite(sampleRate) && sampleRate > 0)
        sampleRate_ = sampleRate;
    lookahead_ = std::size_t(std::max(16.0, std::floor(sampleRate_ * 0.005)));
    channels_ = std::max(channels, 0);
    delay_.assign(lookahead_ * std::size_t(channels_), 0.0f);
    delayIndex_ = 0;
}

void Dynamics::process(float* samples, int frames)
{
    if (!samples || frames <= 0 || channels_ == 0)
        return;
    // Stereo, by far the usual case, with its channel loops unrolled.
    if (channels_ == 2)
        run<2>(samples, frames);
    else
        run<0>(samples, frames);
}

template <std::size_t FixedChannels>
void Dynamics::run(float* samples, int frames)
{
    const float attack = coefficient(sampleRate_, 0.005);
    const float release = coefficient(sampleRate_, 0.2);
    const float fall = coefficient(sampleRate_, 0.0012);
    const float rise = coefficient(sampleRate_, 0.15);
    const std::size_t channels = FixedChannels ? FixedChannels : std::size_t(channels_);
    const float preGain = preGain_;
    // The state in locals: the samples written could otherwise be the same
    // floats for all the compiler knows, and it would reload them each frame.
    float envelope = envelope_;
    float heldGain = heldGain_;
    std::size_t holdLeft = holdLeft_;
    float smoothGain = smoothGain_;
    std::size_t delayIndex = delayIndex_;
    const std::size_t lookahead = lookahead_;
    float* const delay = delay_.data();

    for (float* frame = samples; frame != samples + std::size_t(frames) * channels; frame += channels) {
        // A non-finite sample would stick in the envelope and silence the rest
        // of the track: it counts as silence.
        float peak = 0;
        for (std::size_t ch = 0; ch < channels; ++ch) {
            const float sample = frame[ch] * preGain;
            if (!std::isfinite(sample))
                frame[ch] = 0;
            else
                peak = std::max(peak, std::fabs(sample));
        }

        const float c = envelope < peak ? attack : release;
        envelope = envelope * c + peak * (1 - c);
        const float comp = envelope > thresholdLinear ? slopePower(envelope / thresholdLinear) : 1.0f;

        // The limiter's gain comes from the undelayed signal and is held for
        // the look-ahead, so it is down for the whole time a peak passes.
        const float y = peak * comp;
        const float target = y > ceiling ? ceiling / y : 1.0f;
        float gain;
        if (target <= heldGain) {
            heldGain = target;
            holdLeft = lookahead;
            gain = target;
        } else if (holdLeft >= 1) {
            --holdLeft;
            gain = heldGain;
        } else {
            heldGain = 1 - (1 - heldGain) * rise;
            gain = heldGain;
        }
        const float c2 = gain < smoothGain ? fall : rise;
        smoothGain = smoothGain + (gain - smoothGain) * (1 - c2);

        float* ring = delay + delayIndex * channels;
        for (std::size_t ch = 0; ch < channels; ++ch) {
            const float delayed = ring[ch];
            ring[ch] = frame[ch] * comp * preGain;
            frame[ch] = std::clamp(delayed * smoothGain, -ceiling, ceiling);
        }
        if (++delayIndex == lookahead)
            delayIndex = 0;
    }
    envelope_ = envelope;
    heldGain_ = heldGain;
    holdLeft_ = holdLeft;
    smoothGain_ = smoothGain;
    delayIndex_ = delayIndex;
}

std::shared_ptr<platform::AudioTap> makeTap(float preGain)
{
    return std::make_shared<DynamicsTap>(preGain);
}

} // namespace ondexa
