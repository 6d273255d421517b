#include "Platform/media/CompositionRenderer.h"

#include "Platform/media/MediaError.h"

#include <future>

namespace platform {

namespace {

// Room for a few frames of one picture, for a renderer without a cache of its own.
constexpr std::size_t kOwnCacheBytes = 32u << 20;

} // namespace

MediaTime shownFrameTime(const MediaTime& t, const MediaTime& duration)
{
    if (!t.isNumeric() || t < MediaTime(0, 1)) return MediaTime::zero();
    if (duration.isNumeric() && duration > MediaTime(0, 1) && t >= duration)
        return duration - MediaTime(1, MediaTime::kDefaultTimescale);
    return t;
}

QImage blackFrame(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

CompositionRenderer::CompositionRenderer(std::shared_ptr<const Composition> composition,
                                         std::shared_ptr<const VideoComposition> videoComposition,
                                         std::shared_ptr<FrameCache> cache, Reading reading)
    : composition_(std::move(composition)), videoComposition_(std::move(videoComposition)),
      sources_(composition_, cache ? std::move(cache) : std::make_shared<FrameCache>(kOwnCacheBytes),
               reading == Reading::asExport && videoComposition_ ? videoComposition_->renderSize : QSize()),
      reading_(reading)
{
}

CompositionRenderer::~CompositionRenderer() = default;

QImage CompositionRenderer::imageAt(const MediaTime& time)
{
    FrameRequest::Result r = composedAt(time);
    if (r.base) throw MediaError("A képkocka csak exportálásra készült el.");
    return r.image;
}

FrameRequest::Result CompositionRenderer::composedAt(const MediaTime& time)
{
    if (!videoComposition_ || videoComposition_->renderSize.isEmpty())
        throw MediaError("A kompozíciónak nincs képmérete, nem rajzolható.");
    const MediaTime t = shownFrameTime(time, composition_ ? composition_->duration() : MediaTime::zero());
    auto instruction = videoComposition_->instructionAt(t);
    if (!instruction) {
        FrameRequest::Result black;
        black.status = FrameRequest::Result::Status::composed;
        black.image = blackFrame(videoComposition_->renderSize);
        return black;
    }
    if (!compositor_) {
        if (videoComposition_->compositorFactory) compositor_ = videoComposition_->compositorFactory();
        if (!compositor_) throw MediaError("A kompozíciónak nincs képkocka-összeállítója.");
        if (reading_ == Reading::asExport && !compositor_->acceptsYuvFrames())
            throw MediaError("A képkocka-összeállító nem fogad dekódolatlan képkockát.");
    }

    // An export draws every picture from its full size, as it always has.
    FrameRequest::YuvFrames yuv;
    auto frames = sources_.framesAt(
        instruction->requiredSourceTrackIds(), t,
        reading_ != Reading::asPlayer ? std::map<std::int32_t, DrawnSize>{}
                                      : instruction->drawnSizes(t, videoComposition_->renderSize),
        &yuv);
    if (auto error = sources_.takeError()) throw MediaError(*error);
    std::promise<FrameRequest::Result> promise;
    auto result = promise.get_future();
    compositor_->startRequest(std::make_shared<FrameRequest>(
        t, instruction, std::move(frames), videoComposition_->renderSize,
        [&promise](FrameRequest::Result r) { promise.set_value(std::move(r)); }, std::move(yuv)));
    FrameRequest::Result r = result.get();
    switch (r.status) {
    case FrameRequest::Result::Status::composed: return r;
    case FrameRequest::Result::Status::failed: throw MediaError(r.error);
    case FrameRequest::Result::Status::cancelled: break;
    }
    throw MediaError("A képkocka rajzolása megszakadt.");
}

} // namespace platform
