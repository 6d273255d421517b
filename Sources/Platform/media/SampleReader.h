#pragma once

#include "Platform/media/Asset.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFiles.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace platform {

// Decodes one sound stream and resamples it to a chosen rate and channel
// count (the usual layout for that count), as interleaved 32-bit float.
// Positions are on the file's timeline: frame n lies at n / sampleRate s,
// and where the stream has no sound (before its start) it reads silence.
// One thread at a time per reader.
class SampleReader {
public:
    // Takes over the file as the asset's probe or an earlier reader left it,
    // or opens it again when none is free; or takes its packets from the
    // file's demuxer in `files` (may be null). Throws MediaError.
    SampleReader(const Asset& asset, const StreamInfo& stream, int sampleRate, int channels,
                 const std::shared_ptr<SourceFiles>& files = {});
    ~SampleReader();
    SampleReader(const SampleReader&) = delete;
    SampleReader& operator=(const SampleReader&) = delete;

    int sampleRate() const;
    int channels() const;

    // Moves the read position to `t` (rounded to the nearest frame). Reading
    // on from the current position never seeks.
    void seek(const MediaTime& t);
    // The position of the next frame read.
    MediaTime position() const;
    // Reads up to `frames` frames (frames × channels floats) into `out`;
    // returns how many, fewer only at the end of the stream.
    std::size_t read(float* out, std::size_t frames);
    // The sound of `range`: round(duration × rate) frames, silence where the
    // stream has none. Leaves the position at the range's end.
    std::vector<float> read(const TimeRange& range);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
