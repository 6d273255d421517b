#include "Platform/media/FrameCache.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/MediaError.h"

#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using platform::Asset;
using platform::FrameCache;
using platform::FrameReader;
using platform::MediaTime;
using platform::VideoFrame;

namespace {

int numberOf(const QImage& image)
{
    return fixtures::frameNumberOf([&](int x, int y) { return image.pixel(x, y); }, image.width(), image.height());
}

// The colour in the lower half, where the fixtures paint a solid one.
QRgb lowerColour(const QImage& image)
{
    return image.pixel(image.width() / 2, image.height() * 3 / 4);
}

void expectColourNear(QRgb actual, unsigned rgb, int tolerance = 6)
{
    EXPECT_NEAR(qRed(actual), int(rgb >> 16 & 0xff), tolerance);
    EXPECT_NEAR(qGreen(actual), int(rgb >> 8 & 0xff), tolerance);
    EXPECT_NEAR(qBlue(actual), int(rgb & 0xff), tolerance);
    EXPECT_EQ(qAlpha(actual), 255);
}

class FrameReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new fixtures::TempDir;
        // Reordered frames (B-frames) and a key frame every second.
        movie = Asset::open(fixtures::makeNumberedVideo(*dir / "numbered.mov", fixtures::NumberedVideo(90)));
    }
    static void TearDownTestSuite()
    {
        movie.reset();
        delete dir;
    }

    static inline fixtures::TempDir* dir = nullptr;
    static inline std::shared_ptr<const Asset> movie;
};

} // namespace

TEST_F(FrameReaderTest, ReadsEveryFrameInOrder)
{
    FrameReader reader(*movie, movie->videoStreams().at(0));
    for (int k = 0; k < 90; ++k) {
        const VideoFrame frame = reader.frameAt(MediaTime(k, 30));
        ASSERT_EQ(frame.image.format(), QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(frame.image.size(), QSize(320, 240));
        EXPECT_EQ(numberOf(frame.image), k);
        EXPECT_EQ(frame.time, MediaTime(k, 30));
        EXPECT_EQ(frame.duration, MediaTime(1, 30));
        // Halfway through the frame's time it still shows.
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(2 * k + 1, 60)).image), k);
    }
}

TEST_F(FrameReaderTest, RandomSeeksAreExact)
{
    FrameReader reader(*movie, movie->videoStreams().at(0));
    std::vector<int> order(90);
    for (int k = 0; k < 90; ++k) order[k] = k;
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    for (int k : order) {
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(k, 30)).image), k) << "at the start of frame " << k;
        // The last tick before the next frame.
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(2000 * (k + 1) - 1, 60000)).image), k) << "at the end of " << k;
    }
    // Outside the stream: the first and the last frame.
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(-5, 1)).image), 0);
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(100, 1)).image), 89);
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(3, 1)).image), 89);
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(1, 1)).image), 30);
    EXPECT_THROW(reader.frameAt(MediaTime::invalid()), platform::MediaError);
}

TEST_F(FrameReaderTest, ConvertsWithEachStreamsColourMatrix)
{
    for (const char* matrix : {"bt709", "bt601"}) {
        fixtures::NumberedVideo video(3);
        video.matrix = matrix;
        video.rgb = 0xC8285A;
        const auto asset = Asset::open(fixtures::makeNumberedVideo(*dir / (std::string(matrix) + ".mov"), video));
        FrameReader reader(*asset, asset->videoStreams().at(0));
        SCOPED_TRACE(matrix);
        expectColourNear(lowerColour(reader.frameAt(MediaTime::zero()).image), 0xC8285A);
    }
    // JPEG stores full-range YUV.
    const auto still = Asset::open(fixtures::makePicture(*dir / "still.jpg", 64, 48, 0x2080E0));
    FrameReader reader(*still, *still->image());
    expectColourNear(lowerColour(reader.frameAt(MediaTime(5, 1)).image), 0x2080E0);
}

TEST_F(FrameReaderTest, StillPictureShowsAtEveryTimeAndIsPremultiplied)
{
    const auto file = *dir / "translucent.png";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "color=c=0xFF000080:s=40x30,format=rgba", "-frames:v", "1", file.string()});
    const auto asset = Asset::open(file);
    FrameReader reader(*asset, *asset->image());
    const VideoFrame a = reader.frameAt(MediaTime::zero());
    const VideoFrame b = reader.frameAt(MediaTime(1000, 1));
    EXPECT_EQ(a.image.size(), QSize(40, 30));
    EXPECT_EQ(a.image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(a.duration.isIndefinite());
    EXPECT_EQ(a.image, b.image);
    const auto* pixel = reinterpret_cast<const QRgb*>(a.image.constBits());
    EXPECT_EQ(qAlpha(*pixel), 0x80);
    EXPECT_EQ(qRed(*pixel), 0x80);  // premultiplied
    EXPECT_EQ(qGreen(*pixel), 0);
}

TEST_F(FrameReaderTest, FragmentedAndTruncatedMoviesReadToTheirLastWholeFrame)
{
    const auto whole = fixtures::makeNumberedVideo(
        *dir / "frag.mov",
        fixtures::NumberedVideo(150, {"-bf", "0", "-movflags", "frag_keyframe+empty_moov+default_base_moof"}));
    const auto cut = *dir / "cut.mov";
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) - 200);

    for (const auto& file : {whole, cut}) {
        const auto asset = Asset::open(file);
        const auto& stream = asset->videoStreams().at(0);
        const int frames = static_cast<int>(std::lround(stream.timeRange.duration.seconds() * 30));
        SCOPED_TRACE(file.filename().string() + ", " + std::to_string(frames) + " frames");
        ASSERT_GT(frames, 120);
        FrameReader reader(*asset, stream);
        for (int k : {frames - 1, 3, 100, 31, frames - 2, 0, 59, 60})
            EXPECT_EQ(numberOf(reader.frameAt(MediaTime(k, 30)).image), k);
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(10, 1)).image), frames - 1);
    }
}

TEST_F(FrameReaderTest, SharedCacheServesOtherReadersWithinItsBound)
{
    const std::size_t frameBytes = 320 * 240 * 4;
    auto cache = std::make_shared<FrameCache>(10 * frameBytes);
    FrameReader first(*movie, movie->videoStreams().at(0), {0, cache});
    std::vector<QImage> images;
    for (int k = 40; k < 45; ++k) images.push_back(first.frameAt(MediaTime(k, 30)).image);

    // A second reader gets the very same pictures back without decoding.
    FrameReader second(*movie, movie->videoStreams().at(0), {0, cache});
    for (int k = 40; k < 45; ++k) {
        const VideoFrame frame = second.frameAt(MediaTime(2 * k + 1, 60));
        EXPECT_EQ(frame.image.cacheKey(), images[k - 40].cacheKey());
        EXPECT_EQ(frame.time, MediaTime(k, 30));
    }
    for (int k = 0; k < 30; ++k) first.frameAt(MediaTime(k, 30));
    EXPECT_LE(cache->bytes(), cache->maxBytes());
    EXPECT_GT(cache->bytes(), 5 * frameBytes);
}

TEST(FrameCache, DropsTheLeastRecentlyUsedFirst)
{
    auto frame = [](int w) { return VideoFrame{QImage(w, 10, QImage::Format_ARGB32_Premultiplied), {}, {}}; };
    const std::size_t one = 100 * 10 * 4;
    FrameCache cache(3 * one + 3 * 512);
    cache.insert("a", 0, 0, 10, frame(100));
    cache.insert("a", 0, 10, 20, frame(100));
    cache.insert("b", 0, 0, 10, frame(100));
    // Spans are half open and keyed by file and stream.
    EXPECT_TRUE(cache.find("a", 0, 9).has_value());
    EXPECT_TRUE(cache.find("a", 0, 10).has_value());
    EXPECT_FALSE(cache.find("a", 0, 20).has_value());
    EXPECT_FALSE(cache.find("a", 1, 5).has_value());
    EXPECT_FALSE(cache.find("c", 0, 5).has_value());

    // Least recent now: "b"[0, 10), then "a"[0, 10), then "a"[10, 20).
    cache.find("a", 0, 5);
    cache.insert("b", 0, 10, 20, frame(100));
    EXPECT_FALSE(cache.find("b", 0, 5).has_value());
    EXPECT_TRUE(cache.find("a", 0, 5).has_value());
    EXPECT_TRUE(cache.find("a", 0, 15).has_value());
    EXPECT_TRUE(cache.find("b", 0, 15).has_value());
    EXPECT_LE(cache.bytes(), cache.maxBytes());

    // A frame larger than the whole cache is not kept, and evicts nothing.
    cache.insert("c", 0, 0, 10, frame(1000));
    EXPECT_FALSE(cache.find("c", 0, 5).has_value());
    EXPECT_TRUE(cache.find("a", 0, 5).has_value());
    EXPECT_TRUE(cache.find("a", 0, 15).has_value());
    EXPECT_TRUE(cache.find("b", 0, 15).has_value());

    cache.setMaxBytes(0);
    EXPECT_EQ(cache.bytes(), 0u);
    EXPECT_FALSE(cache.find("a", 0, 5).has_value());
}
