// One writer per document file: queued states coalesce, the last one wins,
// and an editor reopened at once reads what the closed one wrote last.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/editing/DocumentWriter.h"
#include "Ondexa/model/RecordingInfo.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

// What the jobs of a writer did, in order; a first job that waits until let go.
struct Journal {
    std::mutex mutex;
    std::vector<int> entries;  // guarded by mutex
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> started = false;

    std::function<void()> note(int entry)
    {
        return [this, entry] {
            std::lock_guard lock(mutex);
            entries.push_back(entry);
        };
    }
    std::function<void()> held(int entry)
    {
        return [this, entry] {
            started = true;
            released.wait();
            note(entry)();
        };
    }
};

void waitForWriter(DocumentWriter& writer)
{
    QObject receiver;
    bool done = false;
    writer.whenDone(&receiver, [&] { done = true; });
    ASSERT_TRUE(runUntil([&] { return done; }));
}

const Clip& firstClip(const EditorModel& model, MediaKind kind)
{
    for (const Track& track : model.tracks())
        if (track.media.kind == kind && !track.clips.empty()) return track.clips.front();
    throw std::runtime_error("no clip");
}

} // namespace

TEST(DocumentWriter, QueuedStateWritesCoalesceAndTheLastStateWins)
{
    TempFolder temp;
    const auto writer = DocumentWriter::of(temp.path / "rec.ondexa.json");
    Journal journal;
    writer->save(journal.held(0));
    ASSERT_TRUE(runUntil([&] { return journal.started.load(); }));

    // While the first write runs: 99 newer states, and one job that keeps its turn.
    for (int state = 1; state <= 50; ++state) writer->save(journal.note(state));
    writer->run(journal.note(-1));
    for (int state = 51; state <= 99; ++state) writer->save(journal.note(state));
    journal.release.set_value();
    waitForWriter(*writer);
    EXPECT_EQ(journal.entries, (std::vector<int>{0, 50, -1, 99}));
}

TEST(DocumentWriter, OneWriterPerFileAsLongAsAJobOfItIsLeft)
{
    TempFolder temp;
    const fs::path file = temp.path / "rec.ondexa.json";
    auto writer = DocumentWriter::of(file);
    fs::create_directory_symlink(temp.path, temp.path / "link");
    fs::create_directory(temp.path / "sub");
    EXPECT_EQ(DocumentWriter::of(temp.path / "link" / "rec.ondexa.json"), writer);
    EXPECT_EQ(DocumentWriter::of(temp.path / "." / "sub" / ".." / "rec.ondexa.json"), writer);
    EXPECT_NE(DocumentWriter::of(temp.path / "other.ondexa.json"), writer);
    const auto package = DocumentWriter::of(temp.path / "p.vdlproj");
    EXPECT_EQ(DocumentWriter::of(temp.path / "p.vdlproj/"), package);

    // Every holder let go while a write waits: the next caller still gets
    // that writer, and its job comes after the write.
    Journal journal;
    writer->save(journal.held(1));
    ASSERT_TRUE(runUntil([&] { return journal.started.load(); }));
    const std::weak_ptr<DocumentWriter> left = writer;
    writer.reset();
    const auto again = DocumentWriter::of(file);
    EXPECT_EQ(again, left.lock());
    again->run(journal.note(2));
    journal.release.set_value();
    waitForWriter(*again);
    EXPECT_EQ(journal.entries, (std::vector<int>{1, 2}));
}

TEST(EditorReopening, AnEditorReopenedAtOnceShowsTheLastEditAndTheDiskKeepsIt)
{
    TempFolder folder;
    const fs::path movie = copyOf(sharedRecording(), folder.path, "rec.mov");
    // Five and a half minutes of pointer path: each write of the side file takes a while.
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang", "Mikrofon"};
    std::vector<CursorSample> samples;
    for (int i = 0; i < 20'000; ++i) samples.push_back({i / 60.0, (i % 1000) / 1000.0, (i % 700) / 700.0});
    info.cursor = RecordingInfo::cursorArrays(samples);
    info.save(movie);

    Uuid clipID;
    double lastFade = 0;
    {
        EditorModel model(movie, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(model));
        const Clip start = firstClip(model, MediaKind::video);
        clipID = start.id;
        // A fade drag of sixty steps, then the window closes.
        for (int step = 1; step <= 60; ++step) model.setFade(start, EditorModel::ClipEdge::front, step * 0.01);
        lastFade = firstClip(model, MediaKind::video).fadeIn;
        ASSERT_NEAR(lastFade, 0.6, 1e-9);
    }

    EditorModel reopened(movie, settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(reopened));
    const Clip& shown = firstClip(reopened, MediaKind::video);
    EXPECT_EQ(shown.id, clipID);
    EXPECT_EQ(shown.fadeIn, lastFade);

    // The reopened editor's own writes keep it.
    auto tracks = reopened.tracks();
    tracks.back().name = "Újranyitva";
    reopened.commit(tracks);
    waitForSaves(reopened);
    const auto stored = RecordingInfo::load(movie);
    ASSERT_TRUE(stored && stored->project);
    EXPECT_EQ(stored->project->tracks, reopened.tracks());
    EXPECT_EQ(stored->cursor, info.cursor);
}
