#include "Platform/media/SourceFrames.h"

#include "Platform/media/FrameReader.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/ReadSupport.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace platform {

namespace {

// A reader whose last frame lies at most this far before the wanted one
// reads on to it rather than another reader being opened.
const MediaTime kReadOnWindow{2, 1};
// Readers of one stream at most; beyond it the least recently used one jumps.
constexpr std::size_t kReadersPerStream = 2;
// A stream whose frames run out this long before the end its file states has
// stopped decoding; less is the slack of the stated end.
const MediaTime kDryBeforeEnd{1, 2};

std::string secondsText(double seconds)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 2).ptr;
    return std::string(text, end);
}

} // namespace

SourceFrames::SourceFrames(std::shared_ptr<const Composition> composition, std::shared_ptr<FrameCache> cache,
                           std::shared_ptr<SourceFiles> files, QSize keepYuvAt)
    : composition_(std::move(composition)), cache_(std::move(cache)),
      files_(files ? std::move(files) : std::make_shared<SourceFiles>()), encoderSize_(keepYuvAt)
{
}

SourceFrames::SourceFrames(std::shared_ptr<const Composition> composition, std::shared_ptr<FrameCache> cache,
                           QSize encoderSize)
    : composition_(std::move(composition)), cache_(std::move(cache)), files_(std::make_shared<SourceFiles>()),
      encoderSize_(encoderSize)
{
}

SourceFrames::~SourceFrames() = default;

std::map<std::int32_t, QImage> SourceFrames::framesAt(const std::vector<std::int32_t>& trackIds, const MediaTime& t,
                                                      const std::map<std::int32_t, DrawnSize>& sizes,
                                                      std::map<std::int32_t, std::shared_ptr<const YuvFrame>>* yuv)
{
    std::map<std::int32_t, QImage> frames;
    if (!composition_) return frames;
    for (const std::int32_t id : trackIds) {
        const Composition::Track* track = composition_->track(id);
        if (!track || track->kind != Composition::TrackKind::video) continue;
        const Composition::Segment* segment = track->segmentAt(t);
        if (!segment || segment->isEmpty()) continue;
        const auto size = sizes.find(id);
        VideoFrame frame = frameOf(*segment, t, size == sizes.end() ? DrawnSize{} : size->second);
        if (!frame.image.isNull()) frames.emplace(id, std::move(frame.image));
        else if (frame.yuv && yuv) yuv->emplace(id, std::move(frame.yuv));
    }
    return frames;
}

VideoFrame SourceFrames::frameOf(const Composition::Segment& segment, const MediaTime& t, const DrawnSize& size)
{
    Stream& stream = streams_[StreamKey{segment.asset->identity(), segment.stream.fileIndex}];
    if (stream.failed) return {};
    const MediaTime sourceTime = segment.sourceTime(t);

    // The reader that reaches the time soonest by reading on; else a new
    // one, while the stream has room for it; else the least recently used.
    Slot* chosen = nullptr;
    for (Slot& slot : stream.readers) {
        if (slot.last > sourceTime || sourceTime - slot.last > kReadOnWindow) continue;
        if (!chosen || slot.last > chosen->last) chosen = &slot;
    }
    if (!chosen && stream.readers.size() < kReadersPerStream) {
        try {
            FrameReader::Options options;
            options.cache = cache_;
            options.keepYuvAt = encoderSize_;
            stream.readers.push_back(Slot{std::make_unique<FrameReader>(*segment.asset, segment.stream, options, files_),
                                        MediaTime::invalid(), 0});
            chosen = &stream.readers.back();
        } catch (const MediaError& e) {
            fail(e.what());
            if (stream.readers.empty()) {
                stream.failed = true;
                return {};
            }
        }
    }
    if (!chosen)
        chosen = &*std::min_element(stream.readers.begin(), stream.readers.end(),
                                    [](const Slot& a, const Slot& b) { return a.used < b.used; });
    chosen->used = ++clock_;
    try {
        VideoFrame frame = chosen->reader->frameAt(sourceTime, size);
        chosen->last = sourceTime;
        // A reader holds its last frame past the end: when that comes well
        // before the stated end, the file is damaged or was cut since it was
        // probed, and the picture would stand still there.
        const MediaTime shownUntil = frame.duration.isNumeric() ? frame.time + frame.duration : MediaTime::invalid();
        if (segment.stream.kind == StreamKind::video && shownUntil.isNumeric() && shownUntil <= sourceTime
            && sourceTime + kDryBeforeEnd < segment.stream.timeRange.end()) {
            fail("A videó " + secondsText(shownUntil.seconds()) + " másodperctől nem dekódolható: "
                 + readsupport::quoted(segment.asset->path()) + ".");
            return {};
        }
        return frame;
    } catch (const MediaError& e) {
        fail(e.what());
        return {};
    }
}

void SourceFrames::fail(const std::string& message)
{
    if (!error_) error_ = message;
}

std::optional<std::string> SourceFrames::takeError()
{
    return std::exchange(error_, std::nullopt);
}

} // namespace platform
