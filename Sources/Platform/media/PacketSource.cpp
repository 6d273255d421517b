#include "Platform/media/PacketSource.h"

#include "Platform/media/Asset.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/SourceFiles.h"

#include <algorithm>
#include <limits>

namespace platform {

namespace readsupport {

namespace {

// A source whose key frame lies at most this far past where the shared
// demuxer reads joins it by reading on, without a seek.
constexpr double kReadOnSeconds = 2.0;
// At most this far behind, the shared demuxer goes back for it and the other
// sources skip what they already have (reading packets again costs little
// beside decoding them); further, it takes the position for itself.
constexpr double kGoBackSeconds = 10.0;
// Packets held for a source that doesn't take them (paused, or ended its
// part) before it gives up its place and seeks back in when it reads again.
constexpr std::size_t kMaxQueuedPackets = 4096;
constexpr std::size_t kMaxQueuedBytes = std::size_t(32) << 20;

std::int64_t stampOf(const AVPacket* p)
{
    return p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
}

} // namespace

// One opened file whose packets several sources take, each at its own
// position. Packets go to the queue of every source that follows the shared
// read position; a source that wants packets elsewhere joins by reading on,
// by taking everyone back a little (they skip what they already have), or by
// moving the shared position (they step back in when they read again). A
// source that would fight another for the position gets a demuxer of its own.
class SharedDemuxer {
public:
    explicit SharedDemuxer(const Asset& asset) : dmx(asset.path(), asset.readableBytes(), asset.identity())
    {
        dmx.findStreamInfo();
        lastRead.assign(dmx.context()->nb_streams, AV_NOPTS_VALUE);
        updateDiscard();
    }

    // Registers `source` for its stream; false when this file can't be shared
    // (only the MOV family seeks each stream exactly; others serve one source).
    bool join(PacketSource* source)
    {
        std::lock_guard lock(mutex);
        if (!sources.empty() && !dmx.isMovFamily()) return false;
        sources.push_back(source);
        updateDiscard();
        return true;
    }

    void leave(PacketSource* source)
    {
        std::lock_guard lock(mutex);
        sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
        for (PacketSource* s : sources)
            if (s->place_.displacedBy == source) s->place_.displacedBy = nullptr;
        updateDiscard();
    }

    // Only streams some source reads come out of the demuxer.
    void updateDiscard()
    {
        AVFormatContext* ctx = dmx.context();
        for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->discard = AVDISCARD_ALL;
        for (const PacketSource* s : sources)
            if (s->place_.stream >= 0) ctx->streams[s->place_.stream]->discard = AVDISCARD_DEFAULT;
    }

    double seconds(int stream, std::int64_t ticks) const { return double(ticks) * av_q2d(dmx.stream(stream)->time_base); }

    std::optional<std::int64_t> keyAtOrBefore(int stream, std::int64_t ticks) const
    {
        AVStream* st = dmx.stream(stream);
        const int k = av_index_search_timestamp(st, ticks, AVSEEK_FLAG_BACKWARD);
        const AVIndexEntry* e = k >= 0 ? avformat_index_get_entry(st, k) : nullptr;
        if (!e) return std::nullopt;
        return e->timestamp;
    }

    bool isFirstIndexed(int stream, std::int64_t ticks) const
    {
        const AVIndexEntry* e = avformat_index_get_entry(dmx.stream(stream), 0);
        return !e || e->timestamp >= ticks;
    }

    // The stamp from which `place` still needs packets, if known.
    static std::int64_t need(const PacketSource::Place& place)
    {
        return place.last != AV_NOPTS_VALUE ? place.last : place.keyFrom;
    }

    bool follows(const PacketSource* s) const { return s->place_.following && s->place_.ended == 0; }

    // Reads one packet and hands it to every following source of its stream.
    int readOne()
    {
        PacketPtr packet = makePacket();
        const int rc = dmx.readPacket(packet.get());
        if (rc < 0) {
            for (PacketSource* s : sources)
                if (follows(s)) s->place_.ended = rc;
            return rc;
        }
        const int stream = packet->stream_index;
        const std::int64_t stamp = stampOf(packet.get());
        if (stream < 0 || stream >= int(lastRead.size())) return 0;
        if (stamp != AV_NOPTS_VALUE) {
            lastRead[stream] = stamp;
            position = std::max(position, seconds(stream, stamp));
        }
        for (PacketSource* s : sources) {
            PacketSource::Place& p = s->place_;
            if (p.stream != stream || !follows(s) || !s->passes(packet.get())) continue;
            PacketPtr copy = makePacket();
            if (av_packet_ref(copy.get(), packet.get()) < 0) throw std::bad_alloc();
            p.queuedBytes += std::size_t(std::max(copy->size, 0));
            p.queue.push_back(std::move(copy));
            if (stamp != AV_NOPTS_VALUE) p.last = stamp;
            if (p.queue.size() > kMaxQueuedPackets || p.queuedBytes > kMaxQueuedBytes) {
                // Nobody takes them: let go, and step back in on the next read.
                p.queue.clear();
                p.queuedBytes = 0;
                p.last = p.taken;
                p.following = false;
            }
        }
        return 0;
    }

    // Seeks the shared demuxer for `stream` and forgets where streams stood.
    int seek(int stream, std::int64_t ticks)
    {
        const int rc = dmx.seekBackward(stream, ticks);
        std::fill(lastRead.begin(), lastRead.end(), AV_NOPTS_VALUE);
        position = seconds(stream, ticks);
        return rc;
    }

    // Puts `source` back into the packet flow: from the key frame at or
    // before `ticks` (a seek), or right after its last packet (`resume`).
    // Returns the FFmpeg result of any seek made.
    int reposition(PacketSource& source, bool resume, std::int64_t ticks)
    {
        PacketSource::Place& p = source.place_;
        const int stream = p.stream;
        p.queue.clear();
        p.queuedBytes = 0;
        p.ended = 0;
        p.skipThrough = p.keyFrom = AV_NOPTS_VALUE;
        std::int64_t from;  // the first stamp it needs, at least
        if (resume) {
            from = p.last;
            p.skipThrough = p.last;
        } else {
            p.sought = ticks;
            const auto key = keyAtOrBefore(stream, ticks);
            from = key ? *key : ticks;
            p.keyFrom = key ? *key : AV_NOPTS_VALUE;
            p.last = p.taken = AV_NOPTS_VALUE;
        }

        std::vector<PacketSource*> others;
        for (PacketSource* s : sources)
            if (s != &source && follows(s)) others.push_back(s);
        auto joined = [&] {
            p.following = true;
            p.displacedBy = nullptr;
        };
        if (others.empty()) {
            const int rc = seek(stream, resume ? from : ticks);
            if (rc >= 0) joined();
            return rc;
        }

        // Reading on reaches it soon; the demuxer hasn't passed it yet. (Not
        // for the stream's first packet, which a seek marks with the
        // encoder's priming.)
        const std::int64_t read = lastRead[stream];
        if (read != AV_NOPTS_VALUE && (resume ? from >= read : from > read && !isFirstIndexed(stream, from)) &&
            seconds(stream, from) - seconds(stream, read) <= kReadOnSeconds) {
            joined();
            return 0;
        }

        // A little back for everyone: each of the others skips what it has.
        const AVRational tb = dmx.stream(stream)->time_base;
        std::int64_t target = from;
        bool known = true;
        for (const PacketSource* s : others) {
            const std::int64_t n = need(s->place_);
            if (n == AV_NOPTS_VALUE) known = false;
            else
                target = std::min(target, av_rescale_q_rnd(n, dmx.stream(s->place_.stream)->time_base, tb,
                                                           AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX)));
        }
        // What is read again: from there to the furthest of the shared
        // position and this source's own place.
        if (known && std::max(position, seconds(stream, from)) - seconds(stream, target) <= kGoBackSeconds) {
            const int rc = seek(stream, target);
            if (rc < 0) return rc;
            for (PacketSource* s : others) {
                PacketSource::Place& o = s->place_;
                if (o.last != AV_NOPTS_VALUE) o.skipThrough = o.last;
            }
            joined();
            return rc;
        }

        // Far away: take the position. When the one holding it took it from
        // this source before (two parts of one file far apart, not a jump of
        // all), that one reads on alone from then on.
        const int rc = seek(stream, resume ? from : ticks);
        if (rc < 0) return rc;
        for (PacketSource* s : others) {
            s->place_.following = false;
            if (s == p.displacedBy) s->place_.evicted = true;
            else s->place_.displacedBy = &source;
        }
        joined();
        return rc;
    }

    std::mutex mutex;
    Demuxer dmx;                          // guarded by mutex: reads, seeks and the index
    std::vector<PacketSource*> sources;   // guarded by mutex
    std::vector<std::int64_t> lastRead;   // guarded: per stream, the stamp of the last packet read since the last seek
    double position = 0;                  // guarded: seconds of the furthest packet read since the last seek
};

PacketSource::PacketSource(const Asset& asset, SourceFiles* files)
    : path_(asset.path()), readableBytes_(asset.readableBytes()), identity_(asset.identity())
{
    if (files) {
        shared_ = files->demuxer(asset);
        if (!shared_->join(this)) shared_.reset();
    }
    if (!shared_) own_ = std::make_unique<Demuxer>(path_, readableBytes_, identity_);
}

PacketSource::~PacketSource()
{
    if (shared_) shared_->leave(this);
}

const AVFormatContext* PacketSource::context() const
{
    return shared_ ? shared_->dmx.context() : own_->context();
}

AVStream* PacketSource::stream(int index) const
{
    return context()->streams[index];
}

bool PacketSource::isImageFormat() const
{
    return shared_ ? shared_->dmx.isImageFormat() : own_->isImageFormat();
}

bool PacketSource::isMovFamily() const
{
    return shared_ ? shared_->dmx.isMovFamily() : own_->isMovFamily();
}

void PacketSource::findStreamInfo()
{
    if (!shared_) own_->findStreamInfo();
}

CodecContextPtr PacketSource::openDecoder(int streamIndex, int threads) const
{
    return shared_ ? shared_->dmx.openDecoder(streamIndex, threads) : own_->openDecoder(streamIndex, threads);
}

void PacketSource::keepOnly(int streamIndex)
{
    if (!shared_) {
        own_->keepOnly(streamIndex);
        place_.stream = streamIndex;
        return;
    }
    std::lock_guard lock(shared_->mutex);
    place_.stream = streamIndex;
    shared_->updateDiscard();
}

bool PacketSource::passes(const AVPacket* packet)
{
    const std::int64_t stamp = stampOf(packet);
    if (place_.keyFrom != AV_NOPTS_VALUE) {
        if (stamp != AV_NOPTS_VALUE && stamp < place_.keyFrom) return false;
        place_.keyFrom = AV_NOPTS_VALUE;
    }
    if (place_.skipThrough != AV_NOPTS_VALUE) {
        if (stamp != AV_NOPTS_VALUE && stamp <= place_.skipThrough) return false;
        place_.skipThrough = AV_NOPTS_VALUE;
    }
    return true;
}

int PacketSource::readOwn(AVPacket* packet)
{
    for (;;) {
        const int rc = own_->readPacket(packet);
        if (rc < 0) return rc;
        if (packet->stream_index == place_.stream && passes(packet)) return 0;
        av_packet_unref(packet);
    }
}

int PacketSource::readPacket(AVPacket* packet)
{
    if (!shared_) return readOwn(packet);
    std::unique_lock lock(shared_->mutex);
    for (;;) {
        if (!place_.queue.empty()) {
            PacketPtr next = std::move(place_.queue.front());
            place_.queue.pop_front();
            place_.queuedBytes -= std::size_t(std::max(next->size, 0));
            av_packet_move_ref(packet, next.get());
            if (const std::int64_t stamp = stampOf(packet); stamp != AV_NOPTS_VALUE) place_.taken = stamp;
            return 0;
        }
        if (place_.ended != 0) return place_.ended;
        if (!place_.following) {
            // Displaced or let go: back in right after what it has, else at
            // its last seek's target; never positioned: at the stream's start.
            const AVStream* st = shared_->dmx.stream(place_.stream);
            const bool resume = place_.last != AV_NOPTS_VALUE;
            const std::int64_t at = resume                               ? place_.last
                                    : place_.sought != AV_NOPTS_VALUE   ? place_.sought
                                    : st->start_time != AV_NOPTS_VALUE ? st->start_time
                                                                        : 0;
            if (place_.evicted) {
                lock.unlock();
                const int rc = goOwn(at, resume);
                if (rc < 0) return rc;
                return readOwn(packet);
            }
            const int rc = shared_->reposition(*this, resume, at);
            if (rc < 0) return rc;
            continue;
        }
        const int rc = shared_->readOne();
        (void)rc;  // an error or the end reaches every follower through `ended`
    }
}

int PacketSource::seekBackward(int streamIndex, std::int64_t ticks)
{
    if (!shared_) {
        place_.keyFrom = place_.skipThrough = AV_NOPTS_VALUE;
        return own_->seekBackward(streamIndex, ticks);
    }
    std::unique_lock lock(shared_->mutex);
    if (place_.evicted) {
        lock.unlock();
        return goOwn(ticks, false);
    }
    return shared_->reposition(*this, false, ticks);
}

int PacketSource::seekToFileStart(int streamIndex)
{
    if (shared_) {
        // Only a file that can't seek by time comes here: read it alone.
        const int rc = goOwn(0, false);
        (void)rc;
    }
    place_.keyFrom = place_.skipThrough = AV_NOPTS_VALUE;
    return av_seek_frame(own_->context(), streamIndex, 0, AVSEEK_FLAG_BYTE);
}

std::optional<std::int64_t> PacketSource::keyFrameAtOrBefore(std::int64_t ticks) const
{
    if (!shared_) {
        AVStream* st = own_->stream(place_.stream);
        const int k = av_index_search_timestamp(st, ticks, AVSEEK_FLAG_BACKWARD);
        const AVIndexEntry* e = k >= 0 ? avformat_index_get_entry(st, k) : nullptr;
        if (!e) return std::nullopt;
        return e->timestamp;
    }
    std::lock_guard lock(shared_->mutex);
    return shared_->keyAtOrBefore(place_.stream, ticks);
}

int PacketSource::goOwn(std::int64_t ticks, bool resume)
{
    // Leaves the shared demuxer for one of its own, at the same place.
    const std::int64_t last = place_.last;
    shared_->leave(this);
    left_ = std::move(shared_);
    own_ = std::make_unique<Demuxer>(path_, readableBytes_, identity_);
    own_->findStreamInfo();
    own_->keepOnly(place_.stream);
    place_.queue.clear();
    place_.queuedBytes = 0;
    place_.following = false;
    place_.ended = 0;
    place_.keyFrom = AV_NOPTS_VALUE;
    place_.skipThrough = resume ? last : AV_NOPTS_VALUE;
    return own_->seekBackward(place_.stream, ticks);
}

} // namespace readsupport

SourceFiles::SourceFiles() = default;

SourceFiles::~SourceFiles() = default;

std::shared_ptr<readsupport::SharedDemuxer> SourceFiles::demuxer(const Asset& asset)
{
    const std::string& key = asset.identity();
    std::unique_lock lock(mutex_);
    std::erase_if(open_, [](const auto& entry) { return !entry.second.opening && entry.second.demuxer.expired(); });
    for (;;) {
        File& file = open_[key];
        if (auto open = file.demuxer.lock()) return open;
        if (!file.opening) break;
        opened_.wait(lock);
    }
    open_[key].opening = true;
    // Opened unlocked: opening a damaged movie can take seconds, and readers
    // of other files (on the other thread) must not wait for it.
    lock.unlock();
    std::shared_ptr<readsupport::SharedDemuxer> opened;
    try {
        opened = std::make_shared<readsupport::SharedDemuxer>(asset);
    } catch (...) {
        lock.lock();
        open_[key].opening = false;
        opened_.notify_all();
        throw;
    }
    lock.lock();
    File& file = open_[key];
    file.demuxer = opened;
    file.opening = false;
    opened_.notify_all();
    return opened;
}

} // namespace platform
