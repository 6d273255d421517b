#pragma once

// Turns a track list into what a player plays or an export writes: the
// composition (one composition track per lane of clips), the map from clips
// to the composition tracks carrying their frames, the sound lanes for the
// audio mix, and the video composition whose one instruction carries a fresh
// render state for the EditCompositor. Knows nothing of the editor: the
// caller hands in its state as RenderSettings.

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"
#include "Ondexa/rendering/MediaSource.h"
#include "Platform/media/Composition.h"
#include "Platform/media/VideoComposition.h"

#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ondexa {

// Waveform peaks by media stream: 50 a second of source media.
using PeakMap = std::unordered_map<MediaRef, std::vector<float>>;

// What the builders read of the editor's state. A view: the spans and
// pointers must outlive the call they are handed to (the builders copy what
// they keep).
struct RenderSettings {
    std::span<const Track> tracks;            // row order: the first is the topmost picture
    const MediaSources* sources = nullptr;    // null: nothing loaded
    QSize screenSize{1920, 1080};             // the recording's first video stream
    double aspect = 16.0 / 9.0;               // output width / height
    int frameRate = 30;
    std::span<const ClickEvent> clicks;
    std::span<const CursorSample> cursorSamples;
    bool showClicks = false;
    std::optional<CursorStyle> cursorStyle;   // left out of the render state unless enabled
    const PeakMap* peaks = nullptr;           // null: no peaks yet

    // The timeline's end: the largest Track::end(); 0 without tracks.
    double duration() const;
};

// One sound lane of a build.
struct AudioLane {
    Uuid trackID;                  // the timeline track
    std::int32_t compositionTrack; // its lane's sound track in the composition
    std::vector<Clip> clips;       // the lane's clips
};

// The result of one composition build; immutable once made.
struct Built {
    std::shared_ptr<const platform::Composition> composition;
    // The composition video tracks in the order made: one per picture lane
    // with a segment, then the filler when there is one.
    std::vector<std::int32_t> videoTrackIDs;
    std::unordered_map<Uuid, std::int32_t> clipTracks;  // clip id → composition video track
    std::vector<AudioLane> audio;                       // in the order made
};

// Limits a build to the tracks with these ids; none: every track.
using TrackFilter = std::optional<std::unordered_set<Uuid>>;

// The preview's and the export's bounding boxes.
inline constexpr QSize previewBox{1920, 1080};
inline constexpr QSize exportBox{3840, 2160};

// The composition of the visible picture tracks and every sound track
// (a hidden sound track still plays), with a filler video track over the
// whole timeline when the pictures end early. Clips without a loaded stream,
// or outside it, are left out.
Built makeComposition(const RenderSettings& settings, const TrackFilter& include = std::nullopt);

// The output size for `box`: the screen scaled to fit (never enlarged), each
// side made even and at least 2.
QSize renderSize(QSize screenSize, QSize box);

// The video composition over `built`, drawn by the EditCompositor with a
// render state of its own. `size` overrides the render size (else the preview
// or export box); `include` limits the layers like makeComposition. No
// instruction when the composition is empty.
std::shared_ptr<platform::VideoComposition> makeVideoComposition(const Built& built, const RenderSettings& settings,
                                                                 bool preview, std::optional<QSize> size = std::nullopt,
                                                                 const TrackFilter& include = std::nullopt);

} // namespace ondexa
