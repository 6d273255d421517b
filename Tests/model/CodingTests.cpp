// JSON coding of the timeline and overlay types: defaults, legacy keys,
// strictness, key order and round trips.

#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

using namespace ondexa;

namespace {

template <class T>
T decode(const char* text)
{
    return decodeJson<T>(parseJson(text));
}

template <class T>
T roundTrip(const T& value)
{
    return decodeJson<T>(parseJson(encodeJson(value).dump()));
}

std::vector<std::string> keys(const Json& object)
{
    std::vector<std::string> result;
    for (const auto& [key, value] : object.items()) result.push_back(key);
    return result;
}

Overlay sampleOverlay()
{
    Overlay o;
    o.kind = OverlayKind::arrow;
    o.start = 1;
    o.end = 2.5;
    o.rect = {0.1, 0.2, 0.3, 0.4};
    o.from = {0.1, 0.1};
    o.to = {0.9, 0.8};
    o.text = "Árvíztűrő";
    o.fontSize = 48;
    o.color = {1, 0.5, 0, 1};
    o.lineWidth = 6;
    o.background = true;
    o.mediaOffset = 0;
    o.aspect = 1.5;
    return o;
}

Clip sampleClip()
{
    Clip c;
    c.start = 3;
    c.sourceStart = 1.25;
    c.duration = 4;
    c.media = MediaRef{"/movies/a.mov", MediaKind::video, 1};
    c.frame = NRect{0.6, 0.6, 0.3, 0.3};
    c.volume = 0.8f;
    TrackAction a;
    a.start = 0.5;
    a.end = 1.5;
    a.scale = 2;
    a.volume = 0.25f;
    a.returns = true;
    c.actions = {a};
    c.fadeIn = 0.5;
    c.link = Uuid::random();
    c.transition = Transition::circle;
    return c;
}

} // namespace

TEST(Uuid, WrittenUpperCaseReadInEitherCase)
{
    const auto id = Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d3");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->string(), "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3");
    EXPECT_EQ(Uuid::parse(id->string()), id);
    EXPECT_FALSE(Uuid::parse("0a1b2c3d4e5f4a6b8c7d8e9fa0b1c2d3"));
    EXPECT_FALSE(Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2dg"));
    EXPECT_FALSE(Uuid::parse("{0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d}"));
    EXPECT_NE(Uuid::random(), Uuid::random());
    EXPECT_THROW(decode<TrackAction>(R"({"id":"nope","start":0,"end":1,"returns":false})"), DecodingError);
}

TEST(TrackCoding, MinimalTrackTakesDefaults)
{
    const auto track = decode<Track>(R"({"name":"Kamera","media":{"path":"/a.mov","kind":"video","index":1}})");
    EXPECT_FALSE(track.id.isNil());
    EXPECT_EQ(track.name, "Kamera");
    EXPECT_TRUE(track.clips.empty());
    EXPECT_EQ(track.volume, 1.0f);
    EXPECT_DOUBLE_EQ(track.aspect, 16.0 / 9.0);
    EXPECT_FALSE(track.hidden || track.maximize || track.muted || track.fromRecording);
    EXPECT_EQ(track.maximizeBoost, 0);
    EXPECT_FALSE(track.frame);
    EXPECT_TRUE(track.rounded);

    // The screen recording is square-cornered by default; an explicit value wins.
    const auto screen = decode<Track>(R"({"name":"Képernyő","media":{"path":"/a.mov","kind":"video","index":0}})");
    EXPECT_FALSE(screen.rounded);
    const auto roundedScreen =
        decode<Track>(R"({"name":"K","rounded":true,"media":{"path":"/a.mov","kind":"video","index":0}})");
    EXPECT_TRUE(roundedScreen.rounded);
    const auto sound = decode<Track>(R"({"name":"Hang","media":{"path":"/a.mov","kind":"audio","index":0}})");
    EXPECT_TRUE(sound.rounded);

    // Two decodings of a track without id get different identities.
    const char* noId = R"({"name":"x","media":{"path":"","kind":"effects","index":0}})";
    EXPECT_NE(decode<Track>(noId).id, decode<Track>(noId).id);
}

TEST(TrackCoding, LegacyLevelingTurnsMaximizeOnAndIsNeverWritten)
{
    const auto track = decode<Track>(
        R"({"name":"Hang","media":{"path":"/a.mov","kind":"audio","index":0},"maximize":false,"leveling":true})");
    EXPECT_TRUE(track.maximize);
    const Json written = encodeJson(track);
    EXPECT_EQ(written.at("maximize"), true);
    EXPECT_FALSE(written.contains("leveling"));

    const auto off = decode<Track>(
        R"({"name":"Hang","media":{"path":"/a.mov","kind":"audio","index":0},"maximize":true,"leveling":false})");
    EXPECT_TRUE(off.maximize);
}

TEST(TrackCoding, KeysInDeclarationOrderAndOptionalOnlyWhenSet)
{
    Track track;
    track.name = "Képernyő";
    track.media = {"/a.mov", MediaKind::video, 0};
    const Json written = encodeJson(track);
    EXPECT_EQ(keys(written), (std::vector<std::string>{"id", "name", "media", "clips", "hidden", "volume", "maximize",
                                                       "maximizeBoost", "muted", "fromRecording", "effects", "zooms",
                                                       "actions", "rotation", "aspect", "rounded"}));
    track.frame = NRect{0, 0, 1, 1};
    EXPECT_EQ(keys(encodeJson(track))[14], "frame");

    Clip bare;
    bare.duration = 1;
    EXPECT_EQ(keys(encodeJson(bare)),
              (std::vector<std::string>{"id", "start", "sourceStart", "duration", "aspect", "rotation", "rounded",
                                        "volume", "actions", "fadeIn", "fadeOut"}));
    EXPECT_EQ(keys(encodeJson(sampleClip())),
              (std::vector<std::string>{"id", "start", "sourceStart", "duration", "media", "frame", "aspect",
                                        "rotation", "rounded", "volume", "actions", "fadeIn", "fadeOut", "link",
                                        "transition"}));
}

TEST(ClipCoding, LenientDefaultsAndStrictTypes)
{
    const auto clip = decode<Clip>(R"({"start":2,"duration":3,"rounded":null,"volume":null,"unknown":[1,2]})");
    EXPECT_TRUE(clip.rounded);
    EXPECT_EQ(clip.volume, 1.0f);
    EXPECT_EQ(clip.sourceStart, 0);
    EXPECT_DOUBLE_EQ(clip.aspect, 16.0 / 9.0);
    EXPECT_FALSE(clip.media || clip.overlay || clip.frame || clip.link || clip.transition);

    EXPECT_THROW(decode<Clip>(R"({"duration":3})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":2})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":null,"duration":3})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":2,"duration":3,"transition":"fade"})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":"2","duration":3})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":2,"duration":3,"rounded":1})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"({"start":2,"duration":3,"actions":{}})"), DecodingError);
    EXPECT_THROW(decode<Clip>(R"([1,2])"), DecodingError);

    for (const auto transition : allTransitions()) {
        Clip c = sampleClip();
        c.transition = transition;
        EXPECT_EQ(roundTrip(c), c);
    }
}

TEST(ClipCoding, OneBadClipFailsTheWholeProjectWithItsPlace)
{
    const char* text = R"({"version":4,"tracks":[{"name":"A","media":{"path":"/a.mov","kind":"video","index":0},
        "clips":[{"start":0,"duration":1},{"duration":2}]}]})";
    try {
        decode<Project>(text);
        FAIL() << "decoded";
    } catch (const DecodingError& e) {
        EXPECT_NE(std::string(e.what()).find("tracks[0].clips[1].start"), std::string::npos) << e.what();
    }
}

TEST(ActionCoding, RequiredKeysAndEmptyTargets)
{
    EXPECT_THROW(decode<TrackAction>(R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3","start":0,"end":1})"),
                 DecodingError);
    EXPECT_THROW(decode<TrackAction>(R"({"start":0,"end":1,"returns":true})"), DecodingError);
    const auto action =
        decode<TrackAction>(R"({"id":"0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d3","start":0,"end":1,"returns":true})");
    EXPECT_FALSE(action.scale || action.centerX || action.centerY || action.rotation || action.volume);
    EXPECT_EQ(keys(encodeJson(action)), (std::vector<std::string>{"id", "start", "end", "returns"}));
}

TEST(MediaRefCoding, EveryKeyRequired)
{
    EXPECT_EQ(decode<MediaRef>(R"({"path":"","kind":"effects","index":0})").kind, MediaKind::effects);
    EXPECT_THROW(decode<MediaRef>(R"({"kind":"video","index":0})"), DecodingError);
    EXPECT_THROW(decode<MediaRef>(R"({"path":"/a","index":0})"), DecodingError);
    EXPECT_THROW(decode<MediaRef>(R"({"path":"/a","kind":"video"})"), DecodingError);
    EXPECT_THROW(decode<MediaRef>(R"({"path":"/a","kind":"movie","index":0})"), DecodingError);
    EXPECT_THROW(decode<MediaRef>(R"({"path":"/a","kind":"video","index":1.5})"), DecodingError);
    EXPECT_EQ(decode<MediaRef>(R"({"path":"/a","kind":"video","index":1.0})").index, 1);

    std::unordered_set<MediaRef> set{{"/a", MediaKind::video, 0}, {"/a", MediaKind::video, 0}, {"/a", MediaKind::audio, 0}};
    EXPECT_EQ(set.size(), 2u);
}

TEST(ProjectCoding, VersionIsOptionalAndRoundTripsAreEqual)
{
    const auto project = decode<Project>(R"({"tracks":[]})");
    EXPECT_FALSE(project.version);
    EXPECT_FALSE(encodeJson(project).contains("version"));
    EXPECT_THROW(decode<Project>(R"({"version":4})"), DecodingError);

    Project full;
    full.version = Project::currentVersion;
    Track screen;
    screen.name = "Képernyő";
    screen.media = {"/r/Felvétel.mov", MediaKind::video, 0};
    screen.clips = {sampleClip(), sampleClip()};
    screen.maximizeBoost = 3.5;
    screen.zooms = {sampleOverlay()};
    Track effects;
    effects.name = "Effektek";
    effects.media = {"", MediaKind::effects, 0};
    Clip overlayClip;
    overlayClip.duration = 2;
    overlayClip.overlay = sampleOverlay();
    effects.clips = {overlayClip};
    full.tracks = {screen, effects};
    full.overlays = std::vector<Overlay>{sampleOverlay()};
    EXPECT_EQ(roundTrip(full), full);

    Project changed = full;
    changed.tracks[0].clips[1].actions[0].volume = 0.5f;
    EXPECT_NE(changed, full);
}

TEST(Encoding, FloatsAreWrittenShortAndNonFiniteValuesRefused)
{
    Clip clip = sampleClip();
    EXPECT_EQ(encodeJson(clip).at("volume").dump(), "0.8");

    clip.actions[0].scale = std::numeric_limits<double>::quiet_NaN();
    try {
        encodeJson(clip);
        FAIL() << "encoded a NaN";
    } catch (const EncodingError& e) {
        EXPECT_NE(std::string(e.what()).find("actions[0].scale"), std::string::npos) << e.what();
    }
    Track track;
    track.name = "x";
    track.volume = std::numeric_limits<float>::infinity();
    EXPECT_THROW(encodeJson(track), EncodingError);

    // A number too large for a float is refused on reading, not turned into infinity.
    EXPECT_THROW(decode<Clip>(R"({"start":0,"duration":1,"volume":1e300})"), DecodingError);
}

TEST(OverlayCoding, RequiredAndOptionalFields)
{
    const Overlay overlay = sampleOverlay();
    Json full = encodeJson(overlay);
    EXPECT_FALSE(full.contains("mediaPath") || full.contains("alignment") || full.contains("fontFamily")
                 || full.contains("bold"));
    EXPECT_EQ(decodeJson<Overlay>(full), overlay);

    for (const char* key : {"mediaOffset", "aspect", "id", "rect", "text", "background"}) {
        Json missing = full;
        missing.erase(key);
        EXPECT_THROW(decodeJson<Overlay>(missing), DecodingError) << key;
    }
    Json badKind = full;
    badKind["kind"] = "circle";
    EXPECT_THROW(decodeJson<Overlay>(badKind), DecodingError);

    Overlay styled = sampleOverlay();
    styled.kind = OverlayKind::text;
    styled.mediaPath = "/pip.mov";
    styled.alignment = TextAlignment::justified;
    styled.fontFamily = "DejaVu Sans";
    styled.bold = true;
    EXPECT_EQ(roundTrip(styled), styled);
}

TEST(OverlayCoding, AbsentOptionalDiffersFromFalse)
{
    Overlay absent = sampleOverlay();
    Overlay notBold = absent;
    notBold.bold = false;
    EXPECT_NE(absent, notBold);
    EXPECT_NE(std::hash<Overlay>{}(absent), std::hash<Overlay>{}(notBold));
    EXPECT_EQ(std::hash<Overlay>{}(absent), std::hash<Overlay>{}(Overlay(absent)));

    // Equal values hash alike even when a coordinate is -0.0.
    NRect a{0, 0, 1, 1};
    NRect b{-0.0, 0, 1, 1};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<NRect>{}(a), std::hash<NRect>{}(b));
}

TEST(CursorStyleCoding, EveryKeyOptionalEveryFieldWritten)
{
    EXPECT_EQ(decode<CursorStyle>("{}"), CursorStyle{});
    CursorStyle scaled;
    scaled.scale = 2;
    EXPECT_EQ(decode<CursorStyle>(R"({"scale":2})"), scaled);
    EXPECT_EQ(decode<CursorStyle>(R"({"ring":null})"), CursorStyle{});
    EXPECT_THROW(decode<CursorStyle>(R"({"ring":"yes"})"), DecodingError);
    EXPECT_THROW(decode<CursorStyle>(R"({"fill":{"r":1,"g":1,"b":1}})"), DecodingError);
    EXPECT_EQ(encodeJson(CursorStyle{}).size(), 10u);
    EXPECT_NE(std::hash<CursorStyle>{}(scaled), std::hash<CursorStyle>{}(CursorStyle{}));
}
