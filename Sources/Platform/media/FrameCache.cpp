#include "Platform/media/FrameCache.h"

namespace platform {

FrameCache::FrameCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}

std::optional<VideoFrame> FrameCache::find(const std::string& file, int stream, std::int64_t ticks, int halvings)
{
    std::lock_guard lock(mutex_);
    const auto s = streams_.find(StreamKey{file, stream, halvings});
    if (s == streams_.end()) return std::nullopt;
    auto it = s->second.upper_bound(ticks);
    if (it == s->second.begin()) return std::nullopt;
    --it;
    Entry& e = it->second;
    if (ticks >= e.end) return std::nullopt;
    lru_.splice(lru_.begin(), lru_, e.lru);
    return e.frame;
}

void FrameCache::insert(const std::string& file, int stream, std::int64_t start, std::int64_t end,
                        const VideoFrame& frame, int halvings)
{
    const std::size_t size =
        static_cast<std::size_t>(frame.image.sizeInBytes()) + (frame.yuv ? frame.yuv->bytes() : 0) + sizeof(Entry);
    std::lock_guard lock(mutex_);
    if (size > maxBytes_) return;
    StreamKey key{file, stream, halvings};
    auto& frames = streams_[key];
    if (auto old = frames.find(start); old != frames.end()) erase(frames, old);
    auto [it, inserted] = frames.emplace(start, Entry{key, start, end, frame, size, {}});
    lru_.push_front(&it->second);
    it->second.lru = lru_.begin();
    bytes_ += size;
    trim();
}

void FrameCache::erase(std::map<std::int64_t, Entry>& frames, std::map<std::int64_t, Entry>::iterator it)
{
    bytes_ -= it->second.bytes;
    lru_.erase(it->second.lru);
    frames.erase(it);
}

void FrameCache::trim()
{
    while (bytes_ > maxBytes_ && !lru_.empty()) {
        Entry* oldest = lru_.back();
        const auto s = streams_.find(oldest->key);
        erase(s->second, s->second.find(oldest->start));
        if (s->second.empty()) streams_.erase(s);
    }
}

std::size_t FrameCache::bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::size_t FrameCache::maxBytes() const
{
    std::lock_guard lock(mutex_);
    return maxBytes_;
}

void FrameCache::setMaxBytes(std::size_t maxBytes)
{
    std::lock_guard lock(mutex_);
    maxBytes_ = maxBytes;
    trim();
}

void FrameCache::clear()
{
    std::lock_guard lock(mutex_);
    streams_.clear();
    lru_.clear();
    bytes_ = 0;
}

} // namespace platform
