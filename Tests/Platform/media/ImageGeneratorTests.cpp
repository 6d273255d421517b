#include "Platform/media/ImageGenerator.h"

#include "support/ImageCompare.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::Asset;
using platform::ImageGenerator;
using platform::MediaTime;

namespace {

int numberOf(const QImage& image)
{
    return fixtures::frameNumberOf([&](int x, int y) { return image.pixel(x, y); }, image.width(), image.height());
}

using fixtures::meanDifference;

} // namespace

TEST(ImageGenerator, FitsWithinTheMaximumAndNeverEnlarges)
{
    fixtures::TempDir dir;
    // Key frames every 30 frames: at 0, 1 and 2 seconds.
    const auto movie = Asset::open(fixtures::makeNumberedVideo(dir / "numbered.mov", fixtures::NumberedVideo(75)));
    ImageGenerator generator(*movie, movie->videoStreams().at(0));
    generator.setMaximumSize(QSize(240, 240));
    for (int k : {0, 17, 45, 59}) {
        MediaTime actual;
        const QImage image = generator.imageAt(MediaTime(k, 30), &actual);
        EXPECT_EQ(image.size(), QSize(240, 180));
        EXPECT_EQ(numberOf(image), k);
        EXPECT_EQ(actual, MediaTime(k, 30));
    }
    // With a tolerance, any frame within it will do, told truly.
    generator.setTolerance(MediaTime(1, 4), MediaTime(1, 4));
    for (double t : {1.1, 0.2, 1.9, 2.2, 0.9}) {
        MediaTime actual;
        const QImage image = generator.imageAt(MediaTime::fromSeconds(t), &actual);
        EXPECT_LE(std::abs(actual.seconds() - t), 0.25 + 1.0 / 30) << t;
        EXPECT_EQ(numberOf(image), std::lround(actual.seconds() * 30)) << t;
    }
    generator.setMaximumSize(QSize(1000, 1000));
    EXPECT_EQ(generator.imageAt(MediaTime(1, 1)).size(), QSize(320, 240));
    generator.setMaximumSize(QSize());
    EXPECT_EQ(generator.imageAt(MediaTime(1, 1)).size(), QSize(320, 240));

    // Pixels twice as wide as high: the displayed picture is 640 × 240.
    const auto wide = Asset::open(fixtures::makeNumberedVideo(dir / "wide.mov", fixtures::NumberedVideo(5, {"-aspect", "8:3"})));
    ImageGenerator stretched(*wide, wide->videoStreams().at(0));
    stretched.setMaximumSize(QSize(240, 240));
    EXPECT_EQ(stretched.imageAt(MediaTime::zero()).size(), QSize(240, 90));
    // Turned a quarter, the stretched width stands upright: 240 × 640.
    const auto tall = dir / "tall.mov";
    fixtures::runFfmpeg(
        {"-i", (dir / "wide.mov").string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", tall.string()});
    const auto turned = Asset::open(tall);
    ImageGenerator upright(*turned, turned->videoStreams().at(0));
    upright.setMaximumSize(QSize(240, 240));
    EXPECT_EQ(upright.imageAt(MediaTime::zero()).size(), QSize(90, 240));

    const auto still = Asset::open(fixtures::makePicture(dir / "still.png", 640, 480));
    ImageGenerator picture(*still, *still->image());
    picture.setMaximumSize(QSize(240, 240));
    EXPECT_EQ(picture.imageAt(MediaTime(7, 1)).size(), QSize(240, 180));
}

TEST(ImageGenerator, TurnsThePictureAsTheFileAsks)
{
    fixtures::TempDir dir;
    const auto plain = fixtures::makeNumberedVideo(dir / "plain.mov", fixtures::NumberedVideo(45));
    const auto turned = dir / "turned.mov";
    fixtures::runFfmpeg({"-i", plain.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", turned.string()});
    // The ffmpeg program turns the picture by itself; it is the reference.
    const auto reference = dir / "reference.png";
    fixtures::runFfmpeg({"-ss", "1.2", "-i", turned.string(), "-frames:v", "1", "-vf", "scale=180:240",
                         reference.string()});

    // This ffmpeg writes "rotate=90" as a quarter turn counterclockwise.
    const auto asset = Asset::open(turned);
    const auto& stream = asset->videoStreams().at(0);
    EXPECT_EQ(stream.rotation, 270);
    EXPECT_EQ(stream.naturalSize, QSize(320, 240));
    EXPECT_EQ(stream.displaySize(), QSizeF(240, 320));
    ImageGenerator generator(*asset, stream);
    generator.setMaximumSize(QSize(240, 240));
    const QImage image = generator.imageAt(MediaTime(6, 5));
    ASSERT_EQ(image.size(), QSize(180, 240));
    const QImage expected(QString::fromStdString(reference.string()));
    ASSERT_EQ(expected.size(), QSize(180, 240));
    EXPECT_LT(meanDifference(image, expected), 6.0);
    // Turned the other way it would differ in most of the picture.
    EXPECT_GT(meanDifference(image.transformed(QTransform().rotate(180)), expected), 20.0);
}
