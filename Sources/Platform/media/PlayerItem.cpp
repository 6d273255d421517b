#include "Platform/media/PlayerItem.h"

namespace platform {

namespace {

bool anySound(const Composition* composition)
{
    if (!composition) return false;
    for (const auto& track : composition->tracks()) {
        if (track.kind != Composition::TrackKind::sound) continue;
        for (const auto& segment : track.segments)
            if (!segment.isEmpty()) return true;
    }
    return false;
}

} // namespace

PlayerItem::PlayerItem(std::shared_ptr<const Composition> composition)
    : composition_(composition ? std::move(composition) : std::make_shared<const Composition>()),
      duration_(composition_->duration()), hasSound_(anySound(composition_.get()))
{
}

std::shared_ptr<const AudioMix> PlayerItem::audioMix() const
{
    std::lock_guard guard(mutex_);
    return audioMix_;
}

std::shared_ptr<const VideoComposition> PlayerItem::videoComposition() const
{
    std::lock_guard guard(mutex_);
    return videoComposition_;
}

void PlayerItem::setAudioMix(std::shared_ptr<const AudioMix> mix)
{
    // The audio thread holds its own reference to the mix it is using and
    // unprepares its taps itself when it sees the new one.
    std::lock_guard guard(mutex_);
    audioMix_ = std::move(mix);
}

void PlayerItem::setVideoComposition(std::shared_ptr<const VideoComposition> videoComposition)
{
    {
        std::lock_guard guard(mutex_);
        videoComposition_ = std::move(videoComposition);
    }
    if (videoCompositionChanged_) videoCompositionChanged_();
}

} // namespace platform
