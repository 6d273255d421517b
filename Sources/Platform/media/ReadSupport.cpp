#include "Platform/media/ReadSupport.h"

#include "Platform/media/MediaError.h"

#include <cerrno>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavutil/opt.h>
}

namespace platform::readsupport {

namespace {

// Generous: local files answer at once; this only ends a stalled read.
constexpr std::chrono::seconds kOpenBudget{20};
constexpr std::chrono::seconds kReadBudget{10};

std::int64_t floorDiv(__int128 a, __int128 b)
{
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<std::int64_t>(q);
}

} // namespace

FramePtr makeFrame()
{
    FramePtr f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

PacketPtr makePacket()
{
    PacketPtr p(av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

MediaTime timeOf(std::int64_t ticks, AVRational tb)
{
    if (tb.num <= 0 || tb.den <= 0) return MediaTime::invalid();
    return MediaTime(ticks * tb.num, tb.den);
}

std::int64_t ticksAtOrBefore(const MediaTime& t, AVRational tb)
{
    return floorDiv(static_cast<__int128>(t.value()) * tb.den, static_cast<__int128>(t.timescale()) * tb.num);
}

std::string quoted(const std::filesystem::path& path)
{
    return "„" + path.string() + "”";
}

Demuxer::Demuxer(const std::filesystem::path& path) : path_(path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        throw MediaError("A fájl nem található: " + quoted(path) + ".");
    // Devices and pipes could block the open itself, before any deadline.
    if (!std::filesystem::is_regular_file(status))
        throw MediaError("Ez nem közönséges fájl, nem olvasható médiaként: " + quoted(path) + ".");

    ctx_ = avformat_alloc_context();
    if (!ctx_) throw std::bad_alloc();
    ctx_->interrupt_callback.callback = &Demuxer::interrupted;
    ctx_->interrupt_callback.opaque = this;
    arm(kOpenBudget);
    const int rc = avformat_open_input(&ctx_, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        ctx_ = nullptr;  // freed by avformat_open_input
        if (rc == AVERROR(EACCES) || rc == AVERROR(EPERM) || rc == AVERROR(EISDIR))
            throw MediaError("A fájl nem olvasható: " + quoted(path) + ".", rc);
        if (rc == AVERROR_EXIT)
            throw MediaError("A fájl megnyitása túl sokáig tartott: " + quoted(path) + ".", rc);
        throw MediaError("A fájl nem kép-, hang- vagy videofájl, vagy sérült: " + quoted(path) + ".", rc);
    }
}

Demuxer::~Demuxer()
{
    if (ctx_) avformat_close_input(&ctx_);
}

void Demuxer::arm(std::chrono::seconds budget)
{
    deadline_ = std::chrono::steady_clock::now() + budget;
}

int Demuxer::interrupted(void* opaque)
{
    const auto* self = static_cast<const Demuxer*>(opaque);
    return std::chrono::steady_clock::now() > self->deadline_ ? 1 : 0;
}

void Demuxer::findStreamInfo()
{
    arm(kOpenBudget);
    const int rc = avformat_find_stream_info(ctx_, nullptr);
    if (rc < 0) {
        if (rc == AVERROR_EXIT)
            throw MediaError("A fájl vizsgálata túl sokáig tartott: " + quoted(path_) + ".", rc);
        throw MediaError("A fájl nem kép-, hang- vagy videofájl, vagy sérült: " + quoted(path_) + ".", rc);
    }
}

int Demuxer::readPacket(AVPacket* packet)
{
    arm(kReadBudget);
    return av_read_frame(ctx_, packet);
}

int Demuxer::seekBackward(int streamIndex, std::int64_t ticks)
{
    arm(kReadBudget);
    return av_seek_frame(ctx_, streamIndex, ticks, AVSEEK_FLAG_BACKWARD);
}

CodecContextPtr Demuxer::openDecoder(int streamIndex, int threads) const
{
    const AVStream* st = ctx_->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        throw MediaError("A fájl egyik folyamához nincs dekóder (" + std::string(avcodec_get_name(st->codecpar->codec_id)) +
                         "): " + quoted(path_) + ".");
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec) throw std::bad_alloc();
    int rc = avcodec_parameters_to_context(dec.get(), st->codecpar);
    if (rc < 0) throw MediaError("A dekóder nem állítható be: " + quoted(path_) + ".", rc);
    dec->pkt_timebase = st->time_base;
    dec->thread_count = threads;
    dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    rc = avcodec_open2(dec.get(), codec, nullptr);
    if (rc < 0) throw MediaError("A dekóder nem indítható el: " + quoted(path_) + ".", rc);
    return dec;
}

void Demuxer::keepOnly(int streamIndex)
{
    for (unsigned i = 0; i < ctx_->nb_streams; ++i)
        ctx_->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

bool Demuxer::isImageFormat() const
{
    const std::string name = ctx_->iformat->name;
    auto endsWith = [&](const char* tail) {
        const std::size_t n = std::strlen(tail);
        return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
    };
    return endsWith("_pipe") || name == "image2" || name == "gif";
}

bool Demuxer::isMovFamily() const
{
    return std::strncmp(ctx_->iformat->name, "mov,", 4) == 0;
}

} // namespace platform::readsupport
