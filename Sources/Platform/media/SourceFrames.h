#pragma once

#include "Platform/media/Composition.h"
#include "Platform/media/DrawnSize.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFiles.h"

#include <QImage>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class FrameReader;

// Decodes the source frames that the video tracks of a composition show.
// Each source stream in use has one reader, shared by every segment and track
// that shows it; a second one joins while two tracks show the same stream far
// apart at once (a transition between two parts of one recording). Frames go
// through a frame cache, so a picture two tracks show is decoded once. The
// readers of one file (screen and camera of a recording) share one demuxer.
// One thread at a time.
class SourceFrames {
public:
    // `files` may be shared with the composition's sound (null: files of its
    // own). Pictures of `keepYuvAt` drawn at their size stay undecoded, as below.
    SourceFrames(std::shared_ptr<const Composition> composition, std::shared_ptr<FrameCache> cache,
                 std::shared_ptr<SourceFiles> files = {}, QSize keepYuvAt = {});
    // As above; pictures an encoder of `encoderSize` takes as they are
    // (FrameReader::Options::keepYuvAt) stay undecoded, in framesAt's `yuv`.
    SourceFrames(std::shared_ptr<const Composition> composition, std::shared_ptr<FrameCache> cache,
                 QSize encoderSize);
    ~SourceFrames();
    SourceFrames(const SourceFrames&) = delete;
    SourceFrames& operator=(const SourceFrames&) = delete;

    // The frames of the video tracks `trackIds` at composition time `t`,
    // each decoded at the size `sizes` gives for its track (else its own). A
    // track that shows nothing then (no such track, an empty range, past its
    // end) or whose source fails to decode has no entry.
    // Frames kept undecoded go into `yuv` instead (never without it).
    std::map<std::int32_t, QImage> framesAt(const std::vector<std::int32_t>& trackIds, const MediaTime& t,
                                            const std::map<std::int32_t, DrawnSize>& sizes = {},
                                            std::map<std::int32_t, std::shared_ptr<const YuvFrame>>* yuv = nullptr);

    // The first decoding error since the last call (one Hungarian sentence).
    // A stream that fails to decode fails again at each frame asked of it.
    std::optional<std::string> takeError();

private:
    using StreamKey = std::pair<std::string, int>;  // asset identity, stream index in the file
    struct Slot {
        std::unique_ptr<FrameReader> reader;
        MediaTime last;          // source time of the last frame read
        std::uint64_t used = 0;  // when it was last read, for choosing one to reuse
    };
    struct Stream {
        std::vector<Slot> readers;
        bool failed = false;  // the file could not be opened again
    };

    VideoFrame frameOf(const Composition::Segment& segment, const MediaTime& t, const DrawnSize& size);
    void fail(const std::string& message);

    const std::shared_ptr<const Composition> composition_;
    const std::shared_ptr<FrameCache> cache_;
    const std::shared_ptr<SourceFiles> files_;
    const QSize encoderSize_;
    std::map<StreamKey, Stream> streams_;
    std::uint64_t clock_ = 0;
    std::optional<std::string> error_;
};

} // namespace platform
