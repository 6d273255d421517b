#include "Platform/media/EncoderSupport.h"

#include "Platform/media/MediaError.h"

#include <cerrno>

#include <unistd.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace platform::encodersupport {

void check(int rc, const char* sentence)
{
    if (rc < 0) throw MediaError(sentence, rc);
}

std::int64_t ticksOf(const MediaTime& t, std::int64_t scale)
{
    const __int128 num = static_cast<__int128>(t.value()) * scale;
    const __int128 den = t.timescale();
    const __int128 q = num >= 0 ? (num + den / 2) / den : (num - den / 2) / den;
    return static_cast<std::int64_t>(q);
}

namespace {

// Writes all of `size` bytes to the descriptor (an int) behind `opaque`.
int writeToFile(void* opaque, std::uint8_t* data, int size)
{
    const int fd = *static_cast<int*>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<std::size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        data += n;
        left -= static_cast<int>(n);
    }
    return size;
}

} // namespace

AVIOContext* fileOutput(int* fd, int bufferSize, std::int64_t (*seek)(void*, std::int64_t, int))
{
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(std::size_t(bufferSize)));
    if (!buffer) throw std::bad_alloc();
    AVIOContext* io = avio_alloc_context(buffer, bufferSize, 1, fd, nullptr, writeToFile, seek);
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    return io;
}

CodecPtr allocEncoder(const char* name, const char* failure)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) throw MediaError(failure, AVERROR_ENCODER_NOT_FOUND);
    return CodecPtr(checkedAlloc(avcodec_alloc_context3(codec)));
}

void openStereoSound(AVCodecContext* c, int rate, std::int64_t bitsPerSecond, bool globalHeader,
                     const char* failure)
{
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = rate;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    check(av_channel_layout_copy(&c->ch_layout, &stereo), failure);
    c->bit_rate = bitsPerSecond;
    c->time_base = {1, rate};
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(c, c->codec, nullptr), failure);
}

FramePtr soundFrameFor(const AVCodecContext* c, const char* failure)
{
    FramePtr frame(checkedAlloc(av_frame_alloc()));
    frame->format = c->sample_fmt;
    frame->sample_rate = c->sample_rate;
    frame->nb_samples = c->frame_size;
    check(av_channel_layout_copy(&frame->ch_layout, &c->ch_layout), failure);
    check(av_frame_get_buffer(frame.get(), 0), failure);
    return frame;
}

AVStream* addStream(AVFormatContext* format, const AVCodecContext* c, const char* failure)
{
    AVStream* stream = avformat_new_stream(format, nullptr);
    if (!stream) throw std::bad_alloc();
    check(avcodec_parameters_from_context(stream->codecpar, c), failure);
    stream->time_base = c->time_base;
    return stream;
}

void resetScaler(ScalerPtr& scaler, int sourceWidth, int sourceHeight, int width, int height, int threads)
{
    scaler.reset(checkedAlloc(sws_alloc_context()));
    SwsContext* s = scaler.get();
    av_opt_set_int(s, "srcw", sourceWidth, 0);
    av_opt_set_int(s, "srch", sourceHeight, 0);
    av_opt_set_int(s, "src_format", AV_PIX_FMT_BGRA, 0);
    av_opt_set_int(s, "dstw", width, 0);
    av_opt_set_int(s, "dsth", height, 0);
    av_opt_set_int(s, "dst_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(s, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(s, "threads", threads, 0);
    const int rc = sws_init_context(s, nullptr, nullptr);
    if (rc < 0) {
        scaler.reset();
        throw MediaError("A kép nem alakítható át a videó kódolóhoz.", rc);
    }
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(s, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
}

} // namespace platform::encodersupport
