// Undo snapshots share the tracks and clips an edit left alone, and only
// those, and give back exactly what they were taken of.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

// The stored clip of snapshot track `t`, clip `c`: its address tells whether it is shared.
const Clip* stored(const SnapshotTracks& tracks, std::size_t t, std::size_t c)
{
    return &tracks[t].clips()[c];
}

// How many clips of track `t` of `later` are not stored in `earlier`.
std::size_t copiedClips(const SnapshotTracks& later, const SnapshotTracks& earlier, std::size_t t)
{
    std::set<const Clip*> held;
    for (const Clip& clip : earlier[t].clips()) held.insert(&clip);
    std::size_t copied = 0;
    for (const Clip& clip : later[t].clips()) copied += !held.count(&clip);
    return copied;
}

std::vector<Clip> clipsAt(int count)
{
    std::vector<Clip> clips;
    for (int i = 0; i < count; ++i) clips.push_back(clipAt(i * 3, 2));
    return clips;
}

TEST(SnapshotTracks, ShareUnchangedClipsOfChangedTracks)
{
    const Track a = trackWith("a", clipsAt(6));
    const SnapshotTracks first({a});

    // A clip changed, one inserted after it, the last removed.
    Track b = a;
    b.clips[2].duration = 1;
    b.clips.insert(b.clips.begin() + 3, clipAt(7.5, 0.5));
    b.clips.pop_back();
    const SnapshotTracks second({b}, &first);
    EXPECT_EQ(second, std::vector<Track>{b});
    EXPECT_EQ(second[0].toTrack(), b);
    for (std::size_t c : {0u, 1u}) EXPECT_EQ(stored(second, 0, c), stored(first, 0, c)) << c;
    EXPECT_NE(stored(second, 0, 2), stored(first, 0, 2));
    EXPECT_EQ(stored(second, 0, 4), stored(first, 0, 3));
    EXPECT_EQ(stored(second, 0, 5), stored(first, 0, 4));

    // Reversed, each clip is still found by its id; renamed, the clips stay shared.
    for (std::size_t count : {6, 120}) {  // a scan and an index
        Track c = trackWith("c", clipsAt(int(count)));
        const SnapshotTracks before({c});
        std::reverse(c.clips.begin(), c.clips.end());
        c.name = "reversed";
        c.clips[1].volume = 0.25;  // the same id, no longer equal
        const SnapshotTracks after({c}, &before);
        EXPECT_EQ(after.toVector(), std::vector<Track>{c});
        EXPECT_EQ(after[0].name(), "reversed");
        EXPECT_NE(stored(after, 0, 1), stored(before, 0, count - 2));
        for (std::size_t i = 0; i < count; ++i) {
            if (i != 1) {
                ASSERT_EQ(stored(after, 0, i), stored(before, 0, count - 1 - i)) << i;
            }
        }
    }
}

// Random edits of every kind, each snapshot beside the last and the one
// before: every snapshot gives back exactly the tracks it was taken of.
TEST(SnapshotTracks, RestoreExactlyAfterRandomEdits)
{
    std::mt19937 random(7);
    const auto pick = [&](std::size_t n) { return std::size_t(random() % n); };
    std::vector<Track> tracks = {trackWith("a", clipsAt(8)), trackWith("b", clipsAt(3)), trackWith("c", {})};
    std::vector<std::vector<Track>> states;
    std::vector<SnapshotTracks> snapshots;
    snapshots.reserve(400);  // the neighbours stay where they are
    for (int step = 0; step < 400; ++step) {
        Track& track = tracks[pick(tracks.size())];
        auto& clips = track.clips;
        const std::size_t at = clips.empty() ? 0 : pick(clips.size());
        switch (clips.empty() ? 0 : pick(9)) {
        case 0: clips.insert(clips.begin() + long(pick(clips.size() + 1)), clipAt(double(step), 1)); break;
        case 1: clips.erase(clips.begin() + long(at)); break;
        case 2: clips[at].start += 0.5; break;
        case 3: std::swap(clips[at], clips[pick(clips.size())]); break;
        case 4: {  // a repeated id
            const Clip twin = clips[at];
            clips.insert(clips.begin() + long(pick(clips.size() + 1)), twin);
            break;
        }
        case 5: {  // a repeated id, not equal
            Clip twin = clips[at];
            twin.duration += 1;
            clips.push_back(twin);
            break;
        }
        case 6: std::reverse(clips.begin(), clips.end()); break;
        case 7: track.hidden = !track.hidden; break;
        default:
            if (pick(2)) {
                const Track twin = track;  // a repeated track id
                tracks.push_back(twin);
            } else {
                std::swap(tracks[pick(tracks.size())], tracks[pick(tracks.size())]);
            }
        }
        if (tracks.size() > 6) tracks.erase(tracks.begin() + long(pick(tracks.size())));
        const std::size_t n = snapshots.size();
        snapshots.emplace_back(tracks, n ? &snapshots[n - 1] : nullptr, n > 1 ? &snapshots[n - 2] : nullptr);
        states.push_back(tracks);
    }
    for (std::size_t i = 0; i < states.size(); ++i) {
        ASSERT_EQ(snapshots[i].toVector(), states[i]) << "step " << i;
        ASSERT_EQ(snapshots[i], states[i]) << "step " << i;
        std::vector<Track> over = states[(i + 7) % states.size()];  // written over other tracks
        snapshots[i].assignTo(over);
        ASSERT_EQ(over, states[i]) << "step " << i;
    }
}

// Splits with nothing selected change every track: each step copies the two
// halves per track and nothing else, and undo and redo walk the states back.
TEST(SnapshotTracks, SplitsOfEveryTrackShareTheRestThroughUndoAndRedo)
{
    TempFolder folder;
    auto model = editorWith(folder.path, {trackWith("a", clipsAt(10)), trackWith("b", clipsAt(10))});
    std::vector<std::vector<Track>> states{model->tracks()};
    for (int i = 0; i < 5; ++i) {
        model->clock().setTime(i * 6 + 1);
        model->splitAtPlayhead();
        states.push_back(model->tracks());
    }
    const auto& stack = model->undoStack();
    ASSERT_EQ(stack.size(), 5u);
    for (std::size_t s = 1; s < stack.size(); ++s)
        for (std::size_t t = 0; t < 2; ++t)
            EXPECT_EQ(copiedClips(stack[s].tracks, stack[s - 1].tracks, t), 2u) << "snapshot " << s << ", track " << t;

    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = states.size() - 1; i-- > 0;) {
            model->undo();
            ASSERT_EQ(model->tracks(), states[i]) << i;
        }
        if (round == 1) break;
        for (std::size_t i = 1; i < states.size(); ++i) {
            model->redo();
            ASSERT_EQ(model->tracks(), states[i]) << i;
        }
    }
    // The next edit's snapshot shares with the redo step what the undone
    // split left alone: all but the clip it split.
    const SnapshotTracks redo = model->redoStack().back().tracks;
    model->clock().setTime(28.5);
    model->splitAtPlayhead();
    for (std::size_t t = 0; t < 2; ++t) EXPECT_EQ(copiedClips(model->undoStack().back().tracks, redo, t), 1u) << t;
    model->undo();
    EXPECT_EQ(model->tracks(), states[0]);
}

TEST(SnapshotTracks, ShareOnlyTracksThatStayedEqual)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("a", {clipAt(0, 4)}), trackWith("b", {clipAt(0, 4)}),
                                       trackWith("c", {clipAt(0, 4)})};
    auto model = editorWith(folder.path, before);
    model->setSelectedClips({before[0].clips[0].id});
    model->clock().setTime(2);
    model->splitAtPlayhead();           // snapshot 0: before
    model->moveTrack(before[2].id, -2); // snapshot 1: a split, b, c
    model->deleteSelection(false);      // snapshot 2: c, a split, b

    const auto& stack = model->undoStack();
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_FALSE(stack[1].tracks.shares(0, stack[0].tracks, 0));  // split
    EXPECT_TRUE(stack[1].tracks.shares(1, stack[0].tracks, 1));
    EXPECT_TRUE(stack[2].tracks.shares(0, stack[1].tracks, 2));  // moved, found by id
    EXPECT_TRUE(stack[2].tracks.shares(1, stack[1].tracks, 0));
    EXPECT_EQ(stack[0].tracks, before);

    // Every state comes back exactly, the shared tracks included.
    const std::vector<Track> last = model->tracks();
    model->undo();
    model->undo();
    model->undo();
    EXPECT_EQ(model->tracks(), before);
    model->redo();
    model->redo();
    model->redo();
    EXPECT_EQ(model->tracks(), last);
    EXPECT_TRUE(model->redoStack().empty());
    EXPECT_EQ(model->undoStack().size(), 3u);
}

} // namespace
