// The export session over real files made by the ffmpeg program; what it
// writes is read back with ffprobe and decoded by the ffmpeg program.

#include "Platform/core/SerialQueue.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/EncoderSupport.h"
#include "Platform/media/ExportSession.h"

#include "support/MediaFixtures.h"
#include "support/PlayerSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include <sys/resource.h>

using namespace platform;
using namespace std::chrono_literals;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

std::string probe(const std::filesystem::path& file, const std::string& entries)
{
    const auto found = lines(fixtures::runFfprobe({"-show_entries", entries, "-of", "csv=p=0"}, file));
    std::string joined;
    for (const auto& line : found) joined += (joined.empty() ? "" : "|") + line;
    return joined;
}

std::string bytesOf(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every picture of the file's video, decoded by the ffmpeg program and scaled
// to 160 × 120 RGB.
std::vector<QImage> decodedFrames(const std::filesystem::path& file, const std::filesystem::path& scratch)
{
    fixtures::runFfmpeg({"-i", file.string(), "-map", "0:v:0", "-vf", "scale=160:120", "-pix_fmt", "rgb24", "-f",
                         "rawvideo", scratch.string()});
    const std::string bytes = bytesOf(scratch);
    std::vector<QImage> frames;
    const std::size_t size = 160 * 120 * 3;
    for (std::size_t at = 0; at + size <= bytes.size(); at += size)
        frames.push_back(QImage(reinterpret_cast<const uchar*>(bytes.data() + at), 160, 120, 160 * 3,
                                QImage::Format_RGB888)
                             .copy());
    return frames;
}

// The sound decoded by the ffmpeg program: interleaved stereo float, or
// the stream's own channels when `asStored`.
std::vector<float> decodedSound(const std::filesystem::path& file, const std::filesystem::path& scratch,
                                bool asStored = false)
{
    std::vector<std::string> args{"-i", file.string(), "-map", "0:a:0", "-f", "f32le", "-ar", "48000"};
    if (!asStored) args.insert(args.end(), {"-ac", "2"});
    args.push_back(scratch.string());
    fixtures::runFfmpeg(args);
    const std::string bytes = bytesOf(scratch);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// The sound stream holds exactly `samples` frames (its duration in 1/48000 s
// ticks); a decoder gives them, plus what pads the last AAC frame.
std::vector<float> expectSamples(const std::filesystem::path& file, const std::filesystem::path& scratch,
                                 std::size_t samples)
{
    EXPECT_EQ(lines(fixtures::runFfprobe({"-select_streams", "a", "-show_entries", "stream=time_base,duration_ts",
                                          "-of", "csv=p=0"},
                                         file)),
              std::vector<std::string>{"1/48000," + std::to_string(samples)});
    auto sound = decodedSound(file, scratch);
    EXPECT_GE(sound.size() / 2, samples);
    EXPECT_LT(sound.size() / 2, samples + 1024);
    return sound;
}

double rms(const std::vector<float>& stereo, double from, double to)
{
    const std::size_t a = std::size_t(from * 48000) * 2;
    const std::size_t b = std::min(stereo.size(), std::size_t(to * 48000) * 2);
    double sum = 0;
    for (std::size_t i = a; i < b; i += 2) sum += double(stereo[i]) * stereo[i];
    return b > a ? std::sqrt(sum / double((b - a) / 2)) : -1;
}

// The level in dB full scale of one of `channels` interleaved channels, from
// `from` to `to` s at 48 kHz.
double levelDb(const std::vector<float>& samples, int channels, int channel, double from, double to)
{
    const auto step = std::size_t(channels);
    const std::size_t a = std::size_t(from * 48000) * step + std::size_t(channel);
    const std::size_t b = std::min(samples.size(), std::size_t(to * 48000) * step);
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = a; i < b; i += step, ++n) sum += double(samples[i]) * samples[i];
    return n ? 10 * std::log10(sum / double(n)) : -1000;
}

// Shows the first source frame, each after a random pause, on a queue of its
// own; counts its instances, and those asked to draw on one thread. Fails at
// `failAt` when set.
class SlowCompositor : public VideoCompositor {
public:
    static inline std::atomic<int> made{0};
    static inline std::atomic<int> drawingOnOneThread{0};
    static inline std::atomic<int> maxPauseMs{12};
    static inline std::atomic<int> failAt{-1};

    SlowCompositor() : random_(unsigned(++made)) {}

    void startRequest(std::shared_ptr<FrameRequest> request) override
    {
        const int pause = std::uniform_int_distribution<int>(0, maxPauseMs)(random_);
        const std::uint64_t generation = generation_;
        queue_.async([this, request, pause, generation] {
            if (generation != generation_) return request->finishCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            const int frame = int(std::lround(request->compositionTime().seconds() * 30));
            if (frame == failAt) return request->finishWithError("A próba-összeállító hibázott.");
            const auto& ids = request->instruction()->requiredSourceTrackIds();
            QImage image = ids.empty() ? QImage() : request->sourceFrame(ids.front());
            if (image.isNull()) image = blackFrame(request->renderSize());
            request->finish(image.scaled(request->renderSize()));
        });
    }
    void cancelAllPendingRequests() override { ++generation_; }
    void setDrawingOnOneThread(bool oneThread) override { drawingOnOneThread += oneThread ? 1 : -1; }

private:
    std::mt19937 random_;
    std::atomic<std::uint64_t> generation_{0};
    SerialQueue queue_{"test.compositor"};  // last: drained before the fields above go
};

class ExportSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_ERROR);  // as the program does: no encoder statistics
        dir = new fixtures::TempDir;
        // Frames 0…89 at 30 frames per second.
        video = Asset::open(fixtures::makeNumberedVideo(*dir / "numbers.mp4", fixtures::NumberedVideo(90)));
        // A tone for the first 1.5 s, then silence.
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=if(lt(t\\,1.5)\\,0.5*sin(2*PI*440*t)\\,0)|"
                                                  "if(lt(t\\,1.5)\\,0.25*sin(2*PI*660*t)\\,0):s=44100:d=3",
                             "-c:a", "pcm_f32le", (*dir / "tone.wav").string()});
        tone = Asset::open(*dir / "tone.wav");
    }
    static void TearDownTestSuite()
    {
        video.reset();
        tone.reset();
        delete dir;
    }

    void SetUp() override
    {
        SlowCompositor::made = 0;
        SlowCompositor::drawingOnOneThread = 0;
        SlowCompositor::maxPauseMs = 12;
        SlowCompositor::failAt = -1;
        out = std::make_unique<fixtures::TempDir>();
    }

    struct Built {
        std::shared_ptr<Composition> composition = std::make_shared<Composition>();
        std::int32_t videoTrack = 0;
        std::int32_t soundTrack = 0;
    };

    // The numbered video stretched to `seconds` (played slower when longer),
    // with the tone under its first 3 s unless `sound` is off.
    static Built build(double seconds = 3, bool sound = true)
    {
        Built b;
        const StreamInfo& v = video->videoStreams().at(0);
        b.videoTrack = b.composition->addTrack(Kind::video);
        b.composition->insertTimeRange(b.videoTrack, video, v, TimeRange(sec(0), sec(3)), sec(0));
        if (seconds != 3) b.composition->scaleTimeRange(b.videoTrack, TimeRange(sec(0), sec(3)), sec(seconds));
        if (sound) {
            b.soundTrack = b.composition->addTrack(Kind::sound);
            b.composition->insertTimeRange(b.soundTrack, tone, tone->audioStreams().at(0), TimeRange(sec(0), sec(3)),
                                           sec(0));
        }
        return b;
    }

    static std::shared_ptr<VideoComposition> slowVideo(const Built& b, QSize size = {320, 240})
    {
        auto vc = fixtures::passThrough(size, {b.videoTrack}, b.composition->duration());
        vc->compositorFactory = [] { return std::make_unique<SlowCompositor>(); };
        return vc;
    }

    // Runs `session` to its end; true when its completion came (once).
    static bool runToEnd(ExportSession& session, std::chrono::milliseconds limit = 120s)
    {
        int calls = 0;
        session.start([&] { ++calls; });
        const bool ended = fixtures::runUntil([&] { return calls > 0; }, limit);
        fixtures::runFor(20ms);
        return ended && calls == 1;
    }

    std::filesystem::path target(const std::string& name) const { return *out / name; }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> video;
    static inline std::shared_ptr<const Asset> tone;
    std::unique_ptr<fixtures::TempDir> out;
};

TEST_F(ExportSessionTest, CompositorsAreHalfTheCoresAtLeastOne)
{
    const std::vector<std::pair<int, int>> cases{{1, 1}, {2, 1}, {3, 1}, {4, 2}, {8, 4}, {16, 8}};
    for (const auto& [cores, compositors] : cases)
        EXPECT_EQ(ExportSession::compositorCount(cores), compositors) << cores << " cores";
    EXPECT_GE(ExportSession::usableCores(), 1);
}

// Each preset and container as players and the ffmpeg program see them.
TEST_F(ExportSessionTest, PresetsWriteTheirCodecsAndContainers)
{
    struct Case {
        ExportSession::Preset preset;
        ExportSession::FileType type;
        std::string name;
        std::string streams;  // codec_type,codec_name,profile,codec_tag_string per stream
        std::string brand;
    };
    const std::vector<Case> cases{
        {ExportSession::Preset::h264, ExportSession::FileType::mp4, "a.mp4", "h264,High,video,avc1|aac,LC,audio,mp4a",
         "isom"},
        {ExportSession::Preset::hevc, ExportSession::FileType::mov, "b.mov", "hevc,Main,video,hvc1|aac,LC,audio,mp4a",
         "qt  "},
        {ExportSession::Preset::hevc, ExportSession::FileType::mp4, "c.mp4", "hevc,Main,video,hvc1|aac,LC,audio,mp4a",
         "isom"},
        {ExportSession::Preset::sound, ExportSession::FileType::m4a, "d.m4a", "aac,LC,audio,mp4a", "M4A "},
    };
    const Built b = build();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto session = ExportSession::create(b.composition, c.preset);
        ASSERT_TRUE(session);
        session->setOutput(target(c.name), c.type);
        session->setVideoComposition(fixtures::passThrough({320, 240}, {b.videoTrack}, b.composition->duration()));
        ASSERT_TRUE(runToEnd(*session));
        ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
        EXPECT_EQ(session->progress(), 1.0f);
        EXPECT_EQ(session->error(), "");

        const auto file = target(c.name);
        EXPECT_EQ(probe(file, "stream=codec_type,codec_name,profile,codec_tag_string"), c.streams);
        EXPECT_EQ(probe(file, "format_tags=major_brand"), c.brand);
        if (c.preset != ExportSession::Preset::sound) {
            EXPECT_EQ(probe(file, "stream=width,height,pix_fmt,color_range,color_space,color_transfer,color_primaries"),
                      "320,240,yuv420p,tv,bt709,bt709,bt709");
            const auto frames = decodedFrames(file, target(c.name + ".rgb"));
            ASSERT_EQ(frames.size(), 90u);
            for (int k : {0, 1, 45, 89}) EXPECT_EQ(fixtures::frameNumber(frames[std::size_t(k)]), k);
        }
        EXPECT_EQ(probe(file, "stream=sample_rate,channels"), "48000,2");
        expectSamples(file, target(c.name + ".f32"), 3 * 48000);
    }
}

// "HEVC" is the choice for a smaller file with no worse pictures: on a
// detailed, moving picture that comes from an H.264 recording, its PSNR
// against the frames the compositor drew (in the encoders' 4:2:0) is no lower
// than H.264's, at no more bytes.
TEST_F(ExportSessionTest, HevcIsNoWorseThanH264AndNoLargerOnADetailedPicture)
{
    constexpr int kW = 640, kH = 360, kFrames = 30;
    const auto source = *out / "detailed.mp4";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x360:r=30:d=1", "-c:v", "libx264", "-preset", "veryfast",
                         "-pix_fmt", "yuv420p", source.string()});
    const auto asset = Asset::open(source);
    auto composition = std::make_shared<Composition>();
    const std::int32_t track = composition->addTrack(Kind::video);
    composition->insertTimeRange(track, asset, asset->videoStreams().at(0), TimeRange(sec(0), sec(1)), sec(0));
    const auto video = fixtures::passThrough({kW, kH}, {track}, composition->duration());

    // The drawn frames, converted as the export converts them.
    std::string drawn;
    {
        CompositionRenderer renderer(composition, video);
        encodersupport::ScalerPtr scaler;
        encodersupport::resetScaler(scaler, kW, kH, kW, kH, 1);
        std::string yuv(std::size_t(kW * kH * 3 / 2), '\0');
        auto* y = reinterpret_cast<std::uint8_t*>(yuv.data());
        std::uint8_t* planes[4] = {y, y + kW * kH, y + kW * kH * 5 / 4, nullptr};
        const int strides[4] = {kW, kW / 2, kW / 2, 0};
        for (int k = 0; k < kFrames; ++k) {
            const QImage image = renderer.imageAt(MediaTime(k, 30)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const std::uint8_t* in[4] = {image.constBits(), nullptr, nullptr, nullptr};
            const int inStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
            sws_scale(scaler.get(), in, inStride, 0, kH, planes, strides);
            drawn += yuv;
        }
    }

    struct Result {
        double psnr = 0;
        std::uintmax_t bytes = 0;
    };
    auto encode = [&](ExportSession::Preset preset, const std::string& name) {
        auto session = ExportSession::create(composition, preset);
        EXPECT_TRUE(session);
        if (!session) return Result{};
        session->setOutput(target(name), ExportSession::FileType::mp4);
        session->setVideoComposition(video);
        EXPECT_TRUE(runToEnd(*session));
        EXPECT_EQ(session->status(), ExportSession::Status::completed) << session->error();
        fixtures::runFfmpeg({"-i", target(name).string(), "-f", "rawvideo", "-pix_fmt", "yuv420p",
                             target(name + ".yuv").string()});
        const std::string decoded = bytesOf(target(name + ".yuv"));
        EXPECT_EQ(decoded.size(), drawn.size());
        double squares = 0;
        for (std::size_t i = 0; i < std::min(decoded.size(), drawn.size()); ++i) {
            const double d = double(std::uint8_t(decoded[i])) - double(std::uint8_t(drawn[i]));
            squares += d * d;
        }
        const double mse = squares / double(drawn.size());
        return Result{10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-10)), std::filesystem::file_size(target(name))};
    };
    const Result h264 = encode(ExportSession::Preset::h264, "detailed-h264.mp4");
    const Result hevc = encode(ExportSession::Preset::hevc, "detailed-hevc.mp4");
    EXPECT_GT(h264.psnr, 35);
    EXPECT_GE(hevc.psnr, h264.psnr) << "H.264 " << h264.psnr << " dB, " << h264.bytes << " bytes; HEVC " << hevc.bytes;
    EXPECT_LE(hevc.bytes, h264.bytes) << "H.264 " << h264.psnr << " dB; HEVC " << hevc.psnr << " dB";
}

// A span in the middle: frames from its start, output times from 0, the
// sound exactly as long as the span and in step with the picture.
TEST_F(ExportSessionTest, ASpanStartsAtZeroWithItsOwnFramesAndSound)
{
    const Built b = build();
    auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
    session->setOutput(target("span.mp4"), ExportSession::FileType::mp4);
    session->setVideoComposition(slowVideo(b));
    session->setTimeRange(TimeRange::fromStartEnd(sec(1.0), sec(2.5)));
    ASSERT_TRUE(runToEnd(*session));
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();

    const auto file = target("span.mp4");
    const auto movie = fixtures::readMovie(file);
    ASSERT_EQ(movie.size(), 2u);
    EXPECT_NEAR(movie[0].packets.front().pts, 0.0, 1e-6);
    EXPECT_NEAR(movie[0].duration(), 1.5, 1e-3);
    EXPECT_NEAR(std::stod(probe(file, "format=duration")), 1.5, 0.03);

    // Slow compositors finish out of order; the file is in time order.
    const auto frames = decodedFrames(file, target("span.rgb"));
    ASSERT_EQ(frames.size(), 45u);
    for (std::size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(fixtures::frameNumber(frames[k]), 30 + int(k)) << k;
    EXPECT_EQ(SlowCompositor::made, ExportSession::compositorCount(ExportSession::usableCores()));
    // They draw side by side already: none spreads its fills over helper threads.
    EXPECT_EQ(SlowCompositor::drawingOnOneThread, SlowCompositor::made);

    // 1.5 s of sound, the tone (which stops at 1.5 s of the source) for its
    // first half second only.
    const auto sound = expectSamples(file, target("span.f32"), 72000);
    EXPECT_NEAR(rms(sound, 0.05, 0.45), 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_LT(rms(sound, 0.55, 1.45), 0.01);
}

// A span of 45.3 frames has 46: the last, shorter one is kept.
TEST_F(ExportSessionTest, ASpanThatIsNotAWholeNumberOfFramesKeepsItsLastFrame)
{
    const Built b = build(3, false);
    auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
    session->setOutput(target("part.mp4"), ExportSession::FileType::mp4);
    session->setVideoComposition(fixtures::passThrough({160, 120}, {b.videoTrack}, b.composition->duration()));
    session->setTimeRange(TimeRange::fromStartEnd(sec(1.0), sec(2.51)));
    ASSERT_TRUE(runToEnd(*session));
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
    const auto frames = decodedFrames(target("part.mp4"), target("part.rgb"));
    ASSERT_EQ(frames.size(), 46u);
    EXPECT_EQ(fixtures::frameNumber(frames.back()), 75);
}

// The mix is applied: volume and a tap, on the export's own thread.
TEST_F(ExportSessionTest, SoundGoesThroughTheMix)
{
    struct Doubling : AudioTap {
        std::atomic<int> prepared{0};
        void prepare(int sampleRate, int channels, int) override
        {
            EXPECT_EQ(sampleRate, 48000);
            EXPECT_EQ(channels, 2);
            ++prepared;
        }
        void process(float* samples, int frames) override
        {
            for (int i = 0; i < frames * 2; ++i) samples[i] *= 2;
        }
    };
    const Built b = build(3, true);
    auto tap = std::make_shared<Doubling>();
    auto mix = std::make_shared<AudioMix>();
    mix->parameters(b.soundTrack).setVolume(0.25f, sec(0));
    mix->parameters(b.soundTrack).tap = tap;
    auto session = ExportSession::create(b.composition, ExportSession::Preset::sound);
    session->setOutput(target("mix.m4a"), ExportSession::FileType::m4a);
    session->setAudioMix(mix);
    session->setTimeRange(TimeRange(sec(0), sec(1)));
    ASSERT_TRUE(runToEnd(*session));
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
    EXPECT_EQ(tap->prepared, 1);
    const auto sound = expectSamples(target("mix.m4a"), target("mix.f32"), 48000);
    EXPECT_NEAR(rms(sound, 0.1, 0.9), 0.5 * 0.5 / std::sqrt(2.0), 0.02);
}

// A mix louder than full scale reaches the encoder clipped: the tone's
// 0.5 made 2.0 comes out as a sine cut at ±1, not as the louder sine.
TEST_F(ExportSessionTest, SamplesAboveFullScaleAreClippedBeforeTheEncoder)
{
    struct Quadrupling : AudioTap {
        void prepare(int, int, int) override {}
        void process(float* samples, int frames) override
        {
            for (int i = 0; i < frames * 2; ++i) samples[i] *= 4;
        }
    };
    const Built b = build(3, true);
    auto mix = std::make_shared<AudioMix>();
    mix->parameters(b.soundTrack).tap = std::make_shared<Quadrupling>();
    auto session = ExportSession::create(b.composition, ExportSession::Preset::sound);
    session->setOutput(target("loud.m4a"), ExportSession::FileType::m4a);
    session->setAudioMix(mix);
    session->setTimeRange(TimeRange(sec(0), sec(1)));
    ASSERT_TRUE(runToEnd(*session));
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
    const auto sound = expectSamples(target("loud.m4a"), target("loud.f32"), 48000);
    // A sine of amplitude 2 cut at 1 has an RMS of 0.88 (a little less once
    // the encoder drops its highest harmonics); uncut it would be 1.41.
    EXPECT_NEAR(rms(sound, 0.1, 0.9), 0.85, 0.15);
    float peak = 0;
    for (std::size_t i = 4800 * 2; i < 43200 * 2; i += 2) peak = std::max(peak, std::abs(sound[i]));
    EXPECT_LT(peak, 1.35f) << "the encoder's ringing reaches a little over 1";
}

// A mono track (an interface input recorded alone, a mono medium) is
// heard at full level on both sides, as it was while it was recorded, in a
// sound file and in a movie alike; stereo keeps the level of each side.
TEST_F(ExportSessionTest, MonoSoundKeepsItsLevelOnBothSides)
{
    const auto monoFile = *dir / "mono.m4a";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*440*t):s=48000:d=2", "-c:a", "aac", "-b:a",
                         "192k", monoFile.string()});
    const auto mono = Asset::open(monoFile);
    ASSERT_EQ(mono->audioStreams().at(0).channels, 1);
    const auto source = decodedSound(monoFile, target("mono.f32"), true);
    const double sourceLevel = levelDb(source, 1, 0, 0.2, 1.8);
    ASSERT_NEAR(sourceLevel, 20 * std::log10(0.5 / std::sqrt(2.0)), 0.1);

    struct Case {
        ExportSession::Preset preset;
        ExportSession::FileType type;
        std::string name;
    };
    for (const Case& c : {Case{ExportSession::Preset::sound, ExportSession::FileType::m4a, "mono-out.m4a"},
                          Case{ExportSession::Preset::h264, ExportSession::FileType::mp4, "mono-out.mp4"}}) {
        SCOPED_TRACE(c.name);
        Built b = build(2, false);
        b.soundTrack = b.composition->addTrack(Kind::sound);
        b.composition->insertTimeRange(b.soundTrack, mono, mono->audioStreams().at(0), TimeRange(sec(0), sec(2)),
                                       sec(0));
        auto session = ExportSession::create(b.composition, c.preset);
        session->setOutput(target(c.name), c.type);
        session->setVideoComposition(fixtures::passThrough({320, 240}, {b.videoTrack}, b.composition->duration()));
        ASSERT_TRUE(runToEnd(*session));
        ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
        const auto sound = decodedSound(target(c.name), target(c.name + ".f32"), true);
        EXPECT_EQ(probe(target(c.name), "stream=channels"), "2");
        EXPECT_NEAR(levelDb(sound, 2, 0, 0.2, 1.8), sourceLevel, 0.1);
        EXPECT_NEAR(levelDb(sound, 2, 1, 0.2, 1.8), sourceLevel, 0.1);
    }

    // The stereo tone: 0.5 on the left, 0.25 on the right, for 1.5 s.
    const Built b = build();
    auto session = ExportSession::create(b.composition, ExportSession::Preset::sound);
    session->setOutput(target("stereo.m4a"), ExportSession::FileType::m4a);
    ASSERT_TRUE(runToEnd(*session));
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error();
    const auto sound = decodedSound(target("stereo.m4a"), target("stereo.f32"));
    EXPECT_NEAR(levelDb(sound, 2, 0, 0.2, 1.3), 20 * std::log10(0.5 / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(levelDb(sound, 2, 1, 0.2, 1.3), 20 * std::log10(0.25 / std::sqrt(2.0)), 0.1);
}

// What can't make a file fails at once, creates nothing and touches nothing.
TEST_F(ExportSessionTest, RefusedExportsLeaveNoFile)
{
    const Built withSound = build();
    const Built silent = build(3, false);
    std::ofstream(target("taken.mp4")) << "keep me";
    struct Case {
        std::string name;
        const Built* built;
        ExportSession::Preset preset;
        ExportSession::FileType type;
        std::optional<TimeRange> range;
        std::filesystem::path file;
        std::string error;
        QSize size = {320, 240};
    };
    const std::vector<Case> cases{
        {"past the end", &withSound, ExportSession::Preset::h264, ExportSession::FileType::mp4,
         TimeRange(sec(3), sec(1)), target("x.mp4"), "Az exportálandó szakasz üres."},
        {"backwards", &withSound, ExportSession::Preset::h264, ExportSession::FileType::mp4,
         TimeRange(sec(2), sec(-1)), target("x.mp4"), "Az exportálandó szakasz üres."},
        {"sound of silence", &silent, ExportSession::Preset::sound, ExportSession::FileType::m4a, std::nullopt,
         target("x.m4a"), "A kompozícióban nincs hang, hangfájl nem készíthető."},
        {"picture in M4A", &withSound, ExportSession::Preset::h264, ExportSession::FileType::m4a, std::nullopt,
         target("x.m4a"), "A fájltípus nem illik az exportálás beállításához."},
        {"file there", &withSound, ExportSession::Preset::h264, ExportSession::FileType::mp4, std::nullopt,
         target("taken.mp4"), "A célfájl már létezik, nem írható felül: " + target("taken.mp4").string()},
        {"no folder", &withSound, ExportSession::Preset::h264, ExportSession::FileType::mp4, std::nullopt,
         target("none/x.mp4"),
         "A célfájl nem hozható létre: " + target("none/x.mp4").string() + " (No such file or directory)"},
        // The encoders take 4:2:0 pictures: both sides must be even.
        {"odd width", &withSound, ExportSession::Preset::h264, ExportSession::FileType::mp4, std::nullopt,
         target("x.mp4"), "Az exportálás nem indítható.", {321, 240}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto session = ExportSession::create(c.built->composition, c.preset);
        session->setOutput(c.file, c.type);
        session->setVideoComposition(slowVideo(*c.built, c.size));
        if (c.range) session->setTimeRange(*c.range);
        ASSERT_TRUE(runToEnd(*session));
        EXPECT_EQ(session->status(), ExportSession::Status::failed);
        EXPECT_EQ(session->error(), c.error);
        EXPECT_EQ(session->progress(), 0.0f);
    }
    EXPECT_EQ(bytesOf(target("taken.mp4")), "keep me");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(out->path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"taken.mp4"});
}

// A failure midway ends the export with its sentence and removes the file.
TEST_F(ExportSessionTest, FailuresMidwayRemoveTheFile)
{
    const Built b = build();
    {
        SlowCompositor::failAt = 40;
        auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
        session->setOutput(target("drawn.mp4"), ExportSession::FileType::mp4);
        session->setVideoComposition(slowVideo(b));
        ASSERT_TRUE(runToEnd(*session));
        EXPECT_EQ(session->status(), ExportSession::Status::failed);
        EXPECT_EQ(session->error(), "A próba-összeállító hibázott.");
        EXPECT_FALSE(std::filesystem::exists(target("drawn.mp4")));
        SlowCompositor::failAt = -1;
    }
    {
        // The file may grow to 20 kB; the writer is told so (EFBIG), not killed.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 20'000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
        session->setOutput(target("full.mp4"), ExportSession::FileType::mp4);
        session->setVideoComposition(slowVideo(b));
        const bool ended = runToEnd(*session);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        ASSERT_TRUE(ended);
        EXPECT_EQ(session->status(), ExportSession::Status::failed);
        EXPECT_EQ(session->error(), "Írási hiba az exportálás közben (File too large).");
        EXPECT_FALSE(std::filesystem::exists(target("full.mp4")));
    }
}

// Progress is readable on any thread, never falls and reaches 1; cancel()
// stops a long export within a frame or so, and a session destroyed midway
// stops too, without calling back.
TEST_F(ExportSessionTest, ProgressCancelAndDestruction)
{
    SlowCompositor::maxPauseMs = 40;
    const Built b = build(60);  // 1800 frames: minutes at this pace
    {
        auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
        session->setOutput(target("cancelled.mp4"), ExportSession::FileType::mp4);
        session->setVideoComposition(slowVideo(b, {160, 120}));
        std::vector<float> seen;
        std::atomic<bool> watching{true};
        std::thread watcher([&] {
            while (watching) {
                seen.push_back(session->progress());
                std::this_thread::sleep_for(2ms);
            }
        });
        int calls = 0;
        session->start([&] { ++calls; });
        ASSERT_TRUE(fixtures::runUntil([&] { return session->progress() > 0.005f; }, 60s));
        session->cancel();
        const auto cancelledAt = std::chrono::steady_clock::now();
        ASSERT_TRUE(fixtures::runUntil([&] { return calls > 0; }, 60s));
        // Far less than the minutes the rest would take.
        EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 10s);
        watching = false;
        watcher.join();
        EXPECT_EQ(session->status(), ExportSession::Status::cancelled);
        EXPECT_EQ(session->error(), "");
        EXPECT_FALSE(std::filesystem::exists(target("cancelled.mp4")));
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_LT(session->progress(), 0.5f);
        session->cancel();  // once ended, nothing
        fixtures::runFor(20ms);
        EXPECT_EQ(calls, 1);
    }
    {
        int calls = 0;
        auto session = ExportSession::create(b.composition, ExportSession::Preset::h264);
        session->setOutput(target("dropped.mp4"), ExportSession::FileType::mp4);
        session->setVideoComposition(slowVideo(b, {160, 120}));
        session->start([&] { ++calls; });
        ASSERT_TRUE(fixtures::runUntil([&] { return session->progress() > 0.005f; }, 60s));
        session.reset();
        fixtures::runFor(50ms);
        EXPECT_EQ(calls, 0);
        EXPECT_FALSE(std::filesystem::exists(target("dropped.mp4")));
    }
}

} // namespace
