// Movies written by MovieWriter, read back only by independent readers: the
// ffprobe and ffmpeg programs, and libavformat/libavcodec directly.

#include "Platform/media/MovieWriter.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <memory>
#include <iterator>
#include <sstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

using platform::MediaError;
using platform::MediaTime;
using platform::MovieWriter;

namespace {

// Host-clock style times: nanoseconds from an arbitrary, large origin.
constexpr std::int64_t kOrigin = 987'654'321'000'000LL;
MediaTime at(double seconds)
{
    return MediaTime(kOrigin + std::llround(seconds * 1e9), 1'000'000'000);
}

void quiet()
{
    av_log_set_level(AV_LOG_ERROR);  // x264 and aac chatter at info level
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

struct Packet {
    double pts;
    double dts;
    bool key;
};

std::vector<Packet> packetsOf(const std::filesystem::path& file, int stream)
{
    std::vector<Packet> out;
    for (const auto& line : lines(fixtures::runFfprobe({"-select_streams", std::to_string(stream), "-show_entries",
                                                       "packet=pts_time,dts_time,flags", "-of", "csv=p=0"},
                                                      file))) {
        Packet p{};
        char flags[8] = {};
        if (std::sscanf(line.c_str(), "%lf,%lf,%7s", &p.pts, &p.dts, flags) == 3) {
            p.key = flags[0] == 'K';
            out.push_back(p);
        }
    }
    return out;
}

// A sound stream decoded by libavcodec, with the time of its first decoded
// sample as the demuxer states it.
struct Sound {
    int rate = 0;
    int channels = 0;
    double start = 0;
    std::vector<float> left, right;

    double rms(double from, double to) const
    {
        const auto a = std::size_t(std::max(0.0, (from - start) * rate));
        const auto b = std::min(left.size(), std::size_t(std::max(0.0, (to - start) * rate)));
        double sum = 0;
        for (std::size_t i = a; i < b; ++i) sum += double(left[i]) * left[i];
        return b > a ? std::sqrt(sum / double(b - a)) : -1;
    }
    double end() const { return start + double(left.size()) / rate; }
};

Sound decodeSound(const std::filesystem::path& file, int soundIndex)
{
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) < 0) throw std::runtime_error("open failed");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> fmtGuard(fmt, [](AVFormatContext* f) {
        avformat_close_input(&f);
    });
    avformat_find_stream_info(fmt, nullptr);
    int streamIndex = -1;
    for (unsigned i = 0, n = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && int(n++) == soundIndex) streamIndex = int(i);
    if (streamIndex < 0) throw std::runtime_error("no such sound stream");
    AVStream* st = fmt->streams[streamIndex];
    AVCodecContext* dec = avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id));
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decGuard(dec, [](AVCodecContext* c) {
        avcodec_free_context(&c);
    });
    avcodec_parameters_to_context(dec, st->codecpar);
    if (avcodec_open2(dec, nullptr, nullptr) < 0) throw std::runtime_error("no decoder");

    Sound s;
    s.rate = dec->sample_rate;
    s.channels = dec->ch_layout.nb_channels;
    bool first = true;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            if (first) {
                s.start = double(frame->pts) * av_q2d(st->time_base);
                first = false;
            }
            const auto* l = reinterpret_cast<const float*>(frame->data[0]);
            const auto* r = reinterpret_cast<const float*>(frame->data[s.channels > 1 ? 1 : 0]);
            s.left.insert(s.left.end(), l, l + frame->nb_samples);
            s.right.insert(s.right.end(), r, r + frame->nb_samples);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == streamIndex && avcodec_send_packet(dec, pkt) >= 0) take();
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return s;
}

// Interleaved sine buffers of `seconds` starting at `t`, `channels` wide.
std::vector<float> tone(double seconds, int rate, int channels, float amplitude, double t0)
{
    const int n = int(std::lround(seconds * rate));
    std::vector<float> out(std::size_t(n) * std::size_t(channels));
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            out[std::size_t(i * channels + c)] = amplitude * float(std::sin(2 * M_PI * 1000 * (t0 + double(i) / rate)));
    return out;
}

std::vector<std::uint8_t> solid(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    std::vector<std::uint8_t> px(std::size_t(width) * std::size_t(height) * 4);
    for (std::size_t i = 0; i < px.size(); i += 4) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
        px[i + 3] = 255;
    }
    return px;
}

} // namespace

TEST(MovieWriter, WritesEveryTrackInOrderAsH264HighBt709AndAacWithNames)
{
    quiet();
    fixtures::TempDir dir;
    const auto file = dir / "movie.mov";
    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "á";  // 200 bytes; 127 are kept

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
        if (t >= 0.5) {
            ASSERT_TRUE(w.appendVideo(1, cameraPicture.data(), 160, 120, 160 * 4, at(t + 0.004)));
        }
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
    const auto names = lines(fixtures::runFfprobe(
        {"-show_entries", "stream_tags=handler_name", "-of", "default=nw=1:nk=1"}, file));
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "Képernyő");
    EXPECT_EQ(names[1], "Rendszerhang");
    EXPECT_EQ(names[2], "Kamera");
    std::string cut;
    for (int i = 0; i < 63; ++i) cut += "á";  // 126 bytes: no character split
    EXPECT_EQ(names[3], cut);

    for (const auto& colour : streamEntries(file, "color_range,color_space,color_transfer,color_primaries")) {
        if (colour.empty()) continue;  // sound
        EXPECT_EQ(colour, "tv,bt709,bt709,bt709");
    }
    EXPECT_EQ(streamEntries(file, "sample_rate,channels"),
              (std::vector<std::string>{"48000,2", "48000,2"}));  // video streams print nothing

    // No B-frames: decode order is presentation order; a key frame at the
    // start and at least every 2 × 30 frames.
    const auto packets = packetsOf(file, 0);
    ASSERT_EQ(packets.size(), 90u);
    EXPECT_EQ(streamEntries(file, "has_b_frames")[0], "0");
    int sinceKey = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].pts, packets[i].dts);
        EXPECT_NEAR(packets[i].pts, double(i) / 30, 1e-4);
        sinceKey = packets[i].key ? 0 : sinceKey + 1;
        EXPECT_LT(sinceKey, 60);
    }
    EXPECT_TRUE(packets[0].key);

    // Fragments every 2 s: a 3 s movie has two.
    const std::string bytes = fileText(file);
    int fragments = 0;
    for (auto p = bytes.find("moof"); p != std::string::npos; p = bytes.find("moof", p + 4)) ++fragments;
    EXPECT_GE(fragments, 2);

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
    const auto camera = packetsOf(file, 2);
    ASSERT_EQ(camera.size(), 75u);
    EXPECT_NEAR(camera.front().pts, 0.504, 1e-4);
    EXPECT_NEAR(decodeSound(file, 1).end(), 3.0, 1.0 / 30);

    // The picture is converted with BT.709 coefficients into limited range:
    // pure red is Y 63, Cb 102, Cr 240 (BT.601 would give Y 81, Cb 90).
    fixtures::runFfmpeg({"-i", file.string(), "-map", "0:v:0", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                         "yuv420p", (dir / "red.yuv").string()});
    const std::string yuv = fileText(dir / "red.yuv");
    ASSERT_EQ(yuv.size(), 320u * 240 * 3 / 2);
    const auto sample = [&](std::size_t i) { return int(static_cast<unsigned char>(yuv[i])); };
    EXPECT_NEAR(sample(120 * 320 + 160), 63, 3);
    EXPECT_NEAR(sample(320 * 240 + 60 * 160 + 80), 102, 3);
    EXPECT_NEAR(sample(320 * 240 * 5 / 4 + 60 * 160 + 80), 240, 3);
}

TEST(MovieWriter, RepairsSoundTimingAgainstThePicture)
{
    quiet();
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
    // Track 1, mono at 44.1 kHz, amplitude 0.4 from 0.4 s on.
    double s0 = -0.25;
    double s1 = 0.4;
    for (int f = 0; f < 90; ++f) {
        const double t = f / 30.0;
        while (s0 < t) {
            if (s0 >= 1.0 - 1e-9 && s0 < 1.5 - 1e-9) {
                s0 += 0.01;
                continue;
            }
            if (std::abs(s0 - 2.0) < 1e-6) {
                const auto over = tone(0.1, 48000, 2, 0.9f, 1.95);
                w.appendSound(0, over.data(), 4800, 2, 48000, at(1.95));
                s0 = 2.05;
                continue;
            }
            const float amplitude = s0 < -1e-9 ? 0.9f : s0 < 1.0 ? 0.3f : s0 < 2.5 - 1e-9 ? 0.6f : 0.2f;
            const auto b = tone(0.01, 48000, 2, amplitude, s0);
            w.appendSound(0, b.data(), 480, 2, 48000, at(s0));
            s0 += 0.01;
        }
        while (s1 < t && s1 < 2.9) {
            const auto b = tone(0.01, 44100, 1, 0.4f, s1);
            w.appendSound(1, b.data(), 441, 1, 44100, at(s1));
            s1 += 0.01;
        }
        ASSERT_TRUE(w.appendVideo(0, picture.data(), 64, 48, 64 * 4, at(t)));
    }
    w.finish(at(3.0));

    const double sine = 1 / std::sqrt(2.0);  // rms of a unit sine
    const Sound a = decodeSound(file, 0);
    ASSERT_EQ(a.rate, 48000);
    EXPECT_EQ(a.start, 0.0);  // the sound starts with the picture
    EXPECT_NEAR(a.rms(0.005, 0.3), 0.3 * sine, 0.03);  // nothing from before the session
    EXPECT_NEAR(a.rms(0.3, 0.98), 0.3 * sine, 0.03);
    EXPECT_LT(a.rms(1.02, 1.48), 0.01);                 // the gap is silence
    EXPECT_NEAR(a.rms(1.52, 1.94), 0.6 * sine, 0.05);   // not overwritten by the overlap
    EXPECT_NEAR(a.rms(2.01, 2.04), 0.9 * sine, 0.07);   // the overlap's own part
    // After the trimmed overlap the sound is still in place: the step from
    // 0.6 to 0.2 is at 2.5 s.
    EXPECT_NEAR(a.rms(2.46, 2.49), 0.6 * sine, 0.05);
    EXPECT_NEAR(a.rms(2.51, 2.54), 0.2 * sine, 0.03);
    EXPECT_NEAR(a.end(), 3.0, 1.0 / 30);

    const Sound b = decodeSound(file, 1);
    ASSERT_EQ(b.rate, 44100);
    EXPECT_EQ(b.start, 0.0);
    EXPECT_LT(b.rms(0.02, 0.395), 0.01);  // leading silence, up to the first buffer's time
    EXPECT_GT(b.rms(0.405, 0.42), 0.2);
    EXPECT_NEAR(b.rms(0.42, 2.8), 0.4 * sine, 0.04);
    double diff = 0;
    for (std::size_t i = 0; i < b.left.size(); ++i) diff = std::max(diff, double(std::abs(b.left[i] - b.right[i])));
    EXPECT_LT(diff, 0.02);  // mono on both sides
    EXPECT_LT(b.rms(2.92, 2.98), 0.01);  // padded to the end
    EXPECT_NEAR(b.end(), 3.0, 1.0 / 30);
}

TEST(MovieWriter, KeepsOnlyFramesFromTheSessionStartInOrder)
{
    quiet();
    fixtures::TempDir dir;
    const auto file = dir / "frames.mov";
    MovieWriter w(file);
    w.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    w.start();

    // Frame k is a grey of level 20 k, drawn at half size in a QImage of
    // another format (converted and scaled on the way).
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

    const auto packets = packetsOf(file, 0);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_NEAR(packets[0].pts, 0.0, 1e-4);
    EXPECT_NEAR(packets[1].pts, 0.1, 1e-4);
    EXPECT_NEAR(packets[2].pts, 0.5, 1e-4);
    EXPECT_NEAR(std::stod(streamEntries(file, "duration")[0]), 1.0, 1e-3);  // the last picture lasts until the end

    fixtures::runFfmpeg({"-i", file.string(), "-f", "rawvideo", "-pix_fmt", "yuv420p", "-fps_mode", "passthrough",
                         (dir / "frames.yuv").string()});
    const std::string yuv = fileText(dir / "frames.yuv");
    ASSERT_EQ(yuv.size(), 3u * 64 * 48 * 3 / 2);
    for (int i = 0; i < 3; ++i) {
        const int y = static_cast<unsigned char>(yuv[std::size_t(i) * 64 * 48 * 3 / 2 + 24 * 64 + 32]);
        const int level = std::lround((y - 16) * 255.0 / 219.0);
        EXPECT_NEAR(level, 20 * (3 + 2 * i), 4) << "frame " << i;
    }
}

TEST(MovieWriter, NeverTouchesAnExistingFileAndCancelRemovesItsOwn)
{
    quiet();
    fixtures::TempDir dir;
    const auto existing = dir / "existing.mov";
    { std::ofstream(existing) << "keep me"; }
    MovieWriter w(existing);
    w.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    try {
        w.start();
        FAIL() << "start on an existing file must fail";
    } catch (const MediaError& e) {
        EXPECT_NE(std::string(e.what()).find("már létezik"), std::string::npos) << e.what();
    }
    EXPECT_EQ(w.state(), MovieWriter::State::failed);
    w.cancel();
    EXPECT_EQ(fileText(existing), "keep me");

    // A dangling link is not followed to create its target.
    const auto link = dir / "link.mov";
    std::filesystem::create_symlink(dir / "target.mov", link);
    MovieWriter viaLink(link);
    viaLink.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    EXPECT_THROW(viaLink.start(), MediaError);
    EXPECT_FALSE(std::filesystem::exists(dir / "target.mov"));

    MovieWriter missingFolder(dir / "nincs" / "a.mov");
    missingFolder.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    EXPECT_THROW(missingFolder.start(), MediaError);

    const auto own = dir / "own.mov";
    MovieWriter cancelled(own);
    cancelled.addVideoTrack({"Képernyő", 64, 48, 30, 500'000});
    cancelled.start();
    EXPECT_TRUE(std::filesystem::exists(own));
    EXPECT_THROW(cancelled.addSoundTrack({"Késő", 48000}), std::logic_error);
    EXPECT_THROW(cancelled.finish(at(1)), MediaError);  // no session: nothing to finish
    cancelled.cancel();
    EXPECT_FALSE(std::filesystem::exists(own));
}

TEST(MovieWriter, MovieOfAKilledWriterPlaysUpToItsLastFragment)
{
    quiet();
    fixtures::TempDir dir;
    const auto file = dir / "killed.mov";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 5.5 s of picture and sound: fragments are cut about every 2 s (the
        // picture lags a little behind, held in the encoder).
        close(ready[0]);
        try {
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
        } catch (...) {
            _exit(3);
        }
        // Never finished: the parent kills us here.
        (void)!write(ready[1], "x", 1);
        for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(streamEntries(file, "codec_name"), (std::vector<std::string>{"h264", "aac", "aac"}));
    const auto packets = packetsOf(file, 0);
    ASSERT_GE(packets.size(), 90u);
    ASSERT_LT(packets.size(), 165u);
    for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_NEAR(packets[i].pts, double(i) / 30, 1e-4);
    // Every frame that is there decodes.
    fixtures::runFfmpeg({"-xerror", "-i", file.string(), "-f", "null", "-"});
    EXPECT_GE(decodeSound(file, 0).end(), 3.9);
    const Sound silent = decodeSound(file, 1);
    EXPECT_GE(silent.end(), 2.9);
    EXPECT_LT(silent.rms(0, silent.end()), 1e-3);
}

TEST(MovieWriter, AFailedWriteFailsTheMovieOnceAndForAll)
{
    quiet();
    fixtures::TempDir dir;
    const auto file = dir / "full.mov";
    // In a child limited to 200 kB files: writes beyond fail with EFBIG.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200 * 1024, 200 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        int code = 10;
        try {
            MovieWriter w(file);
            w.addVideoTrack({"Képernyő", 320, 240, 30, 8'000'000});
            w.start();
            w.startSession(at(0));
            std::vector<std::uint8_t> noise(320 * 240 * 4);
            std::uint32_t seed = 1;
            std::string first;
            for (int f = 0; f < 300 && first.empty(); ++f) {
                for (auto& b : noise) b = std::uint8_t((seed = seed * 1664525 + 1013904223) >> 24);
                try {
                    w.appendVideo(0, noise.data(), 320, 240, 320 * 4, at(f / 30.0));
                } catch (const MediaError& e) {
                    first = e.what();
                }
            }
            if (first.empty()) {
                try {
                    w.finish(at(10));
                    _exit(11);  // the limit was never hit: the test is wrong
                } catch (const MediaError& e) {
                    first = e.what();
                }
            }
            code = 12;
            if (w.state() != MovieWriter::State::failed) _exit(code);
            code = 13;
            try {
                w.finish(at(10));
            } catch (const MediaError& e) {
                if (first == e.what() && first.find("Írási hiba") != std::string::npos) code = 0;
            }
        } catch (...) {
            code = 14;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(file));  // what was written is kept
}
