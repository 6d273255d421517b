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
    const float attack = coefficient(sampleRate_, 0.005);
    const float release = coefficient(sampleRate_, 0.2);
    const float fall = coefficient(sampleRate_, 0.0012);
    const float rise = coefficient(sampleRate_, 0.15);
    const auto channels = std::size_t(channels_);

    for (float* frame = samples; frame != samples + std::size_t(frames) * channels; frame += channels) {
        // A non-finite sample would stick in the envelope and silence the rest
        // of the track: it counts as silence.
        float peak = 0;
        for (std::size_t ch = 0; ch < channels; ++ch) {
            const float sample = frame[ch] * preGain_;
            if (!std::isfinite(sample))
                frame[ch] = 0;
            else
                peak = std::max(peak, std::fabs(sample));
        }

        const float c = envelope_ < peak ? attack : release;
        envelope_ = envelope_ * c + peak * (1 - c);
        const float comp = envelope_ > thresholdLinear ? slopePower(envelope_ / thresholdLinear) : 1.0f;

        // The limiter's gain comes from the undelayed signal and is held for
        // the look-ahead, so it is down for the whole time a peak passes.
        const float y = peak * comp;
        const float target = y > ceiling ? ceiling / y : 1.0f;
        float gain;
        if (target <= heldGain_) {
            heldGain_ = target;
            holdLeft_ = lookahead_;
            gain = target;
        } else if (holdLeft_ >= 1) {
            --holdLeft_;
            gain = heldGain_;
        } else {
            heldGain_ = 1 - (1 - heldGain_) * rise;
            gain = heldGain_;
        }
        const float c2 = gain < smoothGain_ ? fall : rise;
        smoothGain_ = smoothGain_ + (gain - smoothGain_) * (1 - c2);

        float* ring = delay_.data() + delayIndex_ * channels;
        for (std::size_t ch = 0; ch < channels; ++ch) {
            const float delayed = ring[ch];
            ring[ch] = frame[ch] * comp * preGain_;
            frame[ch] = std::clamp(delayed * smoothGain_, -ceiling, ceiling);
        }
        if (++delayIndex_ == lookahead_)
            delayIndex_ = 0;
    }
}

std::shared_ptr<platform::AudioTap> makeTap(float preGain)
{
    return std::make_shared<DynamicsTap>(preGain);
}

} // namespace ondexa
