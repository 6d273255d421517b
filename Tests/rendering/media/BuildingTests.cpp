// Sources, compositions, video compositions and audio mixes built from track
// lists over real files, read back from the built structures and drawn.

#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/EditInstruction.h"
#include "Platform/media/CompositionRenderer.h"
#include "rendering/GuiTestApplication.h"
#include "rendering/media/RecordingFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

using namespace ondexa;
using platform::Composition;
using platform::MediaTime;
using platform::TimeRange;

namespace {

Clip clipAt(double start, double sourceStart, double duration)
{
    Clip clip;
    clip.start = start;
    clip.sourceStart = sourceStart;
    clip.duration = duration;
    return clip;
}

Track trackOf(const std::string& path, MediaKind kind, int index, std::vector<Clip> clips)
{
    Track track;
    track.media = MediaRef{path, kind, index};
    track.clips = std::move(clips);
    return track;
}

RenderSettings settingsFor(const std::vector<Track>& tracks, const MediaSources& sources)
{
    RenderSettings settings;
    settings.tracks = tracks;
    settings.sources = &sources;
    settings.screenSize = {320, 240};
    settings.aspect = 4.0 / 3.0;
    return settings;
}

double seconds(const MediaTime& t)
{
    return t.seconds();
}

std::vector<std::pair<double, double>> targets(const Composition::Track& track)
{
    std::vector<std::pair<double, double>> spans;
    for (const auto& s : track.segments) spans.emplace_back(seconds(s.target.start), seconds(s.target.end()));
    return spans;
}

class SourcesAndBuilding : public ondexa::testing::RecordingFixture {};

TEST_F(SourcesAndBuilding, RecordingStreamsComeInTrackOrderWithTheirSpans)
{
    const auto source = loadMediaSource(recording());
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->asset);
    EXPECT_FALSE(source->isStill());
    ASSERT_EQ(source->video.size(), 2u);
    EXPECT_EQ(source->video[0].stream.naturalSize, QSize(320, 240));  // the screen first
    EXPECT_EQ(source->video[1].stream.naturalSize, QSize(160, 120));  // then the camera
    EXPECT_NEAR(source->video[0].aspect, 4.0 / 3.0, 1e-9);
    EXPECT_NEAR(seconds(source->video[0].range.end()), length, 1e-3);
    ASSERT_EQ(source->audio.size(), 2u);
    EXPECT_NEAR(seconds(source->audio[1].range.end()), length, 0.03);
    EXPECT_EQ(raisedFrameRate(30, *source), 30);
}

TEST_F(SourcesAndBuilding, OtherFilesGiveStillsSoundOnlyTurnedAndFastSources)
{
    fixtures::makePicture(file("p.png"), 64, 32);
    fixtures::makePicture(file("p.jpg"), 64, 32);
    std::filesystem::copy_file(file("p.png"), file("p.MOV"));
    // The turn is stored only when the stream is copied.
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=320x180:r=30", "-t", "1", "-c:v", "libx264",
                         file("upright.mov").string()});
    fixtures::runFfmpeg({"-i", file("upright.mov").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90",
                         file("turned.mov").string()});
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=60", "-t", "1", "-c:v", "libx264",
                         file("fast.mp4").string()});
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "sine=d=1", "-f", "lavfi", "-i", "sine=f=600:d=1", "-map", "0",
                         "-map", "1", "-c:a", "aac", file("sound.m4a").string()});

    struct Case {
        const char* name;
        bool loads, still;
        std::size_t video, audio;
        double aspect;  // of video 0
        int frameRate;  // raised from 30
    } cases[] = {
        {"p.png", true, true, 0, 0, 0, 30},
        {"p.jpg", true, true, 0, 0, 0, 30},
        {"p.MOV", false, false, 0, 0, 0, 30},  // a movie by name, and no movie
        {"turned.mov", true, false, 1, 0, 0.5625, 30},
        {"fast.mp4", true, false, 1, 0, 4.0 / 3.0, 60},
        {"sound.m4a", true, false, 0, 2, 0, 30},
        {"missing.mov", false, false, 0, 0, 0, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = loadMediaSource(file(c.name));
        ASSERT_EQ(source.has_value(), c.loads);
        if (!source) continue;
        EXPECT_EQ(source->isStill(), c.still);
        EXPECT_EQ(source->asset == nullptr, c.still);
        EXPECT_EQ(source->video.size(), c.video);
        EXPECT_EQ(source->audio.size(), c.audio);
        if (c.still) EXPECT_EQ(source->image.size(), QSize(64, 32));
        if (c.video) EXPECT_NEAR(source->video[0].aspect, c.aspect, 1e-9);
        EXPECT_EQ(raisedFrameRate(30, *source), c.frameRate);
        EXPECT_EQ(raisedFrameRate(60, *source), 60);  // never lowered
    }
}

TEST_F(SourcesAndBuilding, AStreamThatStartsLateKeepsItsSyncAndClipsOutsideAreLeftOut)
{
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=30", "-t", "9.5", "-output_ts_offset", "0.5",
                         "-c:v", "libx264", "-g", "30", file("late.mov").string()});
    MediaSources sources;
    sources.emplace("late.mov", *loadMediaSource(file("late.mov")));
    ASSERT_NEAR(seconds(sources.at("late.mov").video[0].range.start), 0.5, 1e-6);

    const std::vector<Track> tracks{trackOf("late.mov", MediaKind::video, 0, {clipAt(10, 0, 5), clipAt(16, 20, 2)})};
    const Built built = makeComposition(settingsFor(tracks, sources));

    ASSERT_EQ(built.videoTrackIDs.size(), 2u);  // the lane, then the filler up to 18 s
    const Composition::Track* lane = built.composition->track(built.videoTrackIDs[0]);
    ASSERT_TRUE(lane);
    EXPECT_EQ(targets(*lane), (std::vector<std::pair<double, double>>{{0, 10.5}, {10.5, 15}}));
    EXPECT_NEAR(seconds(lane->segments[1].source.start), 0.5, 1e-6);
    EXPECT_NEAR(seconds(lane->segments[1].source.end()), 5, 1e-6);
    EXPECT_EQ(built.clipTracks.at(tracks[0].clips[0].id), built.videoTrackIDs[0]);
    EXPECT_NEAR(seconds(built.composition->track(built.videoTrackIDs[1])->end()), 18, 1e-6);
}

TEST_F(SourcesAndBuilding, LanesHiddenTracksSoundAndTheFiller)
{
    const MediaSources sources = loadedRecording();
    const std::string rec = recording();
    Track camera = trackOf(rec, MediaKind::video, 1, {clipAt(0, 0, 2)});
    Track screen = trackOf(rec, MediaKind::video, 0, {clipAt(0, 0, 3), clipAt(2.5, 4, 1.5)});  // overlap: two lanes
    screen.fromRecording = true;
    Track hiddenPicture = trackOf(rec, MediaKind::video, 0, {clipAt(0, 0, 7)});
    hiddenPicture.hidden = true;
    Track hiddenSound = trackOf(rec, MediaKind::audio, 0, {clipAt(0, 0, 6)});
    hiddenSound.hidden = true;
    Track sound = trackOf(rec, MediaKind::audio, 1, {clipAt(1, 0, 2)});
    Track effects = trackOf("", MediaKind::effects, 0, {clipAt(0, 0, 5)});
    const std::vector<Track> tracks{effects, camera, screen, hiddenPicture, hiddenSound, sound};

    const Built built = makeComposition(settingsFor(tracks, sources));

    // camera, the screen's two lanes, then the filler: sound runs to 6 s,
    // the hidden picture track (to 7 s) still counts for the length.
    ASSERT_EQ(built.videoTrackIDs.size(), 4u);
    const auto trackAt = [&](std::size_t i) { return built.composition->track(built.videoTrackIDs[i]); };
    EXPECT_EQ(built.clipTracks.at(camera.clips[0].id), built.videoTrackIDs[0]);
    EXPECT_EQ(built.clipTracks.at(screen.clips[0].id), built.videoTrackIDs[1]);
    EXPECT_EQ(built.clipTracks.at(screen.clips[1].id), built.videoTrackIDs[2]);
    EXPECT_FALSE(built.clipTracks.contains(hiddenPicture.clips[0].id));
    EXPECT_EQ(targets(*trackAt(2)), (std::vector<std::pair<double, double>>{{0, 2.5}, {2.5, 4}}));
    EXPECT_NEAR(seconds(trackAt(2)->segments[1].source.start), 4, 1e-6);
    EXPECT_EQ(targets(*trackAt(3)), (std::vector<std::pair<double, double>>{{0, 7}}));
    for (const auto& [clip, id] : built.clipTracks) EXPECT_NE(id, built.videoTrackIDs[3]);

    ASSERT_EQ(built.audio.size(), 2u);  // the hidden sound track still plays
    EXPECT_EQ(built.audio[0].trackID, hiddenSound.id);
    EXPECT_EQ(built.audio[1].trackID, sound.id);
    EXPECT_EQ(targets(*built.composition->track(built.audio[1].compositionTrack)),
              (std::vector<std::pair<double, double>>{{0, 1}, {1, 3}}));
    EXPECT_NEAR(seconds(built.composition->duration()), 7, 1e-6);
    EXPECT_EQ(built.composition->tracks().size(), 6u);

    // Only the filler when the filter admits nothing, over the whole timeline.
    const auto settings = settingsFor(tracks, sources);
    const Built nothing = makeComposition(settings, std::unordered_set<Uuid>{});
    ASSERT_EQ(nothing.videoTrackIDs.size(), 1u);
    EXPECT_TRUE(nothing.audio.empty() && nothing.clipTracks.empty());
    EXPECT_NEAR(seconds(nothing.composition->duration()), 7, 1e-6);
    const auto noLayers = makeVideoComposition(nothing, settings, true, std::nullopt, std::unordered_set<Uuid>{});
    ASSERT_EQ(noLayers->instructions.size(), 1u);
    EXPECT_TRUE(dynamic_cast<const EditInstruction&>(*noLayers->instructions[0]).state().layers.empty());

    const Built soundOnly = makeComposition(settings, std::unordered_set<Uuid>{sound.id});
    EXPECT_EQ(soundOnly.audio.size(), 1u);
    EXPECT_EQ(soundOnly.videoTrackIDs.size(), 1u);
}

TEST_F(SourcesAndBuilding, NoFillerWithoutVideoAndNoInstructionWhenEmpty)
{
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "sine=d=3", "-c:a", "pcm_s16le", file("tone.wav").string()});
    MediaSources sources;
    sources.emplace("tone.wav", *loadMediaSource(file("tone.wav")));
    const std::vector<Track> tracks{trackOf("tone.wav", MediaKind::audio, 0, {clipAt(0, 0, 3)})};
    const Built sound = makeComposition(settingsFor(tracks, sources));
    EXPECT_TRUE(sound.videoTrackIDs.empty());
    EXPECT_EQ(sound.audio.size(), 1u);

    const MediaSources recordingSources = loadedRecording();
    const std::vector<Track> none;
    const auto settings = settingsFor(none, recordingSources);
    const Built empty = makeComposition(settings);
    EXPECT_EQ(empty.composition->duration(), MediaTime::zero());
    EXPECT_TRUE(empty.videoTrackIDs.empty());
    EXPECT_TRUE(makeVideoComposition(empty, settings, true)->instructions.empty());
}

TEST_F(SourcesAndBuilding, VideoCompositionLayersRunFromTheBottomWithScreenClipsAndStills)
{
    fixtures::makePicture(file("still.png"), 40, 20);
    MediaSources sources = loadedRecording();
    sources.emplace("still.png", *loadMediaSource(file("still.png")));
    const std::string rec = recording();

    Track effects = trackOf("", MediaKind::effects, 0, {clipAt(0, 0, 1)});
    Track camera = trackOf(rec, MediaKind::video, 1, {clipAt(0, 0, 2)});
    Track still = trackOf("still.png", MediaKind::image, 0, {clipAt(0, 0, 2), clipAt(2, 0, 1)});
    still.clips[1].media = MediaRef{"elsewhere.png", MediaKind::image, 0};  // not loaded: no still
    Track screen = trackOf(rec, MediaKind::video, 0, {clipAt(0, 0, 2), clipAt(2, 0, 2)});
    screen.fromRecording = true;
    screen.clips[1].media = MediaRef{rec, MediaKind::video, 1};  // the camera on the screen's track
    Track hidden = trackOf(rec, MediaKind::video, 0, {clipAt(0, 0, 1)});
    hidden.hidden = true;
    Track sound = trackOf(rec, MediaKind::audio, 0, {clipAt(0, 0, 4)});
    const std::vector<Track> tracks{effects, camera, still, screen, hidden, sound};

    auto settings = settingsFor(tracks, sources);
    settings.frameRate = 60;
    const std::vector<ClickEvent> clicks{{1, 0.5, 0.5, false}};
    settings.clicks = clicks;
    CursorStyle style;
    style.enabled = false;
    settings.cursorStyle = style;
    const Built built = makeComposition(settings);
    const auto composition = makeVideoComposition(built, settings, true);

    EXPECT_EQ(composition->renderSize, QSize(320, 240));
    EXPECT_EQ(composition->frameDuration, MediaTime(1, 60));
    ASSERT_EQ(composition->instructions.size(), 1u);
    const auto& instruction = dynamic_cast<const EditInstruction&>(*composition->instructions[0]);
    EXPECT_EQ(instruction.timeRange(), TimeRange(MediaTime::zero(), built.composition->duration()));
    EXPECT_EQ(instruction.requiredSourceTrackIds(), built.videoTrackIDs);
    const RenderState& state = instruction.state();
    EXPECT_FALSE(state.cursorStyle);  // disabled: the compositor would draw any style it gets
    EXPECT_EQ(state.clicks.size(), 1u);

    ASSERT_EQ(state.layers.size(), 4u);  // screen, still, camera, effects
    const auto& bottom = std::get<VideoLayer::Pictures>(state.layers[0].content);
    EXPECT_EQ(bottom.video.size(), 2u);
    EXPECT_EQ(state.layers[0].screenClips, (std::unordered_set<Uuid>{screen.clips[0].id}));
    const auto& stills = std::get<VideoLayer::Pictures>(state.layers[1].content);
    EXPECT_TRUE(stills.video.empty());
    ASSERT_EQ(stills.stills.size(), 1u);
    EXPECT_EQ(stills.stills.at(still.clips[0].id).size(), QSize(40, 20));
    EXPECT_TRUE(state.layers[2].screenClips.empty());
    EXPECT_TRUE(std::holds_alternative<VideoLayer::Effects>(state.layers[3].content));
    EXPECT_EQ(state.layers[3].clips.size(), 1u);
    EXPECT_DOUBLE_EQ(state.layers[3].outputAspect, 4.0 / 3.0);

    // An enabled style reaches the compositor; a size overrides the box.
    style.enabled = true;
    settings.cursorStyle = style;
    const auto exported = makeVideoComposition(built, settings, false, QSize(640, 480));
    EXPECT_EQ(exported->renderSize, QSize(640, 480));
    EXPECT_TRUE(dynamic_cast<const EditInstruction&>(*exported->instructions[0]).state().cursorStyle);
    // Each call draws from a render state of its own.
    EXPECT_NE(&dynamic_cast<const EditInstruction&>(*exported->instructions[0]).state(), &state);
}

TEST_F(SourcesAndBuilding, TheEditedFramesAreDrawn)
{
    const MediaSources sources = loadedRecording();
    const std::string rec = recording();
    Track camera = trackOf(rec, MediaKind::video, 1, {clipAt(0, 0, 4)});
    camera.clips[0].frame = NRect{0.5, 0.5, 0.5, 0.5};
    camera.clips[0].aspect = 4.0 / 3.0;
    Track screen = trackOf(rec, MediaKind::video, 0, {clipAt(0, 0, 2), clipAt(2, 5, 2)});
    screen.fromRecording = true;

    struct Case {
        double t;
        bool cameraHidden;
        int frame;
    } cases[] = {{1.0, false, 30}, {3.0, false, 180}, {3.0, true, 180}};
    for (const Case& c : cases) {
        camera.hidden = c.cameraHidden;
        const std::vector<Track> tracks{camera, screen};
        const auto settings = settingsFor(tracks, sources);
        const Built built = makeComposition(settings);
        platform::CompositionRenderer renderer(built.composition, makeVideoComposition(built, settings, true));
        const QImage frame = renderer.imageAt(MediaTime::fromSeconds(c.t));
        ASSERT_EQ(frame.size(), QSize(320, 240));
        const auto pixel = [&](int x, int y) { return frame.pixel(x, y); };
        EXPECT_EQ(fixtures::frameNumberOf(pixel, 320, 240), c.frame) << c.t;
        const QColor box = frame.pixelColor(240, 180);
        if (c.cameraHidden) {
            EXPECT_GT(box.red(), 150) << "the screen's red shows where the box was";
        } else {
            EXPECT_GT(box.blue(), 200);
            EXPECT_LT(box.red(), 40);
        }
    }
}

TEST_F(SourcesAndBuilding, AudioMixCarriesMuteAutomationAndOneMaximizerPerLane)
{
    const MediaSources sources = loadedRecording();
    const std::string rec = recording();
    Track loud = trackOf(rec, MediaKind::audio, 0, {clipAt(0, 0, 3), clipAt(2, 0, 3)});  // two lanes
    loud.muted = true;
    loud.maximize = true;
    Track faded = trackOf(rec, MediaKind::audio, 1, {clipAt(0, 0, 4)});
    faded.clips[0].fadeIn = 1;
    faded.volume = 0.8f;
    std::vector<Track> tracks{loud, faded};
    const PeakMap peaks{{loud.media, std::vector<float>(200, 0.445f)}};
    auto settings = settingsFor(tracks, sources);
    settings.peaks = &peaks;
    const Built built = makeComposition(settings);
    ASSERT_EQ(built.audio.size(), 3u);

    const auto mix = makeAudioMix(built, settings);
    ASSERT_EQ(mix->tracks().size(), 3u);
    std::set<platform::AudioTap*> taps;
    for (int lane : {0, 1}) {
        const auto* p = mix->find(built.audio[lane].compositionTrack);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->volumeAt(0), 0.0f);
        EXPECT_EQ(p->volumeAt(2.5), 0.0f);
        ASSERT_TRUE(p->tap);
        taps.insert(p->tap.get());
    }
    EXPECT_EQ(taps.size(), 2u);  // each lane its own state
    const auto* fade = mix->find(built.audio[2].compositionTrack);
    ASSERT_TRUE(fade);
    EXPECT_FALSE(fade->tap);
    EXPECT_NEAR(fade->volumeAt(0.5), 0.4f, 1e-3f);
    EXPECT_NEAR(fade->volumeAt(2), 0.8f, 1e-6f);

    // A lane whose track has gone gets no parameters.
    tracks.pop_back();
    settings.tracks = tracks;
    EXPECT_FALSE(makeAudioMix(built, settings)->find(built.audio[2].compositionTrack));
}

} // namespace
