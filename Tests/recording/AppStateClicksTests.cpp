// Clicks and pointer samples turned into the side file's rows.

#include "AppStateFakes.h"

using ondexa::AppState;
using ondexa::RecordingInfo;
using namespace ondexa::testing;
using Rows = std::vector<std::vector<double>>;

class AppStateClicks : public AppStateTest {
protected:
    AppStateClicks()
    {
        recorder.request.url = system.folder / "Felvétel.mov";
        recorder.trackNames = {"Rendszerhang"};
        recorder.frame = QRectF(100, 50, 800, 600);
    }

    void pointerAt(int x, int y)
    {
        system.pointer = platform::RootPoint{x, y};
        state->samplePointer();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    std::unique_ptr<AppState> state = make();
    FakeRecorder recorder{system, {}};
};

TEST_F(AppStateClicks, ClicksInsideTheFrameFromTheFirstFrameOnAreKeptAndTheRestOfTheFileStays)
{
    RecordingInfo before;
    before.audioTracks = {"Rendszerhang", "iface"};
    before.segments = Rows{{0, 1.5}};
    before.save(recorder.url());

    const double start = 1000;
    state->addClick(false, QPointF(500, 350), start - 0.001);  // before the first frame
    state->addClick(false, QPointF(100, 50), start);           // top left corner: kept at 0
    state->addClick(true, QPointF(500, 650), start + 1);       // on the bottom edge line: outside
    state->addClick(true, QPointF(500, 350), start + 2.5);
    state->addClick(false, QPointF(50, 60), start + 3);        // outside
    state->saveClicks(recorder, start);

    const auto info = RecordingInfo::load(recorder.url());
    EXPECT_EQ(info->clicks, (Rows{{0, 0, 0, 0}, {2.5, 0.5, 0.5, 1}}));
    EXPECT_EQ(info->showClicks, true);
    EXPECT_EQ(info->audioTracks, before.audioTracks);
    EXPECT_EQ(info->segments, before.segments);
    ASSERT_TRUE(info->cursorStyle);
    EXPECT_DOUBLE_EQ(info->cursorStyle->base, 21.0 / 600);
    std::filesystem::remove(RecordingInfo::sideFileURL(recorder.url()));
    recorder.frame.setHeight(0);  // no area: nothing written rather than dividing by zero
    state->saveClicks(recorder, start);
    EXPECT_FALSE(std::filesystem::exists(RecordingInfo::sideFileURL(recorder.url())));
}

TEST_F(AppStateClicks, ThePointerPathStartsWhereThePointerWasAtTheFirstFrame)
{
    pointerAt(500, 350);
    pointerAt(500, 350);  // unmoved: no sample
    pointerAt(1000, 0);   // outside the frame: kept
    pointerAt(100, 50);
    const auto samples = state->cursorLog();
    ASSERT_EQ(samples.size(), 3u);

    // The second sample comes exactly with the first frame; the one before it gives the row at 0.
    const double start = samples[1].time;
    state->saveClicks(recorder, start);
    auto info = RecordingInfo::load(recorder.url());
    EXPECT_EQ(info->cursor, (Rows{{0, 0.5, 0.5}, {0, 1.125, -50.0 / 600}, {samples[2].time - start, 0, 0}}));
    // Without a side file a fresh one gets the recorder's track names; no clicks, no click rings.
    EXPECT_EQ(info->audioTracks, recorder.trackNames);
    EXPECT_EQ(info->clicks, Rows{});
    EXPECT_EQ(info->showClicks, false);

    // Before every sample: no earlier position to start from.
    std::filesystem::remove(RecordingInfo::sideFileURL(recorder.url()));
    state->saveClicks(recorder, samples[0].time - 1);
    info = RecordingInfo::load(recorder.url());
    ASSERT_EQ(info->cursor->size(), 3u);
    EXPECT_DOUBLE_EQ((*info->cursor)[0][0], 1.0);
}
