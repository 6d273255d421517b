#include "Platform/media/AudioMix.h"
#include "Platform/media/AudioMixer.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/SampleReader.h"
#include "Platform/media/SoundSource.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace platform;
using Kind = Composition::TrackKind;

namespace {

MediaTime sec(double s)
{
    return MediaTime::fromSeconds(s);
}

using fixtures::openCount;

// Logs its calls and doubles every sample.
class DoublingTap : public AudioTap {
public:
    void prepare(int rate, int channels, int maxFrames) override
    {
        log += "prepare(" + std::to_string(rate) + "," + std::to_string(channels) + "," + std::to_string(maxFrames) + ") ";
    }
    void process(float* samples, int frames) override
    {
        EXPECT_LE(frames, AudioMixer::maxFrames);
        for (int i = 0; i < frames * 2; ++i) samples[i] *= 2;
        processed += frames;
    }
    void unprepare() override { log += "unprepare "; }

    std::string log;
    long processed = 0;
};

class AudioMixerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        // A constant 0.5 on both channels: every output sample is 0.5 × the volume.
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5|0.5:s=48000:d=3:c=stereo", "-c:a", "pcm_f32le",
                             (*dir / "dc.wav").string()});
        dc = Asset::open(*dir / "dc.wav");
        sine = Asset::open(fixtures::makeStereoSine(*dir / "sine.wav", 2.0, 48000, {"-c:a", "pcm_f32le"}));
    }
    static void TearDownTestSuite()
    {
        dc.reset();
        sine.reset();
        delete dir;
    }

    // A composition with one sound track holding `asset` from `from` for `length` s at `at`.
    static std::shared_ptr<Composition> oneTrack(const std::shared_ptr<const Asset>& asset, double from, double length,
                                                 double at, std::int32_t* id = nullptr)
    {
        auto c = std::make_shared<Composition>();
        const std::int32_t track = c->addTrack(Kind::sound);
        c->insertTimeRange(track, asset, asset->audioStreams().at(0), {sec(from), sec(length)}, sec(at));
        if (id) *id = track;
        return c;
    }

    static std::vector<float> mixAll(AudioMixer& mixer, int frames, const std::shared_ptr<const AudioMix>& mix,
                                     int block = 1000)
    {
        std::vector<float> out(std::size_t(frames) * 2);
        for (int done = 0; done < frames; done += block)
            mixer.mix(out.data() + std::size_t(done) * 2, std::min(block, frames - done), mix);
        return out;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> dc;
    static inline std::shared_ptr<const Asset> sine;
};

} // namespace

TEST_F(AudioMixerTest, AppliesVolumeRampsSampleExact)
{
    std::int32_t id = 0;
    auto c = oneTrack(dc, 0, 3, 0, &id);
    auto mix = std::make_shared<AudioMix>();
    auto& p = mix->parameters(id);
    // 1 until 0.5 s, down to 0 by 1.5 s, then 0.25 from 2 s; a ramp up over 2.5–2.6 s.
    p.setVolumeRamp(1.0f, 0.0f, {sec(0.5), sec(1.0)});
    p.setVolume(0.25f, sec(2.0));
    p.setVolumeRamp(0.25f, 1.0f, {sec(2.5), sec(0.1)});
    p.setVolume(0.9f, sec(2.6));
    p.setVolume(1.0f, sec(2.6));  // same time, made later: wins
    EXPECT_THROW(p.setVolumeRamp(0, 1, {sec(2), sec(0)}), MediaError);
    EXPECT_THROW(p.setVolume(NAN, sec(2)), MediaError);

    AudioMixer mixer(c);
    const auto out = mixAll(mixer, 3 * 48000, mix, 777);  // blocks that cut the ramps anywhere
    auto at = [&](int frame) { return out[std::size_t(frame) * 2]; };
    EXPECT_FLOAT_EQ(at(0), 0.5f);
    EXPECT_FLOAT_EQ(at(23999), 0.5f);  // before the ramp
    EXPECT_FLOAT_EQ(at(24000), 0.5f);  // its start: the start level
    EXPECT_FLOAT_EQ(at(48000), 0.25f);  // its middle
    EXPECT_NEAR(at(71999), 0.5f / 48000, 1e-7);  // its last frame
    EXPECT_FLOAT_EQ(at(72000), 0.0f);  // its end level stays
    EXPECT_FLOAT_EQ(at(95999), 0.0f);
    EXPECT_FLOAT_EQ(at(96000), 0.125f);
    EXPECT_FLOAT_EQ(at(120000), 0.125f);
    EXPECT_FLOAT_EQ(at(122400), 0.5f * (0.25f + 0.75f * 0.5f));
    EXPECT_FLOAT_EQ(at(124800), 0.5f);
    EXPECT_FLOAT_EQ(out[std::size_t(48000) * 2 + 1], 0.25f);  // both channels

    // Mixing again from a seek gives the same samples.
    mixer.seek(sec(0.9));
    std::vector<float> again(200);
    mixer.mix(again.data(), 100, mix);
    for (int i = 0; i < 100; ++i) EXPECT_FLOAT_EQ(again[std::size_t(i) * 2], at(43200 + i));
}

TEST_F(AudioMixerTest, PlacesSoundSumsTracksAndReportsASourceThatCannotBeRead)
{
    // The sine from 0.5 s, at 1 s of the composition; the constant on a
    // second track; a file gone since it was opened on a third, silent.
    auto c = oneTrack(sine, 0.5, 1.0, 1.0);
    const std::int32_t second = c->addTrack(Kind::sound);
    c->insertTimeRange(second, dc, dc->audioStreams().at(0), {sec(0), sec(0.5)}, sec(0));
    const auto path = *dir / "gone.wav";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5:s=48000:d=1", "-c:a", "pcm_f32le", path.string()});
    const auto gone = Asset::open(path);
    std::filesystem::remove(path);
    c->insertTimeRange(c->addTrack(Kind::sound), gone, gone->audioStreams().at(0), {sec(0), sec(1)}, sec(0));

    AudioMixer mixer(c);
    const auto out = mixAll(mixer, 3 * 48000, nullptr);
    EXPECT_FLOAT_EQ(out[0], 0.5f);                           // only the constant
    EXPECT_FLOAT_EQ(out[std::size_t(24000) * 2], 0.0f);      // both silent
    for (int f = 48000; f < 96000; f += 997) {
        const double t = 0.5 + double(f - 48000) / 48000;
        ASSERT_NEAR(out[std::size_t(f) * 2], 0.5 * std::sin(2 * M_PI * 440 * t), 1e-4) << f;
        ASSERT_NEAR(out[std::size_t(f) * 2 + 1], 0.25 * std::sin(2 * M_PI * 660 * t), 1e-4) << f;
    }
    for (int f = 96000; f < 3 * 48000; f += 500) ASSERT_EQ(out[std::size_t(f) * 2], 0.0f) << f;  // after its end
    EXPECT_EQ(mixer.position(), sec(3));
    const auto error = mixer.takeError();
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("gone.wav"), std::string::npos) << *error;
    EXPECT_FALSE(mixer.takeError().has_value());  // once
}

// What plays a mono sound (an interface input recorded alone, a mono
// medium) hears it at full level on both sides; stereo keeps its sides.
TEST_F(AudioMixerTest, MonoPlaysAtFullLevelOnBothSides)
{
    const auto path = *dir / "mono.wav";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*440*t):s=48000:d=1", "-c:a", "pcm_f32le",
                         path.string()});
    const auto mono = Asset::open(path);
    ASSERT_EQ(mono->audioStreams().at(0).channels, 1);
    AudioMixer mixer(oneTrack(mono, 0, 1, 0));
    const auto out = mixAll(mixer, 48000, nullptr);
    for (int f = 0; f < 48000; f += 331) {
        const double expected = 0.5 * std::sin(2 * M_PI * 440 * f / 48000.0);
        ASSERT_NEAR(out[std::size_t(f) * 2], expected, 1e-4) << f;
        ASSERT_NEAR(out[std::size_t(f) * 2 + 1], expected, 1e-4) << f;
    }

    AudioMixer stereo(oneTrack(sine, 0, 1, 0));
    const auto both = mixAll(stereo, 48000, nullptr);
    for (int f = 0; f < 48000; f += 331) {
        ASSERT_NEAR(both[std::size_t(f) * 2], 0.5 * std::sin(2 * M_PI * 440 * f / 48000.0), 1e-4) << f;
        ASSERT_NEAR(both[std::size_t(f) * 2 + 1], 0.25 * std::sin(2 * M_PI * 660 * f / 48000.0), 1e-4) << f;
    }
}

TEST_F(AudioMixerTest, RunsTheTapAfterTheVolumeAndSwapsMixesBetweenBlocks)
{
    std::int32_t id = 0;
    auto c = oneTrack(dc, 0, 3, 0, &id);
    auto tapA = std::make_shared<DoublingTap>();
    auto mixA = std::make_shared<AudioMix>();
    mixA->parameters(id).setVolume(0.5f, sec(0));
    mixA->parameters(id).tap = tapA;
    auto mixB = std::make_shared<AudioMix>();
    mixB->parameters(id).setVolume(0.25f, sec(0));  // no tap

    {
        AudioMixer mixer(c);
        std::vector<float> block(2 * 480);
        mixer.mix(block.data(), 480, mixA);
        EXPECT_FLOAT_EQ(block[0], 0.5f);  // 0.5 × 0.5, doubled by the tap
        EXPECT_EQ(tapA->log, "prepare(48000,2,4096) ");
        mixer.mix(block.data(), 480, mixB);
        EXPECT_FLOAT_EQ(block[0], 0.125f);  // the next block: B alone
        EXPECT_EQ(tapA->log, "prepare(48000,2,4096) unprepare ");
        EXPECT_EQ(tapA->processed, 480);

        mixer.mix(block.data(), 480, mixA);
        mixer.seek(sec(1));  // starts the taps again
        EXPECT_EQ(tapA->log, "prepare(48000,2,4096) unprepare prepare(48000,2,4096) unprepare prepare(48000,2,4096) ");
        // Large blocks reach the tap cut to its maximum.
        std::vector<float> big(2 * 10000);
        mixer.mix(big.data(), 10000, mixA);
        EXPECT_FLOAT_EQ(big[2 * 9999], 0.5f);
    }
    EXPECT_TRUE(tapA->log.ends_with("prepare(48000,2,4096) unprepare "));  // the mixer's end unprepares
}

TEST_F(AudioMixerTest, LanesOfOneSoundStreamShareItsDecodeAndMixAsSeparateReadersWould)
{
    // AAC, whose frames overlap; without noise substitution, whose noise
    // depends on how much the decoder decoded before. Lanes 1 and 2 play the stream
    // 0.5 s apart at different volumes; lane 3 a stretch 3.7 s away from lane 1.
    const auto path = *dir / "tones.m4a";
    fixtures::runFfmpeg({"-f", "lavfi", "-i",
                         "aevalsrc=0.4*sin(2*PI*300*t)+0.2*sin(2*PI*2317*t)*sin(2*PI*3*t)|0.3*sin(2*PI*500*t):s=48000:d=6",
                         "-c:a", "aac", "-aac_pns", "0", "-b:a", "128k", path.string()});
    const auto aac = Asset::open(path);
    const StreamInfo& stream = aac->audioStreams().at(0);
    struct Lane {
        double from, length, at;
        float volume;
    };
    const std::vector<Lane> lanes{{0.3, 1.9, 0.0, 1.0f}, {0.8, 1.5, 0.2, 0.5f}, {4.0, 0.7, 0.4, 0.25f}};

    auto c = std::make_shared<Composition>();
    auto mix = std::make_shared<AudioMix>();
    for (const Lane& lane : lanes) {
        const std::int32_t id = c->addTrack(Kind::sound);
        c->insertTimeRange(id, aac, stream, {sec(lane.from), sec(lane.length)}, sec(lane.at));
        mix->parameters(id).setVolume(lane.volume, sec(0));
    }
    constexpr int frames = 2 * 48000;
    std::vector<float> expected(std::size_t(frames) * 2, 0.0f);
    for (const Lane& lane : lanes) {
        SampleReader own(*aac, stream, 48000, 2);
        const auto sound = own.read(TimeRange(sec(lane.from), sec(lane.length)));
        const auto offset = std::size_t(std::lround(lane.at * 48000)) * 2;
        for (std::size_t i = 0; i < sound.size() && offset + i < expected.size(); ++i)
            expected[offset + i] += sound[i] * lane.volume;
    }

    AudioMixer mixer(c);
    const auto out = mixAll(mixer, frames, mix, 1111);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], expected[i]) << i;
    // One open file for all three lanes.
    EXPECT_EQ(openCount(path), 1);
    EXPECT_FALSE(mixer.takeError().has_value());

    // A jump back into what was decoded plays the same again.
    mixer.seek(sec(0.75));
    const auto again = mixAll(mixer, 4800, mix);
    for (std::size_t i = 0; i < again.size(); ++i) ASSERT_EQ(again[i], expected[36000 * 2 + i]) << i;
}

TEST_F(AudioMixerTest, ASoundSourceDecodesOnceForLanesCloseTogether)
{
    // Blocks of 1000 frames read as lanes at these source positions (in
    // frames) would read them: how many readers decode the stream at the end.
    const auto longer = Asset::open(fixtures::makeStereoSine(*dir / "long.wav", 9.0, 48000, {"-c:a", "pcm_f32le"}));
    struct Case {
        std::vector<std::int64_t> lanes;
        std::size_t readers;
    };
    const std::vector<Case> cases{
        {{0, 24000}, 1},            // 0.5 s apart
        {{24000, 0}, 1},            // the later lane first: the earlier one's reader reads on for both
        {{0, 144000}, 1},           // 3 s apart: just within the window
        {{0, 200000}, 2},           // 4.2 s apart: past it
        {{0, 0, 96000, 96000}, 1},  // two pairs 2 s apart
        {{0, 24000, 250000}, 2},
    };
    for (const Case& c : cases) {
        SoundSource source(longer, longer->audioStreams().at(0), 48000, 2);
        std::vector<float> block(2 * 1000);
        for (std::uint64_t b = 1; b <= 60; ++b)
            for (const std::int64_t lane : c.lanes) source.read(lane + std::int64_t(b) * 1000, block.data(), 1000, b);
        EXPECT_EQ(source.readersIn(60), c.readers) << c.lanes.size() << " lanes from " << c.lanes.back();
    }
}
