#include "Platform/media/MovieWriter.h"

#include "Platform/media/EncoderSupport.h"

#include <QImage>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace platform {

using namespace encodersupport;

namespace {

static_assert(std::endian::native == std::endian::little, "QImage's 32-bit formats are taken as B, G, R, A bytes");

// --- Tuning ------------------------------------------------------------------

// A fragment (moof + mdat) is closed at a key frame of the leading track
// (the first video track, else the first sound track) once the fragment
// holds 2 s of it; a process that dies loses at most about that much. Every
// video track forces a key frame 2 s of media time after its last one, so a
// still or slowly changing picture (few frames, which frame counts would
// never reach) still cuts fragments that start with a key frame.
constexpr std::int64_t kFragmentMicroseconds = 2'000'000;
// Should the leading track stall (no frames reach the writer), the other
// tracks are cut regardless after this much, so their data is not held back.
constexpr std::int64_t kForcedCutMicroseconds = 2 * kFragmentMicroseconds;

// empty_moov: the header goes out first, so every fragment written after it
// plays even if the process dies. frag_custom: fragments are cut only where
// the writer says (see Muxer::cut), never in the middle of a key frame's
// span. default_base_moof: fragments are self-contained and nothing is ever
// rewritten. frag_discont: each track's first fragment states its own start
// time, so a track whose first sample comes late (a camera that starts
// after the screen) keeps that time instead of being pulled to 0. No edit
// lists are written (the header is out before any sample), so no timestamp
// may be negative: see writeSoundPacket.
constexpr const char* kMovieFlags = "frag_custom+empty_moov+default_base_moof+frag_discont";

// Video timestamps are kept at the media layer's timescale, so host-clock
// times survive into the file within 1/60000 s.
constexpr int kVideoTimescale = MediaTime::kDefaultTimescale;
constexpr std::int64_t kKeyIntervalTicks = kFragmentMicroseconds * kVideoTimescale / 1'000'000;

// x264 "veryfast" is the fastest preset that keeps the High-profile tools
// (8×8 transform, CABAC) and so writes High; 1080p30 screen content encodes
// about three times faster than real time on two cores. B-frames are off
// (max_b_frames) so decode order stays presentation order.
constexpr const char* kVideoPreset = "veryfast";

// No frame may wait in the encoder: a screen that changes once a second (or
// is repeated once a second while still) would otherwise sit ~20 frames, i.e.
// 20 s, behind its sound in look-ahead and frame threads, and a crash would
// leave sound without picture. So no look-ahead (and so no macroblock tree),
// threads work on slices of one frame instead of on several frames, and rate
// control takes every frame as 1/fps long (force-cfr) rather than waiting
// for the next frame's time to learn its duration. Time stamps are kept as
// given. The cost is some compression, not CPU (see bench_recording).
constexpr const char* kVideoLowDelayParams = "rc-lookahead=0:sync-lookahead=0:mbtree=0:sliced-threads=1:force-cfr=1";

// A track that encodes frames in parallel (setParallelFrames) works on
// several frames at once, with the frame type decided a frame ahead on a
// thread of its own: at 3840 × 2160 on four loaded cores about 1.4 times
// the frames of slices for the same CPU (45–50 against 32–35 a second).
// Each frame thread and the one frame ahead hold a picture back, so the
// caller repeats a still picture often enough to push them out
// (framesInEncoder). Still no look-ahead for rate control.
constexpr const char* kVideoParallelParams = "rc-lookahead=0:sync-lookahead=1:mbtree=0:force-cfr=1";
// Frame threads: one and a half per core, as the encoder would choose,
// within these bounds (each is a picture held back).
constexpr int kMinFrameThreads = 2;
constexpr int kMaxFrameThreads = 8;

// Slice threads of the encoder: kSliceThreadsPer1080p30 for each 1920 × 1080
// at 30 frames a second of picture, at least 2, at most one per core. One
// slice per core (x264's own choice) costs a third more CPU at 1080p30 on 8
// cores and halves the frame rate the writer keeps up with (every thread
// waits for the slowest slice of every frame); 4 slices keep 1080p30 within
// a frame interval with the CPU of frame threads (see bench_media Encode).
constexpr double kSliceThreadsPer1080p30 = 4;

// A picture of the track's size is converted in bands of rows on this many
// threads for each 1920 × 1080 at 30 frames a second (the caller's among
// them), at most one per core: at 3840 × 2160 one thread alone takes most of
// a frame interval, and a loaded machine then falls behind with every
// picture. The bands are the same arithmetic on other rows: the picture
// comes out the same.
constexpr double kConversionBandsPer1080p30 = 1;
constexpr int kMaxConversionBands = 4;

// A picture of another size than its track (a resized window) is scaled and
// converted by swscale in slices on this many threads (0: one per core this
// process may use), so that it does not hold up the next picture.
constexpr int kScalerThreads = 0;

// Pictures that may wait for a video track's encoder thread (see
// waitingPictures). On a loaded machine the encoder falls behind for
// seconds at a time (its threads, the X server and everything else share
// a few cores) and catches up later: a deep queue turns that into waiting
// rather than lost frames, as the other recorders' grab queues of several
// seconds do. Up to 10 s of pictures, within a quarter of the machine's
// memory and at most 2 GiB (a 3840 × 2160 picture is 12 MB: about 170 of
// them, 5.8 s at 30 fps; 1920 × 1080 takes the full 10 s in 0.9 GiB), and
// never fewer than a few. The wait is what a crash would lose beyond the
// last fragment. Only free pictures beyond kSparePictures are let go, so a
// backlog's memory is given back once it is encoded.
constexpr double kQueuedSeconds = 10.0;
constexpr double kQueuedBytesAtMost = 2.0 * 1024 * 1024 * 1024;
constexpr double kQueuedMemoryShare = 0.25;
constexpr int kLeastQueuedPictures = 4;
constexpr std::size_t kSparePictures = 4;

// The AAC output every sound track has (always stereo).
constexpr std::int64_t kSoundBitsPerSecond = 256'000;
constexpr int kMaxSoundRate = 48'000;

// Sound time stamps are trusted only to this much: a buffer that starts
// within 10 ms of where the previous one ended is taken as contiguous (no
// click from a one-sample silence or trim); beyond that a gap is filled or an
// overlap trimmed. 10 ms is well below an audible lip-sync error.
constexpr double kSoundJitterSeconds = 0.010;

// A sound track that lags the picture by more than 1 s is filled with silence
// up to 1 s behind it, so that fragments keep all tracks and a stalled source
// doesn't leave its track empty if the process dies. Sound arriving later
// than that is trimmed as an overlap. Capture latencies are tens of ms.
constexpr double kSoundLagSeconds = 1.0;

// The AAC encoder refuses non-finite samples and magnitudes near 1e16; one
// bad buffer must not end a recording, so samples are made finite and
// limited to ±64 (far beyond any real signal, which is within ±1).
constexpr float kSampleLimit = 64.0f;

// Write buffer between the muxer and the file.
constexpr int kIoBufferSize = 64 * 1024;

// Names are stored in the QuickTime handler atom as a Pascal string, which
// could hold 255 bytes; but FFmpeg's reader takes a length byte above 127 for
// text (a signed char), so longer names are cut to 127 bytes.
constexpr std::size_t kMaxNameBytes = 127;

// --- FFmpeg ownership ----------------------------------------------------------

struct ResamplerDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

std::string truncatedName(const std::string& name)
{
    if (name.size() <= kMaxNameBytes) return name;
    std::size_t n = kMaxNameBytes;
    // Don't cut a UTF-8 sequence: back off over continuation bytes.
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    return name.substr(0, n);
}

std::string pathText(const std::filesystem::path& p)
{
    return p.string();
}

// Full-range B, G, R, X pixels to BT.709 limited-range 4:2:0 planes of the
// same (even) size, each chroma sample from its 2 × 2 pixels. Used where no
// scaling is needed: swscale's general path takes twice as long for this
// (6 ms a 1080p picture here, a fifth of the recorder's CPU at 60 frames a
// second). Fixed point at 2^15, rounded.
// Rows [first, last) of the picture, `first` even.
void bgraToYuv420Rows(const std::uint8_t* bgra, std::ptrdiff_t stride, int width, int first, int last, AVFrame* out)
{
    constexpr int yr = 5983, yg = 20127, yb = 2032;    // 219/255 × (0.2126, 0.7152, 0.0722)
    constexpr int ur = -3299, ug = -11093, ub = 14392;  // 224/255 × (-0.1146, -0.3854, 0.5)
    constexpr int vr = 14392, vg = -13074, vb = -1318;  // 224/255 × (0.5, -0.4542, -0.0458)
    constexpr int yOffset = (16 << 15) + (1 << 14);
    constexpr int cOffset = (128 << 17) + (1 << 16);    // chroma from sums of four pixels
    for (int row = first; row < last; row += 2) {
        const std::uint8_t* p0 = bgra + std::ptrdiff_t(row) * stride;
        const std::uint8_t* p1 = p0 + stride;
        std::uint8_t* y0 = out->data[0] + std::ptrdiff_t(row) * out->linesize[0];
        std::uint8_t* y1 = y0 + out->linesize[0];
        for (int x = 0; x < width; ++x) {
            y0[x] = std::uint8_t((yb * p0[4 * x] + yg * p0[4 * x + 1] + yr * p0[4 * x + 2] + yOffset) >> 15);
            y1[x] = std::uint8_t((yb * p1[4 * x] + yg * p1[4 * x + 1] + yr * p1[4 * x + 2] + yOffset) >> 15);
        }
        std::uint8_t* u = out->data[1] + std::ptrdiff_t(row / 2) * out->linesize[1];
        std::uint8_t* v = out->data[2] + std::ptrdiff_t(row / 2) * out->linesize[2];
        for (int x = 0; x < width / 2; ++x) {
            const int b = p0[8 * x] + p0[8 * x + 4] + p1[8 * x] + p1[8 * x + 4];
            const int g = p0[8 * x + 1] + p0[8 * x + 5] + p1[8 * x + 1] + p1[8 * x + 5];
            const int r = p0[8 * x + 2] + p0[8 * x + 6] + p1[8 * x + 2] + p1[8 * x + 6];
            u[x] = std::uint8_t((ub * b + ug * g + ur * r + cOffset) >> 17);
            v[x] = std::uint8_t((vb * b + vg * g + vr * r + cOffset) >> 17);
        }
    }
}

std::uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
}

int conversionBands(const MovieWriter::VideoTrack& track)
{
    const double work = double(track.width) * track.height * track.framesPerSecond / (1920.0 * 1080.0 * 30.0);
    const int cores = std::max(1, av_cpu_count());
    return std::clamp(int(std::ceil(kConversionBandsPer1080p30 * work - 1e-9)), 1, std::min(kMaxConversionBands, cores));
}

// Runs a job on every band of a picture at once: the last band on the
// caller's thread, the others on threads of their own that live as long as
// this. run() returns when every band is done.
class BandWorkers {
public:
    explicit BandWorkers(int bands) : bands_(std::max(bands, 1))
    {
        try {
            for (int band = 0; band + 1 < bands_; ++band) threads_.emplace_back([this, band] { work(band); });
        } catch (...) {
            close();
            throw;
        }
    }
    ~BandWorkers() { close(); }
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;

    int bands() const { return bands_; }

    void run(const std::function<void(int band)>& job)
    {
        if (threads_.empty()) return job(0);
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            pending_ = int(threads_.size());
            ++generation_;
        }
        wake_.notify_all();
        std::exception_ptr failure;
        try {
            job(bands_ - 1);
        } catch (...) {
            failure = std::current_exception();  // the other bands still use `job`: wait for them first
        }
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        job_ = nullptr;
        if (failure) std::rethrow_exception(failure);
    }

private:
    void close()
    {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }

    void work(int band)
    {
        pthread_setname_np(pthread_self(), "ondexa.convert");
        std::uint64_t seen = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return closing_ || generation_ != seen; });
            if (closing_) return;
            seen = generation_;
            const std::function<void(int)>* job = job_;
            lock.unlock();
            (*job)(band);
            lock.lock();
            if (--pending_ == 0) done_.notify_all();
        }
    }

    const int bands_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;                     // a new job, or closing
    std::condition_variable done_;                     // every band of the job done
    const std::function<void(int)>* job_ = nullptr;    // under mutex_: the caller's job while run() lasts
    std::uint64_t generation_ = 0;                     // under mutex_: counts jobs
    int pending_ = 0;                                  // under mutex_: bands of the job still running elsewhere
    bool closing_ = false;                             // under mutex_
};

int frameThreads()
{
    return std::clamp(std::max(1, av_cpu_count()) * 3 / 2, kMinFrameThreads, kMaxFrameThreads);
}

int encoderThreads(const MovieWriter::VideoTrack& track, bool parallelFrames)
{
    if (parallelFrames) return frameThreads();
    const double work = double(track.width) * track.height * track.framesPerSecond / (1920.0 * 1080.0 * 30.0);
    // The cores this process may run on (taskset), not all there are.
    const int cores = std::max(1, av_cpu_count());
    return std::clamp(int(std::ceil(kSliceThreadsPer1080p30 * work)), std::min(2, cores), cores);
}

} // namespace

// --- Track state -----------------------------------------------------------------
//
// Helpers below throw MediaError; the public calls turn that into the
// writer's failure.

namespace {

constexpr const char* kWriteError = "Írási hiba a felvétel közben.";

// Hands every packet the encoder has ready to `write`.
template <typename Write>
void drainEncoder(AVCodecContext* encoder, AVPacket* packet, Write&& write)
{
    for (;;) {
        const int rc = avcodec_receive_packet(encoder, packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        check(rc, kWriteError);
        write(packet);
        av_packet_unref(packet);
    }
}

// The muxer, and where its fragments are cut. Video packets come from each
// video track's encoder thread, sound packets from the caller's: every call
// takes the lock.
struct Muxer {
    AVFormatContext* format = nullptr;  // owned by MovieWriter::Impl
    AVIOContext* io = nullptr;          // owned by MovieWriter::Impl
    const AVStream* leading = nullptr;  // the track whose key frames begin fragments
    bool leadingIsVideo = false;
    std::int64_t lastCut = 0;           // µs from the session start; 0 until the first cut
    // The end of the last fragment that reached the file whole: µs from the
    // session start (0: none yet) and bytes into the file. Kept by clear().
    std::int64_t keptUntil = 0;
    std::int64_t keptBytes = 0;
    // The latest end of a packet written so far, µs from the session start:
    // a fragment plays only as far as what it holds, which can end before
    // the next fragment's start (a picture that stood still).
    std::int64_t writtenEnd = 0;
    std::mutex mutex;

    void clear()
    {
        format = nullptr;
        io = nullptr;
        leading = nullptr;
        leadingIsVideo = false;
        lastCut = 0;
        writtenEnd = 0;
    }

    // Writes one packet, `from` being its time base.
    void write(AVStream* stream, AVRational from, AVPacket* packet)
    {
        std::lock_guard lock(mutex);
        av_packet_rescale_ts(packet, from, stream->time_base);
        packet->stream_index = stream->index;
        const std::int64_t at = av_rescale_q(packet->pts, stream->time_base, AVRational{1, 1'000'000});
        if (stream == leading ? !leadingIsVideo && at >= lastCut + kFragmentMicroseconds
                              : at >= lastCut + kForcedCutMicroseconds)
            cut(at);
        const std::int64_t end = at + av_rescale_q(packet->duration, stream->time_base, AVRational{1, 1'000'000});
        check(av_write_frame(format, packet), kWriteError);
        writtenEnd = std::max(writtenEnd, end);
    }

    // A key frame of `stream` that may begin a fragment came out of its
    // encoder, `at` µs from the session start; it is written next.
    void anchorArrived(const AVStream* stream, std::int64_t at)
    {
        std::lock_guard lock(mutex);
        if (stream == leading && at > lastCut) cut(at);
    }

    // Closes the fragment written so far (moof + mdat out to the file).
    void cut(std::int64_t at)
    {
        check(av_write_frame(format, nullptr), kWriteError);
        avio_flush(io);
        check(io->error, kWriteError);
        lastCut = at;
        keptUntil = writtenEnd > 0 ? std::min(at, writtenEnd) : at;
        keptBytes = avio_tell(io);
    }
};

} // namespace

// A video track's pictures are converted on the caller's thread and encoded
// on the track's own thread, so that the caller (the capture queue) is free
// for the next picture and the sound while the encoder works, and a burst
// of slow encoding (a loaded machine) is taken up by the pictures waiting.
//
// The caller's fields are touched by the caller only; the encoder's (the
// encoder, `held`, `holding`, `anchorTicks`, `forcedTicks`) by the encoder thread only until
// it is joined; the rest under `mutex`. Times are set by the caller and
// travel with each picture, so how long a picture waits never moves it.
struct MovieWriter::VideoState {
    VideoTrack settings;
    bool parallelFrames = false;     // see setParallelFrames
    AVStream* stream = nullptr;      // owned by the format context
    CodecPtr encoder;
    ScalerPtr scaler;                // caller: for the current source size
    std::unique_ptr<BandWorkers> bandWorkers;  // caller: converts a picture of the track's size; made at the first
    int scalerWidth = 0;
    int scalerHeight = 0;
    std::int64_t lastTicks = -1;     // caller: last frame, 1/60000 s from the session start; -1 before the first
    std::int64_t frameTicks = 0;     // nominal frame duration
    // Caller: the converted pictures (yuv420p). A slot is free once the
    // encoder thread has let go of it (its buffer is ours alone again) and
    // it is not the newest, which a repeat may still need.
    std::vector<FramePtr> pictures;
    AVFrame* newest = nullptr;
    std::size_t capacity = 2;        // pictures at most: those that may wait, plus the newest

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<FramePtr> jobs;       // under mutex: pictures for the encoder, oldest first, pts set
    std::int64_t done = 0;           // under mutex: pictures the encoder has finished with
    bool closing = false;            // under mutex: the thread ends once `jobs` is empty
    bool heldBack = false;           // under mutex: tests hold the encoder back (a slow encoder)
    bool encoding = false;           // under mutex: a picture is being encoded
    std::optional<MediaError> failure;  // under mutex: the encoder's first failure
    std::thread worker;
    Muxer* mux = nullptr;
    PacketPtr packet;                // the encoder thread's
    // The newest encoded packet: written once the next one's time tells its
    // duration (frames come at irregular times), or at finish.
    PacketPtr held;
    bool holding = false;
    // The last key frame that came at least a key interval after the one
    // before it (-1: none yet). The next frame due after it is made a key
    // frame; the leading track begins a fragment at each such key frame.
    std::int64_t anchorTicks = -1;
    // The last frame made a key frame on its way in (-1: none yet). An
    // encoder that holds frames gives it back only frames later; until then
    // the frames after it are not due.
    std::int64_t forcedTicks = -1;
    bool hasPicture = false;         // caller: `newest` holds the last frame appended

    // When the next anchor key frame is due after `anchor`. Half a frame
    // early, so that a frame at the nominal rate that lands a hair before the
    // 2 s mark (or x264's own key frame there) is the one, not the frame after.
    std::int64_t keyDue(std::int64_t anchor) const
    {
        return anchor < 0 ? 0 : anchor + kKeyIntervalTicks - frameTicks / 2;
    }

    void open(bool globalHeader)
    {
        encoder = allocEncoder("libx264", "A videó kódoló nem indítható.");
        AVCodecContext* c = encoder.get();
        c->width = settings.width;
        c->height = settings.height;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = {1, kVideoTimescale};
        c->framerate = {settings.framesPerSecond, 1};
        c->bit_rate = settings.bitsPerSecond;
        c->gop_size = 2 * settings.framesPerSecond;
        c->max_b_frames = 0;  // no reordering: decode order is presentation order
        c->thread_count = encoderThreads(settings, parallelFrames);
        tagBt709(c);
        if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "preset", kVideoPreset, 0);
        av_dict_set(&opts, "profile", "high", 0);  // the level is left to the encoder
        av_dict_set(&opts, "x264-params", parallelFrames ? kVideoParallelParams : kVideoLowDelayParams, 0);
        av_dict_set(&opts, "forced-idr", "1", 0);  // a forced key frame is an IDR frame: a fragment decodes on its own
        const int rc = avcodec_open2(c, c->codec, &opts);
        av_dict_free(&opts);
        check(rc, "A videó kódoló nem indítható.");

        held.reset(checkedAlloc(av_packet_alloc()));
        packet.reset(checkedAlloc(av_packet_alloc()));
        capacity = std::size_t(MovieWriter::waitingPictures(settings.width, settings.height,
                                                            settings.framesPerSecond, physicalMemory())) + 1;
    }

    void startEncoder(Muxer& muxer)
    {
        mux = &muxer;
        worker = std::thread([this] { encodeQueued(); });
    }

    // The encoder thread: encodes the pictures as they come, until closed.
    void encodeQueued()
    {
        pthread_setname_np(pthread_self(), "ondexa.encode");
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return (closing || !jobs.empty()) && !heldBack; });
            if (jobs.empty()) return;
            FramePtr job = std::move(jobs.front());
            jobs.pop_front();
            encoding = true;
            const bool failed = failure.has_value();
            lock.unlock();
            std::optional<MediaError> error;
            if (!failed) {
                try {
                    encode(job.get(), *mux, packet.get());
                } catch (const MediaError& e) {
                    error = e;
                } catch (const std::exception&) {
                    error = MediaError(kWriteError);
                }
            }
            job.reset();  // the slot is free again
            lock.lock();
            if (error && !failure) failure = std::move(error);
            encoding = false;
            ++done;
            changed.notify_all();
        }
    }

    // Ends the encoder thread once it has encoded what waits (with
    // `discard`, what waits is dropped). Then the caller owns everything.
    void stopEncoder(bool discard)
    {
        if (!worker.joinable()) return;
        {
            std::lock_guard lock(mutex);
            if (discard) jobs.clear();
            closing = true;
            heldBack = false;
        }
        changed.notify_all();
        worker.join();
    }

    void hold(bool on)
    {
        {
            std::lock_guard lock(mutex);
            heldBack = on;
        }
        changed.notify_all();
    }

    // Returns once every picture queued so far is encoded.
    void awaitEncoded()
    {
        std::unique_lock lock(mutex);
        const std::int64_t target = done + std::int64_t(jobs.size()) + (encoding ? 1 : 0);
        changed.wait(lock, [&] { return done >= target || failure || !worker.joinable(); });
    }

    // The encoder's failure, if any (caller).
    std::optional<MediaError> encoderFailure()
    {
        std::lock_guard lock(mutex);
        return failure;
    }

    AVFrame* freeSlot() const
    {
        for (const auto& slot : pictures)
            if (slot.get() != newest && av_frame_is_writable(slot.get())) return slot.get();
        return nullptr;
    }

    // Lets go of free pictures beyond a few, keeping `keep`: the memory of
    // a backlog the encoder has worked off.
    void releaseSpare(const AVFrame* keep)
    {
        std::size_t spare = 0;
        std::erase_if(pictures, [&](const FramePtr& slot) {
            if (slot.get() == newest || slot.get() == keep || !av_frame_is_writable(slot.get())) return false;
            return ++spare > kSparePictures;
        });
    }

    // Whether a picture can be appended without waiting for the encoder.
    bool ready() const { return pictures.size() < capacity || freeSlot(); }

    // A slot to convert into; waits for the encoder when every one is taken.
    AVFrame* takeSlot()
    {
        for (;;) {
            // Read before looking: a picture finished after the look wakes the wait.
            std::int64_t seen = 0;
            {
                std::lock_guard lock(mutex);
                seen = done;
            }
            if (AVFrame* slot = freeSlot()) {
                if (pictures.size() > kSparePictures + 2) releaseSpare(slot);
                return slot;
            }
            if (pictures.size() < capacity) {
                FramePtr slot(checkedAlloc(av_frame_alloc()));
                slot->format = AV_PIX_FMT_YUV420P;
                slot->width = settings.width;
                slot->height = settings.height;
                tagBt709(slot.get());
                check(av_frame_get_buffer(slot.get(), 0), kWriteError);
                pictures.push_back(std::move(slot));
                return pictures.back().get();
            }
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return done != seen || failure || !worker.joinable(); });
            if (failure) throw *failure;
        }
    }

    // Hands the newest picture to the encoder thread at `ticks`.
    void queueNewest(std::int64_t ticks)
    {
        FramePtr job(checkedAlloc(av_frame_alloc()));
        check(av_frame_ref(job.get(), newest), kWriteError);
        job->pts = ticks;
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        changed.notify_all();
    }

    void convert(const std::uint8_t* bgra, int width, int height, std::ptrdiff_t bytesPerRow)
    {
        if (width == settings.width && height == settings.height) {
            AVFrame* picture = takeSlot();
            if (!bandWorkers) bandWorkers = std::make_unique<BandWorkers>(conversionBands(settings));
            const int bands = bandWorkers->bands();
            bandWorkers->run([&](int band) {
                // Whole pairs of rows: each chroma row comes from two.
                const int first = height / 2 * band / bands * 2;
                const int last = band + 1 == bands ? height : height / 2 * (band + 1) / bands * 2;
                bgraToYuv420Rows(bgra, bytesPerRow, width, first, last, picture);
            });
            newest = picture;
            return;
        }
        if (!scaler || scalerWidth != width || scalerHeight != height) {
            resetScaler(scaler, width, height, settings.width, settings.height, kScalerThreads);
            scalerWidth = width;
            scalerHeight = height;
        }
        AVFrame* picture = takeSlot();
        // The caller's pixels, lent to the scaler without a copy.
        FramePtr source(checkedAlloc(av_frame_alloc()));
        source->format = AV_PIX_FMT_BGRA;
        source->width = width;
        source->height = height;
        source->data[0] = const_cast<std::uint8_t*>(bgra);
        source->linesize[0] = int(bytesPerRow);
        source->buf[0] = av_buffer_create(source->data[0], std::size_t(bytesPerRow) * std::size_t(height),
                                          [](void*, std::uint8_t*) {}, nullptr, AV_BUFFER_FLAG_READONLY);
        if (!source->buf[0]) throw std::bad_alloc();
        check(sws_scale_frame(scaler.get(), picture, source.get()), kWriteError);
        newest = picture;
    }

    // Sends the picture (null: end of stream), as a key frame when one is
    // due, and writes what comes out, one packet behind.
    void encode(AVFrame* frame, Muxer& mux, AVPacket* packet)
    {
        if (frame) {
            const bool due = frame->pts >= keyDue(std::max(anchorTicks, forcedTicks));
            frame->pict_type = due ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            if (due) forcedTicks = frame->pts;
        }
        check(avcodec_send_frame(encoder.get(), frame), kWriteError);
        drainEncoder(encoder.get(), packet, [&](AVPacket* p) {
            if (holding) {
                held->duration = p->pts - held->pts;
                writeHeld(mux);
            }
            if ((p->flags & AV_PKT_FLAG_KEY) && p->pts >= keyDue(anchorTicks)) {
                anchorTicks = p->pts;
                // Cut as it comes out, not when it is written a frame later:
                // the sound written meanwhile belongs after it.
                mux.anchorArrived(stream, av_rescale_q(p->pts, encoder->time_base, AVRational{1, 1'000'000}));
            }
            av_packet_move_ref(held.get(), p);
            holding = true;
        });
    }

    void writeHeld(Muxer& mux)
    {
        holding = false;
        mux.write(stream, encoder->time_base, held.get());
        av_packet_unref(held.get());
    }

    void finish(std::int64_t endTicks, Muxer& mux, AVPacket* packet)
    {
        encode(nullptr, mux, packet);
        if (holding) {
            held->duration = endTicks > held->pts ? endTicks - held->pts : frameTicks;
            writeHeld(mux);
        }
    }
};

struct MovieWriter::SoundState {
    SoundTrack settings;
    int rate = 0;                    // the track's (encoder's) rate
    AVStream* stream = nullptr;      // owned by the format context
    CodecPtr encoder;
    FramePtr frame;                  // AAC input frame, reused
    std::vector<float> left, right;  // placed on the track, not yet encoded
    std::int64_t placed = 0;         // samples on the track so far, from the session start
    std::int64_t encoded = 0;        // samples handed to the encoder so far
    // True while the track's last samples came from an input buffer, whose
    // successor may then start within the jitter tolerance.
    bool continuing = false;
    ResamplerPtr resampler;          // only while the input's rate differs from `rate`
    int resamplerInputRate = 0;
    MediaTime expectedInput;         // where the next resampled input buffer should start
    std::vector<float> inLeft, inRight;    // scratch: input mapped to two planes
    std::vector<float> outLeft, outRight;  // scratch: resampler output

    void open(bool globalHeader)
    {
        encoder = allocEncoder("aac", "A hang kódoló nem indítható.");
        openStereoSound(encoder.get(), rate, kSoundBitsPerSecond, globalHeader, "A hang kódoló nem indítható.");
        frame = soundFrameFor(encoder.get(), "A hang kódoló nem indítható.");
    }

    std::int64_t jitter() const { return std::llround(kSoundJitterSeconds * rate); }

    // Puts `count` samples (null planes: silence) on the track where they
    // belong, `position` samples after the session start: a gap before them
    // becomes silence, the part of them already covered is dropped. Returns
    // how many of them were kept.
    std::int64_t place(const float* l, const float* r, std::int64_t count, std::int64_t position, bool input,
                       Muxer& mux, AVPacket* packet)
    {
        const std::int64_t tolerance = continuing && input ? jitter() : 0;
        if (position > placed + tolerance) {
            // Silence in frame-sized steps, so a long gap never piles up.
            std::int64_t gap = position - placed;
            while (gap > 0) {
                const std::int64_t n = std::min<std::int64_t>(gap, encoder->frame_size);
                left.insert(left.end(), std::size_t(n), 0.0f);
                right.insert(right.end(), std::size_t(n), 0.0f);
                placed += n;
                gap -= n;
                encodeReady(mux, packet);
            }
            continuing = false;
        } else if (position < placed - tolerance) {
            const std::int64_t skip = std::min(placed - position, count);
            if (l) l += skip, r += skip;
            count -= skip;
        }
        if (count <= 0) return 0;
        if (l) {
            left.insert(left.end(), l, l + count);
            right.insert(right.end(), r, r + count);
        } else {
            left.insert(left.end(), std::size_t(count), 0.0f);
            right.insert(right.end(), std::size_t(count), 0.0f);
        }
        placed += count;
        continuing = input;
        encodeReady(mux, packet);
        return count;
    }

    void encodeFrame(std::size_t offset, int count, Muxer& mux, AVPacket* packet)
    {
        check(av_frame_make_writable(frame.get()), kWriteError);
        frame->nb_samples = count;
        std::memcpy(frame->data[0], left.data() + offset, std::size_t(count) * sizeof(float));
        std::memcpy(frame->data[1], right.data() + offset, std::size_t(count) * sizeof(float));
        frame->pts = encoded;
        encoded += count;
        check(avcodec_send_frame(encoder.get(), frame.get()), kWriteError);
        drainEncoder(encoder.get(), packet, [&](AVPacket* p) { writeSoundPacket(mux, p); });
    }

    // The encoder starts with a priming packet that decodes to the 1024
    // samples before time 0. Without an edit list it could only be kept by
    // moving the whole track 21 ms late; it is dropped instead, so the sound
    // starts exactly with the picture (a decoder then fades in the first
    // 21 ms).
    void writeSoundPacket(Muxer& mux, AVPacket* p)
    {
        if (p->pts < 0) return;
        mux.write(stream, encoder->time_base, p);
    }

    // Encodes every whole frame placed so far; with `last`, also the partial
    // frame at the end (the encoder pads it) and what the encoder holds back.
    void encodeReady(Muxer& mux, AVPacket* packet, bool last = false)
    {
        const std::size_t size = std::size_t(encoder->frame_size);
        std::size_t offset = 0;
        while (left.size() - offset >= size) {
            encodeFrame(offset, int(size), mux, packet);
            offset += size;
        }
        if (last && left.size() > offset) {
            encodeFrame(offset, int(left.size() - offset), mux, packet);
            offset = left.size();
        }
        left.erase(left.begin(), left.begin() + std::ptrdiff_t(offset));
        right.erase(right.begin(), right.begin() + std::ptrdiff_t(offset));
        if (last) {
            check(avcodec_send_frame(encoder.get(), nullptr), kWriteError);
            drainEncoder(encoder.get(), packet, [&](AVPacket* p) { writeSoundPacket(mux, p); });
        }
    }

    // Places what the resampler still holds, where the last input ended, and
    // drops the resampler.
    void flushResampler(const MediaTime& sessionStart, Muxer& mux, AVPacket* packet)
    {
        if (!resampler) return;
        const int capacity = std::max(swr_get_out_samples(resampler.get(), 0), 0) + 16;
        outLeft.resize(std::size_t(capacity));
        outRight.resize(std::size_t(capacity));
        std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(outLeft.data()),
                                reinterpret_cast<std::uint8_t*>(outRight.data())};
        const int produced = swr_convert(resampler.get(), out, capacity, nullptr, 0);
        resampler.reset();
        resamplerInputRate = 0;
        if (produced > 0) {
            const std::int64_t end = ticksOf(expectedInput - sessionStart, rate);
            place(outLeft.data(), outRight.data(), produced, end - produced, true, mux, packet);
        }
    }

    std::int64_t append(const float* interleaved, int frames, int channels, int inputRate, const MediaTime& pts,
                        const MediaTime& sessionStart, Muxer& mux, AVPacket* packet)
    {
        // Two planes: mono on both sides, of more channels the first two;
        // samples the encoder would refuse made harmless.
        inLeft.resize(std::size_t(frames));
        inRight.resize(std::size_t(frames));
        const auto clean = [](float x) { return std::isfinite(x) ? std::clamp(x, -kSampleLimit, kSampleLimit) : 0.0f; };
        for (int i = 0; i < frames; ++i) {
            const float* f = interleaved + std::ptrdiff_t(i) * channels;
            inLeft[std::size_t(i)] = clean(f[0]);
            inRight[std::size_t(i)] = clean(channels > 1 ? f[1] : f[0]);
        }

        if (inputRate == rate) {
            flushResampler(sessionStart, mux, packet);
            return place(inLeft.data(), inRight.data(), frames, ticksOf(pts - sessionStart, rate), true, mux,
                         packet);
        }

        // A new rate, or a jump in time: what the resampler holds belongs
        // before the jump, so it goes out first and the resampler starts over.
        if (resampler && (resamplerInputRate != inputRate || std::llabs(ticksOf(pts - expectedInput, rate)) > jitter()))
            flushResampler(sessionStart, mux, packet);
        if (!resampler) {
            SwrContext* s = nullptr;
            AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // not const: FFmpeg 5.1 takes it mutable
            check(swr_alloc_set_opts2(&s, &stereo, AV_SAMPLE_FMT_FLTP, rate, &stereo, AV_SAMPLE_FMT_FLTP,
                                      inputRate, 0, nullptr),
                  "A hang átalakítása nem sikerült.");
            resampler.reset(s);
            check(swr_init(s), "A hang átalakítása nem sikerült.");
            resamplerInputRate = inputRate;
        }
        const int capacity = swr_get_out_samples(resampler.get(), frames) + 16;
        outLeft.resize(std::size_t(capacity));
        outRight.resize(std::size_t(capacity));
        std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(outLeft.data()),
                                reinterpret_cast<std::uint8_t*>(outRight.data())};
        const std::uint8_t* in[2] = {reinterpret_cast<const std::uint8_t*>(inLeft.data()),
                                     reinterpret_cast<const std::uint8_t*>(inRight.data())};
        const int produced = swr_convert(resampler.get(), out, capacity, in, frames);
        check(produced, "A hang átalakítása nem sikerült.");
        expectedInput = pts + MediaTime(frames, inputRate);
        // The output ends where the input ends, less what the resampler keeps back.
        const std::int64_t end = ticksOf(expectedInput - sessionStart, rate) - swr_get_delay(resampler.get(), rate);
        return place(outLeft.data(), outRight.data(), produced, end - produced, true, mux, packet);
    }

    void finish(const MediaTime& endTime, const MediaTime& sessionStart, Muxer& mux, AVPacket* packet)
    {
        flushResampler(sessionStart, mux, packet);
        const std::int64_t end = std::max<std::int64_t>(0, ticksOf(endTime - sessionStart, rate));
        if (placed < end) {
            place(nullptr, nullptr, 0, end, false, mux, packet);
        } else if (placed > end) {
            // Only what is not yet encoded can still be cut (under one frame
            // when sound never runs ahead of the end time).
            const std::size_t cut = std::size_t(std::min<std::int64_t>(placed - end, std::int64_t(left.size())));
            left.resize(left.size() - cut);
            right.resize(right.size() - cut);
            placed -= std::int64_t(cut);
        }
        encodeReady(mux, packet, true);
    }
};

struct MovieWriter::Impl {
    struct Entry {
        bool video;
        int index;
    };
    std::vector<Entry> order;  // every track in the order it was added
    std::vector<std::unique_ptr<VideoState>> video;
    std::vector<std::unique_ptr<SoundState>> sound;

    int fd = -1;
    dev_t device = 0;  // identity of the file we created, so we never remove someone else's
    ino_t inode = 0;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    Muxer mux;  // over `format` and `io` once open
    PacketPtr packet;

    ~Impl() { release(); }

    void release()
    {
        // The encoder threads first: they write into the muxer.
        for (auto& v : video) v->stopEncoder(true);
        for (auto& v : video) {
            v->scaler.reset();
            v->encoder.reset();
        }
        for (auto& s : sound) {
            s->resampler.reset();
            s->encoder.reset();
        }
        mux.clear();
        if (format) {
            avformat_free_context(format);
            format = nullptr;
        }
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        closeFile();
    }

    // After a failure: what follows the last whole fragment (a fragment cut
    // short by a full disk) goes, so that the file ends where it plays.
    void keepWholeFragments()
    {
        std::lock_guard lock(mux.mutex);
        if (fd >= 0 && mux.keptUntil > 0) (void)::ftruncate(fd, mux.keptBytes);
    }

    int closeFile()
    {
        if (fd < 0) return 0;
        const int rc = ::close(fd);
        fd = -1;
        return rc;
    }

    // Removes the file only while the path still names the file we created.
    void removeOwnFile(const std::filesystem::path& path) const
    {
        if (inode == 0) return;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode) ::unlink(path.c_str());
    }

    void open()
    {
        int rc = avformat_alloc_output_context2(&format, nullptr, "mov", nullptr);
        if (rc < 0 || !format) throw MediaError("A film írása nem indítható.", rc < 0 ? rc : AVERROR_MUXER_NOT_FOUND);
        const bool globalHeader = format->oformat->flags & AVFMT_GLOBALHEADER;
        packet.reset(checkedAlloc(av_packet_alloc()));

        for (const Entry& e : order) {
            AVCodecContext* c = nullptr;
            AVStream** slot = nullptr;
            std::string name;
            if (e.video) {
                VideoState& v = *video[std::size_t(e.index)];
                v.open(globalHeader);
                c = v.encoder.get();
                slot = &v.stream;
                name = v.settings.name;
            } else {
                SoundState& s = *sound[std::size_t(e.index)];
                s.open(globalHeader);
                c = s.encoder.get();
                slot = &s.stream;
                name = s.settings.name;
            }
            AVStream* st = addStream(format, c, "A film írása nem indítható.");
            if (!name.empty()) {
                // Readers list the handler name as the track's name; the title
                // goes into the track's user data as well.
                av_dict_set(&st->metadata, "handler_name", name.c_str(), 0);
                av_dict_set(&st->metadata, "title", name.c_str(), 0);
            }
            *slot = st;
        }

        // Our own descriptor behind the muxer. No seek callback: the movie is
        // written strictly forward, never rewriting what a crash would leave.
        io = fileOutput(&fd, kIoBufferSize, nullptr);
        format->pb = io;
        // A finished fragment must reach the kernel, not wait in our buffer,
        // to survive a crash: the muxer flushes at each fragment's end, and
        // this flag makes sure of it after every packet (cheap: between
        // fragments packets only go to the muxer's memory).
        format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;

        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "movflags", kMovieFlags, 0);
        // Times are written as given: never shifted to make a track start at
        // 0 (the first packet to arrive could be a late camera's).
        av_dict_set(&opts, "avoid_negative_ts", "disabled", 0);
        av_dict_set(&opts, "use_editlist", "0", 0);
        rc = avformat_write_header(format, &opts);
        const bool unknownOption = av_dict_count(opts) > 0;
        av_dict_free(&opts);
        check(rc, "A film írása nem indítható.");
        if (unknownOption) throw MediaError("A film írása nem indítható.", AVERROR_OPTION_NOT_FOUND);
        avio_flush(io);
        check(io->error, kWriteError);

        mux.format = format;
        mux.io = io;
        mux.leadingIsVideo = !video.empty();
        mux.leading = mux.leadingIsVideo ? video.front()->stream : sound.front()->stream;
    }
};

// --- MovieWriter -----------------------------------------------------------------

MovieWriter::MovieWriter(std::filesystem::path path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {}

MovieWriter::~MovieWriter() = default;

void MovieWriter::fail(MediaError error)
{
    if (!failure_) failure_ = std::move(error);
    state_ = State::failed;
    throw *failure_;
}

void MovieWriter::requireWriting() const
{
    if (state_ == State::failed && failure_) throw *failure_;
    if (state_ != State::writing) throw std::logic_error("MovieWriter: not writing");
}

int MovieWriter::addVideoTrack(const VideoTrack& track)
{
    if (state_ != State::configuring) throw std::logic_error("MovieWriter: tracks must be added before start()");
    if (track.width < 2 || track.height < 2 || track.width % 2 || track.height % 2)
        throw std::invalid_argument("MovieWriter: video size must be even and at least 2×2");
    if (track.framesPerSecond < 1 || track.framesPerSecond > 1000)
        throw std::invalid_argument("MovieWriter: frame rate out of range");
    if (track.bitsPerSecond <= 0) throw std::invalid_argument("MovieWriter: bit rate must be positive");
    auto v = std::make_unique<VideoState>();
    v->settings = track;
    v->settings.name = truncatedName(track.name);
    v->frameTicks = std::max<std::int64_t>(1, kVideoTimescale / track.framesPerSecond);
    impl_->video.push_back(std::move(v));
    impl_->order.push_back({true, int(impl_->video.size()) - 1});
    return int(impl_->video.size()) - 1;
}

int MovieWriter::addSoundTrack(const SoundTrack& track)
{
    if (state_ != State::configuring) throw std::logic_error("MovieWriter: tracks must be added before start()");
    if (track.sampleRate < 1) throw std::invalid_argument("MovieWriter: sample rate must be positive");

    // AAC knows a fixed set of rates: take the least one not below the asked
    // (capped) rate, so nothing audible is lost.
    const int wanted = std::min(track.sampleRate, kMaxSoundRate);
    int rate = kMaxSoundRate;
    if (const AVCodec* aac = avcodec_find_encoder_by_name("aac"); aac && aac->supported_samplerates) {
        for (const int* r = aac->supported_samplerates; *r; ++r)
            if (*r >= wanted && *r < rate) rate = *r;
    }
    auto s = std::make_unique<SoundState>();
    s->settings = track;
    s->settings.name = truncatedName(track.name);
    s->rate = rate;
    impl_->sound.push_back(std::move(s));
    impl_->order.push_back({false, int(impl_->sound.size()) - 1});
    return int(impl_->sound.size()) - 1;
}

void MovieWriter::setParallelFrames(int videoTrack, bool parallel)
{
    if (state_ != State::configuring) throw std::logic_error("MovieWriter: encoding is chosen before start()");
    if (videoTrack < 0 || videoTrack >= int(impl_->video.size()))
        throw std::out_of_range("MovieWriter: no such video track");
    impl_->video[std::size_t(videoTrack)]->parallelFrames = parallel;
}

int MovieWriter::framesInEncoder(int videoTrack) const
{
    if (videoTrack < 0 || videoTrack >= int(impl_->video.size()))
        throw std::out_of_range("MovieWriter: no such video track");
    // A picture in each frame thread but the one giving its frame back, and
    // the one whose type is decided ahead.
    return impl_->video[std::size_t(videoTrack)]->parallelFrames ? frameThreads() : 0;
}

int MovieWriter::soundTrackRate(int soundTrack) const
{
    if (soundTrack < 0 || soundTrack >= int(impl_->sound.size()))
        throw std::out_of_range("MovieWriter: no such sound track");
    return impl_->sound[std::size_t(soundTrack)]->rate;
}

void MovieWriter::start()
{
    if (state_ != State::configuring) throw std::logic_error("MovieWriter: start() called twice");
    if (impl_->order.empty()) throw std::logic_error("MovieWriter: a movie needs at least one track");
    Impl& m = *impl_;

    // O_EXCL: an existing file (or a link planted in its place) is never
    // opened, let alone truncated.
    m.fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m.fd < 0) {
        const int err = errno;
        if (err == EEXIST) fail(MediaError("A fájl már létezik, nem írható felül: " + pathText(path_)));
        fail(MediaError("A fájl nem hozható létre: " + pathText(path_), AVERROR(err)));
    }
    struct stat st {};
    if (::fstat(m.fd, &st) == 0) {
        m.device = st.st_dev;
        m.inode = st.st_ino;
    }

    try {
        m.open();
        for (auto& v : m.video) v->startEncoder(m.mux);
    } catch (const MediaError& e) {
        m.release();
        m.removeOwnFile(path_);
        fail(e);
    } catch (...) {
        m.release();
        m.removeOwnFile(path_);
        state_ = State::failed;
        throw;
    }
    state_ = State::writing;
}

void MovieWriter::checkEncoders()
{
    for (auto& v : impl_->video)
        if (auto failure = v->encoderFailure()) fail(std::move(*failure));
}

void MovieWriter::holdEncodersForTesting(bool held)
{
    for (auto& v : impl_->video) v->hold(held);
}

void MovieWriter::awaitEncodersForTesting()
{
    for (auto& v : impl_->video) v->awaitEncoded();
}

int MovieWriter::waitingPictures(int width, int height, int framesPerSecond, std::uint64_t memoryBytes)
{
    const double pictureBytes = 1.5 * std::max(width, 1) * std::max(height, 1);  // yuv420p
    const double budget = std::min(kQueuedBytesAtMost, kQueuedMemoryShare * double(memoryBytes));
    const double waiting = std::min(kQueuedSeconds * std::max(framesPerSecond, 1), budget / pictureBytes);
    return std::max(int(waiting), kLeastQueuedPictures);
}

bool MovieWriter::videoReady(int videoTrack) const
{
    if (videoTrack < 0 || videoTrack >= int(impl_->video.size()))
        throw std::out_of_range("MovieWriter: no such video track");
    return impl_->video[std::size_t(videoTrack)]->ready();
}

void MovieWriter::startSession(MediaTime at)
{
    requireWriting();
    if (sessionStart_) throw std::logic_error("MovieWriter: the session has already started");
    if (!at.isNumeric()) throw std::invalid_argument("MovieWriter: the session start must be a numeric time");
    sessionStart_ = at;
}

bool MovieWriter::appendVideo(int videoTrack, const QImage& image, MediaTime presentationTime)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return appendVideo(videoTrack, image.constBits(), image.width(), image.height(), image.bytesPerLine(),
                           presentationTime);
    default: {
        if (image.isNull()) throw std::invalid_argument("MovieWriter: empty picture");
        const QImage converted = image.convertToFormat(QImage::Format_RGB32);
        return appendVideo(videoTrack, converted.constBits(), converted.width(), converted.height(),
                           converted.bytesPerLine(), presentationTime);
    }
    }
}

bool MovieWriter::appendVideo(int videoTrack, const std::uint8_t* bgra, int width, int height,
                              std::ptrdiff_t bytesPerRow, MediaTime presentationTime)
{
    if (videoTrack < 0 || videoTrack >= int(impl_->video.size()))
        throw std::out_of_range("MovieWriter: no such video track");
    if (!bgra || width < 1 || height < 1 || bytesPerRow < std::ptrdiff_t(width) * 4)
        throw std::invalid_argument("MovieWriter: bad picture buffer");
    if (!presentationTime.isNumeric()) throw std::invalid_argument("MovieWriter: frame time must be numeric");
    requireWriting();
    checkEncoders();
    if (!sessionStart_) return false;

    Impl& m = *impl_;
    VideoState& v = *m.video[std::size_t(videoTrack)];
    const MediaTime sinceStart = presentationTime - *sessionStart_;
    const std::int64_t ticks = ticksOf(sinceStart, kVideoTimescale);
    if (ticks < 0 || ticks <= v.lastTicks) return false;

    try {
        v.convert(bgra, width, height, bytesPerRow);
        v.hasPicture = true;
        encodePicture(v, sinceStart, ticks);
    } catch (const MediaError& e) {
        fail(e);
    }
    return true;
}

bool MovieWriter::repeatVideo(int videoTrack, MediaTime presentationTime)
{
    if (videoTrack < 0 || videoTrack >= int(impl_->video.size()))
        throw std::out_of_range("MovieWriter: no such video track");
    if (!presentationTime.isNumeric()) throw std::invalid_argument("MovieWriter: frame time must be numeric");
    requireWriting();
    checkEncoders();
    VideoState& v = *impl_->video[std::size_t(videoTrack)];
    if (!sessionStart_ || !v.hasPicture) return false;
    const MediaTime sinceStart = presentationTime - *sessionStart_;
    const std::int64_t ticks = ticksOf(sinceStart, kVideoTimescale);
    if (ticks <= v.lastTicks) return false;
    try {
        encodePicture(v, sinceStart, ticks);
    } catch (const MediaError& e) {
        fail(e);
    }
    return true;
}

void MovieWriter::encodePicture(VideoState& v, const MediaTime& sinceStart, std::int64_t ticks)
{
    Impl& m = *impl_;
    v.lastTicks = ticks;
    v.queueNewest(ticks);

    // Keep every sound track within reach of the picture.
    const MediaTime behind = sinceStart - MediaTime::fromSeconds(kSoundLagSeconds);
    for (auto& s : m.sound) {
        const std::int64_t target = ticksOf(behind, s->rate);
        if (target > s->placed) s->place(nullptr, nullptr, 0, target, false, m.mux, m.packet.get());
    }
}

bool MovieWriter::appendSound(int soundTrack, const float* interleaved, int frames, int channels, int sampleRate,
                              MediaTime presentationTime)
{
    if (soundTrack < 0 || soundTrack >= int(impl_->sound.size()))
        throw std::out_of_range("MovieWriter: no such sound track");
    if (frames < 0 || (frames > 0 && !interleaved) || channels < 1 || sampleRate < 1)
        throw std::invalid_argument("MovieWriter: bad sound buffer");
    if (!presentationTime.isNumeric()) throw std::invalid_argument("MovieWriter: sound time must be numeric");
    requireWriting();
    checkEncoders();
    if (!sessionStart_ || frames == 0) return false;

    Impl& m = *impl_;
    try {
        return m.sound[std::size_t(soundTrack)]->append(interleaved, frames, channels, sampleRate, presentationTime,
                                                         *sessionStart_, m.mux, m.packet.get())
            > 0;
    } catch (const MediaError& e) {
        fail(e);
    }
}

void MovieWriter::finish(MediaTime endTime)
{
    Impl& m = *impl_;
    if (state_ == State::failed) {
        for (auto& v : m.video) v->stopEncoder(true);
        m.keepWholeFragments();
        m.release();
        if (failure_) throw *failure_;
    }
    if (state_ != State::writing) throw std::logic_error("MovieWriter: not writing");
    if (!endTime.isNumeric()) throw std::invalid_argument("MovieWriter: the end time must be numeric");
    if (!sessionStart_) {
        m.release();
        fail(MediaError("Nem érkezett kép a felvétel alatt."));
    }

    // What waits for the encoders is encoded first.
    for (auto& v : m.video) v->stopEncoder(false);
    for (auto& v : m.video) {
        if (auto failure = v->encoderFailure()) {
            // A full disk met while the last pictures were encoded: cut back
            // to the last whole fragment, as after any failure.
            m.keepWholeFragments();
            m.release();
            fail(std::move(*failure));
        }
    }

    try {
        // The movie ends at endTime, or just after the latest picture when
        // that is not earlier.
        std::int64_t endTicks = ticksOf(endTime - *sessionStart_, kVideoTimescale);
        for (const auto& v : m.video)
            if (v->lastTicks >= endTicks) endTicks = v->lastTicks + v->frameTicks;
        const MediaTime end = *sessionStart_ + MediaTime(endTicks, kVideoTimescale);

        for (auto& v : m.video) v->finish(endTicks, m.mux, m.packet.get());
        for (auto& s : m.sound) s->finish(end, *sessionStart_, m.mux, m.packet.get());

        check(av_write_trailer(m.mux.format), "A fájl lezárása nem sikerült.");
        avio_flush(m.io);
        check(m.io->error, "A fájl lezárása nem sikerült.");
        if (::fsync(m.fd) != 0) throw MediaError("A fájl lezárása nem sikerült.", AVERROR(errno));
        if (m.closeFile() != 0) throw MediaError("A fájl lezárása nem sikerült.", AVERROR(errno));
    } catch (const MediaError& e) {
        // What was written stays: its whole fragments still play.
        m.keepWholeFragments();
        m.release();
        fail(e);
    }
    m.release();
    state_ = State::finished;
}

std::optional<MediaTime> MovieWriter::keptUntil() const
{
    std::lock_guard lock(impl_->mux.mutex);
    if (impl_->mux.keptUntil <= 0) return std::nullopt;
    return MediaTime(impl_->mux.keptUntil, 1'000'000);
}

void MovieWriter::cancel() noexcept
{
    if (state_ == State::finished || state_ == State::cancelled) return;
    impl_->release();
    impl_->removeOwnFile(path_);
    state_ = State::cancelled;
}

} // namespace platform
