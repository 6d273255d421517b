#pragma once

#include "Platform/media/AudioMix.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/SourceFiles.h"
#include "Platform/media/VideoComposition.h"

#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class Player;

// What a Player plays: a composition with its audio mix and video
// composition. The composition is fixed for the item's life; the mix and the
// video composition may be swapped (on the main thread) while it plays: the
// player takes the new one at its next sound buffer or frame.
class PlayerItem {
public:
    explicit PlayerItem(std::shared_ptr<const Composition> composition);
    PlayerItem(const PlayerItem&) = delete;
    PlayerItem& operator=(const PlayerItem&) = delete;

    const std::shared_ptr<const Composition>& composition() const { return composition_; }
    MediaTime duration() const { return duration_; }
    // Whether any sound track has something to play.
    bool hasSound() const { return hasSound_; }
    // The source files, each opened once for the item's pictures and sound.
    const std::shared_ptr<SourceFiles>& sourceFiles() const { return files_; }

    // Read on any thread.
    std::shared_ptr<const AudioMix> audioMix() const;
    std::shared_ptr<const VideoComposition> videoComposition() const;
    // Main thread. Null: every track at volume 1 / no picture.
    void setAudioMix(std::shared_ptr<const AudioMix> mix);
    void setVideoComposition(std::shared_ptr<const VideoComposition> videoComposition);

private:
    friend class Player;

    const std::shared_ptr<const Composition> composition_;
    const MediaTime duration_;
    const bool hasSound_;
    const std::shared_ptr<SourceFiles> files_ = std::make_shared<SourceFiles>();
    mutable std::mutex mutex_;
    std::shared_ptr<const AudioMix> audioMix_;                  // guarded by mutex_
    std::shared_ptr<const VideoComposition> videoComposition_;  // guarded by mutex_
    // Main thread only: set by the player while this is its current item;
    // redraws the frame on screen with the new video composition.
    std::function<void()> videoCompositionChanged_;
};

} // namespace platform
