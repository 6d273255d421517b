#pragma once

#include "Platform/media/AudioMix.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFiles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class SoundSource;

// Mixes the sound tracks of a composition to 48 kHz stereo float: each track
// read and resampled from its sources, its volume applied, then its tap, then
// all tracks summed. A stream that several tracks play at nearby times is
// decoded once for all of them. For the player's audio thread and for
// offline mixing.
// One thread at a time; that thread is the one the taps run on.
class AudioMixer {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;
    // The largest block handed to a tap.
    static constexpr int maxFrames = 4096;

    // `files` may be shared with the composition's pictures (null: files of its own).
    explicit AudioMixer(std::shared_ptr<const Composition> composition, std::shared_ptr<SourceFiles> files = {});
    // Unprepares the taps in use.
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // The next frame mixed is the one at `t` (frame n lies at n / 48000 s,
    // rounded to the nearest). The taps in use start again (unprepare,
    // prepare), so nothing from before the jump leaks into what follows.
    void seek(const MediaTime& t);
    // The frame index of the next frame mixed.
    std::int64_t framePosition() const { return position_; }
    MediaTime position() const { return {position_, sampleRate}; }

    // Mixes the next `frames` frames into `out` (frames × 2 floats,
    // overwritten). `mix` may be null (every track at volume 1, no taps). A
    // mix other than the one of the previous call takes over with this
    // block: the old one's taps are unprepared, the new one's prepared.
    // Past the end of every track the result is silence (taps still run).
    void mix(float* out, int frames, const std::shared_ptr<const AudioMix>& mix);

    // The first decoding error since the last call (one Hungarian sentence),
    // if any. A source that fails is silent from then on (and not reported
    // again); mixing goes on.
    std::optional<std::string> takeError();

private:
    // One decoded source per stream, shared by every track that plays it.
    using StreamKey = std::pair<std::string, int>;  // asset identity, stream index in the file

    void mixBlock(float* out, int frames);
    void readTrack(const Composition::Track& track, float* buffer, int frames);
    SoundSource* source(const Composition::Segment& segment);
    void prepareTaps();
    void unprepareTaps();
    void fail(const std::string& message);

    const std::shared_ptr<const Composition> composition_;
    const std::shared_ptr<SourceFiles> files_;
    std::map<StreamKey, std::unique_ptr<SoundSource>> sources_;  // null: failed
    std::uint64_t blocks_ = 0;  // blocks mixed, naming each for the sources
    std::shared_ptr<const AudioMix> mix_;  // the mix whose taps are prepared
    bool prepared_ = false;
    std::int64_t position_ = 0;
    std::vector<float> track_;  // one track's block
    std::optional<std::string> error_;
};

} // namespace platform
