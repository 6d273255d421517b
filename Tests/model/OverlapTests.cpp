// Cross-fades and lanes of many clips, checked against the rules written out
// literally: every pair of clips for the fades, the first fitting lane by a
// plain scan. Layouts include ties, touching clips, rounding of tenths,
// nesting, overflow and values no editor makes.

#include "Ondexa/model/Timeline.h"
#include "support/OverlapReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

using namespace ondexa;

namespace {

// The first clip (in the given order) where two lists part, for a readable failure.
std::string firstDifference(const std::vector<Clip>& got, const std::vector<Clip>& wanted)
{
    if (got.size() != wanted.size())
        return std::to_string(got.size()) + " clips instead of " + std::to_string(wanted.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] == wanted[i]) continue;
        std::ostringstream text;
        text.precision(17);
        text << "clip " << i << " (start " << wanted[i].start << ", duration " << wanted[i].duration << "): fades "
             << got[i].fadeIn << "/" << got[i].fadeOut << " instead of " << wanted[i].fadeIn << "/" << wanted[i].fadeOut
             << (got[i].id == wanted[i].id ? "" : ", another clip");
        return text.str();
    }
    return "";
}

Clip clipAt(double start, double duration, double fadeIn = 0, double fadeOut = 0)
{
    Clip clip;
    clip.start = start;
    clip.duration = duration;
    clip.fadeIn = fadeIn;
    clip.fadeOut = fadeOut;
    return clip;
}

using Random = std::mt19937_64;

double uniform(Random& random, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(random);
}

int whole(Random& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

} // namespace

TEST(Overlaps, FadesAndLanesFollowEveryPairAndTheFirstFittingLane)
{
    struct Layout {
        const char* name;
        std::function<Clip(Random&, int)> clip;
    };
    const std::vector<Layout> layouts{
        // An edit: clips one after another on a quarter-second grid, some touching, some overlapping.
        {"edit", [](Random& r, int i) { return clipAt(i * 2.5 + whole(r, -4, 4) * 0.25, whole(r, 1, 16) * 0.25); }},
        // Tenths whose sums round: 0.1 + 0.2 is not 0.3.
        {"tenths", [](Random& r, int) { return clipAt(whole(r, 0, 60) * 0.1, whole(r, 0, 30) * 0.1); }},
        // Many equal starts and ends: stored order decides.
        {"stacked", [](Random& r, int) { return clipAt(whole(r, 0, 5), whole(r, 1, 3), whole(r, 0, 1), 0); }},
        // Long clips holding short ones, so that the longest overlap is not with the neighbour.
        {"nested",
         [](Random& r, int i) {
             return i % 10 == 0 ? clipAt(uniform(r, 0, 100), uniform(r, 20, 60))
                                : clipAt(uniform(r, 0, 150), uniform(r, 0.01, 3));
         }},
        {"random",
         [](Random& r, int) {
             return clipAt(uniform(r, 0, 300), uniform(r, 0, 20), uniform(r, 0, 2), uniform(r, 0, 2));
         }},
        // Touching within and just beyond the lanes' tolerance.
        {"touching",
         [](Random& r, int i) { return clipAt(i + whole(r, -2, 2) * 0.00006, 1 + whole(r, -2, 2) * 0.00006); }},
        // Nothing an editor writes, but a file may hold: zero and negative lengths, negative
        // times and fades, ends past the largest double.
        {"odd",
         [](Random& r, int) {
             switch (whole(r, 0, 4)) {
             case 0: return clipAt(whole(r, -10, 10), whole(r, -3, 3), whole(r, -2, 2), whole(r, -2, 2));
             case 1: return clipAt(1e308, 1e308);
             case 2: return clipAt(1.7e308, whole(r, 0, 1) * 1e308);
             case 3: return clipAt(0, 0);
             default: return clipAt(uniform(r, -1e-300, 1e-300), uniform(r, 0, 1e-300));
             }
         }},
    };
    for (const Layout& layout : layouts) {
        for (const int count : {0, 1, 2, 3, 17, 400, -400}) {  // negative: stored in start order
            Random random(count * 7919 + layout.name[0]);
            Track track;
            for (int i = 0; i < std::abs(count); ++i) track.clips.push_back(layout.clip(random, i));
            if (count > 0) {
                std::shuffle(track.clips.begin(), track.clips.end(), random);
            } else {
                std::stable_sort(track.clips.begin(), track.clips.end(),
                                 [](const Clip& a, const Clip& b) { return a.start < b.start; });
            }

            const std::vector<Clip> fades = track.effectiveClips();
            EXPECT_EQ(firstDifference(fades, fixtures::everyPairFades(track)), "") << layout.name << ", " << count << " clips";
            const auto lanes = track.lanes(), wanted = fixtures::firstFittingLanes(track);
            ASSERT_EQ(lanes.size(), wanted.size()) << layout.name << ", " << count << " clips";
            for (std::size_t lane = 0; lane < lanes.size(); ++lane)
                EXPECT_EQ(firstDifference(lanes[lane], wanted[lane]), "") << layout.name << ", lane " << lane;
        }
    }
}

TEST(Overlaps, TheLongestOverlapWinsWhereverItIs)
{
    // A's longest overlap is with C, which starts after B and E; D, inside A and
    // C, fades in over its whole length.
    Track track;
    track.clips = {clipAt(0, 10), clipAt(1, 2), clipAt(4, 9), clipAt(5, 1), clipAt(2.5, 1)};
    const std::vector<Clip> fades = track.effectiveClips();
    std::vector<std::array<double, 3>> got;
    for (const Clip& clip : fades) got.push_back({clip.start, clip.fadeIn, clip.fadeOut});
    EXPECT_EQ(got, (std::vector<std::array<double, 3>>{
                       {0, 0, 6}, {1, 2, 0.5}, {2.5, 1, 0}, {4, 6, 1}, {5, 1, 0}}));
}

TEST(Overlaps, TimesThatAreNotNumbersLoseNoClip)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Track track;
    for (int i = 0; i < 40; ++i)
        track.clips.push_back(i % 3 ? clipAt(i * 0.5, 2) : clipAt(i % 2 ? nan : i, i % 2 ? 1 : nan));
    EXPECT_EQ(track.effectiveClips().size(), track.clips.size());
    std::size_t laid = 0;
    for (const auto& lane : track.lanes()) laid += lane.size();
    EXPECT_EQ(laid, track.clips.size());
}
