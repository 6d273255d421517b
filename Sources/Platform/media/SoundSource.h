#pragma once

#include "Platform/media/Asset.h"
#include "Platform/media/SourceFiles.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace platform {

class SampleReader;

// The decoded sound of one stream for every lane of a mix that plays it: one
// decode serves lanes that play the stream at nearby times (offsets within a
// window of a few seconds), since each reads from the same window of decoded
// frames. Lanes that play parts far apart get a reader each. What a lane gets
// is what a reader of its own would give. One thread at a time.
class SoundSource {
public:
    // Opens nothing yet. `rate` and `channels` are those of the frames read;
    // readers take their packets from `files` (may be null).
    SoundSource(std::shared_ptr<const Asset> asset, StreamInfo stream, int rate, int channels,
                std::shared_ptr<SourceFiles> files = {});
    ~SoundSource();
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    // The frames [first, first + frames) of the stream's timeline (frame n at
    // n / rate s) into `out` (frames × channels floats), silence where the
    // stream has none. `block` names the mixing block the read belongs to:
    // a reader already read in this block is not moved away for another lane.
    // Throws MediaError.
    void read(std::int64_t first, float* out, std::size_t frames, std::uint64_t block);

    // The readers read in block `block` (lanes close together share one).
    std::size_t readersIn(std::uint64_t block) const;

private:
    struct Slot {
        std::unique_ptr<SampleReader> reader;  // positioned at the window's end
        std::vector<float> window;             // decoded frames, interleaved, from `head`
        std::size_t head = 0;                  // first float of the window in `window`
        std::int64_t start = 0;                // frame index of the window's first frame
        bool ended = false;                    // the reader has nothing more: silence on
        std::uint64_t block = 0;               // the last block read from it
        // The earliest frame read from it in that block and in the one before
        // (none: the largest integer): what lanes behind still need.
        std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
        std::int64_t earliestBefore = std::numeric_limits<std::int64_t>::max();

        std::int64_t end(int channels) const
        {
            return start + std::int64_t((window.size() - head) / std::size_t(channels));
        }
    };

    Slot& slotFor(std::int64_t first, std::uint64_t block);
    void restart(Slot& slot, std::int64_t first);
    void extend(Slot& slot, std::int64_t to);
    void trim(Slot& slot, std::int64_t keepFrom);

    const std::shared_ptr<const Asset> asset_;
    const StreamInfo stream_;
    const int rate_;
    const int channels_;
    const std::shared_ptr<SourceFiles> files_;
    std::vector<Slot> slots_;
};

} // namespace platform
