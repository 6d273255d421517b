// The pool behind decoded frames and the compositor's output: a buffer is
// reused only once its picture is gone, wherever that happens, and keeps the
// padded layout the converter writes into.

#include "Platform/media/BgraBufferPool.h"
#include "Platform/media/BgraConversion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

using platform::BgraBufferPool;

namespace {

constexpr std::size_t kRoomy = 64u << 20;

} // namespace

TEST(BgraBufferPool, ReusesOnlyReleasedBuffersOfTheSameSize)
{
    BgraBufferPool pool(kRoomy);
    std::vector<QImage> held;
    std::set<const uchar*> buffers;
    for (int i = 0; i < 4; ++i) {
        held.push_back(pool.image(640, 360, QImage::Format_ARGB32_Premultiplied));
        ASSERT_FALSE(held.back().isNull());
        buffers.insert(held.back().constBits());
    }
    EXPECT_EQ(buffers.size(), 4u) << "a buffer in use was handed out again";

    // A copy keeps the buffer in use; the last copy gives it back.
    const uchar* second = held[1].constBits();
    QImage copy = held[1];
    held[1] = QImage();
    EXPECT_EQ(pool.idleCount(), 0u);
    QImage other = pool.image(640, 360, QImage::Format_ARGB32_Premultiplied);
    EXPECT_NE(other.constBits(), second);
    copy = QImage();
    EXPECT_EQ(pool.idleCount(), 1u);

    // Another size never gets it; the same size does, in any 32-bit format.
    const QImage smaller = pool.image(320, 180, QImage::Format_ARGB32_Premultiplied);
    EXPECT_NE(smaller.constBits(), second);
    const QImage again = pool.image(640, 360, QImage::Format_RGB32);
    EXPECT_EQ(again.constBits(), second);
    EXPECT_EQ(again.format(), QImage::Format_RGB32);
    EXPECT_EQ(pool.idleCount(), 0u);
}

TEST(BgraBufferPool, KeepsNoMoreIdleMemoryThanItsLimitAndOutlivesNothing)
{
    const std::size_t bytes = platform::bgraLayout(100, 100).bytes;
    BgraBufferPool pool(2 * bytes);
    {
        std::vector<QImage> images;
        for (int i = 0; i < 5; ++i) images.push_back(pool.image(100, 100, QImage::Format_RGB32));
    }
    EXPECT_EQ(pool.idleCount(), 2u);

    // Pictures may outlive their pool (ASan reports a leak or a bad free otherwise).
    QImage survivor;
    {
        BgraBufferPool shortLived(kRoomy);
        survivor = shortLived.image(10, 10, QImage::Format_RGB32);
        survivor.fill(qRgb(4, 5, 6));
    }
    EXPECT_EQ(survivor.pixel(9, 9), qRgb(4, 5, 6));
}

TEST(BgraBufferPool, BuffersHaveThePaddedLayoutWhetherNewOrReused)
{
    BgraBufferPool pool(kRoomy);
    // Widths whose rows libswscale overruns unless padded; released and
    // asked again so that reused buffers are checked too.
    for (int round = 0; round < 2; ++round) {
        for (int width : {1, 34, 360, 1918}) {
            const platform::BgraLayout layout = platform::bgraLayout(width, 7);
            QImage image = pool.image(width, 7, QImage::Format_ARGB32_Premultiplied);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.bytesPerLine(), layout.bytesPerLine) << width;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.constBits()) % 64, 0u) << width;
            // The whole padded buffer, the tail past the last row included,
            // is the image's to write (ASan stops a short one here).
            uchar* bits = image.bits();
            EXPECT_EQ(bits, image.constBits()) << "written where it is, not in a detached copy";
            std::memset(bits, 0xab, layout.bytes);
        }
    }
    EXPECT_TRUE(pool.image(0, 7, QImage::Format_RGB32).isNull());
}

TEST(BgraBufferPool, PicturesReleasedOnOtherThreadsComeBackWhole)
{
    BgraBufferPool pool(kRoomy);
    // Each thread marks the pictures it holds and checks the mark is still
    // there when it lets go: a buffer handed to two holders at once, or a
    // pool list changed by two threads at once, shows here.
    std::atomic<int> spoiled = 0;
    auto work = [&](std::uint32_t mark) {
        for (int i = 0; i < 300; ++i) {
            QImage a = pool.image(64, 32, QImage::Format_RGB32);
            QImage b = pool.image(64, 32, QImage::Format_RGB32);
            if (a.isNull() || b.isNull()) {
                ++spoiled;
                return;
            }
            a.fill(mark);
            b.fill(mark + 1);
            std::this_thread::yield();
            if (a.pixel(63, 31) != mark || b.pixel(0, 0) != mark + 1) ++spoiled;
        }
    };
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < 4; ++t) threads.emplace_back(work, 0xff000000u | (t * 16));
    for (auto& t : threads) t.join();
    EXPECT_EQ(spoiled.load(), 0);

    // Given back by a thread that is gone by the time it is reused.
    QImage held = pool.image(64, 32, QImage::Format_RGB32);
    const uchar* buffer = held.constBits();
    std::thread([picture = std::move(held)]() mutable { picture = QImage(); }).join();
    EXPECT_EQ(pool.image(64, 32, QImage::Format_RGB32).constBits(), buffer);
}
