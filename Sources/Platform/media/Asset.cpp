#include "Platform/media/Asset.h"

#include "Platform/media/MediaError.h"
#include "Platform/media/ReadSupport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>

namespace platform {

using namespace readsupport;

namespace {

constexpr double kDefaultAspect = 16.0 / 9.0;

std::string notMediaSentence(const std::filesystem::path& path)
{
    return "A fájl nem kép-, hang- vagy videofájl, vagy sérült: " + quoted(path) + ".";
}

bool hasMovieExtension(const std::filesystem::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".mov" || ext == ".mp4" || ext == ".m4v";
}

// How the display matrix asks the picture to be shown, to the nearest
// quarter turn. Its upper 2 × 2 block, read with y pointing down, is the
// transform itself: a mirror when its determinant is negative, and the
// turn what remains once the mirror is taken out of its first row.
struct Orientation {
    int rotation = 0;
    bool mirrored = false;
};

Orientation orientationOf(const AVStream* st)
{
    const auto* m = reinterpret_cast<const std::int32_t*>(
        av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!m) return {};
    const double a = m[0], b = m[1], c = m[3], d = m[4];
    Orientation o;
    o.mirrored = a * d - b * c < 0;
    const double sign = o.mirrored ? -1.0 : 1.0;
    if (a == 0 && b == 0) return o;
    const double clockwise = std::atan2(sign * b, sign * a) * 180.0 / std::numbers::pi;
    const int quarter = static_cast<int>(std::lround(clockwise / 90.0));
    o.rotation = ((quarter % 4) + 4) % 4 * 90;
    return o;
}

std::string metadata(const AVDictionary* dict, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0);
    return e && e->value ? e->value : "";
}

// The average rate, or 30 when the file doesn't know it. The real base rate
// is no substitute: with no frame to go by FFmpeg takes the time base for it
// (15,360 fps for a recording killed before its first fragment).
double frameRateOf(const AVStream* st)
{
    const AVRational r = st->avg_frame_rate;
    return r.num > 0 && r.den > 0 ? av_q2d(r) : 30.0;
}

double pixelAspectOf(const AVStream* st)
{
    for (AVRational r : {st->sample_aspect_ratio, st->codecpar->sample_aspect_ratio})
        if (r.num > 0 && r.den > 0) return av_q2d(r);
    return 1.0;
}

// Where each stream's presentation starts and ends, in its own time base.
struct Span {
    std::int64_t start = AV_NOPTS_VALUE;
    std::int64_t end = AV_NOPTS_VALUE;
    bool known() const { return start != AV_NOPTS_VALUE && end != AV_NOPTS_VALUE && end >= start; }
};

// A packet's presentation end, estimating a missing duration from the stream.
std::int64_t packetEnd(const AVPacket* pkt, const AVStream* st, std::int64_t pts)
{
    std::int64_t duration = pkt->duration;
    if (duration <= 0) {
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
            duration = av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, st->time_base);
        else if (par->codec_type == AVMEDIA_TYPE_VIDEO)
            duration = av_rescale_q(1, av_inv_q(AVRational{static_cast<int>(std::lround(frameRateOf(st) * 1000)), 1000}),
                                    st->time_base);
    }
    return pts + std::max<std::int64_t>(duration, 0);
}

// Reads packets to the end of the file from where the demuxer stands and
// widens the spans of the streams in `spans` by what it finds. Returns the
// streams that yielded a packet. A read error ends the scan: what follows a
// truncated fragment cannot be played anyway.
std::map<int, Span> scanPackets(Demuxer& dmx, const std::map<int, Span>& wanted)
{
    std::map<int, Span> seen;
    PacketPtr pkt = makePacket();
    while (dmx.readPacket(pkt.get()) >= 0) {
        const auto want = wanted.find(pkt->stream_index);
        // A packet cut short by the end of the file is corrupt: not a frame to show.
        if (want != wanted.end() && !(pkt->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT))) {
            const std::int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (pts != AV_NOPTS_VALUE) {
                Span& s = seen[pkt->stream_index];
                const std::int64_t end = packetEnd(pkt.get(), dmx.stream(pkt->stream_index), pts);
                s.start = s.start == AV_NOPTS_VALUE ? pts : std::min(s.start, pts);
                s.end = s.end == AV_NOPTS_VALUE ? end : std::max(s.end, end);
            }
        }
        av_packet_unref(pkt.get());
    }
    return seen;
}

// A movie that ends early (a crash, a cut copy) lists samples past its end.
// Each of its streams then ends with the last packet the file holds whole,
// read with that stream alone: reading them interleaved stops at the first
// missing packet of any stream, and the header states what was planned.
void settleTruncatedEnds(Demuxer& dmx, std::map<int, Span>& spans)
{
    const std::int64_t size = dmx.size();
    if (size <= 0) return;
    auto whole = [&](std::int64_t pos, std::int64_t bytes) { return pos + bytes <= size; };
    bool truncated = false;
    std::map<int, std::int64_t> lastWhole;  // the time stamp of each stream's last whole sample
    for (const auto& [i, s] : spans) {
        AVStream* st = dmx.stream(i);
        for (int k = avformat_index_get_entries_count(st) - 1; k >= 0; --k) {
            const AVIndexEntry* e = avformat_index_get_entry(st, k);
            if (!e || e->pos < 0) continue;
            if (whole(e->pos, e->size)) {
                lastWhole[i] = e->timestamp;
                break;
            }
            truncated = true;
        }
    }
    if (!truncated) return;

    PacketPtr pkt = makePacket();
    for (auto& [i, s] : spans) {
        const auto found = lastWhole.find(i);
        if (found == lastWhole.end()) {
            s = Span{};  // not one sample whole
            continue;
        }
        dmx.keepOnly(i);
        if (dmx.seekBackward(i, found->second) < 0) continue;
        const AVStream* st = dmx.stream(i);
        std::int64_t end = AV_NOPTS_VALUE;
        while (dmx.readPacket(pkt.get()) >= 0) {
            const std::int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (pkt->stream_index == i && pts != AV_NOPTS_VALUE && whole(pkt->pos, pkt->size) &&
                !(pkt->flags & (AV_PKT_FLAG_DISCARD | AV_PKT_FLAG_CORRUPT))) {
                const std::int64_t e = packetEnd(pkt.get(), st, pts);
                end = end == AV_NOPTS_VALUE ? e : std::max(end, e);
            }
            av_packet_unref(pkt.get());
        }
        if (end != AV_NOPTS_VALUE && s.start != AV_NOPTS_VALUE) s.end = std::max(s.start, end);
    }
    for (const auto& [i, s] : spans) dmx.stream(i)->discard = AVDISCARD_DEFAULT;
}

// Exact stream spans. Headers may lack durations (a fragmented movie), state
// more than the file holds (a recording killed mid-fragment), or estimate
// them from the bit rate; the packets at the end of the file settle it.
std::map<int, Span> measureSpans(Demuxer& dmx, const std::vector<int>& streams)
{
    AVFormatContext* ctx = dmx.context();
    std::map<int, Span> spans;
    bool allKnown = true;
    std::int64_t lastEnd = 0;  // AV_TIME_BASE
    for (int i : streams) {
        const AVStream* st = dmx.stream(i);
        Span s;
        s.start = st->start_time;
        if (s.start != AV_NOPTS_VALUE && st->duration != AV_NOPTS_VALUE && st->duration > 0)
            s.end = s.start + st->duration;
        allKnown = allKnown && s.known();
        if (s.known()) lastEnd = std::max(lastEnd, av_rescale_q(s.end, st->time_base, AV_TIME_BASE_Q));
        spans[i] = s;
    }
    const bool estimated = ctx->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    if (allKnown && !estimated && !dmx.isMovFamily()) return spans;

    const bool seekable = ctx->pb && (ctx->pb->seekable & AVIO_SEEKABLE_NORMAL);
    if (allKnown && !estimated && seekable) {
        // Look at the tail, stepping back until every stream that should
        // reach that far has shown its last packets.
        for (std::int64_t back = 0; back < lastEnd; back = back == 0 ? 2 * AV_TIME_BASE : back * 4) {
            const std::int64_t from = lastEnd - back;
            if (av_seek_frame(ctx, -1, from, AVSEEK_FLAG_BACKWARD) < 0) break;
            const std::map<int, Span> seen = scanPackets(dmx, spans);
            bool settled = true;
            for (auto& [i, s] : spans) {
                const auto found = seen.find(i);
                if (found != seen.end()) continue;
                const std::int64_t end = av_rescale_q(s.end, dmx.stream(i)->time_base, AV_TIME_BASE_Q);
                if (end > from) settled = false;
            }
            if (!settled) continue;
            for (auto& [i, s] : spans) {
                const auto found = seen.find(i);
                if (found != seen.end()) s.end = found->second.end;
            }
            return spans;
        }
    }

    // Read everything from the start.
    if (seekable) av_seek_frame(ctx, -1, std::numeric_limits<std::int64_t>::min() / 2, AVSEEK_FLAG_BACKWARD);
    const std::map<int, Span> seen = scanPackets(dmx, spans);
    for (auto& [i, s] : spans) {
        const auto found = seen.find(i);
        if (found != seen.end()) s = found->second;
    }
    return spans;
}

std::map<int, Span> measureAllSpans(Demuxer& dmx, const std::vector<int>& streams)
{
    std::map<int, Span> spans = measureSpans(dmx, streams);
    if (dmx.isMovFamily()) settleTruncatedEnds(dmx, spans);
    return spans;
}

} // namespace

QSizeF StreamInfo::displaySize() const
{
    QSizeF size(naturalSize.width() * pixelAspect, naturalSize.height());
    return rotation % 180 == 0 ? size : size.transposed();
}

double StreamInfo::aspect() const
{
    const QSizeF size = displaySize();
    const double a = std::abs(size.width() / size.height());
    return std::isfinite(a) && a > 0 ? a : kDefaultAspect;
}

MediaTime StreamInfo::nominalFrameDuration() const
{
    const double rate = nominalFrameRate > 0 ? nominalFrameRate : 30.0;
    const AVRational r = av_d2q(1.0 / rate, 1 << 20);
    return MediaTime(r.num, r.den);
}

MediaTime Asset::duration() const
{
    MediaTime end = MediaTime::zero();
    for (const auto* list : {&video_, &audio_})
        for (const StreamInfo& s : *list)
            if (s.timeRange.end() > end) end = s.timeRange.end();
    return end;
}

namespace {

// Assets in use, by path and content: a file is probed once however often
// it is asked for while its asset lives.
std::mutex assetsMutex;
std::map<std::string, std::weak_ptr<const Asset>> assets;  // guarded by assetsMutex

} // namespace

std::shared_ptr<const Asset> Asset::open(const std::filesystem::path& path)
{
    const std::string key = path.string() + '\n' + fileIdentity(path);
    {
        std::lock_guard lock(assetsMutex);
        if (auto known = assets[key].lock()) return known;
    }
    std::shared_ptr<const Asset> asset = openAnew(path);
    std::lock_guard lock(assetsMutex);
    std::erase_if(assets, [](const auto& entry) { return entry.second.expired(); });
    assets[key] = asset;
    return asset;
}

std::shared_ptr<const Asset> Asset::openAnew(const std::filesystem::path& path)
{
    // A movie cut inside a box (a crash, a power loss before the writer
    // synced) is opened up to its last whole box. A cut header (moof, moov)
    // holds nothing to play, since its samples would follow it, so such a
    // prefix comes first; a cut sample box (mdat) still holds whole samples,
    // so the file is tried whole first.
    const BoxLayout boxes = topLevelBoxes(path);
    std::vector<std::uint64_t> limits{0};
    if (boxes.isBoxes && !boxes.cutType.empty() && boxes.wholeEnd > 0) {
        if (boxes.cutType == "mdat") limits.push_back(boxes.wholeEnd);
        else limits.insert(limits.begin(), boxes.wholeEnd);
    }
    std::exception_ptr first;
    for (const std::uint64_t limit : limits) {
        try {
            return probe(path, limit);
        } catch (const MediaError&) {
            if (!first) first = std::current_exception();
        }
    }
    std::rethrow_exception(first);
}

std::shared_ptr<const Asset> Asset::probe(const std::filesystem::path& path, std::uint64_t byteLimit)
{
    // An input kept by earlier readers of this content serves as well.
    const std::string identity = fileIdentity(path);
    Demuxer dmx(path, byteLimit, identity);
    // Only a probe that succeeds leaves its input for the readers.
    struct KeepOnSuccess {
        Demuxer& dmx;
        bool done = false;
        ~KeepOnSuccess()
        {
            if (!done) dmx.share({});
        }
    } keep{dmx};
    // Plain text is recognised as terminal art; that is no media of ours.
    if (std::string(dmx.context()->iformat->name) == "tty") throw MediaError(notMediaSentence(path));
    dmx.findStreamInfo();
    AVFormatContext* ctx = dmx.context();

    std::shared_ptr<Asset> asset(new Asset);
    asset->path_ = path;
    asset->identity_ = identity;
    asset->readableBytes_ = byteLimit;

    auto pictureInfo = [&](const AVStream* st, StreamKind kind) {
        StreamInfo info;
        info.kind = kind;
        info.fileIndex = st->index;
        info.trackId = dmx.isMovFamily() ? st->id : st->index + 1;
        info.codec = avcodec_get_name(st->codecpar->codec_id);
        info.naturalSize = QSize(st->codecpar->width, st->codecpar->height);
        const Orientation orientation = orientationOf(st);
        info.rotation = orientation.rotation;
        info.mirrored = orientation.mirrored;
        info.pixelAspect = pixelAspectOf(st);
        info.name = metadata(st->metadata, "title");
        if (info.name.empty()) info.name = metadata(st->metadata, "handler_name");
        return info;
    };

    if (dmx.isImageFormat()) {
        // A movie extension wins over a picture's content: such a file is
        // taken for a movie, and it is none.
        if (hasMovieExtension(path))
            throw PictureNotMovieError("A fájl kép, nem film, bár a kiterjesztése filmre utal: " + quoted(path) + ".");
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVStream* st = ctx->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            if (st->codecpar->width <= 0 || st->codecpar->height <= 0) break;
            StreamInfo info = pictureInfo(st, StreamKind::image);
            info.timeRange = TimeRange(MediaTime::zero(), MediaTime::indefinite());
            asset->image_ = info;
            keep.done = true;
            return asset;
        }
        throw MediaError(notMediaSentence(path));
    }

    std::vector<int> kept;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const auto type = st->codecpar->codec_type;
        // Cover art in sound files is a picture, not a video stream.
        if (type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) kept.push_back(st->index);
        if (type == AVMEDIA_TYPE_AUDIO) kept.push_back(st->index);
    }
    if (kept.empty()) throw MediaError("A fájlban nincs sem kép, sem hang: " + quoted(path) + ".");

    const std::map<int, Span> spans = measureAllSpans(dmx, kept);
    for (int i : kept) {
        const AVStream* st = ctx->streams[i];
        const Span& span = spans.at(i);
        StreamInfo info;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            info = pictureInfo(st, StreamKind::video);
            info.nominalFrameRate = frameRateOf(st);
        } else {
            info = pictureInfo(st, StreamKind::audio);
            info.naturalSize = QSize();
            info.rotation = 0;
            info.mirrored = false;
            info.pixelAspect = 1.0;
            info.sampleRate = st->codecpar->sample_rate;
            info.channels = st->codecpar->ch_layout.nb_channels;
        }
        if (span.known())
            info.timeRange = TimeRange(timeOf(span.start, st->time_base), timeOf(span.end - span.start, st->time_base));
        else
            info.timeRange = TimeRange(MediaTime::zero(), MediaTime::zero());  // no packet could be read
        (info.kind == StreamKind::video ? asset->video_ : asset->audio_).push_back(info);
    }
    auto byTrack = [](const StreamInfo& a, const StreamInfo& b) { return a.trackId < b.trackId; };
    std::stable_sort(asset->video_.begin(), asset->video_.end(), byTrack);
    std::stable_sort(asset->audio_.begin(), asset->audio_.end(), byTrack);
    // The readers of this file take over what this open found.
    keep.done = true;
    return asset;
}

} // namespace platform
