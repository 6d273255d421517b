#pragma once

// The editing state of one recording or project: tracks of clips with timed
// actions, each clip showing a stream of a media file. All times are seconds.

#include "JsonCoding.h"
#include "Overlays.h"
#include "Uuid.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ondexa {

enum class MediaKind { video, audio, image, effects };
std::span<const std::pair<MediaKind, std::string_view>> rawValues(MediaKind);

enum class Transition { dissolve, dipToBlack, wipe, push, circle, zoom };
std::span<const std::pair<Transition, std::string_view>> rawValues(Transition);
// Every transition, in declaration order.
std::span<const Transition> allTransitions();

// A media file and which stream of the given kind in it. In a recording,
// video 0 is the screen and video 1 the camera; audio streams count in the
// movie's track order. "effects" marks a track of overlay clips: its path is
// never a file.
struct MediaRef {
    std::string path;  // absolute, or relative to the project package
    MediaKind kind = MediaKind::video;
    int index = 0;
    friend bool operator==(const MediaRef&, const MediaRef&) = default;
};

// A clip's picture at one moment. scale 1 = the picture fitted into the
// output with its aspect kept; the centre is in output units from the top left.
struct PictureState {
    double scale = 1;
    double centerX = 0.5;
    double centerY = 0.5;
    double rotation = 0;  // degrees
    friend bool operator==(const PictureState&, const PictureState&) = default;
};

// A timed change of a clip's picture or sound. Times are relative to the
// clip's start (on the timeline in the older track-level form). An empty
// target leaves that property as it is.
struct TrackAction {
    Uuid id = Uuid::random();
    double start = 0;
    double end = 0;
    std::optional<double> scale;
    std::optional<double> centerX;
    std::optional<double> centerY;
    std::optional<double> rotation;
    std::optional<float> volume;
    bool returns = false;  // back to the earlier state at the end
    friend bool operator==(const TrackAction&, const TrackAction&) = default;
};

// One step of a track's gain automation.
struct VolumeStep {
    struct Set {
        double time = 0;
        float level = 0;
        friend bool operator==(const Set&, const Set&) = default;
    };
    struct Ramp {
        double start = 0;
        double end = 0;
        float startLevel = 0;
        float endLevel = 0;
        friend bool operator==(const Ramp&, const Ramp&) = default;
    };
    std::variant<Set, Ramp> step;

    static VolumeStep set(double time, float level) { return {Set{time, level}}; }
    static VolumeStep ramp(double start, double end, float startLevel, float endLevel)
    {
        return {Ramp{start, end, startLevel, endLevel}};
    }
    friend bool operator==(const VolumeStep&, const VolumeStep&) = default;
};

// One clip on a track. It covers start <= t < start + duration.
struct Clip {
    static constexpr double defaultAspect = 16.0 / 9.0;

    Uuid id = Uuid::random();
    double start = 0;        // on the timeline
    double sourceStart = 0;  // where in the media the clip begins
    double duration = 0;
    std::optional<MediaRef> media;   // none for an overlay clip
    std::optional<Overlay> overlay;  // the overlay an effects clip shows
    std::optional<NRect> frame;      // none: the fitted full frame
    double aspect = defaultAspect;
    double rotation = 0;
    bool rounded = true;
    float volume = 1;
    std::vector<TrackAction> actions;
    double fadeIn = 0;
    double fadeOut = 0;
    std::optional<Uuid> link;              // clips sharing it move and cut together
    std::optional<Transition> transition;  // into this clip, over its fade-in

    friend bool operator==(const Clip&, const Clip&) = default;

    double end() const { return start + duration; }

    // Placement without actions; outputAspect = output width / height.
    PictureState baseState(double outputAspect) const;
    // Placement at a timeline time, actions applied in start order.
    PictureState pictureState(double time, double outputAspect) const;
    // The placement that an action of this clip aims at.
    PictureState targetState(const TrackAction& action, double outputAspect) const;
    // Fade factor, 0 to 1, at a timeline time.
    double fadeLevel(double time) const;

    // The clip cut at a timeline time; none when either part would be shorter
    // than 0.005 s. Actions keep their ids in both parts.
    std::optional<std::pair<Clip, Clip>> split(double time) const;
    // A copy with new ids for the clip, its actions and its overlay.
    Clip renewed() const;
};

// One track, top to bottom in the project.
struct Track {
    Uuid id = Uuid::random();
    std::string name;
    MediaRef media;
    std::vector<Clip> clips;
    bool hidden = false;
    float volume = 1;
    bool maximize = false;
    double maximizeBoost = 0;  // dB
    bool muted = false;
    bool fromRecording = false;
    // Track-level settings of older editing states, moved onto clips by
    // moveSettingsToClips().
    std::vector<Overlay> effects;
    std::vector<Overlay> zooms;
    std::vector<TrackAction> actions;  // times on the timeline
    double rotation = 0;
    std::optional<NRect> frame;
    double aspect = Clip::defaultAspect;
    bool rounded = true;

    friend bool operator==(const Track&, const Track&) = default;

    bool isPicture() const { return media.kind == MediaKind::video || media.kind == MediaKind::image; }
    // The latest clip end or effects-overlay end; 0 for an empty track.
    double end() const;
    // The first clip in stored order that covers the time, or null.
    const Clip* clip(double time) const;
    // The clips sorted by start (stable), with fades raised where they overlap.
    std::vector<Clip> effectiveClips() const;
    // The rows in which the clips are drawn and composed.
    std::vector<std::vector<Clip>> lanes() const;
    // Gain automation of the given clips of this track (any order).
    std::vector<VolumeStep> volumeSteps(std::span<const Clip> clips) const;
    // A copy with new ids throughout and the given name.
    Track duplicated(const std::string& name) const;
    // Moves the settings of older editing states from the track onto its clips.
    void moveSettingsToClips(double outputAspect);
};

// The editing state. The editor writes version 4.
struct Project {
    static constexpr int currentVersion = 4;

    std::optional<int> version;
    std::vector<Track> tracks;
    std::optional<std::vector<Overlay>> overlays;  // of older editing states

    friend bool operator==(const Project&, const Project&) = default;
};

template <> struct JsonCoding<MediaKind> : EnumJsonCoding<MediaKind> {};
template <> struct JsonCoding<Transition> : EnumJsonCoding<Transition> {};

template <> struct JsonCoding<MediaRef> {
    static MediaRef decode(const Json& json, const JsonPath& path);
    static Json encode(const MediaRef& value, const JsonPath& path);
};
template <> struct JsonCoding<TrackAction> {
    static TrackAction decode(const Json& json, const JsonPath& path);
    static Json encode(const TrackAction& value, const JsonPath& path);
};
template <> struct JsonCoding<Clip> {
    static Clip decode(const Json& json, const JsonPath& path);
    static Json encode(const Clip& value, const JsonPath& path);
};
template <> struct JsonCoding<Track> {
    static Track decode(const Json& json, const JsonPath& path);
    static Json encode(const Track& value, const JsonPath& path);
};
template <> struct JsonCoding<Project> {
    static Project decode(const Json& json, const JsonPath& path);
    static Json encode(const Project& value, const JsonPath& path);
};

} // namespace ondexa

template <> struct std::hash<ondexa::MediaRef> {
    std::size_t operator()(const ondexa::MediaRef& m) const noexcept;
};
