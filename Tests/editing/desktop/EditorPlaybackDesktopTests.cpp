// The editor plays its edit on the test desktop: the frames the player shows
// come from the edited clips with the camera box where its frame puts it, the
// playhead follows the playing sound, and a committed change shows at once
// and goes away with undo.

#include "editing/EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "support/PlayerSupport.h"
#include "support/ScopedEnv.h"
#include "support/SoundOutputs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QElapsedTimer>

using namespace ondexa;
using namespace ondexa::testing;
namespace fs = std::filesystem;

namespace {

bool isCamera(const QColor& c) { return c.blue() > 170 && c.red() < 80 && c.green() < 80; }
bool isScreen(const QColor& c) { return c.red() > 150 && c.green() < 90 && c.blue() < 140; }

QColor at(EditorModel& model, int x, int y)
{
    const QImage frame = model.player().currentFrame();
    return frame.isNull() ? QColor() : frame.pixelColor(x, y);
}

bool shows(EditorModel& model, int frame, bool camera)
{
    const QImage image = model.player().currentFrame();
    return fixtures::frameNumber(image) == frame && image.size() == QSize(1920, 1080)
           && (camera ? isCamera(image.pixelColor(960, 600)) : isScreen(image.pixelColor(960, 600)));
}

void moveTo(EditorModel& model, double time) { model.step(time - model.clock().time()); }

TEST(EditorPlaysItsEdit, ShowsTheEditedFramesFollowsTheSoundAndUndoesAHiddenCamera)
{
    TempFolder folder;
    EditorModel model(copyOf(sharedRecording(), folder.path, "rec.mov"), settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(model));
    ASSERT_FALSE(model.loadError());

    // Screen 0–2 from 0 and 2–4 from 5; camera and sound over 0–4.
    auto tracks = model.tracks();
    ASSERT_EQ(tracks[1].name, "Képernyő");
    for (Track& track : tracks) {
        track.clips.resize(1);
        track.clips[0].duration = 4;
    }
    Clip second = tracks[1].clips[0];
    second.id = Uuid::random();
    second.start = 2;
    second.sourceStart = 5;
    second.duration = 2;
    tracks[1].clips[0].duration = 2;
    tracks[1].clips.push_back(second);
    model.commit(tracks);
    EXPECT_DOUBLE_EQ(model.duration(), 4);

    // Paused at 3.0: source time 6, frame 180, the camera box at x 0.33–0.67,
    // y 0.2733–0.7267 of the picture.
    moveTo(model, 3.0);
    ASSERT_TRUE(runUntil([&] { return shows(model, 180, true); }, std::chrono::seconds(20)))
        << fixtures::frameNumber(model.player().currentFrame());
    EXPECT_DOUBLE_EQ(model.clock().time(), 3.0);
    struct Point {
        int x, y;
        bool camera;
    } points[] = {{650, 600, true},  {1270, 600, true},  {960, 310, true},  {960, 770, true},
                  {615, 600, false}, {1305, 600, false}, {960, 800, false}, {300, 800, false}};
    for (const Point& p : points) {
        const QColor c = at(model, p.x, p.y);
        EXPECT_EQ(isCamera(c), p.camera) << p.x << "," << p.y << " " << c.name().toStdString();
    }

    // A second of the playing sound moves the playhead a second. Judged by
    // the player's own clock, the sound, which a slow start or a stall on a
    // busy machine holds back as much as the playhead: the playhead is at
    // most a few ticks behind it when play stops.
    moveTo(model, 0);
    model.togglePlay();
    ASSERT_TRUE(runUntil([&] { return model.isPlaying() && model.clock().time() > 0; }, std::chrono::seconds(20)));
    const double from = model.clock().time();
    ASSERT_TRUE(runUntil([&] { return model.player().currentTime().seconds() >= from + 1; }, std::chrono::seconds(30)));
    model.togglePlay();
    ASSERT_TRUE(runUntil([&] { return !model.isPlaying(); }, std::chrono::seconds(5)));
    const double sound = model.player().currentTime().seconds();
    EXPECT_GE(sound, from + 1);
    EXPECT_LE(model.clock().time(), sound);
    EXPECT_GT(model.clock().time(), sound - 0.25) << "the playhead lags the sound";

    // Hiding the camera takes the box away; undo brings it back.
    auto hidden = model.tracks();
    hidden[0].hidden = true;
    moveTo(model, 3.0);
    model.commit(hidden);
    EXPECT_TRUE(runUntil([&] { return shows(model, 180, false); }, std::chrono::seconds(20)));
    model.undo();
    EXPECT_FALSE(model.tracks()[0].hidden);
    EXPECT_TRUE(runUntil([&] { return shows(model, 180, true); }, std::chrono::seconds(20)));
}

TEST(EditorPlaysItsEdit, ALostSoundOutputIsLoggedOnceAndThePlayheadGoesOn)
{
    TempFolder folder;
    testsupport::ScopedEnv state("XDG_STATE_HOME", (folder.path / "state").string());
    const fs::path log = folder.path / "state" / "Vendalum" / "Vendalum.log";
    EditorModel model(copyOf(sharedRecording(), folder.path, "rec.mov"), settingsIn(folder.path));
    ASSERT_TRUE(loadAndWait(model));
    model.togglePlay();
    ASSERT_TRUE(runUntil([&] { return model.clock().time() > 0.5 && !testsupport::ownSoundOutputs().empty(); },
                         std::chrono::seconds(10)));

    // The server drops our stream, as when it goes away.
    ASSERT_TRUE(testsupport::killOwnSoundOutputs());
    const std::string said = "A hanglejátszás leállt";
    ASSERT_TRUE(runUntil([&] { return occurrencesIn(log, said) > 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(occurrencesIn(log, "Az előnézet hang nélkül megy tovább."), 1);

    // Played on by the clock: a second moves the playhead about a second.
    const double from = model.clock().time();
    QElapsedTimer wall;
    wall.start();
    runUntil([&] { return wall.elapsed() >= 1000; }, std::chrono::seconds(5));
    EXPECT_TRUE(model.isPlaying());
    EXPECT_NEAR(model.clock().time() - from, double(wall.elapsed()) / 1000, 0.3);
    // An edit (a rebuild of the player) neither asks the server again nor
    // says it again: that waits for the server's report.
    model.togglePlay();
    model.splitAtPlayhead();
    model.togglePlay();
    fixtures::runFor(std::chrono::milliseconds(500));
    EXPECT_TRUE(model.isPlaying());
    EXPECT_TRUE(testsupport::ownSoundOutputs().empty());
    EXPECT_EQ(occurrencesIn(log, said), 1);
}

} // namespace
