#include "Timeline.h"

namespace ondexa {

namespace {
constexpr std::array<std::pair<MediaKind, std::string_view>, 4> mediaKindNames{{
    {MediaKind::video, "video"},
    {MediaKind::audio, "audio"},
    {MediaKind::image, "image"},
    {MediaKind::effects, "effects"},
}};

constexpr std::array<std::pair<Transition, std::string_view>, 6> transitionNames{{
    {Transition::dissolve, "dissolve"},
    {Transition::dipToBlack, "dipToBlack"},
    {Transition::wipe, "wipe"},
    {Transition::push, "push"},
    {Transition::circle, "circle"},
    {Transition::zoom, "zoom"},
}};

constexpr std::array<Transition, 6> transitionCases{
    Transition::dissolve, Transition::dipToBlack, Transition::wipe,
    Transition::push,     Transition::circle,     Transition::zoom,
};
} // namespace

std::span<const std::pair<MediaKind, std::string_view>> rawValues(MediaKind)
{
    return mediaKindNames;
}

std::span<const std::pair<Transition, std::string_view>> rawValues(Transition)
{
    return transitionNames;
}

std::span<const Transition> allTransitions()
{
    return transitionCases;
}

MediaRef JsonCoding<MediaRef>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    return MediaRef{in.required<PathText>("path").value, in.required<MediaKind>("kind"), in.required<int>("index")};
}

Json JsonCoding<MediaRef>::encode(const MediaRef& m, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("path", PathText{m.path});
    out.put("kind", m.kind);
    out.put("index", m.index);
    return out.take();
}

TrackAction JsonCoding<TrackAction>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    TrackAction a;
    a.id = in.required<Uuid>("id");
    a.start = in.required<double>("start");
    a.end = in.required<double>("end");
    a.scale = in.optional<double>("scale");
    a.centerX = in.optional<double>("centerX");
    a.centerY = in.optional<double>("centerY");
    a.rotation = in.optional<double>("rotation");
    a.volume = in.optional<float>("volume");
    a.returns = in.required<bool>("returns");
    return a;
}

Json JsonCoding<TrackAction>::encode(const TrackAction& a, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("id", a.id);
    out.put("start", a.start);
    out.put("end", a.end);
    out.put("scale", a.scale);
    out.put("centerX", a.centerX);
    out.put("centerY", a.centerY);
    out.put("rotation", a.rotation);
    out.put("volume", a.volume);
    out.put("returns", a.returns);
    return out.take();
}

Clip JsonCoding<Clip>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    Clip c;
    if (auto id = in.optional<Uuid>("id")) c.id = *id;
    c.start = in.required<double>("start");
    c.sourceStart = in.value("sourceStart", 0.0);
    c.duration = in.required<double>("duration");
    c.media = in.optional<MediaRef>("media");
    c.overlay = in.optional<Overlay>("overlay");
    c.frame = in.optional<NRect>("frame");
    c.aspect = in.value("aspect", Clip::defaultAspect);
    c.rotation = in.value("rotation", 0.0);
    c.rounded = in.value("rounded", true);
    c.volume = in.value("volume", 1.0f);
    c.actions = in.value("actions", std::vector<TrackAction>{});
    c.fadeIn = in.value("fadeIn", 0.0);
    c.fadeOut = in.value("fadeOut", 0.0);
    c.link = in.optional<Uuid>("link");
    c.transition = in.optional<Transition>("transition");
    return c;
}

Json JsonCoding<Clip>::encode(const Clip& c, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("id", c.id);
    out.put("start", c.start);
    out.put("sourceStart", c.sourceStart);
    out.put("duration", c.duration);
    out.put("media", c.media);
    out.put("overlay", c.overlay);
    out.put("frame", c.frame);
    out.put("aspect", c.aspect);
    out.put("rotation", c.rotation);
    out.put("rounded", c.rounded);
    out.put("volume", c.volume);
    out.put("actions", c.actions);
    out.put("fadeIn", c.fadeIn);
    out.put("fadeOut", c.fadeOut);
    out.put("link", c.link);
    out.put("transition", c.transition);
    return out.take();
}

Track JsonCoding<Track>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    Track t;
    if (auto id = in.optional<Uuid>("id")) t.id = *id;
    t.name = in.required<std::string>("name");
    t.media = in.required<MediaRef>("media");
    t.clips = in.value("clips", std::vector<Clip>{});
    t.hidden = in.value("hidden", false);
    t.volume = in.value("volume", 1.0f);
    t.maximize = in.value("maximize", false);
    // Older states called the maximizer "leveling"; it is read, never written.
    if (in.value("leveling", false)) t.maximize = true;
    t.maximizeBoost = in.value("maximizeBoost", 0.0);
    t.muted = in.value("muted", false);
    t.fromRecording = in.value("fromRecording", false);
    t.effects = in.value("effects", std::vector<Overlay>{});
    t.zooms = in.value("zooms", std::vector<Overlay>{});
    t.actions = in.value("actions", std::vector<TrackAction>{});
    t.rotation = in.value("rotation", 0.0);
    t.frame = in.optional<NRect>("frame");
    t.aspect = in.value("aspect", Clip::defaultAspect);
    // The screen recording (video 0) is square-cornered unless told otherwise.
    const bool isScreen = t.media.kind == MediaKind::video && t.media.index == 0;
    t.rounded = in.value("rounded", !isScreen);
    return t;
}

Json JsonCoding<Track>::encode(const Track& t, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("id", t.id);
    out.put("name", t.name);
    out.put("media", t.media);
    out.put("clips", t.clips);
    out.put("hidden", t.hidden);
    out.put("volume", t.volume);
    out.put("maximize", t.maximize);
    out.put("maximizeBoost", t.maximizeBoost);
    out.put("muted", t.muted);
    out.put("fromRecording", t.fromRecording);
    out.put("effects", t.effects);
    out.put("zooms", t.zooms);
    out.put("actions", t.actions);
    out.put("rotation", t.rotation);
    out.put("frame", t.frame);
    out.put("aspect", t.aspect);
    out.put("rounded", t.rounded);
    return out.take();
}

Project JsonCoding<Project>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    Project p;
    p.version = in.optional<int>("version");
    p.tracks = in.required<std::vector<Track>>("tracks");
    p.overlays = in.optional<std::vector<Overlay>>("overlays");
    return p;
}

Json JsonCoding<Project>::encode(const Project& p, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("version", p.version);
    out.put("tracks", p.tracks);
    out.put("overlays", p.overlays);
    return out.take();
}

} // namespace ondexa

std::size_t std::hash<ondexa::MediaRef>::operator()(const ondexa::MediaRef& m) const noexcept
{
    std::size_t seed = std::hash<std::string>{}(m.path);
    ondexa::hashCombine(seed, std::hash<ondexa::MediaKind>{}(m.kind));
    ondexa::hashCombine(seed, std::hash<int>{}(m.index));
    return seed;
}
