#include "Platform/media/MediaError.h"
#include "Platform/media/SampleReader.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::Asset;
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
