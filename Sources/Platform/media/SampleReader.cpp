#include "Platform/media/SampleReader.h"

#include "Platform/media/MediaError.h"
#include "Platform/media/PacketSource.h"
#include "Platform/media/ReadSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace platform {

using namespace readsupport;

namespace {

// Decoded before a seek target and thrown away, so codecs with overlapping
// frames (AAC) and the resampler's filter start settled.
constexpr double kPrerollSeconds = 0.25;
// Targets this close ahead are reached by decoding on, not by seeking.
constexpr double kForwardSeconds = 1.0;
// Packets the decoder may refuse in a row, before it ever yields sound,
// until the stream counts as undecodable.
constexpr int kMaxFailures = 50;
// Time stamps this far out are damage, not time: the frame follows on.
constexpr std::int64_t kFarTicks = std::int64_t(1) << 52;
// The end of a stream whose span could not be measured: read until the data ends.
constexpr std::int64_t kUnknownEnd = std::numeric_limits<std::int64_t>::max();
// Read positions are kept within ±2^61 frames (over 10^6 years at 768 kHz).
constexpr std::int64_t kFarFrames = std::int64_t(1) << 61;

std::int64_t roundDiv(__int128 a, __int128 b)
{
    return static_cast<std::int64_t>(a >= 0 ? (a + b / 2) / b : (a - b / 2) / b);
}

// One channel spread to stereo is heard at full level on both sides, as it
// was while it was recorded; the resampler's own up-mix would put it 3 dB
// down on each. Other layouts keep the resampler's matrix.
int keepMonoAtFullLevel(SwrContext* swr, const AVChannelLayout& in, const AVChannelLayout& out)
{
    if (in.nb_channels != 1 || out.nb_channels != 2) return 0;
    const double both[] = {1.0, 1.0};  // left and right, each from the one input
    return swr_set_matrix(swr, both, 1);
}

} // namespace

struct SampleReader::Impl {
    Impl(const Asset& asset, const StreamInfo& info, int sampleRate, int channelCount, SourceFiles* files)
        : rate(sampleRate), channels(channelCount), dmx(asset, files)
    {
        if (rate <= 0 || rate > 768000 || channels <= 0 || channels > 64)
            throw MediaError("Érvénytelen hangformátumot kértek a hang olvasásához.");
        dmx.findStreamInfo();
        if (info.fileIndex < 0 || info.fileIndex >= static_cast<int>(dmx.context()->nb_streams) ||
            dmx.stream(info.fileIndex)->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            throw MediaError("A fájl megváltozott, a hangfolyam nem található benne: " + quoted(asset.path()) + ".");
        st = dmx.stream(info.fileIndex);
        dmx.keepOnly(info.fileIndex);
        dec = dmx.openDecoder(info.fileIndex, 1);
        av_channel_layout_default(&outLayout, channels);
        // Decoders hand out whole frames; the stream's range trims the
        // encoder's padding after the last sample.
        if (info.timeRange.isValid() && info.timeRange.end().isNumeric() && !info.timeRange.isEmpty())
            end = frameIndexOf(info.timeRange.end());
        empty = info.timeRange.isEmpty();
    }

    ~Impl() { av_channel_layout_uninit(&outLayout); }

    // Clamped far inside the integer range, so that differences of
    // positions can't overflow.
    std::int64_t frameIndexOf(const MediaTime& t) const
    {
        const std::int64_t n = roundDiv(static_cast<__int128>(t.value()) * rate, t.timescale());
        return std::clamp(n, -kFarFrames, kFarFrames);
    }

    std::size_t buffered() const { return (buffer.size() - head) / channels; }

    void drop(std::size_t frames)
    {
        head += frames * channels;
        bufferStart += static_cast<std::int64_t>(frames);
        if (head == buffer.size()) {
            buffer.clear();
            head = 0;
        }
    }

    void resetResampler(const AVFrame* f)
    {
        AVChannelLayout inLayout{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&f->ch_layout) == 0)
            av_channel_layout_default(&inLayout, f->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &f->ch_layout);
        SwrContext* raw = nullptr;
        int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, rate, &inLayout,
                                     static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        if (rc >= 0) rc = keepMonoAtFullLevel(raw, inLayout, outLayout);
        av_channel_layout_uninit(&inLayout);
        SwrPtr swr(raw);
        if (rc >= 0) {
            // Mixing down keeps full scale at 1.0 (stereo to mono averages).
            av_opt_set_double(swr.get(), "rematrix_maxval", 1.0, 0);
            rc = swr_init(swr.get());
        }
        if (rc < 0) throw MediaError("A hang nem alakítható át a kért formátumra: " + quoted(dmx.path()) + ".", rc);
        resampler = std::move(swr);
        inFormat = f->format;
        inRate = f->sample_rate;
        inChannels = f->ch_layout.nb_channels;
    }

    // Resamples `count` frames of `f` from its frame `skip` on (all null:
    // the resampler's tail) onto the end of the buffer.
    void append(const AVFrame* f, int skip, int count)
    {
        std::vector<const std::uint8_t*> planes;
        if (f) {
            const auto format = static_cast<AVSampleFormat>(f->format);
            const int planar = av_sample_fmt_is_planar(format);
            const int step = av_get_bytes_per_sample(format) * (planar ? 1 : f->ch_layout.nb_channels);
            for (int p = 0; p < (planar ? f->ch_layout.nb_channels : 1); ++p)
                planes.push_back(f->extended_data[p] + static_cast<std::ptrdiff_t>(skip) * step);
        }
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room < 0) throw MediaError("A hang nem alakítható át: " + quoted(dmx.path()) + ".", room);
        const std::size_t old = buffer.size();
        buffer.resize(old + static_cast<std::size_t>(room) * channels);
        auto* out = reinterpret_cast<std::uint8_t*>(buffer.data() + old);
        const int got = swr_convert(resampler.get(), &out, room, f ? planes.data() : nullptr, f ? count : 0);
        if (got < 0) {
            buffer.resize(old);
            throw MediaError("A hang nem alakítható át: " + quoted(dmx.path()) + ".", got);
        }
        buffer.resize(old + static_cast<std::size_t>(got) * channels);
        // A damaged packet can decode to anything; full scale is the limit
        // every consumer relies on.
        for (std::size_t i = old; i < buffer.size(); ++i) {
            float& x = buffer[i];
            if (!(x >= -1.0f)) x = x > 0 ? 1.0f : (x < 0 ? -1.0f : 0.0f);
            else if (x > 1.0f) x = 1.0f;
        }
    }

    // Hands the resampler's tail to the buffer and drops the resampler, so
    // the next frame starts afresh. True when the buffer then holds sound.
    bool flushResampler()
    {
        if (resampler) append(nullptr, 0, 0);
        resampler.reset();
        return buffered() > 0;
    }

    // Places a decoded frame on the timeline by its own time stamp: a gap
    // before it stays silent, sound it repeats is trimmed. Within one tick of
    // the stream's time base frames are taken as continuous, so rounded
    // stamps don't chop the sound.
    void place(const AVFrame* f)
    {
        if (f->nb_samples <= 0 || f->sample_rate <= 0) return;
        const AVRational in{1, f->sample_rate};
        const bool sameFormat = resampler && f->format == inFormat && f->sample_rate == inRate &&
                                f->ch_layout.nb_channels == inChannels;
        std::int64_t pts = f->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = f->pts;
        std::int64_t at = 0;
        if (plausible(pts))
            at = av_rescale_q_rnd(pts, st->time_base, in, AV_ROUND_NEAR_INF);
        else if (sameFormat)
            at = nextIn;
        else
            at = av_rescale_q(st->start_time != AV_NOPTS_VALUE ? st->start_time : 0, st->time_base, in);

        int skip = 0;
        bool restart = !sameFormat;
        if (sameFormat) {
            const std::int64_t tolerance = std::max<std::int64_t>(1, av_rescale_q_rnd(1, st->time_base, in, AV_ROUND_UP));
            const std::int64_t offset = at - nextIn;
            if (offset < -tolerance) {
                if (-offset >= f->nb_samples) return;  // heard already
                skip = static_cast<int>(-offset);
            } else if (offset > tolerance) {
                restart = true;
            }
        }
        if (restart) {
            // The sound before a gap or a change of format goes out first;
            // the frame waits until it has been read.
            if (flushResampler()) {
                held = true;
                return;
            }
            resetResampler(f);
            bufferStart = std::clamp(av_rescale_q_rnd(at, in, AVRational{1, rate}, AV_ROUND_NEAR_INF), -kFarFrames,
                                     kFarFrames);
            nextIn = at;
            anchorPending = false;
        }
        append(f, skip, f->nb_samples - skip);
        nextIn += f->nb_samples - skip;
    }

    // A time stamp far outside the stream is damage, not time: such a frame
    // follows on from the one before.
    bool plausible(std::int64_t pts) const
    {
        if (pts == AV_NOPTS_VALUE || std::abs(pts) >= kFarTicks) return false;
        if (end == kUnknownEnd) return true;
        const std::int64_t at = av_rescale_q(pts, st->time_base, AVRational{1, rate});
        return at <= end + rate && at >= -rate;
    }

    // Counts a packet the decoder refused; it is skipped, so its time stays
    // silent. Only a decoder that never yields sound is an error.
    void refused(int rc)
    {
        if (++failures > kMaxFailures && !decodedAny)
            throw MediaError("A hang nem dekódolható: " + quoted(dmx.path()) + ".", rc);
    }

    // Decodes on and places the next frame; false at the end of the stream.
    bool fill()
    {
        for (;;) {
            if (held) {
                held = false;
                place(frame.get());
                return true;
            }
            int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == 0) {
                failures = 0;
                decodedAny = true;
                place(frame.get());
                if (!held) av_frame_unref(frame.get());
                return true;
            }
            if (rc == AVERROR_EOF) {
                ended = true;
                return flushResampler();
            }
            if (rc != AVERROR(EAGAIN)) {
                refused(rc);
                continue;
            }
            if (draining) return false;
            rc = dmx.readPacket(packet.get());
            if (rc < 0) {
                avcodec_send_packet(dec.get(), nullptr);
                draining = true;
                continue;
            }
            if (packet->stream_index == st->index) {
                rc = avcodec_send_packet(dec.get(), packet.get());
                if (rc < 0 && rc != AVERROR(EAGAIN)) refused(rc);
            }
            av_packet_unref(packet.get());
        }
    }

    void seekTo(std::int64_t target)
    {
        const std::int64_t from = target - static_cast<std::int64_t>(kPrerollSeconds * rate);
        const std::int64_t ts = av_rescale_q(from, AVRational{1, rate}, st->time_base);
        const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        const bool sought = dmx.seekBackward(st->index, std::max(ts, start)) >= 0 ||
                            dmx.seekBackward(st->index, start) >= 0 ||
                            dmx.seekToFileStart(st->index) >= 0;
        if (!sought && !empty) throw MediaError("A hangban nem lehet a kért helyre ugrani: " + quoted(dmx.path()) + ".");
        if (!sought) {
            // Nothing to seek in: the stream has no sound, and reads as such.
            buffer.clear();
            head = 0;
            ended = draining = true;
            anchorPending = true;
            positioned = true;
            return;
        }
        avcodec_flush_buffers(dec.get());
        av_frame_unref(frame.get());
        resampler.reset();
        buffer.clear();
        head = 0;
        held = false;
        anchorPending = true;
        draining = false;
        ended = false;
        positioned = true;
    }

    std::size_t read(float* out, std::size_t frames)
    {
        if (!positioned) seekTo(position);
        if (position >= end) return 0;
        // An unknown end (the largest integer) reads on until the data ends.
        const __int128 left = static_cast<__int128>(end) - position;
        if (left < static_cast<__int128>(frames)) frames = static_cast<std::size_t>(left);
        std::size_t done = 0;
        while (done < frames) {
            const std::size_t have = anchorPending ? 0 : buffered();
            if (have == 0 || position >= bufferStart + static_cast<std::int64_t>(have)) {
                if (have > 0) drop(have);
                if (ended || !fill()) break;
                continue;
            }
            const std::size_t want = frames - done;
            if (position < bufferStart) {
                // Before the stream's first sound.
                const std::size_t n = std::min<std::size_t>(want, static_cast<std::size_t>(bufferStart - position));
                std::fill_n(out + done * channels, n * channels, 0.0f);
                done += n;
                position += static_cast<std::int64_t>(n);
                continue;
            }
            drop(static_cast<std::size_t>(position - bufferStart));
            const std::size_t n = std::min(want, buffered());
            std::memcpy(out + done * channels, buffer.data() + head, n * channels * sizeof(float));
            drop(n);
            done += n;
            position += static_cast<std::int64_t>(n);
        }
        return done;
    }

    void seek(std::int64_t target)
    {
        const std::int64_t ahead = static_cast<std::int64_t>(kForwardSeconds * rate);
        const bool reachable = positioned && !anchorPending && target >= bufferStart &&
                               target <= bufferStart + static_cast<std::int64_t>(buffered()) + ahead;
        position = target;
        if (!reachable) positioned = false;  // seeks lazily on the next read
    }

    const int rate;
    const int channels;
    PacketSource dmx;
    AVStream* st = nullptr;
    CodecContextPtr dec;
    AVChannelLayout outLayout{};
    SwrPtr resampler;
    int inFormat = -1;
    int inRate = 0;
    int inChannels = 0;
    PacketPtr packet = makePacket();
    FramePtr frame = makeFrame();

    std::vector<float> buffer;   // resampled, interleaved
    std::size_t head = 0;        // first unread float in buffer
    std::int64_t bufferStart = 0;  // frame index of buffer[head]
    std::int64_t position = 0;     // frame index of the next frame read
    std::int64_t end = kUnknownEnd;  // frame index where the stream ends
    std::int64_t nextIn = 0;       // input frame index where the last placed frame ended
    bool positioned = false;
    bool anchorPending = true;
    bool empty = false;       // the probe found no packet in the stream
    bool held = false;        // `frame` waits to be placed after a gap
    bool decodedAny = false;  // the decoder has yielded sound since the reader opened
    int failures = 0;         // packets refused in a row
    bool draining = false;
    bool ended = false;
};

SampleReader::SampleReader(const Asset& asset, const StreamInfo& stream, int sampleRate, int channels,
                           const std::shared_ptr<SourceFiles>& files)
    : impl_(std::make_unique<Impl>(asset, stream, sampleRate, channels, files.get()))
{
}

SampleReader::~SampleReader() = default;

int SampleReader::sampleRate() const
{
    return impl_->rate;
}

int SampleReader::channels() const
{
    return impl_->channels;
}

void SampleReader::seek(const MediaTime& t)
{
    if (!t.isNumeric()) throw MediaError("Érvénytelen időpont a hang olvasásakor.");
    impl_->seek(impl_->frameIndexOf(t));
}

MediaTime SampleReader::position() const
{
    return MediaTime(impl_->position, impl_->rate);
}

std::size_t SampleReader::read(float* out, std::size_t frames)
{
    return impl_->read(out, frames);
}

std::vector<float> SampleReader::read(const TimeRange& range)
{
    if (!range.isValid() || !range.start.isNumeric() || !range.duration.isNumeric())
        throw MediaError("Érvénytelen időtartomány a hang olvasásakor.");
    const std::int64_t first = impl_->frameIndexOf(range.start);
    const std::int64_t count = std::max<std::int64_t>(0, impl_->frameIndexOf(range.end()) - first);
    if (impl_->position != first) impl_->seek(first);
    std::vector<float> out(static_cast<std::size_t>(count) * impl_->channels, 0.0f);
    const std::size_t got = impl_->read(out.data(), static_cast<std::size_t>(count));
    // Past the stream's end the rest stays silent; the position moves on all the same.
    if (got < static_cast<std::size_t>(count)) impl_->position = first + count;
    return out;
}

} // namespace platform
