#include "Platform/media/FrameReader.h"

#include "Platform/media/BgraBufferPool.h"
#include "Platform/media/BgraConversion.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/PacketSource.h"
#include "Platform/media/ReadSupport.h"

#include <QTransform>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace platform {

using namespace readsupport;

namespace {

int swsColorspace(AVColorSpace space, int height)
{
    switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default:
        // Untagged: HD pictures are BT.709 by convention, smaller ones BT.601.
        return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// `size` halved `halvings` times, rounded up.
QSize halved(QSize size, int halvings)
{
    const int step = 1 << halvings;
    return {(size.width() + step - 1) / step, (size.height() + step - 1) / step};
}

// Converts decoded frames to premultiplied ARGB32 QImages, straight into
// the image's own (padded) buffer. A halved picture is converted at full
// size and halved from there, a band of rows at a time where it can be: the
// scaler's unscaled conversion is several times faster than a scaled one,
// which also blurs over more than the block.
class Converter {
public:
    QImage convert(const AVFrame* f, const std::filesystem::path& path, int halvings)
    {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
        if (!desc || f->width <= 0 || f->height <= 0)
            throw MediaError("A videó képkockája ismeretlen formátumú: " + quoted(path) + ".");
        const bool alpha = desc->flags & AV_PIX_FMT_FLAG_ALPHA;
        // ARGB32 in memory on a little-endian machine is B, G, R, A.
        const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied;
        const QSize size = halved(QSize(f->width, f->height), std::min(halvings, 1));
        QImage image = BgraBufferPool::shared().image(size.width(), size.height(), format);
        if (image.isNull()) throw std::bad_alloc();
        const int colorspace = swsColorspace(f->colorspace, f->height);
        const int rc = halvings > 0 ? bgra_.convertHalved(*f, colorspace, image.bits())
                                    : bgra_.convert(*f, colorspace, image.bits());
        if (rc < 0) throw MediaError("A videó képkockája nem alakítható át: " + quoted(path) + ".", rc);
        for (int k = 1; k < halvings; ++k) {
            QImage half = BgraBufferPool::shared().image((image.width() + 1) / 2, (image.height() + 1) / 2, format);
            if (half.isNull()) throw std::bad_alloc();
            halveBgra(image.constBits(), image.bytesPerLine(), image.width(), image.height(), half.bits(),
                      half.bytesPerLine());
            image = std::move(half);
        }
        if (alpha) image.convertTo(QImage::Format_ARGB32_Premultiplied);
        return image;
    }

private:
    BgraConverter bgra_{BgraSampling::smooth};
};

// The picture as the stream asks it to be shown: mirrored, then turned.
// Done once per decoded frame, so the frame cache, the compositor and the
// thumbnails all hold upright pictures. Quarter turns and mirrors are plain
// copies in Qt, without resampling.
QImage shownUpright(QImage image, const StreamInfo& stream)
{
    if (stream.mirrored) image = image.mirrored(true, false);
    if (stream.rotation % 360 != 0) image = image.transformed(QTransform().rotate(stream.rotation));
    return image;
}

// How far ahead a stream without an index is read rather than sought.
constexpr double kForwardSecondsWithoutIndex = 2.0;
// Frames past the last packet read that are decoded rather than sought.
constexpr int kForwardFrames = 8;
// Consecutive frames the decoder may fail on before reading gives up.
constexpr int kMaxFailures = 50;
// Pictures are decoded at no less than 1 / 2^kMaxHalvings of their size.
constexpr int kMaxHalvings = 4;

} // namespace

struct FrameReader::Impl {
    Impl(const Asset& asset, const StreamInfo& info, Options options, SourceFiles* files)
        : stream(info), identity(asset.identity()), cache(std::move(options.cache)), keepYuvAt(options.keepYuvAt),
          dmx(asset, files)
    {
        dmx.findStreamInfo();
        if (info.fileIndex < 0 || info.fileIndex >= static_cast<int>(dmx.context()->nb_streams) ||
            dmx.stream(info.fileIndex)->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            throw MediaError("A fájl megváltozott, a videófolyam nem található benne: " + quoted(asset.path()) + ".");
        st = dmx.stream(info.fileIndex);
        dmx.keepOnly(info.fileIndex);
        dec = dmx.openDecoder(info.fileIndex, info.kind == StreamKind::image ? 1 : options.threads);
        tb = st->time_base;
        streamStart = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        nominalTicks = std::max<std::int64_t>(1, ticksAtOrBefore(info.nominalFrameDuration(), tb));
    }

    // --- decoding ---------------------------------------------------------

    // The next decoded frame into `out`; false at the end of the stream.
    bool decodeNext(AVFrame* out)
    {
        for (;;) {
            int rc = avcodec_receive_frame(dec.get(), out);
            if (rc == 0) {
                std::int64_t pts = out->best_effort_timestamp;
                if (pts == AV_NOPTS_VALUE) pts = out->pts;
                if (pts == AV_NOPTS_VALUE) pts = lastPts == AV_NOPTS_VALUE ? streamStart : lastPts + nominalTicks;
                out->pts = pts;
                lastPts = pts;
                failures = 0;
                return true;
            }
            if (rc == AVERROR_EOF) return false;
            if (rc != AVERROR(EAGAIN)) {
                // One damaged frame is skipped; a stream of them is an error.
                if (++failures > kMaxFailures)
                    throw MediaError("A videó képkockái nem dekódolhatók: " + quoted(dmx.path()) + ".", rc);
                continue;
            }
            failures = 0;
            if (draining) return false;
            rc = dmx.readPacket(packet.get());
            if (rc < 0) {
                // End of file, or a truncated tail: hand out what is decoded.
                avcodec_send_packet(dec.get(), nullptr);
                draining = true;
                continue;
            }
            // A packet cut short by the end of the file holds no whole frame.
            if (packet->stream_index == st->index && !(packet->flags & AV_PKT_FLAG_CORRUPT)) {
                if (packet->dts != AV_NOPTS_VALUE) lastPacketTs = packet->dts;
                else if (packet->pts != AV_NOPTS_VALUE) lastPacketTs = packet->pts;
                // A damaged packet is skipped; the decoder conceals what it can.
                avcodec_send_packet(dec.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
    }

    void resetDecoding()
    {
        avcodec_flush_buffers(dec.get());
        draining = false;
        shownValid = aheadValid = false;
        shownImage = QImage();
        lastPts = AV_NOPTS_VALUE;
        lastPacketTs = std::numeric_limits<std::int64_t>::min();
    }

    bool seekDemuxer(std::int64_t target)
    {
        if (dmx.seekBackward(st->index, target) >= 0) return true;
        // Before the first key frame: start from the beginning.
        if (dmx.seekBackward(st->index, streamStart) >= 0) return true;
        return dmx.seekToFileStart(st->index) >= 0;
    }

    // A stream in which the probe found no packet is empty, not damaged.
    void failEmpty() const
    {
        if (stream.timeRange.isEmpty())
            throw MediaError("A videó üres, nincs benne képkocka: " + quoted(dmx.path()) + ".");
    }

    // Positions the decoder so that the frame showing at `tt` comes next,
    // and leaves the first decoded frame in `ahead`.
    void seekTo(std::int64_t tt)
    {
        std::int64_t target = tt;
        const std::int64_t second = std::max<std::int64_t>(1, av_rescale_q(1, AVRational{1, 1}, tb));
        for (std::int64_t back = second;; back *= 2) {
            if (!seekDemuxer(target)) {
                failEmpty();
                throw MediaError("A videóban nem lehet a kért helyre ugrani: " + quoted(dmx.path()) + ".");
            }
            resetDecoding();
            aheadValid = decodeNext(ahead.get());
            // Key frames are indexed by decoding time; with reordered frames
            // the one found may show after the target. Step further back.
            if (!aheadValid || ahead->pts <= tt || target <= streamStart) return;
            target = tt - back;
            if (target < streamStart) target = streamStart;
        }
    }

    bool needsSeek(std::int64_t tt) const
    {
        if (!shownValid || tt < shown->pts) return true;
        if (aheadValid && tt < ahead->pts) return false;
        if (!aheadValid && draining) return false;  // past the last frame
        if (const auto key = dmx.keyFrameAtOrBefore(tt)) {
            // Seek only when it skips frames: a key frame just ahead is
            // reached as cheaply by reading on, without emptying the decoder.
            return *key > lastPacketTs + kForwardFrames * nominalTicks;
        }
        return double(tt - shown->pts) * av_q2d(tb) > kForwardSecondsWithoutIndex;
    }

    // Leaves the frame showing at `tt` in `shown` (clamped to the first and
    // last frames) and the one after it, if any, in `ahead`.
    void advanceTo(std::int64_t tt)
    {
        if (needsSeek(tt)) seekTo(tt);
        stepTo(tt);
    }

    // advanceTo without the seek: decodes forward from where the decoder is.
    void stepTo(std::int64_t tt)
    {
        for (;;) {
            if (!aheadValid) {
                aheadValid = decodeNext(ahead.get());
                if (!aheadValid) break;
            }
            if (shownValid && ahead->pts > tt) break;
            std::swap(shown, ahead);
            shownValid = true;
            aheadValid = false;
            shownImage = QImage();
        }
        if (!shownValid) {
            failEmpty();
            throw MediaError("A videóból egy képkocka sem olvasható: " + quoted(dmx.path()) + ".");
        }
    }

    std::int64_t shownEnd() const
    {
        if (aheadValid) return ahead->pts;
        return shown->pts + (shown->pkt_duration > 0 ? shown->pkt_duration : nominalTicks);
    }

    VideoFrame current(int halvings = 0)
    {
        const std::int64_t end = shownEnd();
        VideoFrame frame{{}, timeOf(shown->pts, tb), timeOf(end - shown->pts, tb), {}};
        // Kept undecoded only at full size: an export asks for nothing smaller.
        if (halvings == 0 && keptAsYuv(*shown)) {
            frame.yuv = std::make_shared<const YuvFrame>(*shown);
        } else {
            if (shownImage.isNull() || shownHalvings != halvings) {
                shownImage = picture(shown.get(), halvings);
                shownHalvings = halvings;
            }
            frame.image = shownImage;
        }
        if (cache) cache->insert(identity, st->index, shown->pts, end, frame, halvings);
        return frame;
    }

    VideoFrame frameAtTicks(std::int64_t tt, int halvings = 0)
    {
        if (cache) {
            if (auto hit = cache->find(identity, st->index, tt, halvings)) return *hit;
        }
        advanceTo(tt);
        return current(halvings);
    }

    bool keptAsYuv(const AVFrame& f) const
    {
        return !keepYuvAt.isEmpty() && !stream.mirrored && stream.rotation % 360 == 0 &&
               YuvFrame::fits(f, swsColorspace(f.colorspace, f.height), keepYuvAt);
    }

    // How often the stream's pictures can be halved and still cover `size`.
    // Whole halvings: they are averaged cheaply and exactly, the compositor's
    // smooth drawing is good for the rest (less than half), and the cache
    // keeps its frames while a box changes a little.
    int halvingsFor(const DrawnSize& size) const
    {
        // Upright, as the drawn size is; halving commutes with the turn.
        const QSize natural = stream.rotation % 180 == 0 ? stream.naturalSize : stream.naturalSize.transposed();
        if (size.isFull() || natural.isEmpty()) return 0;
        const QSize needed = size.scaled(natural);
        int halvings = 0;
        while (halvings < kMaxHalvings && halved(natural, halvings + 1).width() >= needed.width() &&
               halved(natural, halvings + 1).height() >= needed.height())
            ++halvings;
        return halvings;
    }

    QImage picture(const AVFrame* f, int halvings = 0)
    {
        QImage image = converter.convert(f, dmx.path(), halvings);
        if (!stream.mirrored && stream.rotation % 360 == 0) return image;
        // The picture as stored stays until the next one is converted, so
        // that the allocator hands its memory to the next turned picture:
        // two frames freed at once would go back to the system and fault in
        // again page by page, which costs more than the turn itself.
        storedImage = std::move(image);
        return shownUpright(storedImage, stream);
    }

    // --- still pictures ---------------------------------------------------

    // The decoded picture stays in `ahead`, for other sizes.
    VideoFrame still(int halvings)
    {
        if (!aheadValid) {
            aheadValid = decodeNext(ahead.get());
            if (!aheadValid) throw MediaError("A kép nem dekódolható: " + quoted(dmx.path()) + ".");
        }
        if (!stillFrame || stillHalvings != halvings) {
            stillFrame = VideoFrame{picture(ahead.get(), halvings), MediaTime::zero(), MediaTime::indefinite(), {}};
            stillHalvings = halvings;
        }
        return *stillFrame;
    }

    StreamInfo stream;
    std::string identity;
    std::shared_ptr<FrameCache> cache;
    QSize keepYuvAt;
    PacketSource dmx;
    AVStream* st = nullptr;
    CodecContextPtr dec;
    AVRational tb{1, 1};
    std::int64_t streamStart = 0;
    std::int64_t nominalTicks = 1;

    PacketPtr packet = makePacket();
    FramePtr shown = makeFrame();  // the frame showing at the last target
    FramePtr ahead = makeFrame();  // the frame after it, once decoded
    bool shownValid = false;
    bool aheadValid = false;
    bool draining = false;
    QImage shownImage;  // `shown` converted, once asked for
    int shownHalvings = 0;  // of `shownImage`
    QImage storedImage; // a turned stream's last picture as converted
    int failures = 0;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    std::int64_t lastPacketTs = std::numeric_limits<std::int64_t>::min();
    Converter converter;
    std::optional<VideoFrame> stillFrame;
    int stillHalvings = 0;  // of `stillFrame`
};

FrameReader::FrameReader(const Asset& asset, const StreamInfo& stream, Options options,
                         const std::shared_ptr<SourceFiles>& files)
    : impl_(std::make_unique<Impl>(asset, stream, std::move(options), files.get()))
{
}

FrameReader::FrameReader(const Asset& asset, const StreamInfo& stream) : FrameReader(asset, stream, Options{}) {}

FrameReader::~FrameReader() = default;

const StreamInfo& FrameReader::stream() const
{
    return impl_->stream;
}

VideoFrame FrameReader::frameAt(const MediaTime& t, const DrawnSize& size)
{
    const int halvings = impl_->halvingsFor(size);
    if (impl_->stream.kind == StreamKind::image) return impl_->still(halvings);
    if (!t.isNumeric()) throw MediaError("Érvénytelen időpont a videó olvasásakor.");
    return impl_->frameAtTicks(ticksAtOrBefore(t, impl_->tb), halvings);
}

VideoFrame FrameReader::frameNear(const MediaTime& t, const MediaTime& before, const MediaTime& after)
{
    Impl& d = *impl_;
    if (d.stream.kind == StreamKind::image) return d.still(0);
    if (!t.isNumeric()) throw MediaError("Érvénytelen időpont a videó olvasásakor.");
    const std::int64_t tt = ticksAtOrBefore(t, d.tb);
    const std::int64_t lo = before.isNumeric() && before > MediaTime(0, 1) ? ticksAtOrBefore(t - before, d.tb) : tt;
    const std::int64_t hi = after.isNumeric() && after > MediaTime(0, 1) ? ticksAtOrBefore(t + after, d.tb) : tt;
    if (lo == tt && hi == tt) return d.frameAtTicks(tt);

    if (d.cache) {
        if (auto hit = d.cache->find(d.identity, d.st->index, tt)) return *hit;
    }
    // The frame in hand already shows within the window.
    if (d.shownValid && (d.aheadValid || d.draining) && d.shown->pts <= hi && d.shownEnd() > lo) return d.current();
    // With a key frame between the decoder and the window's end, seeking
    // to the window's end lands on the last one in reach; otherwise reading
    // on is cheaper. Either way decoding stops at the first frame that shows
    // within the window.
    if (d.needsSeek(hi)) d.seekTo(hi);
    d.stepTo(lo);
    return d.current();
}

} // namespace platform
