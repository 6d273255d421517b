#include "Ondexa/rendering/Thumbnails.h"

#include "Platform/media/ImageGenerator.h"
#include "Platform/media/MediaError.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <unordered_set>

namespace ondexa {

using platform::MediaTime;

namespace {

// A filmstrip needs no more pictures than this, however long the stream.
constexpr double mostPerStream = 600;
// Nor more than two a second.
constexpr double shortestStep = 0.5;
// The image generator's times, as fine as a frame needs.
constexpr std::int32_t thumbnailTimescale = 600;

} // namespace

ThumbnailPlan planThumbnails(const platform::TimeRange& range)
{
    ThumbnailPlan plan;
    if (!range.isValid() || !range.start.isNumeric() || !range.duration.isNumeric()) return plan;
    const double start = range.start.seconds();
    const double duration = range.duration.seconds();
    if (!(duration > 0)) return plan;
    const double end = start + duration;
    const double step = std::max(duration / mostPerStream, shortestStep);
    plan.tolerance = step / 2;
    // Counted, not summed, so that rounding does not add or lose a step.
    for (std::size_t i = 0;; ++i) {
        const double t = start + static_cast<double>(i) * step;
        if (!(t < end)) break;
        if (plan.batches.empty() || plan.batches.back().size() == thumbnailBatch) plan.batches.emplace_back();
        plan.batches.back().push_back(t + step / 2);
    }
    return plan;
}

std::vector<Thumbnail> makeThumbnails(const platform::Asset& asset, const platform::StreamInfo& stream,
                                      std::span<const double> times, double tolerance)
{
    std::vector<Thumbnail> thumbnails;
    try {
        platform::ImageGenerator generator(asset, stream);
        generator.setMaximumSize(QSize(thumbnailSide, thumbnailSide));
        const MediaTime window = MediaTime::fromSeconds(tolerance, thumbnailTimescale);
        generator.setTolerance(window, window);
        for (const double t : times) {
            try {
                QImage image = generator.imageAt(MediaTime::fromSeconds(t, thumbnailTimescale));
                if (!image.isNull()) thumbnails.push_back({t, std::move(image)});
            } catch (const platform::MediaError&) {
                // That time is left out of the strip.
            }
        }
    } catch (const std::exception&) {
        // The file can no longer be opened: what was made so far stays.
    }
    return thumbnails;
}

std::optional<Thumbnail> stillThumbnail(const QImage& image)
{
    if (image.isNull()) return std::nullopt;
    const int side = std::max(image.width(), image.height());
    const double s = std::min(static_cast<double>(thumbnailSide) / side, 1.0);
    if (s >= 1.0) return Thumbnail{0, image};
    const int w = std::max(1, static_cast<int>(std::lround(image.width() * s)));
    const int h = std::max(1, static_cast<int>(std::lround(image.height() * s)));
    return Thumbnail{0, image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)};
}

bool addThumbnails(ThumbnailMap& thumbnails, const MediaRef& media, std::vector<Thumbnail> made)
{
    if (media.kind == MediaKind::image && made.empty()) return false;
    auto& list = thumbnails[media];
    list.insert(list.end(), std::make_move_iterator(made.begin()), std::make_move_iterator(made.end()));
    return true;
}

std::vector<ThumbnailJob> missingThumbnails(std::span<const Track> tracks, const MediaSources& sources,
                                            const ThumbnailMap& thumbnails)
{
    std::vector<ThumbnailJob> jobs;
    std::unordered_set<MediaRef> seen;
    for (const Track& track : tracks) {
        if (!track.isPicture()) continue;
        for (const Clip& clip : track.clips) {
            const MediaRef media = mediaOf(clip, track);
            if (!seen.insert(media).second || thumbnails.contains(media)) continue;
            const auto source = sources.find(media.path);
            if (source == sources.end() || !source->second.holds(media)) continue;
            const MediaSource& s = source->second;
            ThumbnailJob job;
            job.media = media;
            if (s.isStill()) {
                job.still = s.image;
            } else if (s.asset && media.kind == MediaKind::video) {
                // The referenced stream: a camera clip shows the camera.
                const MediaSource::VideoStream& video = s.video[static_cast<std::size_t>(media.index)];
                job.plan = planThumbnails(video.range);
                if (job.plan.batches.empty()) continue;
                job.asset = s.asset;
                job.stream = video.stream;
            } else {
                continue;
            }
            jobs.push_back(std::move(job));
        }
    }
    return jobs;
}

} // namespace ondexa
