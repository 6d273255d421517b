#include "Platform/media/SampleReader.h"

#include "Platform/media/MediaError.h"
#include "Platform/media/ReadSupport.h"

#include <algorithm>
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

std::int64_t roundDiv(__int128 a, __int128 b)
{
    return static_cast<std::int64_t>(a >= 0 ? (a + b / 2) / b : (a - b / 2) / b);
}

} // namespace

struct SampleReader::Impl {
    Impl(const Asset& asset, const StreamInfo& info, int sampleRate, int channelCount)
        : rate(sampleRate), channels(channelCount), dmx(asset.path())
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
    }

    ~Impl() { av_channel_layout_uninit(&outLayout); }

    std::int64_t frameIndexOf(const MediaTime& t) const
    {
        return roundDiv(static_cast<__int128>(t.value()) * rate, t.timescale());
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

    void append(const std::uint8_t* const* data, int count)
    {
        const int room = swr_get_out_samples(resampler.get(), count);
        if (room < 0) throw MediaError("A hang nem alakítható át: " + quoted(dmx.path()) + ".", room);
        const std::size_t old = buffer.size();
        buffer.resize(old + static_cast<std::size_t>(room) * channels);
        auto* out = reinterpret_cast<std::uint8_t*>(buffer.data() + old);
        const int got = swr_convert(resampler.get(), &out, room, const_cast<const std::uint8_t**>(data), count);
        if (got < 0) {
            buffer.resize(old);
            throw MediaError("A hang nem alakítható át: " + quoted(dmx.path()) + ".", got);
        }
        buffer.resize(old + static_cast<std::size_t>(got) * channels);
    }

    // Decodes the next frame into the buffer; false at the end of the stream.
    bool fill()
    {
        for (;;) {
            int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == 0) {
                if (!resampler || frame->format != inFormat || frame->sample_rate != inRate ||
                    frame->ch_layout.nb_channels != inChannels)
                    resetResampler(frame.get());
                if (anchorPending) {
                    std::int64_t pts = frame->best_effort_timestamp;
                    if (pts == AV_NOPTS_VALUE) pts = frame->pts;
                    if (pts == AV_NOPTS_VALUE) pts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
                    bufferStart = av_rescale_q_rnd(pts, st->time_base, AVRational{1, rate}, AV_ROUND_NEAR_INF);
                    anchorPending = false;
                }
                append(frame->extended_data, frame->nb_samples);
                return true;
            }
            if (rc == AVERROR_EOF) {
                if (resampler && !ended) append(nullptr, 0);  // the resampler's tail
                ended = true;
                return false;
            }
            if (rc != AVERROR(EAGAIN))
                throw MediaError("A hang nem dekódolható: " + quoted(dmx.path()) + ".", rc);
            if (draining) return false;
            rc = dmx.readPacket(packet.get());
            if (rc < 0) {
                avcodec_send_packet(dec.get(), nullptr);
                draining = true;
                continue;
            }
            // A damaged packet is skipped.
            if (packet->stream_index == st->index) avcodec_send_packet(dec.get(), packet.get());
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
                            av_seek_frame(dmx.context(), st->index, 0, AVSEEK_FLAG_BYTE) >= 0;
        if (!sought) throw MediaError("A hangban nem lehet a kért helyre ugrani: " + quoted(dmx.path()) + ".");
        avcodec_flush_buffers(dec.get());
        resampler.reset();
        buffer.clear();
        head = 0;
        anchorPending = true;
        draining = false;
        ended = false;
        positioned = true;
    }

    std::size_t read(float* out, std::size_t frames)
    {
        if (!positioned) seekTo(position);
        if (position >= end) return 0;
        frames = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(frames), end - position));
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
    Demuxer dmx;
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
    std::int64_t end = std::numeric_limits<std::int64_t>::max();  // frame index where the stream ends
    bool positioned = false;
    bool anchorPending = true;
    bool draining = false;
    bool ended = false;
};

SampleReader::SampleReader(const Asset& asset, const StreamInfo& stream, int sampleRate, int channels)
    : impl_(std::make_unique<Impl>(asset, stream, sampleRate, channels))
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
