#pragma once

// The loudness maximizer of a sound track: a fixed pre-gain, a 2.5 : 1
// compressor above -18 dBFS and a look-ahead peak limiter whose ceiling of
// 0.89 (about -1 dBFS) also bounds the output. The output is the input delayed
// by the look-ahead (5 ms), so the limiter's gain has already fallen when a
// peak comes out.
//
// One instance per sound lane, owned by its tap and touched only by the audio
// thread once playback starts; no locks. Allocates only in prepare().

#include "Platform/media/AudioMix.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace ondexa {

class Dynamics {
public:
    static constexpr float ceiling = 0.89f;

    // 48000 Hz and no channels: blocks are left alone until prepare().
    explicit Dynamics(float preGain);

    // A new processing format: the look-ahead becomes 5 ms of `sampleRate`
    // (at least 16 samples) and the delay starts again from silence, one ring
    // per channel. The envelope and the gains carry on. A rate that is not a
    // positive number keeps the previous one.
    void prepare(double sampleRate, int channels);

    // `frames` interleaved frames of the prepared channel count, in place.
    void process(float* samples, int frames);

    float preGain() const { return preGain_; }
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    std::size_t lookahead() const { return lookahead_; }

private:
    template <std::size_t FixedChannels>
    void run(float* samples, int frames);

    float preGain_;
    double sampleRate_ = 48000;
    int channels_ = 0;
    float envelope_ = 0;               // smoothed peak level, linear
    std::vector<float> delay_;         // interleaved ring: lookahead_ frames of channels_ samples
    std::size_t delayIndex_ = 0;       // ring position, shared by the channels
    std::size_t lookahead_ = 240;      // delay in frames
    float heldGain_ = 1;               // the limiter's held gain
    std::size_t holdLeft_ = 0;         // frames the held gain still stays
    float smoothGain_ = 1;             // the gain actually applied
};

// A maximizer with its own state as the tap of one sound track of a mix. Give
// every track its own tap: a tap shared by two tracks would mix their states.
std::shared_ptr<platform::AudioTap> makeTap(float preGain);

} // namespace ondexa
