#pragma once

// Buffers for BGRA pictures made one after another at the same size (decoded
// video frames, the compositor's output): a released picture's buffer serves
// the next one instead of fresh memory, whose first writes fault in page by
// page.

#include <QImage>

#include <cstddef>
#include <memory>

namespace platform {

class BgraBufferPool {
public:
    // Keeps at most `idleBytes` of released buffers; the oldest go first.
    explicit BgraBufferPool(std::size_t idleBytes);
    ~BgraBufferPool();
    BgraBufferPool(const BgraBufferPool&) = delete;
    BgraBufferPool& operator=(const BgraBufferPool&) = delete;

    // As bgraImage(): laid out as bgraLayout() says, 64-byte aligned. Its
    // pixels are not set and may hold an earlier picture's. The buffer
    // comes back to the pool with the image's last copy, on whatever thread
    // that is; after the pool is gone it is freed instead.
    QImage image(int width, int height, QImage::Format format);

    // The buffers released and waiting for reuse.
    std::size_t idleCount() const;

    // The one the media layer and the compositor draw their pictures in.
    static BgraBufferPool& shared();

private:
    struct State;
    struct Lease;
    static void giveBack(void* lease);  // the images' cleanup

    std::shared_ptr<State> state_;
};

} // namespace platform
