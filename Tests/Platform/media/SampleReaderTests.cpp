#include "Platform/media/AudioMixer.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/SampleReader.h"

#include "support/DamagedMedia.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using platform::Asset;
using platform::AudioMixer;
using platform::Composition;
using platform::MediaTime;
using platform::SampleReader;
using platform::TimeRange;

namespace {

// The fixture's two sines at time t.
double left(double t)
{
    return 0.5 * std::sin(2 * M_PI * 440 * t);
}
double right(double t)
{
    return 0.25 * std::sin(2 * M_PI * 660 * t);
}

// Largest difference between interleaved stereo `samples` starting at
// `start` seconds and the fixture's sines.
double stereoError(const std::vector<float>& samples, double start, int rate)
{
    double worst = 0;
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        const double t = start + double(i / 2) / rate;
        worst = std::max({worst, std::abs(samples[i] - left(t)), std::abs(samples[i + 1] - right(t))});
    }
    return worst;
}

std::vector<float> readAll(SampleReader& reader)
{
    std::vector<float> all;
    std::vector<float> chunk(1000 * reader.channels());
    while (const std::size_t n = reader.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n * reader.channels()));
    return all;
}

class SampleReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        wav = Asset::open(fixtures::makeStereoSine(*dir / "sine.wav", 2.0, 48000, {"-c:a", "pcm_f32le"}));
        aac = Asset::open(fixtures::makeStereoSine(*dir / "sine.m4a", 2.0, 48000, {"-c:a", "aac", "-b:a", "256k"}));
    }
    static void TearDownTestSuite()
    {
        wav.reset();
        aac.reset();
        delete dir;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> wav;
    static inline std::shared_ptr<const Asset> aac;
};

} // namespace

TEST_F(SampleReaderTest, ReadsSampleExactInAnyOrderResamplesAndMixesDown)
{
    SampleReader reader(*wav, wav->audioStreams().at(0), 48000, 2);
    const std::vector<float> all = readAll(reader);
    EXPECT_EQ(all.size(), 2u * 96000);
    EXPECT_LT(stereoError(all, 0.0, 48000), 1e-4);
    EXPECT_EQ(reader.position(), MediaTime(96000, 48000));

    for (const auto& [start, length] : {std::pair{1.5, 0.25}, {0.0, 0.1}, {0.75, 0.5}, {1.25, 0.25}, {0.1, 0.01}}) {
        SCOPED_TRACE(start);
        const std::vector<float> part = reader.read(TimeRange(MediaTime::fromSeconds(start), MediaTime::fromSeconds(length)));
        EXPECT_EQ(part.size(), 2u * static_cast<std::size_t>(std::lround(length * 48000)));
        EXPECT_LT(stereoError(part, start, 48000), 1e-4);
    }
    // Before the start and past the end: silence around the sound.
    const std::vector<float> edges = reader.read(TimeRange(MediaTime(-1, 10), MediaTime(23, 10)));
    ASSERT_EQ(edges.size(), 2u * 110400);
    for (std::size_t i = 0; i < 2 * 4800; ++i) ASSERT_EQ(edges[i], 0.0f) << i;
    for (std::size_t i = 2 * 100800; i < edges.size(); ++i) ASSERT_EQ(edges[i], 0.0f) << i;
    EXPECT_LT(stereoError(std::vector<float>(edges.begin() + 2 * 4800, edges.begin() + 2 * 100800), 0.0, 48000), 1e-4);
    EXPECT_THROW(reader.seek(MediaTime::invalid()), platform::MediaError);

    // Peaks read 8000 mono floats; stereo averages, keeping full scale.
    SampleReader mono(*wav, wav->audioStreams().at(0), 8000, 1);
    const std::vector<float> down = readAll(mono);
    EXPECT_EQ(down.size(), 16000u);
    double worst = 0;
    for (std::size_t i = 100; i + 100 < down.size(); ++i) {
        const double t = double(i) / 8000;
        worst = std::max(worst, std::abs(down[i] - 0.5 * (left(t) + right(t))));
    }
    EXPECT_LT(worst, 0.01);

    // Up to more channels and another rate.
    SampleReader wide(*wav, wav->audioStreams().at(0), 44100, 6);
    const std::vector<float> six = wide.read(TimeRange(MediaTime(1, 2), MediaTime(1, 10)));
    EXPECT_EQ(six.size(), 6u * 4410);
    EXPECT_THROW(SampleReader(*wav, wav->audioStreams().at(0), 0, 2), platform::MediaError);
    EXPECT_THROW(SampleReader(*wav, wav->audioStreams().at(0), 48000, 0), platform::MediaError);
}

TEST_F(SampleReaderTest, CompressedSoundKeepsItsTiming)
{
    const auto& stream = aac->audioStreams().at(0);
    EXPECT_EQ(stream.timeRange.start, MediaTime::zero());
    EXPECT_EQ(stream.timeRange.duration, MediaTime(2, 1));
    SampleReader reader(*aac, stream, 48000, 2);
    const std::vector<float> all = readAll(reader);
    // The encoder's priming samples are not part of the sound.
    EXPECT_EQ(all.size(), 2u * 96000);
    EXPECT_LT(stereoError(std::vector<float>(all.begin() + 2000, all.end() - 2000), 1000.0 / 48000, 48000), 0.02);
    // A seek into the middle decodes from before it, so it starts clean.
    const std::vector<float> part = reader.read(TimeRange(MediaTime(1, 1), MediaTime(1, 4)));
    EXPECT_LT(stereoError(part, 1.0, 48000), 0.02);
}

TEST_F(SampleReaderTest, ASeekDecodesFromBeforeItsTargetSoSoundStartsSettled)
{
    // Opus needs 80 ms of decoding before its output settles, AAC one frame:
    // sound read after a seek equals sound read straight through.
    const auto opus = Asset::open(fixtures::makeStereoSine(*dir / "sine.opus", 2.0, 48000, {"-c:a", "libopus"}));
    for (const auto& [asset, tolerance] : {std::pair{aac, 1e-6}, {opus, 1e-5}}) {
        SCOPED_TRACE(asset->path().filename().string());
        const auto& stream = asset->audioStreams().at(0);
        SampleReader straight(*asset, stream, 48000, 2);
        const std::vector<float> all = readAll(straight);
        for (const int frame : {4800, 24000, 48000, 65712}) {
            SCOPED_TRACE(frame);
            SampleReader reader(*asset, stream, 48000, 2);
            const std::vector<float> part = reader.read(TimeRange(MediaTime(frame, 48000), MediaTime(4800, 48000)));
            double worst = 0;
            for (std::size_t i = 0; i < part.size(); ++i)
                worst = std::max(worst, double(std::abs(part[i] - all[2 * std::size_t(frame) + i])));
            EXPECT_LT(worst, tolerance);
        }
    }
}

namespace {

// The first frame of the left channel at 0.45 or louder: where a tone
// stepping from 0.1 to 0.8 steps.
std::ptrdiff_t stepOf(const std::vector<float>& stereo)
{
    for (std::size_t i = 0; i < stereo.size(); i += 2)
        if (std::abs(stereo[i]) >= 0.45f) return std::ptrdiff_t(i / 2);
    return -1;
}

float loudest(const std::vector<float>& samples)
{
    float m = 0;
    for (float x : samples) m = std::max(m, std::isnan(x) ? INFINITY : std::abs(x));
    return m;
}

} // namespace

TEST(SampleReaderDamage, AnUndecodablePacketIsSilenceAndLaterSoundKeepsItsTime)
{
    fixtures::TempDir dir;
    // A 1 kHz cosine whose level steps from 0.1 to 0.8 at 2.0 s, so the
    // step's first frame is at full level: frame 96,000.
    const auto intact = dir / "tone.m4a";
    fixtures::runFfmpeg({"-f", "lavfi", "-i",
                         "aevalsrc=if(lt(t\\,2)\\,0.1\\,0.8)*cos(2*PI*1000*t):s=48000:d=4:c=stereo", "-c:a",
                         "aac", "-b:a", "256k", intact.string()});
    fixtures::PacketPlace hit;
    for (const auto& p : fixtures::packetPlaces(intact, "a"))
        if (p.time <= 1.0 && 1.0 < p.time + p.duration) hit = p;
    ASSERT_GT(hit.size, 0u);
    std::string noise(hit.size, '\0');
    std::mt19937 random(5);
    for (char& c : noise) c = static_cast<char>(random());

    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"zeros", std::string(hit.size, '\0')},
                                      {"noise", noise}}) {
        SCOPED_TRACE(name);
        const auto file = dir / ("tone-" + name + ".m4a");
        std::filesystem::copy_file(intact, file);
        fixtures::overwrite(file, hit.pos, bytes);
        const auto asset = Asset::open(file);
        const auto& stream = asset->audioStreams().at(0);
        EXPECT_EQ(stream.timeRange.duration, MediaTime(4, 1));

        SampleReader reader(*asset, stream, 48000, 2);
        const std::vector<float> all = readAll(reader);
        EXPECT_EQ(all.size(), 2u * 192000);
        EXPECT_LE(loudest(all), 1.0f);
        EXPECT_NEAR(stepOf(all), 96000, 1);
        // The damaged packet's own time is silent.
        const auto first = std::size_t(std::lround(hit.time * 48000));
        EXPECT_EQ(loudest({all.begin() + std::ptrdiff_t(2 * first), all.begin() + std::ptrdiff_t(2 * (first + 1024))}),
                  0.0f);

        // Resampled (as for peaks), the gap is placed the same way.
        SampleReader peaks(*asset, stream, 8000, 1);
        const std::vector<float> mono = readAll(peaks);
        EXPECT_EQ(mono.size(), 32000u);
        std::vector<float> pairs;
        for (float x : mono) pairs.insert(pairs.end(), {x, x});
        EXPECT_NEAR(stepOf(pairs), 16000, 1);

        // A player's lane reading through it plays on with the right timing.
        auto c = std::make_shared<Composition>();
        const std::int32_t track = c->addTrack(Composition::TrackKind::sound);
        c->insertTimeRange(track, asset, stream, {MediaTime::zero(), MediaTime(4, 1)}, MediaTime::zero());
        AudioMixer mixer(c);
        std::vector<float> mixed(2 * 192000);
        for (std::size_t done = 0; done < 192000; done += 4800) mixer.mix(mixed.data() + 2 * done, 4800, nullptr);
        EXPECT_FALSE(mixer.takeError().has_value());
        EXPECT_NEAR(stepOf(mixed), 96000, 1);
        EXPECT_GT(loudest({mixed.end() - 2 * 4800, mixed.end()}), 0.7f);
    }

    // A stream that never yields sound is an error, not silence.
    const auto dead = dir / "tone-dead.m4a";
    std::filesystem::copy_file(intact, dead);
    for (const auto& p : fixtures::packetPlaces(intact, "a")) fixtures::overwrite(dead, p.pos, std::string(p.size, '\0'));
    const auto deadAsset = Asset::open(dead);
    SampleReader deadReader(*deadAsset, deadAsset->audioStreams().at(0), 48000, 2);
    std::vector<float> block(2 * 48000);
    try {
        deadReader.read(block.data(), 48000);
        ADD_FAILURE() << "an undecodable stream read as sound";
    } catch (const platform::MediaError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("A hang nem dekódolható: „" + dead.string() + "”", 0), 0u) << e.what();
    }

    // Float sound beyond full scale is held at it.
    const auto loud = dir / "loud.wav";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=1.5|-2.5:s=48000:d=0.5", "-c:a", "pcm_f32le", loud.string()});
    const auto asset = Asset::open(loud);
    SampleReader reader(*asset, asset->audioStreams().at(0), 48000, 2);
    const std::vector<float> held = reader.read(TimeRange(MediaTime::zero(), MediaTime(1, 10)));
    EXPECT_EQ(held.front(), 1.0f);
    EXPECT_EQ(held.back(), -1.0f);
}

TEST(SampleReaderDamage, DamagedFragmentedMoviesReadSafelyFromBeforeTheirStart)
{
    fixtures::TempDir dir;
    const auto whole = fixtures::makeFragmentedMovie(dir / "whole.mov", 6);
    const std::string bytes = fixtures::fileBytes(whole);
    const auto top = fixtures::boxesIn(bytes, 0, bytes.size());
    const auto moof = std::find_if(top.begin(), top.end(), [](const auto& b) { return b.type == "moof"; });
    ASSERT_NE(moof, top.end());

    // Killed right after its first fragment header: ftyp, moov, moof, no mdat.
    const auto headerOnly = fixtures::cutCopy(whole, dir / "header-only.mov", moof->offset + moof->size);
    // The first sound fragment's decode time with 2^48 added (one byte).
    const auto farTime = dir / "far-time.mov";
    std::filesystem::copy_file(whole, farTime);
    for (const auto& traf : fixtures::boxesIn(bytes, moof->offset + 8, moof->offset + moof->size)) {
        if (traf.type != "traf") continue;
        const auto inner = fixtures::boxesIn(bytes, traf.offset + 8, traf.offset + traf.size);
        const bool sound = static_cast<unsigned char>(bytes[inner.at(0).offset + 15]) == 2;  // tfhd track id 2
        for (const auto& box : inner)
            if (sound && box.type == "tfdt") fixtures::overwrite(farTime, box.offset + 13, std::string(1, '\x01'));
    }

    for (const auto& [file, seconds] : {std::pair{headerOnly, 0.0}, {farTime, 6.0}}) {
        SCOPED_TRACE(file.filename().string());
        const auto asset = Asset::open(file);
        SampleReader reader(*asset, asset->audioStreams().at(0), 48000, 2);
        const std::vector<float> early = reader.read(TimeRange(MediaTime(-1, 2), MediaTime(1, 1)));
        EXPECT_EQ(early.size(), 2u * 48000);
        EXPECT_LE(loudest(early), 1.0f);

        // Read on from before the start until the data ends.
        reader.seek(MediaTime(-1, 4));
        std::vector<float> all(2 * 12000, 1.0f);
        for (std::vector<float> block(2 * 12000); const std::size_t n = reader.read(block.data(), 12000);)
            all.insert(all.end(), block.begin(), block.begin() + std::ptrdiff_t(2 * n));
        all.erase(all.begin(), all.begin() + 2 * 12000);
        EXPECT_NEAR(double(all.size()) / 2 / 48000, seconds > 0 ? seconds + 0.25 : 0.0, 0.05);
        // The damaged fragment's sound follows on from the start, the last
        // fragment's is at its own time (where the demuxer sorts the middle
        // one after the seek is its own affair).
        for (const double at : {0.5, 4.5}) {
            if (at > seconds) continue;
            EXPECT_NEAR(loudest({all.begin() + std::ptrdiff_t(2 * 48000 * (at + 0.25)),
                                 all.begin() + std::ptrdiff_t(2 * 48000 * (at + 0.5))}),
                        0.5f, 0.05f)
                << at;
        }
    }
}
