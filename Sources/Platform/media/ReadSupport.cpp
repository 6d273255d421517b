#include "Platform/media/ReadSupport.h"

#include "Platform/media/MediaError.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <vector>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace platform::readsupport {

namespace {

// Generous: local files answer at once; this only ends a stalled read.
constexpr std::chrono::seconds kOpenBudget{20};
constexpr std::chrono::seconds kReadBudget{10};

// Read buffer of a prefix reader; FFmpeg's own file reading uses the same.
constexpr int kLimitedBuffer = 32768;

bool isTopLevelBoxType(const char* type)
{
    static constexpr std::array<const char*, 9> kFirst{"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "styp", "moof"};
    for (const char* t : kFirst)
        if (std::memcmp(type, t, 4) == 0) return true;
    return false;
}

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

BoxLayout topLevelBoxes(const std::filesystem::path& path)
{
    BoxLayout layout;
    // Not blocking: opening a pipe to read waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return layout;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return layout;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t at = 0;
    for (;;) {
        unsigned char head[16];
        const ssize_t got = pread(fd, head, sizeof head, static_cast<off_t>(at));
        if (got <= 0) break;  // the end, or nothing more to read
        if (got < 8) {
            layout.cutType.assign(1, '?');
            break;
        }
        const char* type = reinterpret_cast<const char*>(head + 4);
        if (at == 0) {
            if (!isTopLevelBoxType(type)) break;
            layout.isBoxes = true;
        }
        std::uint64_t size = 0;
        for (int i = 0; i < 4; ++i) size = size << 8 | head[i];
        std::uint64_t header = 8;
        if (size == 1) {
            if (got < 16) {
                layout.cutType.assign(type, 4);
                break;
            }
            size = 0;
            for (int i = 8; i < 16; ++i) size = size << 8 | head[i];
            header = 16;
        } else if (size == 0) {
            size = fileSize - at;  // runs to the end of the file
        }
        if (size < header) {
            // Not a box: what follows is no structure we can cut at.
            layout.cutType.assign(1, '?');
            break;
        }
        if (size > fileSize - at) {
            layout.cutType.assign(type, 4);
            break;
        }
        at += size;
        layout.wholeEnd = at;
    }
    ::close(fd);
    return layout;
}

// A file read through our own callbacks, ending at a chosen size.
struct Demuxer::LimitedInput {
    ~LimitedInput()
    {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0) ::close(fd);
    }

    static int read(void* opaque, std::uint8_t* buf, int n)
    {
        auto* in = static_cast<LimitedInput*>(opaque);
        if (interrupted(in->deadline)) return AVERROR_EXIT;
        if (in->pos >= in->size) return AVERROR_EOF;
        n = static_cast<int>(std::min<std::int64_t>(n, in->size - in->pos));
        ssize_t got;
        do got = pread(in->fd, buf, static_cast<std::size_t>(n), static_cast<off_t>(in->pos));
        while (got < 0 && errno == EINTR);
        if (got < 0) return AVERROR(errno);
        if (got == 0) return AVERROR_EOF;
        in->pos += got;
        return static_cast<int>(got);
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence)
    {
        auto* in = static_cast<LimitedInput*>(opaque);
        whence &= ~AVSEEK_FORCE;
        if (whence == AVSEEK_SIZE) return in->size;
        std::int64_t to = -1;
        if (whence == SEEK_SET) to = offset;
        else if (whence == SEEK_CUR) to = in->pos + offset;
        else if (whence == SEEK_END) to = in->size + offset;
        if (to < 0) return AVERROR(EINVAL);
        in->pos = to;
        return to;
    }

    int fd = -1;
    std::int64_t size = 0;
    std::int64_t pos = 0;
    Deadline* deadline = nullptr;  // ends a stalled read
    AVIOContext* io = nullptr;
};

std::string fileIdentity(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    const auto written = std::filesystem::last_write_time(path, ec);
    return path.lexically_normal().string() + '\n' + std::to_string(ec ? 0 : size) + '\n' +
           std::to_string(written.time_since_epoch().count());
}

// Inputs kept for the next demuxer of the same content, oldest first.
struct Demuxer::Pool {
    struct Kept {
        std::string key;  // identity and byte limit
        AVFormatContext* ctx = nullptr;
        std::unique_ptr<LimitedInput> limited;
        std::unique_ptr<Deadline> deadline;
        bool infoFound = false;
    };

    static Pool& instance()
    {
        static Pool pool;
        return pool;
    }

    static void close(Kept& k)
    {
        if (k.ctx) avformat_close_input(&k.ctx);
        k.limited.reset();
    }

    ~Pool()
    {
        for (Kept& k : kept) close(k);
    }

    std::mutex mutex;
    std::deque<Kept> kept;  // guarded by mutex
    std::atomic<std::uint64_t> opens{0};
};

std::uint64_t Demuxer::opens()
{
    return Pool::instance().opens.load();
}

namespace {

std::string poolKey(const std::string& identity, std::uint64_t byteLimit)
{
    return identity + '\n' + std::to_string(byteLimit);
}

} // namespace

Demuxer::Demuxer(const std::filesystem::path& path, std::uint64_t byteLimit) : path_(path), byteLimit_(byteLimit)
{
    open(byteLimit);
}

Demuxer::Demuxer(const std::filesystem::path& path, std::uint64_t byteLimit, std::string identity)
    : path_(path), identity_(std::move(identity)), byteLimit_(byteLimit)
{
    if (!takeKept(byteLimit)) open(byteLimit);
}

bool Demuxer::takeKept(std::uint64_t byteLimit)
{
    if (identity_.empty()) return false;
    const std::string key = poolKey(identity_, byteLimit);
    // The file must still be the one kept: a file gone or rewritten since
    // is opened afresh, and fails or reads its new content as it would.
    const bool current = fileIdentity(path_) == identity_;
    Pool& pool = Pool::instance();
    Pool::Kept taken;
    std::vector<Pool::Kept> stale;
    {
        std::lock_guard lock(pool.mutex);
        for (auto it = pool.kept.end(); it != pool.kept.begin();) {
            --it;
            if (it->key != key) continue;
            if (!current) stale.push_back(std::move(*it));
            else taken = std::move(*it);  // the newest
            it = pool.kept.erase(it);
            if (taken.ctx) break;
        }
    }
    for (Pool::Kept& k : stale) Pool::close(k);
    if (!taken.ctx) return false;
    ctx_ = taken.ctx;
    limited_ = std::move(taken.limited);
    deadline_ = std::move(taken.deadline);
    infoFound_ = taken.infoFound;
    for (unsigned i = 0; i < ctx_->nb_streams; ++i) ctx_->streams[i]->discard = AVDISCARD_DEFAULT;
    return true;
}

void Demuxer::open(std::uint64_t byteLimit)
{
    const std::filesystem::path& path = path_;
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
    ctx_->interrupt_callback.opaque = deadline_.get();
    if (byteLimit > 0) {
        limited_ = std::make_unique<LimitedInput>();
        limited_->deadline = deadline_.get();
        limited_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (limited_->fd < 0) {
            const int rc = AVERROR(errno);
            avformat_free_context(ctx_);
            ctx_ = nullptr;
            throw MediaError("A fájl nem olvasható: " + quoted(path) + ".", rc);
        }
        limited_->size = static_cast<std::int64_t>(byteLimit);
        auto* buffer = static_cast<unsigned char*>(av_malloc(kLimitedBuffer));
        if (buffer)
            limited_->io = avio_alloc_context(buffer, kLimitedBuffer, 0, limited_.get(), &LimitedInput::read, nullptr,
                                              &LimitedInput::seek);
        if (!limited_->io) {
            av_free(buffer);
            avformat_free_context(ctx_);
            ctx_ = nullptr;
            throw std::bad_alloc();
        }
        ctx_->pb = limited_->io;
    }
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
    ++Pool::instance().opens;
}

// Kept per content and in all: enough for a probe followed by the readers
// of peaks, thumbnails and playback; each holds a file and its index.
constexpr std::size_t kKeptPerFile = 2;
constexpr std::size_t kKeptInAll = 8;

Demuxer::~Demuxer()
{
    if (!ctx_) return;
    // Still pictures are read from their start without a seek; their
    // inputs aren't worth keeping anyway.
    if (identity_.empty() || stalled_ || isImageFormat()) {
        avformat_close_input(&ctx_);
        return;
    }
    Pool& pool = Pool::instance();
    std::vector<Pool::Kept> evicted;
    {
        std::lock_guard lock(pool.mutex);
        const std::string key = poolKey(identity_, byteLimit_);
        pool.kept.push_back(Pool::Kept{key, ctx_, std::move(limited_), std::move(deadline_), infoFound_});
        std::size_t same = 0;
        for (const Pool::Kept& k : pool.kept) same += k.key == key;
        for (auto it = pool.kept.begin(); it != pool.kept.end();) {
            const bool over = pool.kept.size() > kKeptInAll || (it->key == key && same > kKeptPerFile);
            if (!over) {
                ++it;
                continue;
            }
            if (it->key == key) --same;
            evicted.push_back(std::move(*it));
            it = pool.kept.erase(it);
        }
    }
    ctx_ = nullptr;
    for (Pool::Kept& k : evicted) Pool::close(k);
}

void Demuxer::arm(std::chrono::seconds budget)
{
    deadline_->at = std::chrono::steady_clock::now() + budget;
}

int Demuxer::interrupted(void* opaque)
{
    const auto* deadline = static_cast<const Deadline*>(opaque);
    return std::chrono::steady_clock::now() > deadline->at ? 1 : 0;
}

void Demuxer::findStreamInfo()
{
    if (infoFound_) return;
    arm(kOpenBudget);
    const int rc = avformat_find_stream_info(ctx_, nullptr);
    stalled_ = stalled_ || rc == AVERROR_EXIT;
    if (rc >= 0) infoFound_ = true;
    if (rc < 0) {
        if (rc == AVERROR_EXIT)
            throw MediaError("A fájl vizsgálata túl sokáig tartott: " + quoted(path_) + ".", rc);
        throw MediaError("A fájl nem kép-, hang- vagy videofájl, vagy sérült: " + quoted(path_) + ".", rc);
    }
}

int Demuxer::readPacket(AVPacket* packet)
{
    arm(kReadBudget);
    const int rc = av_read_frame(ctx_, packet);
    stalled_ = stalled_ || rc == AVERROR_EXIT;
    return rc;
}

int Demuxer::seekBackward(int streamIndex, std::int64_t ticks)
{
    arm(kReadBudget);
    const int rc = av_seek_frame(ctx_, streamIndex, ticks, AVSEEK_FLAG_BACKWARD);
    stalled_ = stalled_ || rc == AVERROR_EXIT;
    return rc;
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

std::int64_t Demuxer::size() const
{
    return ctx_->pb ? avio_size(ctx_->pb) : -1;
}

bool Demuxer::isMovFamily() const
{
    return std::strncmp(ctx_->iformat->name, "mov,", 4) == 0;
}

} // namespace platform::readsupport
