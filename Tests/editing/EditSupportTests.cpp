// The whole-timeline comparison that the edit tests rely on must itself
// refuse what it is meant to catch.

#include "EditTestSupport.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

TEST(EditTestSupport, TellsNewIdsAndLinkClassesApart)
{
    const Uuid oldLink = Uuid::random();
    const std::vector<Track> before = {trackWith("V", {linked(clipAt(0, 10), oldLink)}),
                                       trackWith("A", {linked(clipAt(0, 10), oldLink)}, MediaKind::audio)};
    const Clip& v = before[0].clips[0];
    const Clip& a = before[1].clips[0];

    auto fresh = [](Clip clip) {
        clip.id = Uuid::random();
        return clip;
    };
    auto expectedNew = [](Clip clip, std::optional<Uuid> link) {
        clip.id = Uuid();
        clip.link = link;
        return clip;
    };
    auto relinked = [](Clip clip, std::optional<Uuid> link) {
        clip.link = link;
        return clip;
    };
    const Uuid l1 = Uuid::random(), l2 = Uuid::random();

    struct Case {
        const char* label;
        std::vector<Clip> actualV, actualA;
        std::vector<Clip> expectedV, expectedA;
        bool matches;
    } cases[] = {
        {"unchanged", {v}, {a}, {v}, {a}, true},
        {"a new id where one is expected", {fresh(v)}, {a}, {expectedNew(v, oldLink)}, {a}, true},
        {"an old id where a new one is expected", {v}, {a}, {expectedNew(v, oldLink)}, {a}, false},
        {"one new id used twice", {v}, {a}, {expectedNew(v, oldLink)}, {expectedNew(a, oldLink)}, false},
        {"a new id where the old one is expected", {fresh(v)}, {a}, {v}, {a}, false},
        {"one group under other ids", {relinked(v, l1)}, {relinked(a, l1)}, {v}, {a}, true},
        {"the group split in two", {relinked(v, l1)}, {relinked(a, l2)}, {v}, {a}, false},
        {"two groups merged", {relinked(v, l1)}, {relinked(a, l1)}, {relinked(v, link(1))}, {relinked(a, link(2))},
         false},
        {"a link lost", {relinked(v, std::nullopt)}, {a}, {v}, {a}, false},
        {"a start moved", {[&] { Clip c = v; c.start = 1; return c; }()}, {a}, {v}, {a}, false},
    };
    for (const Case& c : cases) {
        std::vector<Track> actual = before, expected = before;
        actual[0].clips = c.actualV;
        actual[1].clips = c.actualA;
        expected[0].clips = c.expectedV;
        expected[1].clips = c.expectedA;
        if (std::string(c.label) == "one new id used twice") actual[1].clips[0].id = actual[0].clips[0].id = Uuid::random();
        EXPECT_EQ(bool(tracksMatch(before, expected, actual)), c.matches) << c.label;
    }
}

TEST(EditTestSupport, ChecksUndoAndRedoOfACommit)
{
    TempFolder folder;
    const std::vector<Track> before = {trackWith("V", {clipAt(0, 10)})};
    auto model = editorWith(folder.path, before);
    std::vector<Track> expected = before;
    expected[0].clips[0].duration = 4;
    EXPECT_TRUE(editGives(*model, [&](EditorModel& m) { m.commit(expected); }, expected));
    EXPECT_EQ(model->tracks(), expected);
    EXPECT_FALSE(editGives(*model, [](EditorModel&) {}, expected));
    EXPECT_TRUE(editChangesNothing(*model, [](EditorModel&) {}));
}

} // namespace
