#include "Platform/media/FrameCache.h"
#include "Platform/media/FrameReader.h"
#include "Platform/media/MediaError.h"

#include "support/ImageCompare.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

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
void expectLowerColour(const QImage& image, unsigned rgb)
{
    const QRgb actual = image.pixel(image.width() / 2, image.height() * 3 / 4);
    EXPECT_NEAR(qRed(actual), int(rgb >> 16 & 0xff), 6);
    EXPECT_NEAR(qGreen(actual), int(rgb >> 8 & 0xff), 6);
    EXPECT_NEAR(qBlue(actual), int(rgb & 0xff), 6);
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

TEST_F(FrameReaderTest, ReadsEveryFrameInOrderAndAfterRandomSeeks)
{
    FrameReader reader(*movie, movie->videoStreams().at(0));
    for (int k = 0; k < 90; ++k) {
        const VideoFrame frame = reader.frameAt(MediaTime(k, 30));
        ASSERT_EQ(frame.image.format(), QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(frame.image.size(), QSize(320, 240));
        EXPECT_EQ(numberOf(frame.image), k);
        EXPECT_EQ(frame.time, MediaTime(k, 30));
        EXPECT_EQ(frame.duration, MediaTime(1, 30));
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(2 * k + 1, 60)).image), k);  // halfway through it
    }
    std::vector<int> order(90);
    for (int k = 0; k < 90; ++k) order[std::size_t(k)] = k;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int k : order) {
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(k, 30)).image), k) << "at the start of frame " << k;
        EXPECT_EQ(numberOf(reader.frameAt(MediaTime(2000 * (k + 1) - 1, 60000)).image), k) << "at the end of " << k;
    }
    // Outside the stream: the first and the last frame.
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(-5, 1)).image), 0);
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(100, 1)).image), 89);
    EXPECT_EQ(numberOf(reader.frameAt(MediaTime(3, 1)).image), 89);
    EXPECT_THROW(reader.frameAt(MediaTime::invalid()), platform::MediaError);
}

TEST_F(FrameReaderTest, ConvertsWithEachStreamsColourMatrixAndPremultipliesStills)
{
    for (const char* matrix : {"bt709", "bt601"}) {
        SCOPED_TRACE(matrix);
        fixtures::NumberedVideo video(3);
        video.matrix = matrix;
        const auto asset = Asset::open(fixtures::makeNumberedVideo(*dir / (std::string(matrix) + ".mov"), video));
        expectLowerColour(FrameReader(*asset, asset->videoStreams().at(0)).frameAt(MediaTime::zero()).image, video.rgb);
    }
    // JPEG stores full-range YUV.
    const auto jpeg = Asset::open(fixtures::makePicture(*dir / "still.jpg", 64, 48, 0x2080E0));
    expectLowerColour(FrameReader(*jpeg, *jpeg->image()).frameAt(MediaTime(5, 1)).image, 0x2080E0);

    const auto file = *dir / "translucent.png";
    fixtures::runFfmpeg({"-f", "lavfi", "-i", "color=c=0xFF000080:s=40x30,format=rgba", "-frames:v", "1", file.string()});
    const auto still = Asset::open(file);
    FrameReader reader(*still, *still->image());
    const VideoFrame a = reader.frameAt(MediaTime::zero());
    EXPECT_EQ(a.image.size(), QSize(40, 30));
    EXPECT_TRUE(a.duration.isIndefinite());
    EXPECT_EQ(a.image, reader.frameAt(MediaTime(1000, 1)).image);
    const QRgb pixel = *reinterpret_cast<const QRgb*>(a.image.constBits());
    EXPECT_EQ(pixel, qRgba(0x80, 0, 0, 0x80));  // premultiplied
}

TEST_F(FrameReaderTest, UntaggedPicturesUseTheMatrixTheirSizeImplies)
{
    // No colour tags: HD (720 lines and more) is BT.709 by convention,
    // smaller pictures BT.601.
    const unsigned rgb = 0xC8285A;
    for (const auto& [size, matrix] : {std::pair<std::string, std::string>{"1280x720", "bt709"}, {"720x576", "bt601"},
                                       {"1920x1080", "bt709"}, {"640x480", "bt601"}}) {
        SCOPED_TRACE(size);
        const auto file = *dir / ("untagged-" + size + ".mp4");
        fixtures::runFfmpeg({"-f", "lavfi", "-i", "color=c=0xC8285A:s=" + size + ":r=30,format=rgb24", "-frames:v", "1",
                             "-vf", "scale=out_color_matrix=" + matrix + ":out_range=tv,format=yuv420p", "-c:v",
                             "libx264", "-crf", "12", file.string()});
        ASSERT_EQ(fixtures::runFfprobe({"-select_streams", "v", "-show_entries", "stream=color_space", "-of", "csv=p=0"},
                                       file),
                  "unknown\n");
        const auto asset = Asset::open(file);
        expectLowerColour(FrameReader(*asset, asset->videoStreams().at(0)).frameAt(MediaTime::zero()).image, rgb);
    }
}

TEST_F(FrameReaderTest, FragmentedAndTruncatedMoviesEndWithTheirLastWholeFrame)
{
    const auto whole = fixtures::makeNumberedVideo(
        *dir / "frag.mov",
        fixtures::NumberedVideo(150, {"-bf", "0", "-movflags", "frag_keyframe+empty_moov+default_base_moof"}));
    // Cut through the middle of frame 135, inside the last fragment, as a
    // killed recorder leaves it; ffprobe tells where that frame lies.
    std::istringstream packets(
        fixtures::runFfprobe({"-select_streams", "v", "-show_entries", "packet=pos,size", "-of", "csv=p=0"}, whole));
    std::string line;
    for (int i = 0; i <= 135; ++i) std::getline(packets, line);
    const auto comma = line.find(',');  // ffprobe prints size, then pos
    const auto cut = *dir / "cut.mov";
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::stoull(line.substr(comma + 1)) + std::stoull(line.substr(0, comma)) / 2);

    for (const auto& [file, frames] : {std::pair{whole, 150}, {cut, 135}}) {
        SCOPED_TRACE(file.filename().string());
        const auto asset = Asset::open(file);
        const auto& stream = asset->videoStreams().at(0);
        EXPECT_EQ(stream.timeRange.start, MediaTime::zero());
        EXPECT_EQ(stream.timeRange.duration, MediaTime(frames, 30));
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
    FrameReader first(*movie, movie->videoStreams().at(0), {0, cache, {}});
    std::vector<QImage> images;
    for (int k = 40; k < 45; ++k) images.push_back(first.frameAt(MediaTime(k, 30)).image);
    // A second reader gets the very same pictures back without decoding.
    FrameReader second(*movie, movie->videoStreams().at(0), {0, cache, {}});
    for (int k = 40; k < 45; ++k) {
        const VideoFrame frame = second.frameAt(MediaTime(2 * k + 1, 60));
        EXPECT_EQ(frame.image.cacheKey(), images[std::size_t(k - 40)].cacheKey());
        EXPECT_EQ(frame.time, MediaTime(k, 30));
    }
    for (int k = 0; k < 30; ++k) first.frameAt(MediaTime(k, 30));
    EXPECT_LE(cache->bytes(), cache->maxBytes());
    EXPECT_GT(cache->bytes(), 5 * frameBytes);
}

// A picture drawn small is decoded at the largest halving that still covers
// what is drawn (never below it, never above the picture's own size), is the
// right frame, and sits in the shared cache apart from the full-size one: a
// box that grows again gets full pictures at once, not the small ones.
TEST_F(FrameReaderTest, PicturesDrawnSmallComeHalvedAndAreCachedApart)
{
    using platform::DrawnSize;
    struct Case {
        DrawnSize drawn;
        QSize decoded;
    } cases[] = {
        {{}, {320, 240}},
        {{{400, 400}, false}, {320, 240}},  // larger than the picture
        {{{161, 200}, false}, {320, 240}},  // 161 wide does not fit in 160
        {{{160, 200}, false}, {160, 120}},
        {{{150, 100}, false}, {160, 120}},  // fits: 134 × 100
        {{{150, 100}, true}, {160, 120}},   // covers: 150 × 113
        {{{100, 30}, true}, {160, 120}},    // covers: 100 × 75
        {{{40, 30}, false}, {40, 30}},
        {{{1, 1}, false}, {20, 15}},        // at most four halvings
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.drawn.box.width());
        FrameReader reader(*movie, movie->videoStreams().at(0));
        const QImage image = reader.frameAt(MediaTime(17, 30), c.drawn).image;
        EXPECT_EQ(image.size(), c.decoded) << c.drawn.cover;
        if (image.width() >= 80) EXPECT_EQ(numberOf(image), 17);
        // The frame after it, read on at the same size.
        EXPECT_EQ(reader.frameAt(MediaTime(18, 30), c.drawn).image.size(), c.decoded);
    }

    auto cache = std::make_shared<FrameCache>(8u << 20);
    FrameReader small(*movie, movie->videoStreams().at(0), {0, cache});
    FrameReader full(*movie, movie->videoStreams().at(0), {0, cache});
    const DrawnSize box{{150, 100}, false};
    const QImage halved = small.frameAt(MediaTime(20, 30), box).image;
    ASSERT_EQ(halved.size(), QSize(160, 120));
    EXPECT_EQ(full.frameAt(MediaTime(20, 30)).image.size(), QSize(320, 240));
    EXPECT_EQ(full.frameAt(MediaTime(20, 30), box).image.cacheKey(), halved.cacheKey());
    // The reader that holds the small picture converts the full one when asked.
    EXPECT_EQ(small.frameAt(MediaTime(20, 30)).image.size(), QSize(320, 240));
}

// A turned or mirrored stream: every frame comes as displayed, the way the
// ffmpeg program shows it by itself, and the cache holds it so.
TEST_F(FrameReaderTest, FramesComeTurnedAndMirroredAsTheFileAsks)
{
    const auto plain = *dir / "numbered.mov";
    auto turned = [&](int degrees) {
        return [&plain, degrees](const std::filesystem::path& to) {
            fixtures::runFfmpeg({"-i", plain.string(), "-c", "copy", "-metadata:s:v:0",
                                 "rotate=" + std::to_string(degrees), to.string()});
        };
    };
    auto shown = [&](int clockwise, bool mirrored) {
        return [&plain, clockwise, mirrored](const std::filesystem::path& to) {
            fixtures::copyShownAs(plain, to, clockwise, mirrored);
        };
    };
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path&)> make;
        int rotation;  // clockwise
        bool mirrored;
    };
    // This ffmpeg writes "rotate=90" as a quarter turn counterclockwise.
    const std::vector<Case> cases{
        {"rotate90.mov", turned(90), 270, false},
        {"rotate180.mov", turned(180), 180, false},
        {"rotate270.mov", turned(270), 90, false},  // a phone held upright
        {"mirrored.mov", shown(0, true), 0, true},
        {"mirrored90.mov", shown(90, true), 90, true},
        {"mirrored180.mov", shown(180, true), 180, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = *dir / c.name;
        c.make(file);
        const auto asset = Asset::open(file);
        const auto& stream = asset->videoStreams().at(0);
        EXPECT_EQ(stream.rotation, c.rotation);
        EXPECT_EQ(stream.mirrored, c.mirrored);
        const QSize upright = c.rotation % 180 ? QSize(240, 320) : QSize(320, 240);
        EXPECT_EQ(stream.displaySize().toSize(), upright);

        auto cache = std::make_shared<FrameCache>(8u << 20);
        FrameReader reader(*asset, stream, {0, cache, {}});
        FrameReader later(*asset, stream, {0, cache, {}});
        for (int k : {0, 37}) {
            const auto reference = *dir / (c.name + std::to_string(k) + ".png");
            fixtures::runFfmpeg({"-i", file.string(), "-vf", "select=eq(n\\," + std::to_string(k) + ")",
                                 "-frames:v", "1", reference.string()});
            const QImage expected(QString::fromStdString(reference.string()));
            ASSERT_EQ(expected.size(), upright);
            const QImage image = reader.frameAt(MediaTime(k, 30)).image;
            ASSERT_EQ(image.size(), upright);
            EXPECT_GT(fixtures::psnr(image, expected), 35.0) << k;
            // From the cache, without turning again.
            EXPECT_EQ(later.frameAt(MediaTime(k, 30)).image.cacheKey(), image.cacheKey());
            // Drawn small, it is halved as it shows: the upright size counts.
            const QImage small = reader.frameAt(MediaTime(k, 30), {upright / 2, false}).image;
            ASSERT_EQ(small.size(), upright / 2);
            EXPECT_GT(fixtures::psnr(small, expected.scaled(upright / 2, Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation)),
                      30.0)
                << k;
        }
    }
}
