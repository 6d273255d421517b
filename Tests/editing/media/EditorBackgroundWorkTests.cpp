// The filmstrips of long recordings, made in the background, never keep the
// user's own work waiting: an autosave lands while they are still being made.

#include "EditTestSupport.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/editing/WorkPools.h"
#include "support/TempFolder.h"

#include <QElapsedTimer>
#include <QThreadPool>

#include <gtest/gtest.h>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

// Ten minutes of screen without sound: 600 filmstrip pictures in 20 batches.
const fs::path& longRecording()
{
    static TempFolder folder;
    static const fs::path file = makeRecording(
        folder.path / "hosszú.mov",
        RecordingRecipe{.seconds = 600, .width = 640, .height = 360, .fps = 5, .camera = false, .tones = 0});
    return file;
}

std::size_t thumbnailsOf(const EditorModel& model)
{
    std::size_t count = 0;
    for (const auto& [media, list] : model.thumbnails()) count += list.size();
    return count;
}

TEST(EditorBackgroundWork, AnAutosaveLandsWhileTwoLongFilmstripsAreMade)
{
    // Two threads each, as on a machine of two cores.
    std::vector<int> kept;
    for (WorkPool pool : {WorkPool::general, WorkPool::decoding, WorkPool::files}) {
        kept.push_back(workPool(pool).maxThreadCount());
        workPool(pool).setMaxThreadCount(2);
    }

    TempFolder folder;
    std::vector<std::unique_ptr<EditorModel>> editors;
    for (const std::string name : {"első.mov", "második.mov"}) {
        editors.push_back(std::make_unique<EditorModel>(copyOf(longRecording(), folder.path, name),
                                                        settingsIn(folder.path)));
        ASSERT_TRUE(loadAndWait(*editors.back()));
    }
    EditorModel& model = *editors.front();
    waitForSaves(model);

    std::vector<Track> tracks = model.tracks();
    tracks.front().name = "Átnevezve";
    QElapsedTimer clock;
    clock.start();
    model.commit(tracks);
    bool saved = false;
    std::size_t madeBy[2] = {0, 0};
    model.whenSaved([&] {
        saved = true;
        for (std::size_t i = 0; i < editors.size(); ++i) madeBy[i] = thumbnailsOf(*editors[i]);
    });
    ASSERT_TRUE(runUntil([&] { return saved; }));
    const qint64 elapsed = clock.elapsed();
    RecordProperty("autosave_ms", int(elapsed));

    EXPECT_LT(elapsed, 1000);
    // Neither filmstrip was done: the save did not wait for a decoding thread.
    EXPECT_LT(madeBy[0], 600u);
    EXPECT_LT(madeBy[1], 600u);
    EXPECT_EQ(RecordingInfo::load(model.url())->project->tracks.front().name, "Átnevezve");

    editors.clear();
    waitForBackgroundWork();
    int i = 0;
    for (WorkPool pool : {WorkPool::general, WorkPool::decoding, WorkPool::files})
        workPool(pool).setMaxThreadCount(kept[std::size_t(i++)]);
}

} // namespace
