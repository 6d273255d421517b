// The recording's side file: its name, coding, saving without failures and
// the reading rules for click and pointer arrays.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/RecordingInfo.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ondexa;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("ondexa-test-" + Uuid::random().string());
    TempFolder() { fs::create_directories(path); }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

RecordingInfo fullInfo()
{
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang", "Scarlett 2i2"};
    info.segments = {{{0, 1.5}, {2, 4}}};
    info.volumes = {{1, 0.8f}};
    info.leveling = {{true, false}};
    info.clicks = {{{1.5, 0.2, 0.3, 1}}};
    info.showClicks = true;
    Overlay overlay;
    overlay.text = "Helló";
    info.overlays = {{overlay}};
    Track track;
    track.name = "Képernyő";
    track.media = MediaRef{"/a/rec.mov", MediaKind::video, 0};
    info.project = Project{4, {track}, std::nullopt};
    info.cursor = {{{0, 0.5, 0.5}}};
    CursorStyle style;
    style.base = 21.0 / 1080;
    info.cursorStyle = style;
    return info;
}

} // namespace

TEST(RecordingInfo, SideFileReplacesOnlyTheLastExtension)
{
    EXPECT_EQ(RecordingInfo::sideFileURL("/m/Felvétel 2025-01-31 10.00.00.mov"),
              fs::path("/m/Felvétel 2025-01-31 10.00.00.ondexa.json"));
    EXPECT_EQ(RecordingInfo::sideFileURL("/m/a.b.mov"), fs::path("/m/a.b.ondexa.json"));
    EXPECT_EQ(RecordingInfo::sideFileURL("/m/film"), fs::path("/m/film.ondexa.json"));
}

TEST(RecordingInfo, DecodingIsLenientExceptForAudioTracks)
{
    const auto minimal = decodeJson<RecordingInfo>(parseJson(R"({"audioTracks": []})"));
    EXPECT_EQ(minimal, RecordingInfo{});
    const auto nulls = decodeJson<RecordingInfo>(
        parseJson(R"({"audioTracks": ["Rendszerhang"], "clicks": null, "project": null, "extra": 1})"));
    EXPECT_FALSE(nulls.clicks || nulls.project);
    EXPECT_THROW(decodeJson<RecordingInfo>(parseJson(R"({"clicks": []})")), DecodingError);
    EXPECT_THROW(decodeJson<RecordingInfo>(parseJson(R"({"audioTracks": [], "leveling": [1]})")), DecodingError);

    // Only audioTracks is written for a fresh recording.
    RecordingInfo fresh;
    fresh.audioTracks = {"Rendszerhang"};
    EXPECT_EQ(encodeJson(fresh).dump(), R"({"audioTracks":["Rendszerhang"]})");
}

TEST(RecordingInfo, EveryFieldRoundTripsInOrder)
{
    const RecordingInfo info = fullInfo();
    const Json json = encodeJson(info);
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"audioTracks", "segments", "volumes", "leveling", "clicks",
                                              "showClicks", "overlays", "project", "cursor", "cursorStyle"}));
    EXPECT_EQ(json["leveling"], Json::parse("[true, false]"));
    EXPECT_EQ(json["volumes"], Json::parse("[1, 0.8]"));
    EXPECT_EQ(decodeJson<RecordingInfo>(parseJson(json.dump())), info);
}

TEST(RecordingInfo, SaveAndLoad)
{
    TempFolder temp;
    const fs::path movie = temp.path / "Felvétel.mov";
    const fs::path side = temp.path / "Felvétel.ondexa.json";
    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);

    const RecordingInfo info = fullInfo();
    info.save(movie);
    const std::string text = readFile(side);
    EXPECT_TRUE(text.starts_with(R"({"audioTracks":["Rendszerhang","Scarlett 2i2"],"segments":)")) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(RecordingInfo::load(movie), info);

    // A value that can't be encoded leaves the old file as it was.
    RecordingInfo broken = info;
    broken.cursor->push_back({1, std::numeric_limits<double>::infinity(), 0});
    broken.save(movie);
    EXPECT_EQ(readFile(side), text);

    // A folder that can't hold files: nothing written, nothing thrown.
    const fs::path blocked = temp.path / "fájl";
    writeFileAtomically(blocked, "x");
    EXPECT_NO_THROW(info.save(blocked / "a.mov"));
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path), fs::directory_iterator()), 2);

    writeFileAtomically(side, "{\"audioTracks\": [");
    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);
    writeFileAtomically(side, "{\"showClicks\": true}");
    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);
}

TEST(RecordingInfo, ClickAndPointerArrays)
{
    RecordingInfo info;
    EXPECT_TRUE(info.clickEvents().empty());
    EXPECT_TRUE(info.cursorSamples().empty());

    info.clicks = {{{1.5, 0.2, 0.3}, {1.5, 0.2, 0.3, 1}, {1.5, 0.2}, {2, 0.4, 0.5, 0}, {3, 0.1, 0.1, -1, 9}}};
    EXPECT_EQ(info.clickEvents(), (std::vector<ClickEvent>{
                                      {1.5, 0.2, 0.3, false}, {1.5, 0.2, 0.3, true}, {2, 0.4, 0.5, false},
                                      {3, 0.1, 0.1, false}}));
    info.cursor = {{{0, 0.5, 0.5}, {0.1, 0.6, 0.5, 1}, {0.2, 0.7}, {0.3, 0.8, 0.4}}};
    EXPECT_EQ(info.cursorSamples(), (std::vector<CursorSample>{{0, 0.5, 0.5}, {0.3, 0.8, 0.4}}));

    const std::vector<ClickEvent> clicks{{1, 0.1, 0.2, true}, {2, 0.3, 0.4, false}};
    EXPECT_EQ(RecordingInfo::clickArrays(clicks),
              (std::vector<std::vector<double>>{{1, 0.1, 0.2, 1}, {2, 0.3, 0.4, 0}}));
    info.clicks = RecordingInfo::clickArrays(clicks);
    EXPECT_EQ(info.clickEvents(), clicks);
    const std::vector<CursorSample> samples{{0, 0.5, 0.5}, {0.5, 0.25, 0.75}};
    info.cursor = RecordingInfo::cursorArrays(samples);
    EXPECT_EQ(*info.cursor, (std::vector<std::vector<double>>{{0, 0.5, 0.5}, {0.5, 0.25, 0.75}}));
    EXPECT_EQ(info.cursorSamples(), samples);
}
