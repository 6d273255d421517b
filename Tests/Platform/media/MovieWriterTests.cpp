// Movies written by MovieWriter, read back only by independent readers: the
// ffprobe and ffmpeg programs, and libavformat/libavcodec directly (fixtures::readMovie).

#include "Platform/media/MovieWriter.h"

#include "support/MediaFixtures.h"
#include "support/MovieFragments.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

using platform::MediaError;
using platform::MediaTime;
using platform::MovieWriter;

namespace {

const bool quiet = (av_log_set_level(AV_LOG_ERROR), true);  // x264 and aac chatter at info level

// Host-clock style times: nanoseconds from an arbitrary, large origin.
MediaTime at(double seconds)
{
    return MediaTime(987'654'321'000'000LL + std::llround(seconds * 1e9), 1'000'000'000);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One value per stream: ffprobe -show_entries stream=<entry>.
std::vector<std::string> streamEntries(const std::filesystem::path& file, const std::string& entry)
{
    return lines(fixtures::runFfprobe({"-show_entries", "stream=" + entry, "-of", "csv=p=0"}, file));
}

// Interleaved 1 kHz sine of `seconds` from `t0`, `channels` wide.
std::vector<float> tone(double seconds, int rate, int channels, float amplitude, double t0)
{
    const int n = int(std::lround(seconds * rate));
    std::vector<float> out(std::size_t(n) * std::size_t(channels));
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            out[std::size_t(i * channels + c)] = amplitude * float(std::sin(2 * M_PI * 1000 * (t0 + double(i) / rate)));
    return out;
}

// A BGRA picture of one colour.
std::vector<std::uint8_t> solid(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    std::vector<std::uint8_t> px(std::size_t(width) * std::size_t(height) * 4);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = i % 4 == 0 ? b : i % 4 == 1 ? g : i % 4 == 2 ? r : 255;
    return px;
}

} // namespace

TEST(MovieWriter, WritesEveryTrackInOrderAsH264HighBt709AndAacWithNames)
{
    fixtures::TempDir dir;
    const auto file = dir / "movie.mov";
    std::string longName, cut;
    for (int i = 0; i < 100; ++i) longName += "á";  // 200 bytes; 127 are kept
    for (int i = 0; i < 63; ++i) cut += "á";        // 126 bytes: no character split

    MovieWriter w(file);
    EXPECT_EQ(w.addVideoTrack({"Képernyő", 320, 240, 30, 2'000'000}), 0);
    EXPECT_EQ(w.addSoundTrack({"Rendszerhang", 48000}), 0);
    EXPECT_EQ(w.addVideoTrack({"Kamera", 160, 120, 30, 1'000'000}), 1);
    EXPECT_EQ(w.addSoundTrack({longName, 96000}), 1);
    EXPECT_EQ(w.soundTrackRate(1), 48000);
    w.start();
    w.startSession(at(0));
    const auto red = solid(320, 240, 0, 0, 255);
    const auto cameraPicture = solid(160, 120, 40, 160, 40);
    double sound = 0;
    for (int f = 0; f < 90; ++f) {
        const double t = f / 30.0;
        ASSERT_TRUE(w.appendVideo(0, red.data(), 320, 240, 320 * 4, at(t)));
        ASSERT_TRUE(t < 0.5 || w.appendVideo(1, cameraPicture.data(), 160, 120, 160 * 4, at(t + 0.004)));
        for (; sound < t; sound += 0.02) {
            const auto a = tone(0.02, 48000, 2, 0.3f, sound);
            const auto b = tone(0.02, 96000, 4, 0.3f, sound);
            w.appendSound(0, a.data(), 960, 2, 48000, at(sound));
            w.appendSound(1, b.data(), 1920, 4, 96000, at(sound));
        }
    }
    w.finish(at(3.0));
    EXPECT_EQ(w.state(), MovieWriter::State::finished);

    EXPECT_EQ(streamEntries(file, "codec_type,codec_name,profile"),
              (std::vector<std::string>{"h264,High,video", "aac,LC,audio", "h264,High,video", "aac,LC,audio"}));
    EXPECT_EQ(lines(fixtures::runFfprobe({"-show_entries", "stream_tags=handler_name", "-of", "default=nw=1:nk=1"},
                                         file)),
              (std::vector<std::string>{"Képernyő", "Rendszerhang", "Kamera", cut}));
    EXPECT_EQ(streamEntries(file, "color_range,color_space,color_transfer,color_primaries"),
              (std::vector<std::string>{"tv,bt709,bt709,bt709", "tv,bt709,bt709,bt709"}));  // sound prints nothing
    EXPECT_EQ(streamEntries(file, "sample_rate,channels"), (std::vector<std::string>{"48000,2", "48000,2"}));

    // No B-frames: decode order is presentation order; a key frame at the
    // start and at least every 2 × 30 frames.
    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 4u);
    const auto& packets = movie[0].packets;
    ASSERT_EQ(packets.size(), 90u);
    EXPECT_EQ(streamEntries(file, "has_b_frames")[0], "0");
    EXPECT_TRUE(packets[0].key);
    for (std::size_t i = 0, sinceKey = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].pts, packets[i].dts);
        EXPECT_NEAR(packets[i].pts, double(i) / 30, 1e-4);
        sinceKey = packets[i].key ? 0 : sinceKey + 1;
        EXPECT_LT(sinceKey, 60u);
    }

    // The tracks start together, except the camera, which keeps its late
    // start; the screen and the sound end at the end time, within a frame.
    const auto spans = streamEntries(file, "start_time,duration");
    ASSERT_EQ(spans.size(), 4u);
    for (int stream : {0, 1, 3}) {
        double start = -1, duration = -1;
        ASSERT_EQ(std::sscanf(spans[std::size_t(stream)].c_str(), "%lf,%lf", &start, &duration), 2);
        EXPECT_EQ(start, 0.0) << "stream " << stream;
        EXPECT_NEAR(duration, 3.0, 1.0 / 30) << "stream " << stream;
    }
    ASSERT_EQ(movie[2].packets.size(), 75u);
    EXPECT_NEAR(movie[2].packets.front().pts, 0.504, 1e-4);
    // Every picture lasts until the end time, as the fragments state it.
    const auto ends = fixtures::fragmentedTrackEnds(file);
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_NEAR(ends[0], 3.0, 1e-4);
    EXPECT_NEAR(ends[2], 3.0, 1e-4);
    EXPECT_NEAR(movie[3].soundEnd(), 3.0, 1.0 / 30);

    // Pure red read back as BT.709 stays red; written with BT.601
    // coefficients it would come back with green near 25.
    const auto& px = movie[0].firstPicture;
    ASSERT_EQ(px.size(), 320u * 240 * 3);
    const std::size_t mid = (120 * 320 + 160) * 3;
    EXPECT_NEAR(px[mid], 255, 6);
    EXPECT_NEAR(px[mid + 1], 0, 8);
    EXPECT_NEAR(px[mid + 2], 0, 8);
}

TEST(MovieWriter, RepairsSoundTimingAgainstThePicture)
{
    fixtures::TempDir dir;
    const auto file = dir / "sound.mov";
    MovieWriter w(file);
    w.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    w.addSoundTrack({"Rendszerhang", 48000});
    w.addSoundTrack({"Mikrofon", 44100});
    w.start();
    const auto picture = solid(64, 48, 90, 90, 90);
    const std::vector<float> early(960, 0.5f);
    EXPECT_FALSE(w.appendSound(0, early.data(), 480, 2, 48000, at(-0.5)));  // before the session: dropped
    EXPECT_FALSE(w.appendVideo(0, picture.data(), 64, 48, 64 * 4, at(-0.5)));
    w.startSession(at(0));

    // Track 0, 10 ms buffers at 48 kHz: amplitude 0.9 before the session start,
    // 0.3 up to 1.0 s, nothing from 1.0 to 1.5 s, then 0.6, with one 100 ms
    // buffer at 0.9 that starts 50 ms early (1.95 s), and 0.2 from 2.5 s.
    // Track 1, mono at 44.1 kHz (resampled), amplitude 0.4 from 0.4 s on,
    // with one buffer of NaN and infinity at 1.0 s.
    double s0 = -0.25, s1 = 0.4;
    for (int f = 0; f < 90; ++f) {
        const double t = f / 30.0;
        for (; s0 < t; s0 += 0.01) {
            if (s0 >= 1.0 - 1e-9 && s0 < 1.5 - 1e-9) continue;
            if (std::abs(s0 - 2.0) < 1e-6) {
                const auto over = tone(0.1, 48000, 2, 0.9f, 1.95);
                w.appendSound(0, over.data(), 4800, 2, 48000, at(1.95));
                s0 = 2.04;
                continue;
            }
            const float amplitude = s0 < -1e-9 ? 0.9f : s0 < 1.0 ? 0.3f : s0 < 2.5 - 1e-9 ? 0.6f : 0.2f;
            const auto b = tone(0.01, 48000, 2, amplitude, s0);
            w.appendSound(0, b.data(), 480, 2, 48000, at(s0));
        }
        for (; s1 < t && s1 < 2.9; s1 += 0.01) {
            auto b = tone(0.01, 44100, 1, 0.4f, s1);
            if (std::abs(s1 - 1.0) < 1e-6)
                for (std::size_t i = 0; i < b.size(); ++i) b[i] = i % 2 ? NAN : INFINITY;
            w.appendSound(1, b.data(), 441, 1, 44100, at(s1));
        }
        ASSERT_TRUE(w.appendVideo(0, picture.data(), 64, 48, 64 * 4, at(t)));
    }
    w.finish(at(3.0));

    const double sine = 1 / std::sqrt(2.0);  // rms of a unit sine
    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 3u);
    const auto& a = movie[1];
    ASSERT_EQ(a.sampleRate, 48000);
    EXPECT_EQ(a.soundStart, 0.0);  // the sound starts with the picture
    EXPECT_NEAR(a.rms(0.005, 0.98), 0.3 * sine, 0.03);  // nothing from before the session
    EXPECT_LT(a.rms(1.02, 1.48), 0.01);                 // the gap is silence
    EXPECT_NEAR(a.rms(1.52, 1.94), 0.6 * sine, 0.05);   // not overwritten by the overlap
    EXPECT_NEAR(a.rms(2.01, 2.04), 0.9 * sine, 0.07);   // the overlap's own part
    // After the trimmed overlap the sound is still in place: the step from
    // 0.6 to 0.2 is at 2.5 s.
    EXPECT_NEAR(a.rms(2.46, 2.49), 0.6 * sine, 0.05);
    EXPECT_NEAR(a.rms(2.51, 2.54), 0.2 * sine, 0.03);
    EXPECT_NEAR(a.soundEnd(), 3.0, 1.0 / 30);

    const auto& b = movie[2];
    ASSERT_EQ(b.sampleRate, 44100);
    EXPECT_EQ(b.soundStart, 0.0);
    EXPECT_LT(b.rms(0.02, 0.395), 0.01);  // leading silence, up to the first buffer's time
    EXPECT_GT(b.rms(0.405, 0.42), 0.2);
    EXPECT_NEAR(b.rms(0.42, 0.98), 0.4 * sine, 0.04);
    EXPECT_NEAR(b.rms(1.05, 2.8), 0.4 * sine, 0.04);  // the bad samples poisoned nothing after them
    for (std::size_t i = 0; i < b.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(b.left[i])) << i;
        ASSERT_NEAR(b.left[i], b.right[i], 0.02) << i;  // mono on both sides
    }
    EXPECT_LT(b.rms(2.92, 2.98), 0.01);  // padded to the end
    EXPECT_NEAR(b.soundEnd(), 3.0, 1.0 / 30);
}

TEST(MovieWriter, KeepsOnlyFramesFromTheSessionStartInOrder)
{
    fixtures::TempDir dir;
    const auto file = dir / "frames.mov";
    MovieWriter w(file);
    w.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    w.start();
    // Frame k is a grey of level 20 k, at half size in another format.
    const auto frame = [](int k) {
        QImage img(32, 24, QImage::Format_RGB888);
        img.fill(QColor(20 * k, 20 * k, 20 * k));
        return img;
    };
    EXPECT_FALSE(w.appendVideo(0, frame(1), at(1.0)));  // no session yet
    w.startSession(at(1.0));
    EXPECT_FALSE(w.appendVideo(0, frame(2), at(0.99)));  // before the start
    EXPECT_TRUE(w.appendVideo(0, frame(3), at(1.0)));
    EXPECT_FALSE(w.appendVideo(0, frame(4), at(1.0)));   // not later than the last
    EXPECT_TRUE(w.appendVideo(0, frame(5), at(1.1)));
    EXPECT_FALSE(w.appendVideo(0, frame(6), at(1.05)));  // earlier than the last
    EXPECT_TRUE(w.appendVideo(0, frame(7), at(1.5)));    // irregular timing is kept
    w.finish(at(2.0));

    const auto movie = fixtures::readMovie(file);
    const auto& packets = movie.at(0).packets;
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_NEAR(packets[0].pts, 0.0, 1e-4);
    EXPECT_NEAR(packets[1].pts, 0.1, 1e-4);
    EXPECT_NEAR(packets[2].pts, 0.5, 1e-4);
    EXPECT_NEAR(std::stod(streamEntries(file, "duration")[0]), 1.0, 1e-3);  // the last picture lasts until the end
    // The first picture is frame 3, scaled up from the smaller RGB888 image.
    ASSERT_EQ(movie[0].firstPicture.size(), 64u * 48 * 3);
    EXPECT_NEAR(movie[0].firstPicture[(24 * 64 + 32) * 3], 60, 4);
}

// Pictures are encoded on a thread of their own. Here that encoder is held
// back, as a slow one on a loaded machine would be, until its queue is full:
// the sound of those seconds goes into the movie before any picture does,
// and the pictures wait. The movie's time base stays exact: the first
// picture and the sound start together, every picture keeps its time, and a
// flash at 0.5 s lines up with a tone burst at 0.5 s. A full queue says so
// instead of holding up the caller.
TEST(MovieWriter, PicturesWaitingForASlowEncoderKeepTheirTimesAgainstTheSound)
{
    fixtures::TempDir dir;
    const auto file = dir / "slow.mov";
    MovieWriter w(file);
    w.addVideoTrack({"Képernyő", 320, 240, 30, 1'000'000});
    w.addSoundTrack({"Rendszerhang", 48000});
    w.start();
    w.startSession(at(0));
    w.holdEncodersForTesting(true);

    const auto dark = solid(320, 240, 20, 20, 20);
    const auto white = solid(320, 240, 255, 255, 255);
    double sound = 0;
    int held = 0;  // pictures taken while the encoder was held
    bool released = false;
    const int frames = 330;  // the 10 s a small picture may wait, and a second after
    for (int f = 0; f < frames; ++f) {
        const double t = f / 30.0;
        for (; sound < t + 1.0 / 30 - 1e-9; sound += 0.01) {
            // A 1 kHz burst from 0.5 to 0.6 s, else silence.
            const bool burst = sound >= 0.5 - 1e-9 && sound < 0.6 - 1e-9;
            const auto b = tone(0.01, 48000, 2, burst ? 0.5f : 0.0f, sound);
            w.appendSound(0, b.data(), 480, 2, 48000, at(sound));
        }
        if (!released && !w.videoReady(0)) {
            EXPECT_GE(f, 300) << "up to 10 s of pictures may wait";
            w.holdEncodersForTesting(false);
            released = true;
        }
        if (!released) ++held;
        const auto& px = f >= 15 && f < 18 ? white : dark;
        ASSERT_TRUE(w.appendVideo(0, px.data(), 320, 240, 320 * 4, at(t)));
    }
    EXPECT_GE(held, 300);
    EXPECT_TRUE(released) << "the queue never filled";
    w.finish(at(frames / 30.0));

    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    const auto& packets = movie[0].packets;
    ASSERT_EQ(packets.size(), std::size_t(frames));
    for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_NEAR(packets[i].pts, double(i) / 30, 1e-4) << i;
    EXPECT_NEAR(movie[0].start, 0.0, 1e-4);
    EXPECT_EQ(movie[1].soundStart, 0.0);
    // The flash (pictures 15 to 17, shown from 0.5 s) and the burst's onset.
    const auto& a = movie[1];
    EXPECT_LT(a.rms(0.40, 0.49), 0.01);
    EXPECT_GT(a.rms(0.51, 0.59), 0.3);
    EXPECT_NEAR(a.soundEnd(), frames / 30.0, 1.0 / 30);
}

// How deep a track's encoder queue is: 10 s of pictures where memory
// allows, else what fits in a quarter of the memory (at most 2 GiB), never
// fewer than 4.
TEST(MovieWriter, PicturesWaitForTheEncoderUpToTenSecondsWithinAMemoryBudget)
{
    constexpr std::uint64_t gib = 1024ull * 1024 * 1024;
    EXPECT_EQ(MovieWriter::waitingPictures(1920, 1080, 30, 16 * gib), 300);
    EXPECT_EQ(MovieWriter::waitingPictures(1920, 1080, 60, 16 * gib), 600);
    EXPECT_EQ(MovieWriter::waitingPictures(320, 240, 30, 16 * gib), 300);
    // 12.4 MB a picture: 2 GiB hold 172, under 6 s.
    EXPECT_EQ(MovieWriter::waitingPictures(3840, 2160, 30, 16 * gib), 172);
    EXPECT_EQ(MovieWriter::waitingPictures(3840, 2160, 30, 64 * gib), 172);
    // A quarter of 4 GiB.
    EXPECT_EQ(MovieWriter::waitingPictures(3840, 2160, 30, 4 * gib), 86);
    EXPECT_EQ(MovieWriter::waitingPictures(1920, 1080, 30, 4 * gib), 300);
    EXPECT_EQ(MovieWriter::waitingPictures(1920, 1080, 30, 2 * gib), 172);
    // Little or unknown memory.
    EXPECT_EQ(MovieWriter::waitingPictures(3840, 2160, 30, 32 * 1024 * 1024), 4);
    EXPECT_EQ(MovieWriter::waitingPictures(1920, 1080, 30, 0), 4);
}

// A picture of the track's own size is converted without scaling; its
// colours come back as they were (BT.709, limited range), each quadrant. A
// large picture at a high rate is converted in bands of rows on several
// threads: every band, the last one's final rows and the rows on either
// side of a band's edge come out as well.
TEST(MovieWriter, PicturesOfTheTracksSizeKeepTheirColours)
{
    const std::uint32_t colours[4] = {0xFFFFFF, 0x000000, 0x20C040, 0x3050E0};  // R, G, B
    struct Size {
        int width, height, fps;
    };
    for (const Size size : {Size{320, 240, 30}, Size{1920, 1080, 60}}) {
        SCOPED_TRACE(size.width);
        const int w = size.width, h = size.height;
        fixtures::TempDir dir;
        const auto file = dir / "colours.mov";
        MovieWriter writer(file);
        writer.addVideoTrack({"Képernyő", w, h, size.fps, 40'000'000});
        writer.start();
        writer.startSession(at(0));
        // Quadrants, so each band of rows holds two colours and the middle
        // (an edge between bands) changes colour.
        QImage picture(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) picture.setPixel(x, y, colours[(y >= h / 2) * 2 + (x >= w / 2)]);
        ASSERT_TRUE(writer.appendVideo(0, picture, at(0)));
        writer.finish(at(0.5));

        const auto movie = fixtures::readMovie(file);
        const auto& px = movie.at(0).firstPicture;
        ASSERT_EQ(px.size(), std::size_t(w) * std::size_t(h) * 3);
        for (int q = 0; q < 4; ++q) {
            const int top = q / 2 * h / 2;
            // The quadrant's middle, and its rows nearest the picture's middle and edge.
            for (const int y : {top + h / 4, q < 2 ? h / 2 - 4 : h / 2 + 3, q < 2 ? 3 : h - 4}) {
                const std::size_t at = (std::size_t(y) * std::size_t(w) + std::size_t(q % 2 * w / 2 + w / 4)) * 3;
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(px[at + std::size_t(c)], (colours[q] >> (16 - 8 * c)) & 0xFF, 4)
                        << "quadrant " << q << " row " << y << " channel " << c;
            }
        }
    }
}

TEST(MovieWriter, NeverTouchesAnExistingFileAndCancelRemovesItsOwn)
{
    fixtures::TempDir dir;
    const auto existing = dir / "existing.mov";
    std::ofstream(existing) << "keep me";
    const auto link = dir / "link.mov";  // dangling: not followed to create its target
    std::filesystem::create_symlink(dir / "target.mov", link);
    for (const auto& file : {existing, link}) {
        MovieWriter w(file);
        w.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
        try {
            w.start();
            ADD_FAILURE() << "start on " << file << " must fail";
        } catch (const MediaError& e) {
            EXPECT_TRUE(file != existing || std::string(e.what()).find("már létezik") != std::string::npos) << e.what();
        }
        EXPECT_EQ(w.state(), MovieWriter::State::failed);
        w.cancel();
    }
    EXPECT_EQ(fileText(existing), "keep me");
    EXPECT_FALSE(std::filesystem::exists(dir / "target.mov"));

    const auto own = dir / "own.mov";
    MovieWriter cancelled(own);
    cancelled.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    cancelled.start();
    EXPECT_TRUE(std::filesystem::exists(own));
    EXPECT_THROW(cancelled.finish(at(1)), MediaError);  // no session: nothing to finish
    cancelled.cancel();
    EXPECT_FALSE(std::filesystem::exists(own));
}

// Runs `body` in a child process; returns its wait status.
template <typename Body>
int inChild(Body body)
{
    const pid_t child = fork();
    if (child == 0) {
        int code = 14;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(MovieWriter, MovieOfAKilledWriterPlaysUpToItsLastFragment)
{
    fixtures::TempDir dir;
    const auto file = dir / "killed.mov";
    const int status = inChild([&] {
        // 5.5 s of picture and sound, never finished: fragments are cut at
        // the key frames of 2 s and 4 s.
        MovieWriter w(file);
        w.addVideoTrack({"Képernyő", 160, 120, 30, 500'000});
        w.addSoundTrack({"Rendszerhang", 48000});
        w.addSoundTrack({"Mikrofon", 48000});  // never delivers: kept up with silence
        w.start();
        w.startSession(at(0));
        double sound = 0;
        for (int f = 0; f < 165; ++f) {
            const double t = f / 30.0;
            const auto px = solid(160, 120, std::uint8_t(f), std::uint8_t(2 * f), 100);
            w.appendVideo(0, px.data(), 160, 120, 160 * 4, at(t));
            for (; sound < t; sound += 0.02) {
                const auto b = tone(0.02, 48000, 2, 0.3f, sound);
                w.appendSound(0, b.data(), 960, 2, 48000, at(sound));
            }
        }
        // Pictures are encoded on their own thread: the process dies once it
        // has caught up (what still waits for it would be lost as well).
        w.awaitEncodersForTesting();
        raise(SIGKILL);  // never finished
        return 3;
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    EXPECT_EQ(streamEntries(file, "codec_name"), (std::vector<std::string>{"h264", "aac", "aac"}));
    const auto movie = fixtures::readMovie(file);
    const auto& packets = movie[0].packets;
    ASSERT_EQ(packets.size(), 120u);
    for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_NEAR(packets[i].pts, double(i) / 30, 1e-4);
    fixtures::runFfmpeg({"-xerror", "-i", file.string(), "-f", "null", "-"});  // every frame there decodes
    EXPECT_GE(movie[1].soundEnd(), 3.9);
    EXPECT_GE(movie[2].soundEnd(), 2.9);
    EXPECT_LT(movie[2].rms(0, movie[2].soundEnd()), 1e-3);
}

// The disk fills up after the first fragment (cut at 2 s): the writing fails
// at the next cut, and the file is left ending with that first fragment, so
// that every frame in it decodes and nothing half written follows. The
// failure is met either by a later append or only by the stop, while the
// encoder finishes the last pictures.
TEST(MovieWriter, AFullDiskLeavesTheMovieEndingWithItsLastWholeFragment)
{
    for (const bool foundAtTheStop : {false, true}) {
        SCOPED_TRACE(foundAtTheStop ? "found at the stop" : "found by an append");
        const fixtures::TempDir dir;
        // A small disk of its own: a tmpfs, which only root may mount.
        if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=8m") != 0)
            GTEST_SKIP() << "no tmpfs to fill here (" << std::strerror(errno) << ")";
        struct Unmount {
            std::filesystem::path at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount{dir.path()};
        const auto file = dir / "full.mov";

        MovieWriter w(file);
        w.addVideoTrack({"Képernyő", 160, 120, 30, 500'000});
        w.addSoundTrack({"Rendszerhang", 48000});
        w.start();
        w.startSession(at(0));
        EXPECT_EQ(w.keptUntil(), std::nullopt);
        double sound = 0;
        const auto append = [&](int f) {
            const double t = f / 30.0;
            const auto px = solid(160, 120, std::uint8_t(f), std::uint8_t(2 * f), 100);
            w.appendVideo(0, px.data(), 160, 120, 160 * 4, at(t));
            for (; sound < t; sound += 0.02) {
                const auto b = tone(0.02, 48000, 2, 0.3f, sound);
                w.appendSound(0, b.data(), 960, 2, 48000, at(sound));
            }
        };
        for (int f = 0; f < 90; ++f) append(f);
        w.awaitEncodersForTesting();
        ASSERT_EQ(w.keptUntil(), MediaTime(2, 1));

        // Whatever room is left goes to another file, but for 8 KiB: the
        // next fragment (some 40 KiB) is cut short, not refused whole.
        {
            const int fd = ::open((dir / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            const std::vector<char> block(64 * 1024, 'x');
            for (std::size_t n = block.size(); n > 0;)
                if (::write(fd, block.data(), n) < 0) n /= 2;
            const off_t size = ::lseek(fd, 0, SEEK_END);
            ASSERT_EQ(::ftruncate(fd, size - 8192), 0);
            ::close(fd);
        }
        try {
            // Frame 120 (4 s) is the key frame whose cut finds no room. The
            // stop comes a second later, or right after it while the encoder
            // has still all the frames since 3 s to do.
            const int last = foundAtTheStop ? 121 : 165;
            if (foundAtTheStop) w.holdEncodersForTesting(true);
            for (int f = 90; f < last; ++f) append(f);
            if (!foundAtTheStop) w.awaitEncodersForTesting();
            w.finish(at(last / 30.0));
            FAIL() << "a full disk must fail the writing";
        } catch (const MediaError& e) {
            EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
        }
        // An append that failed leaves the closing to finish(), as the recorder's stop does.
        try {
            w.finish(at(5.5));
        } catch (const MediaError&) {
        }
        EXPECT_EQ(w.state(), MovieWriter::State::failed);
        EXPECT_EQ(w.keptUntil(), MediaTime(2, 1));
        const auto movie = fixtures::readMovie(file);
        ASSERT_EQ(movie.size(), 2u);
        ASSERT_EQ(movie[0].packets.size(), 60u);
        EXPECT_NEAR(movie[0].end, 2.0, 1e-3);
        EXPECT_NEAR(movie[1].end, 2.0, 0.1);  // in whole AAC frames
        fixtures::runFfmpeg({"-xerror", "-i", file.string(), "-f", "null", "-"});  // every frame there decodes
    }
}

// A recording killed after 9 s whose picture changes once a second or not at
// all (the caller repeating it each second): no frame waits in the encoder,
// so the picture reaches as far as the sound, and every fragment begins with
// a key frame, forced every 2 s of media time however few frames come. An
// encoder working on frames in parallel holds a few back: repeated as often
// as that takes, it too keeps the picture to within a fragment of the sound,
// with one key frame every 2 s (not one for each frame sent before the
// encoder gave the key frame back).
TEST(MovieWriter, AKilledMovieWithAQuietPictureKeepsItUpToTheSoundsEnd)
{
    struct Case {
        const char* name;
        bool changes;   // a new picture each second, else the first one repeated
        bool parallel;  // frames encoded in parallel, repeated several times a second
    };
    for (const Case& c : {Case{"still", false, false}, Case{"changing once a second", true, false},
                          Case{"still, frames in parallel", false, true},
                          Case{"changing once a second, frames in parallel", true, true}}) {
        SCOPED_TRACE(c.name);
        fixtures::TempDir dir;
        const auto file = dir / "quiet.mov";
        const int held = [&] {
            MovieWriter w(dir / "probe.mov");
            w.addVideoTrack({"", 320, 240, 30, 2'000'000});
            w.setParallelFrames(0, c.parallel);
            return w.framesInEncoder(0);
        }();
        EXPECT_EQ(held > 0, c.parallel);
        // Repeats so that the frames held span half a second, as the recorder does.
        const int perSecond = c.parallel ? std::clamp(2 * held, 1, 30) : 1;
        const int status = inChild([&] {
            MovieWriter w(file);
            w.addVideoTrack({"Képernyő", 320, 240, 30, 2'000'000});
            w.addSoundTrack({"Rendszerhang", 48000});
            w.setParallelFrames(0, c.parallel);
            w.start();
            w.startSession(at(0));
            double sound = 0;
            for (int second = 0; second < 9; ++second) {
                for (int k = 0; k < perSecond; ++k) {
                    const double t = second + double(k) / perSecond;
                    const auto px = solid(320, 240, std::uint8_t(25 * second), 90, 200);
                    if (t == 0 || (c.changes && k == 0)) w.appendVideo(0, px.data(), 320, 240, 320 * 4, at(t));
                    else w.repeatVideo(0, at(t));
                }
                for (; sound < second + 1 - 1e-9; sound += 0.02) {
                    const auto b = tone(0.02, 48000, 2, 0.3f, sound);
                    w.appendSound(0, b.data(), 960, 2, 48000, at(sound));
                }
            }
            w.awaitEncodersForTesting();  // the encoder thread has caught up
            raise(SIGKILL);
            return 3;
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        const auto packets = fixtures::probePackets(file);
        std::vector<fixtures::ProbedPacket> video;
        double soundEnd = 0;
        for (const auto& p : packets) {
            if (p.stream == 0) video.push_back(p);
            else soundEnd = std::max(soundEnd, p.pts + p.duration);
        }
        // The last complete fragment was cut at the key frame of 8 s.
        EXPECT_GT(soundEnd, 7.9);
        ASSERT_FALSE(video.empty());
        EXPECT_GE(video.back().pts, soundEnd - 2.0);
        for (std::size_t i = 0; i < video.size(); ++i) {
            EXPECT_NEAR(video[i].pts, double(i) / perSecond, 1e-4) << i;
            // A key frame every 2 s; between them only where the picture
            // changed (the encoder's own, at a change of scene).
            if (i % (2 * perSecond) == 0) {
                EXPECT_TRUE(video[i].key) << "a key frame every 2 s; frame " << i;
            } else if (!c.changes || i % perSecond != 0) {
                EXPECT_FALSE(video[i].key) << "frame " << i;
            }
        }
        const auto moofs = fixtures::topLevelBoxes(file, "moof");
        ASSERT_GE(moofs.size(), 3u);
        for (std::size_t f = 0; f < moofs.size(); ++f) {
            const std::int64_t end = f + 1 < moofs.size() ? moofs[f + 1] : std::numeric_limits<std::int64_t>::max();
            const auto first = std::find_if(video.begin(), video.end(),
                                            [&](const auto& p) { return p.pos > moofs[f] && p.pos < end; });
            if (first != video.end()) {
                EXPECT_TRUE(first->key) << "fragment " << f << " begins at " << first->pts;
            }
        }
        fixtures::runFfmpeg({"-xerror", "-i", file.string(), "-f", "null", "-"});
    }
}

// A picture that stops coming (nobody repeats it) holds no fragment back:
// the sound is cut into fragments regardless, at most 4 s apart, so a crash
// still keeps it.
TEST(MovieWriter, SoundIsNotHeldBackWhenThePictureStops)
{
    fixtures::TempDir dir;
    const auto file = dir / "stalled.mov";
    const int status = inChild([&] {
        MovieWriter w(file);
        w.addVideoTrack({"Képernyő", 160, 120, 30, 500'000});
        w.addSoundTrack({"Rendszerhang", 48000});
        w.start();
        w.startSession(at(0));
        const auto px = solid(160, 120, 10, 200, 10);
        w.appendVideo(0, px.data(), 160, 120, 160 * 4, at(0));
        for (double sound = 0; sound < 9 - 1e-9; sound += 0.02) {
            const auto b = tone(0.02, 48000, 2, 0.3f, sound);
            w.appendSound(0, b.data(), 960, 2, 48000, at(sound));
        }
        raise(SIGKILL);
        return 3;
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    double soundEnd = 0;
    for (const auto& p : fixtures::probePackets(file))
        if (p.stream == 1) soundEnd = std::max(soundEnd, p.pts + p.duration);
    EXPECT_GT(soundEnd, 7.9);
}
