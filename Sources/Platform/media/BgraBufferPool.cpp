#include "Platform/media/BgraBufferPool.h"

#include "Platform/media/BgraConversion.h"

#include <cstdlib>
#include <deque>
#include <mutex>

namespace platform {

namespace {


// Room for a few 1080p pictures: what playback keeps in flight between
// the decoders, the compositor and the screen.
constexpr std::size_t kSharedIdleBytes = 96u << 20;

struct Buffer {
    void* data = nullptr;
    std::size_t bytes = 0;
};

} // namespace

struct BgraBufferPool::State {
    explicit State(std::size_t limit) : limit(limit) {}
    ~State()
    {
        for (const Buffer& b : idle) std::free(b.data);
    }

    void release(Buffer buffer)
    {
        std::lock_guard lock(mutex);
        idle.push_front(buffer);
        idleBytes += buffer.bytes;
        while (idleBytes > limit && !idle.empty()) {
            idleBytes -= idle.back().bytes;
            std::free(idle.back().data);
            idle.pop_back();
        }
    }

    void* take(std::size_t bytes)
    {
        std::lock_guard lock(mutex);
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if (it->bytes != bytes) continue;
            void* data = it->data;
            idleBytes -= bytes;
            idle.erase(it);
            return data;
        }
        return nullptr;
    }

    const std::size_t limit;
    mutable std::mutex mutex;
    std::deque<Buffer> idle;  // the latest released first: its pages are the likeliest still cached
    std::size_t idleBytes = 0;
};

// What an image's cleanup needs: the buffer, and the pool if it still exists.
struct BgraBufferPool::Lease {
    std::weak_ptr<State> pool;
    Buffer buffer;
};

void BgraBufferPool::giveBack(void* info)
{
    auto* lease = static_cast<Lease*>(info);
    if (auto pool = lease->pool.lock())
        pool->release(lease->buffer);
    else
        std::free(lease->buffer.data);
    delete lease;
}

BgraBufferPool::BgraBufferPool(std::size_t idleBytes) : state_(std::make_shared<State>(idleBytes)) {}

BgraBufferPool::~BgraBufferPool() = default;

QImage BgraBufferPool::image(int width, int height, QImage::Format format)
{
    const BgraLayout layout = bgraLayout(width, height);
    if (layout.bytes == 0) return {};
    auto* lease = new Lease{state_, {state_->take(layout.bytes), layout.bytes}};
    void*& data = lease->buffer.data;
    if (!data) data = std::aligned_alloc(bgraAlignment, layout.bytes);
    if (!data) {
        delete lease;
        return {};
    }
    QImage image(static_cast<uchar*>(data), width, height, layout.bytesPerLine, format, giveBack, lease);
    if (image.isNull()) giveBack(lease);  // Qt takes the buffer only with the image
    return image;
}

std::size_t BgraBufferPool::idleCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->idle.size();
}

BgraBufferPool& BgraBufferPool::shared()
{
    static BgraBufferPool pool(kSharedIdleBytes);
    return pool;
}

} // namespace platform
