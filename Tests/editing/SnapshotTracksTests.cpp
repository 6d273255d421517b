// Undo snapshots share the tracks an edit left alone, and only those.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

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
