// The recording's side file: its name, coding, saving without failures and
// the reading rules for click and pointer arrays.

#include "Ondexa/model/Files.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ondexa;
using ondexa::testing::entries;
using ondexa::testing::TempFolder;
namespace fs = std::filesystem;

namespace {

// Every field set, in the stored key order, compact as saved.
const std::string fullText =
    R"({"audioTracks":["Rendszerhang","Scarlett 2i2"],"segments":[[0.0,1.5],[2.0,4.0]],"volumes":[1.0,0.8],)"
    R"("leveling":[true,false],"clicks":[[1.5,0.2,0.3,1.0]],"showClicks":true,"overlays":[],)"
    R"("project":{"version":4,"tracks":[]},"cursor":[[0.0,0.5,0.5]],"cursorStyle":{"enabled":true,"scale":1.5,)"
    R"("fill":{"r":0.0,"g":0.0,"b":0.0,"a":1.0},"outline":{"r":1.0,"g":1.0,"b":1.0,"a":1.0},"base":0.02,)"
    R"("ring":false,"ringColor":{"r":0.43,"g":0.92,"b":0.66,"a":1.0},)"
    R"("ringRightColor":{"r":0.35,"g":0.6,"b":1.0,"a":1.0},"ringSize":2.2,"ringWidth":0.22}})";

RecordingInfo decode(const std::string& text) { return decodeJson<RecordingInfo>(parseJson(text)); }

} // namespace

TEST(RecordingInfo, SideFileReplacesOnlyTheLastExtension)
{
    EXPECT_EQ(RecordingInfo::sideFileURL("/m/Felvétel 2025-01-31 10.00.00.mov"),
              fs::path("/m/Felvétel 2025-01-31 10.00.00.ondexa.json"));
    EXPECT_EQ(RecordingInfo::sideFileURL("/m/film"), fs::path("/m/film.ondexa.json"));
}

TEST(RecordingInfo, CodingIsLenientExceptForAudioTracks)
{
    EXPECT_EQ(encodeJson(decode(fullText)).dump(), fullText);
    EXPECT_EQ(decode(R"({"audioTracks": []})"), RecordingInfo{});
    const auto nulls = decode(R"({"audioTracks": ["Rendszerhang"], "clicks": null, "project": null, "extra": 1})");
    EXPECT_FALSE(nulls.clicks || nulls.project);
    EXPECT_EQ(encodeJson(nulls).dump(), R"({"audioTracks":["Rendszerhang"]})");  // a fresh recording
    EXPECT_THROW(decode(R"({"clicks": []})"), DecodingError);
    EXPECT_THROW(decode(R"({"audioTracks": [], "leveling": [1]})"), DecodingError);
}

TEST(RecordingInfo, SaveNeverFailsAndLoadGivesNoneForBadFiles)
{
    TempFolder temp;
    const fs::path movie = temp.path / "Felvétel.mov", side = temp.path / "Felvétel.ondexa.json";
    EXPECT_EQ(RecordingInfo::load(movie), std::nullopt);
    const RecordingInfo info = decode(fullText);
    info.save(movie);
    EXPECT_EQ(readFile(side), fullText);
    EXPECT_EQ(RecordingInfo::load(movie), info);

    // A value that can't be encoded leaves the old file as it was.
    RecordingInfo broken = info;
    broken.cursor->push_back({1, std::numeric_limits<double>::infinity(), 0});
    broken.save(movie);
    EXPECT_EQ(readFile(side), fullText);

    // A folder that can't hold files: nothing written, nothing thrown.
    writeFileAtomically(temp.path / "fájl", "x");
    EXPECT_NO_THROW(info.save(temp.path / "fájl" / "a.mov"));
    EXPECT_EQ(entries(temp.path), (std::vector<std::string>{"Felvétel.ondexa.json", "fájl"}));

    for (const char* bad : {"{\"audioTracks\": [", "{\"showClicks\": true}"}) {
        writeFileAtomically(side, bad);
        EXPECT_EQ(RecordingInfo::load(movie), std::nullopt) << bad;
    }
}

TEST(RecordingInfo, MalformedClickAndPointerArraysAreSkipped)
{
    RecordingInfo info;
    EXPECT_TRUE(info.clickEvents().empty() && info.cursorSamples().empty());
    info.clicks = {{{1.5, 0.2, 0.3}, {1.5, 0.2, 0.3, 1}, {1.5, 0.2}, {2, 0.4, 0.5, 0}, {3, 0.1, 0.1, -1, 9}}};
    EXPECT_EQ(info.clickEvents(), (std::vector<ClickEvent>{{1.5, 0.2, 0.3, false}, {1.5, 0.2, 0.3, true},
                                                           {2, 0.4, 0.5, false}, {3, 0.1, 0.1, false}}));
    info.cursor = {{{0, 0.5, 0.5}, {0.1, 0.6, 0.5, 1}, {0.2, 0.7}, {0.3, 0.8, 0.4}}};
    EXPECT_EQ(info.cursorSamples(), (std::vector<CursorSample>{{0, 0.5, 0.5}, {0.3, 0.8, 0.4}}));
    EXPECT_EQ(RecordingInfo::clickArrays({{1, 0.1, 0.2, true}}), (std::vector<std::vector<double>>{{1, 0.1, 0.2, 1}}));
}
