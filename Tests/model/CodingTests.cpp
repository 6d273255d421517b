// JSON coding of the timeline and overlay types: defaults, legacy keys,
// strictness, key order and round trips.

#include "Ondexa/model/Timeline.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ondexa;

namespace {

template <class T> T decode(const std::string& text) { return decodeJson<T>(parseJson(text)); }

template <class T> void expectRejected(std::initializer_list<const char*> texts)
{
    for (const char* text : texts) EXPECT_THROW(decode<T>(text), DecodingError) << text;
}

// A clip with every field set, exactly as the editor writes it.
const std::string fullClip =
    R"({"id":"B9C8B950-80D0-4129-9A54-7BD259309271","start":3.0,"sourceStart":1.25,"duration":4.0,)"
    R"("media":{"path":"/movies/a.mov","kind":"video","index":1},"overlay":{"id":"10F0EF4B-11FA-4A89-A6CB-)"
    R"(166C2EE87AC6","kind":"arrow","start":1.0,"end":2.5,"rect":{"x":0.1,"y":0.2,"w":0.3,"h":0.4},)"
    R"("from":{"x":0.1,"y":0.1},"to":{"x":0.9,"y":0.8},"text":"Árvíztűrő","fontSize":48.0,)"
    R"("color":{"r":1.0,"g":0.5,"b":0.0,"a":1.0},"lineWidth":6.0,"background":true,"mediaPath":"/pip.mov",)"
    R"("mediaOffset":2.0,"aspect":1.5,"alignment":"justified","fontFamily":"DejaVu Sans","bold":true},)"
    R"("frame":{"x":0.6,"y":0.6,"w":0.3,"h":0.3},"aspect":1.5,"rotation":90.0,"rounded":false,"volume":0.8,)"
    R"("actions":[{"id":"20405711-78B2-441F-953E-A0C8A8E7F4C5","start":0.0,"end":1.5,"scale":2.0,)"
    R"("centerX":0.25,"centerY":0.75,"rotation":10.0,"volume":0.25,"returns":true}],"fadeIn":0.5,)"
    R"("fadeOut":0.25,"link":"29E879E0-2B84-4B19-BD2D-85D62C917547","transition":"circle"})";

const std::string framedTrack =
    R"({"id":"E134AFCE-5408-4026-8233-5B1E20385668","name":"Képernyő","media":{"path":"/a.mov","kind":"video",)"
    R"("index":0},"clips":[],"hidden":false,"volume":1.0,"maximize":false,"maximizeBoost":0.0,"muted":false,)"
    R"("fromRecording":false,"effects":[],"zooms":[],"actions":[],"rotation":0.0,)"
    R"("frame":{"x":0.0,"y":0.0,"w":1.0,"h":1.0},"aspect":1.7777777777777777,"rounded":true})";

} // namespace

TEST(Coding, WrittenTextKeepsEveryFieldInDeclarationOrder)
{
    const Clip clip = decode<Clip>(fullClip);
    EXPECT_EQ(encodeJson(clip).dump(), fullClip);  // the float volume is written short: 0.8
    EXPECT_EQ(encodeJson(decode<Track>(framedTrack)).dump(), framedTrack);

    // Optional keys only when set.
    const Json bare = encodeJson(Clip{});
    for (const char* key : {"media", "overlay", "frame", "link", "transition"}) EXPECT_FALSE(bare.contains(key));
    const Json plain = encodeJson(Overlay{});
    for (const char* key : {"mediaPath", "alignment", "fontFamily", "bold"}) EXPECT_FALSE(plain.contains(key));
    EXPECT_EQ(encodeJson(TrackAction{}).size(), 4u);  // id, start, end, returns
    EXPECT_EQ(encodeJson(CursorStyle{}).size(), 10u);  // every field, always

    Project project = decode<Project>(R"({"tracks":[]})");
    EXPECT_FALSE(project.version);
    EXPECT_FALSE(encodeJson(project).contains("version"));
    project.version = Project::currentVersion;
    project.tracks = {decode<Track>(framedTrack)};
    project.tracks[0].clips = {clip, clip};
    project.overlays = std::vector<Overlay>{*clip.overlay};
    EXPECT_EQ(decode<Project>(encodeJson(project).dump()), project);
}

TEST(Coding, MissingKeysTakeDefaultsAndLegacyLevelingTurnsMaximizeOn)
{
    const auto track = [](const char* media, std::string extra = "") {
        return decode<Track>("{\"name\":\"K\"," + extra + "\"media\":{\"path\":\"/a.mov\"," + media + "}}");
    };
    const char* screen = R"("kind":"video","index":0)";
    const char* camera = R"("kind":"video","index":1)";
    const char* sound = R"("kind":"audio","index":0)";
    EXPECT_NE(track(camera).id, track(camera).id);  // each decoding gets its own identity

    // Only the screen recording is square-cornered by default; an explicit value wins.
    EXPECT_FALSE(track(screen).rounded);
    EXPECT_TRUE(track(screen, R"("rounded":true,)").rounded);
    EXPECT_TRUE(track(camera).rounded && track(sound).rounded);

    EXPECT_TRUE(track(sound, R"("maximize":false,"leveling":true,)").maximize);
    EXPECT_TRUE(track(sound, R"("maximize":true,"leveling":false,)").maximize);
    EXPECT_FALSE(encodeJson(track(sound, R"("leveling":true,)")).contains("leveling"));

    const auto clip = decode<Clip>(R"({"start":2,"duration":3,"rounded":null,"volume":null,"unknown":[1,2]})");
    EXPECT_TRUE(clip.rounded);
    EXPECT_EQ(clip.volume, 1.0f);
    EXPECT_EQ(decode<CursorStyle>(R"({"ring":null})"), CursorStyle{});
    EXPECT_EQ(decode<MediaRef>(R"({"path":"/a","kind":"video","index":1.0})").index, 1);
}

TEST(Coding, RequiredKeysAndTypesAreStrict)
{
    expectRejected<Clip>({R"({"duration":3})", R"({"start":null,"duration":3})", R"({"start":"2","duration":3})",
                          R"({"start":2,"duration":3,"transition":"fade"})", R"({"start":2,"duration":3,"rounded":1})",
                          R"({"start":2,"duration":3,"actions":{}})", R"([1,2])"});
    expectRejected<MediaRef>({R"({"kind":"video","index":0})", R"({"path":"/a","index":0})",
                              R"({"path":"/a","kind":"video"})", R"({"path":"/a","kind":"movie","index":0})",
                              R"({"path":"/a","kind":"video","index":1.5})"});
    // Ids are read in either case and must be well formed; "returns" is required.
    const auto action = [](const std::string& id) {
        return decode<TrackAction>(R"({"id":")" + id + R"(","start":0,"end":1,"returns":false})");
    };
    EXPECT_EQ(action("0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d3").id.string(), "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3");
    for (const char* id : {"nope", "0a1b2c3d4e5f4a6b8c7d8e9fa0b1c2d3", "{0a1b2c3d-4e5f-4a6b-8c7d-8e9fa0b1c2d}"})
        EXPECT_THROW(action(id), DecodingError) << id;
    expectRejected<TrackAction>({R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3","start":0,"end":1})",
                                 R"({"start":0,"end":1,"returns":true})"});
    expectRejected<CursorStyle>({R"({"ring":"yes"})", R"({"fill":{"r":1,"g":1,"b":1}})"});
    expectRejected<Project>({R"({"version":4})"});
    const Json overlay = encodeJson(*decode<Clip>(fullClip).overlay);
    for (const char* key : {"mediaOffset", "aspect", "id", "rect", "text", "background"}) {
        Json missing = overlay;
        missing.erase(key);
        EXPECT_THROW(decodeJson<Overlay>(missing), DecodingError) << key;
    }

    // One bad clip fails the whole project, naming its place.
    try {
        decode<Project>(R"({"version":4,"tracks":[{"name":"A","media":{"path":"/a.mov","kind":"video","index":0},
            "clips":[{"start":0,"duration":1},{"duration":2}]}]})");
        FAIL() << "decoded";
    } catch (const DecodingError& e) {
        EXPECT_NE(std::string(e.what()).find("tracks[0].clips[1].start"), std::string::npos) << e.what();
    }
}

TEST(Coding, NonFiniteValuesAreRefused)
{
    Clip clip = decode<Clip>(fullClip);
    clip.actions[0].scale = std::numeric_limits<double>::quiet_NaN();
    try {
        encodeJson(clip);
        FAIL() << "encoded a NaN";
    } catch (const EncodingError& e) {
        EXPECT_NE(std::string(e.what()).find("actions[0].scale"), std::string::npos) << e.what();
    }
    Track track;
    track.volume = std::numeric_limits<float>::infinity();
    EXPECT_THROW(encodeJson(track), EncodingError);

    // A number too large for a float is refused on reading, not turned into infinity.
    EXPECT_THROW(decode<Clip>(R"({"start":0,"duration":1,"volume":1e300})"), DecodingError);
}

TEST(Coding, EqualValuesHashAlike)
{
    const NRect a{0, 0, 1, 1}, b{-0.0, 0, 1, 1};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<NRect>{}(a), std::hash<NRect>{}(b));
    Overlay notBold;
    notBold.bold = false;  // differs from an absent value
    EXPECT_NE(std::hash<Overlay>{}(Overlay{}), std::hash<Overlay>{}(notBold));
}
