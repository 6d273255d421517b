// The glue to the rendering builders: the player item, the preview's video
// composition and audio mix, waveform peaks and thumbnails.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/rendering/Peaks.h"

#include "Platform/media/PlayerItem.h"

#include <algorithm>
#include <cmath>

namespace ondexa {

RenderSettings EditorModel::renderSettings() const
{
    RenderSettings settings;
    settings.tracks = tracks_;
    settings.sources = &sources_;
    settings.screenSize = screenSize_;
    settings.aspect = aspect_;
    settings.frameRate = frameRate_;
    settings.clicks = clicks_;
    settings.cursorSamples = cursorSamples_;
    settings.showClicks = showClicks_;
    settings.cursorStyle = cursorStyle_;
    settings.peaks = &peaks_;
    return settings;
}

void EditorModel::rebuild(double seekTo)
{
    if (rebuildStub_) return rebuildStub_(seekTo);
    const RenderSettings settings = renderSettings();
    std::optional<Built> built;
    try {
        built = makeComposition(settings);
    } catch (const std::exception&) {
        // Nothing can be built: the item, the clock and the file stay.
    }
    if (!built || !built->composition) return;

    auto item = std::make_shared<platform::PlayerItem>(built->composition);
    item->setAudioMix(makeAudioMix(*built, settings));
    item->setVideoComposition(makeVideoComposition(*built, settings, true));
    built_ = std::move(built);
    player_->replaceCurrentItem(std::move(item));

    double t = std::isfinite(seekTo) ? std::max(seekTo, 0.0) : 0.0;
    t = std::min(duration(), t);
    clock_->setTime(t);
    seekPlayer(t);
    save();
}

void EditorModel::refreshPreviewVideo()
{
    if (!built_) return;
    const auto item = player_->currentItem();
    if (!item) return;
    item->setVideoComposition(makeVideoComposition(*built_, renderSettings(), true));
    // A paused player shows the frame again with the new composition.
    if (!isPlaying_) seekPlayer(clock_->time());
    save();
}

void EditorModel::refreshAudioMix()
{
    if (!built_) return;
    if (const auto item = player_->currentItem()) item->setAudioMix(makeAudioMix(*built_, renderSettings()));
}

void EditorModel::loadPeaks(std::function<void()> done)
{
    std::vector<PeakJob> jobs;
    for (PeakJob& job : missingPeaks(tracks_, sources_, peaks_))
        if (peaksPending_.insert(job.media).second) jobs.push_back(std::move(job));
    // Every call ends here, also one with nothing left to compute.
    const auto finish = [this, done] {
        // The maximizer's gain follows the peaks; nothing else depends on them.
        const bool maximized
            = std::any_of(tracks_.begin(), tracks_.end(), [](const Track& track) { return track.maximize; });
        if (maximized && built_ && player_->currentItem()) {
            refreshAudioMix();
            save();
        }
        if (done) done();
    };
    if (jobs.empty()) return finish();

    auto remaining = std::make_shared<std::size_t>(jobs.size());
    for (PeakJob& job : jobs) {
        peakLoader_.run<std::vector<float>>(
            this,
            [asset = job.asset, stream = job.stream] {
                try {
                    return computePeaks(*asset, stream);
                } catch (const std::exception&) {
                    return std::vector<float>();  // unreadable: kept empty, not retried
                }
            },
            [this, media = job.media, remaining, finish](std::vector<float> peaks) {
                peaksPending_.erase(media);
                peaks_[media] = std::move(peaks);
                emit peaksChanged();
                if (--*remaining == 0) finish();
            });
    }
}

void EditorModel::loadThumbnails(std::function<void()> done)
{
    std::vector<ThumbnailJob> jobs;
    for (ThumbnailJob& job : missingThumbnails(tracks_, sources_, thumbnails_))
        if (thumbnailsPending_.insert(job.media).second) jobs.push_back(std::move(job));

    // One background job per batch, so the first pictures show early. A
    // medium with nothing to show gets no entry, so a later call tries again.
    std::size_t batches = 0;
    for (const ThumbnailJob& job : jobs) {
        const std::size_t count = job.asset ? job.plan.batches.size() : 1;
        if (count == 0) thumbnailsPending_.erase(job.media);
        batches += count;
    }
    if (batches == 0) {
        if (done) done();
        return;
    }

    auto remaining = std::make_shared<std::size_t>(batches);
    for (ThumbnailJob& job : jobs) {
        const std::size_t count = job.asset ? job.plan.batches.size() : 1;
        if (count == 0) continue;
        auto left = std::make_shared<std::size_t>(count);
        auto deliver = [this, media = job.media, remaining, left, done](std::vector<Thumbnail> pictures) {
            if (--*left == 0) thumbnailsPending_.erase(media);
            if (addThumbnails(thumbnails_, media, std::move(pictures))) emit thumbnailsChanged();
            if (--*remaining == 0 && done) done();
        };
        if (!job.asset) {
            thumbnailLoader_.run<std::vector<Thumbnail>>(
                this,
                [still = job.still] {
                    std::vector<Thumbnail> result;
                    if (auto thumbnail = stillThumbnail(still)) result.push_back(std::move(*thumbnail));
                    return result;
                },
                deliver);
            continue;
        }
        for (std::vector<double>& batch : job.plan.batches) {
            thumbnailLoader_.run<std::vector<Thumbnail>>(
                this,
                [asset = job.asset, stream = job.stream, times = std::move(batch), tolerance = job.plan.tolerance] {
                    try {
                        return makeThumbnails(*asset, stream, times, tolerance);
                    } catch (const std::exception&) {
                        return std::vector<Thumbnail>();
                    }
                },
                deliver);
        }
    }
}

} // namespace ondexa
