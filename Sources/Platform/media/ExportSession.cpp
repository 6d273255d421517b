#include "Platform/media/ExportSession.h"
#include "Platform/core/HandOff.h"

#include "Platform/media/AudioMixer.h"
#include "Platform/media/CompositionRenderer.h"
#include "Platform/media/EncoderPictures.h"
#include "Platform/media/EncoderSupport.h"
#include "Platform/media/FrameCache.h"
#include "Platform/media/MediaError.h"
#include "Platform/media/SourceFrames.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace platform {

using namespace encodersupport;

namespace {

// --- Tuning ------------------------------------------------------------------

// Frames handed to the compositors ahead of the one being encoded, per
// compositor: enough that none of them waits for the decoder, few enough
// that a 4K export holds well under a gigabyte of pictures.
constexpr int kFramesAheadPerCompositor = 2;

// Decoded source frames kept for the compositors; a transition shows two
// parts of one recording at once, and a frame may be asked for again when
// the output rate is above the source's.
constexpr std::size_t kSourceCacheBytes = 96u << 20;

// HEVC is offered as a smaller file with pictures no worse than H.264's (CRF
// 18, x264 "fast"), also from recordings that are H.264 already. x265's
// "fast" at CRF 22 gave a smaller file but 4-5 dB lower PSNR, and "slow"
// alone needed a few per cent more bytes than H.264 for the same PSNR and
// SSIM. Full rate-distortion decisions (rd 6), 4x4 transform skip (sharp
// screen edges and text), steadier quantizers across frames (qcomp) and no
// psycho-visual tuning (which spends bits on texture rather than fidelity)
// make it smaller at higher PSNR and SSIM, for about twice the CPU of "slow"
// (some six times that of "fast" at CRF 22).
// The log level keeps x265's banner and statistics off the terminal.
constexpr const char* kHevcQuality = "23";
constexpr const char* kHevcParameters = "log-level=error:tskip=1:qcomp=0.8:psy-rd=0:psy-rdoq=0:rd=6";

// Sound goes to the AAC encoder in its own frame size.
constexpr int kSoundBlock = 1024;

constexpr int kIoBufferSize = 256 * 1024;

constexpr const char* kStartError = "Az exportálás nem indítható.";
constexpr const char* kWriteError = "Írási hiba az exportálás közben.";
constexpr const char* kEmptySpan = "Az exportálandó szakasz üres.";
constexpr const char* kNoSound = "A kompozícióban nincs hang, hangfájl nem készíthető.";
constexpr const char* kNoPicture = "Az exportáláshoz nincs képösszeállítás.";
constexpr const char* kWrongType = "A fájltípus nem illik az exportálás beállításához.";
constexpr const char* kVideoEncoder = "A videó kódoló nem indítható.";
constexpr const char* kSoundEncoder = "A hang kódoló nem indítható.";
constexpr const char* kFrameCancelled = "A képkocka rajzolása megszakadt.";
constexpr const char* kCloseError = "A fájl lezárása nem sikerült.";
constexpr const char* kFolderInTheWay = "A célfájl helyén egy mappa áll, nem írható felül: ";
constexpr const char* kMoveError = "A kész fájl nem tehető a helyére: ";

const char* videoEncoderName(ExportSession::Preset preset)
{
    switch (preset) {
    case ExportSession::Preset::h264: return "libx264";
    case ExportSession::Preset::hevc: return "libx265";
    case ExportSession::Preset::sound: break;
    }
    return nullptr;
}

const char* muxerName(ExportSession::FileType type)
{
    switch (type) {
    case ExportSession::FileType::mp4: return "mp4";
    case ExportSession::FileType::mov: return "mov";
    case ExportSession::FileType::m4a: return "ipod";
    }
    return "mp4";
}

MediaTime times(const MediaTime& step, std::int64_t k)
{
    return {step.value() * k, step.timescale()};
}

std::int64_t seekInFile(void* opaque, std::int64_t offset, int whence)
{
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? std::int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : std::int64_t(at);
}

} // namespace

// --- The output file -----------------------------------------------------------

// The container, the encoders and the file, used by the export thread only.
struct ExportSession::Output {
    std::filesystem::path path;
    int fd = -1;
    dev_t device = 0;  // the file we created, so that we never remove another
    ino_t inode = 0;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    CodecPtr video;
    CodecPtr sound;
    AVStream* videoStream = nullptr;  // owned by `format`
    AVStream* soundStream = nullptr;
    FramePtr soundFrame;
    PacketPtr packet;
    std::int64_t soundWritten = 0;  // samples sent to the encoder

    ~Output() { release(); }

    void release()
    {
        video.reset();
        sound.reset();
        if (format) {
            avformat_free_context(format);
            format = nullptr;
        }
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    // Closes and removes the file, while the path still names ours.
    void abandon() noexcept
    {
        release();
        if (inode == 0) return;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode) ::unlink(path.c_str());
        inode = 0;
    }

    void openVideo(Preset preset, QSize size, MediaTime frameDuration, bool globalHeader)
    {
        video = allocEncoder(videoEncoderName(preset), kVideoEncoder);
        AVCodecContext* c = video.get();
        c->width = size.width();
        c->height = size.height();
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        // As many threads as the encoder finds best: libx265 takes the
        // context's count (1 by default) as its number of frame threads.
        c->thread_count = 0;
        // One tick a frame: frame k has the time stamp k.
        c->time_base = {int(frameDuration.value()), frameDuration.timescale()};
        c->framerate = {frameDuration.timescale(), int(frameDuration.value())};
        tagBt709(c);
        if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* options = nullptr;
        if (preset == Preset::h264) {
            av_dict_set(&options, "preset", "fast", 0);
            av_dict_set(&options, "profile", "high", 0);
            av_dict_set(&options, "crf", "18", 0);
        } else {
            av_dict_set(&options, "preset", "slow", 0);
            av_dict_set(&options, "profile", "main", 0);
            av_dict_set(&options, "crf", kHevcQuality, 0);
            av_dict_set(&options, "x265-params", kHevcParameters, 0);
        }
        const int rc = avcodec_open2(c, c->codec, &options);
        const bool unknownOption = av_dict_count(options) > 0;
        av_dict_free(&options);
        check(rc, kVideoEncoder);
        if (unknownOption) throw MediaError(kVideoEncoder, AVERROR_OPTION_NOT_FOUND);
    }

    void openSound(bool globalHeader)
    {
        sound = allocEncoder("aac", kSoundEncoder);
        AVCodecContext* c = sound.get();
        openStereoSound(c, sampleRate, soundBitsPerSecond, globalHeader, kSoundEncoder);
        if (c->frame_size != kSoundBlock) throw MediaError(kSoundEncoder);
        soundFrame = soundFrameFor(c, kSoundEncoder);
    }

    // Written to `file`; messages name `shown`, the place the user chose.
    void open(const std::filesystem::path& file, const std::filesystem::path& shown, FileType type, Preset preset,
              QSize size, MediaTime frameDuration, bool withSound)
    {
        path = file;
        int rc = avformat_alloc_output_context2(&format, nullptr, muxerName(type), nullptr);
        if (rc < 0 || !format) throw MediaError(kStartError, rc < 0 ? rc : AVERROR_MUXER_NOT_FOUND);
        const bool globalHeader = format->oformat->flags & AVFMT_GLOBALHEADER;
        packet.reset(checkedAlloc(av_packet_alloc()));
        if (preset != Preset::sound) {
            openVideo(preset, size, frameDuration, globalHeader);
            videoStream = addStream(format, video.get(), kStartError);
            // hvc1: parameter sets only in the sample description, the form most players accept.
            if (preset == Preset::hevc) videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
        }
        if (withSound) {
            openSound(globalHeader);
            soundStream = addStream(format, sound.get(), kStartError);
        }

        // Created exclusively: a file already there (or a link planted in its
        // place) is never opened, let alone truncated.
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int err = errno;
            if (err == EEXIST) throw MediaError("A célfájl már létezik, nem írható felül: " + shown.string());
            throw MediaError("A célfájl nem hozható létre: " + shown.string(), AVERROR(err));
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0) {
            device = st.st_dev;
            inode = st.st_ino;
        }
        io = fileOutput(&fd, kIoBufferSize, seekInFile);
        format->pb = io;
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        rc = avformat_write_header(format, nullptr);
        check(rc, kStartError);
        check(io->error, kWriteError);
    }

    void write(AVCodecContext* c, AVStream* stream, bool isVideo)
    {
        for (;;) {
            const int rc = avcodec_receive_packet(c, packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, kWriteError);
            // Each picture lasts one frame, the last one too.
            if (isVideo) packet->duration = 1;
            av_packet_rescale_ts(packet.get(), c->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(format, packet.get()), kWriteError);
            check(io->error, kWriteError);
        }
    }

    void writeVideo(AVFrame* frame)
    {
        check(avcodec_send_frame(video.get(), frame), kWriteError);
        write(video.get(), videoStream, true);
    }

    // `frames` interleaved stereo frames, at most one encoder frame.
    void writeSound(const float* interleaved, int frames)
    {
        check(av_frame_make_writable(soundFrame.get()), kWriteError);
        soundFrame->nb_samples = frames;
        auto* left = reinterpret_cast<float*>(soundFrame->data[0]);
        auto* right = reinterpret_cast<float*>(soundFrame->data[1]);
        // A decoder clips anyway; the encoder must never see a non-finite sample.
        const auto clean = [](float x) { return std::isfinite(x) ? std::clamp(x, -1.0f, 1.0f) : 0.0f; };
        for (int i = 0; i < frames; ++i) {
            left[i] = clean(interleaved[2 * i]);
            right[i] = clean(interleaved[2 * i + 1]);
        }
        soundFrame->pts = soundWritten;
        soundWritten += frames;
        check(avcodec_send_frame(sound.get(), soundFrame.get()), kWriteError);
        write(sound.get(), soundStream, false);
    }

    void finish()
    {
        if (video) {
            check(avcodec_send_frame(video.get(), nullptr), kWriteError);
            write(video.get(), videoStream, true);
        }
        if (sound) {
            check(avcodec_send_frame(sound.get(), nullptr), kWriteError);
            write(sound.get(), soundStream, false);
        }
        check(av_write_trailer(format), kCloseError);
        avio_flush(io);
        check(io->error, kCloseError);
        if (::fsync(fd) != 0) throw MediaError(kCloseError, AVERROR(errno));
        const int rc = ::close(fd);
        fd = -1;
        if (rc != 0) throw MediaError(kCloseError, AVERROR(errno));
        release();
    }

    // Puts the finished file in place of whatever stands at `target` (in the
    // same folder), then makes the rename itself durable.
    void moveTo(const std::filesystem::path& target)
    {
        if (::rename(path.c_str(), target.c_str()) != 0)
            throw MediaError(kMoveError + target.string() + ".", AVERROR(errno));
        inode = 0;  // no longer ours to remove
        const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        ::fsync(fd);
        ::close(fd);
    }
};

// --- The frame pipeline ----------------------------------------------------------

// Frames in flight: the decoding thread fills `inFlight` in time order and hands
// each frame to a compositor; compositors finish them on their own threads,
// which convert the picture for the encoder; the export thread takes them
// from the front. Everything below `mutex` is guarded by it.
struct ExportSession::Pipeline {
    struct Slot {
        bool done = false;
        FramePtr picture;   // when drawn
        std::string error;  // when not
    };

    const std::shared_ptr<const Composition> composition;
    const std::shared_ptr<const VideoComposition> videoComposition;
    const TimeRange span;
    const MediaTime step;
    const std::int64_t frames;
    const QSize size;
    const std::size_t window;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Slot>> inFlight;  // from the next frame to encode on
    std::int64_t encoded = 0;                 // frames taken by the export thread
    bool stopping = false;                    // cancelled or failed: the decoder stops
    std::vector<std::unique_ptr<EncoderPictures>> converters;  // free ones

    // Made and destroyed by the export thread; cancelAllPendingRequests()
    // also from cancel() under the session's mutex.
    std::vector<std::unique_ptr<VideoCompositor>> compositors;
    std::thread decoder;

    Pipeline(std::shared_ptr<const Composition> c, std::shared_ptr<const VideoComposition> vc, TimeRange s,
             std::int64_t count, int compositorCount)
        : composition(std::move(c)), videoComposition(std::move(vc)), span(s),
          step(videoComposition->effectiveFrameDuration()), frames(count), size(videoComposition->renderSize),
          window(std::size_t(compositorCount) * kFramesAheadPerCompositor + 1)
    {
        for (int i = 0; i < compositorCount; ++i) {
            if (videoComposition->compositorFactory) compositors.push_back(videoComposition->compositorFactory());
            if (!compositors.empty() && !compositors.back()) compositors.pop_back();
            // The compositors already draw side by side: fills spread over
            // helper threads besides only add wake-ups (and the encoder's
            // threads lose their cores to them).
            else if (!compositors.empty()) compositors.back()->setDrawingOnOneThread(true);
        }
    }

    ~Pipeline() { stop(); }

    // Stops the decoder and waits for it, then for every compositor: each
    // drops what it still holds and finishes the frame it is drawing.
    void stop()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (decoder.joinable()) decoder.join();
        for (auto& compositor : compositors) compositor->cancelAllPendingRequests();
        compositors.clear();
    }

    void cancelPending()
    {
        for (auto& compositor : compositors) compositor->cancelAllPendingRequests();
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
    }

    void finish(const std::shared_ptr<Slot>& slot, FramePtr picture, std::string error)
    {
        {
            std::lock_guard lock(mutex);
            slot->picture = std::move(picture);
            slot->error = std::move(error);
            slot->done = true;
        }
        changed.notify_all();
    }

    // On a compositor's thread (or the decoder's, for black frames).
    void deliver(const std::shared_ptr<Slot>& slot, FrameRequest::Result result)
    {
        switch (result.status) {
        case FrameRequest::Result::Status::composed: break;
        case FrameRequest::Result::Status::failed: return finish(slot, nullptr, std::move(result.error));
        case FrameRequest::Result::Status::cancelled: return finish(slot, nullptr, kFrameCancelled);
        }
        std::unique_ptr<EncoderPictures> converter;
        {
            std::lock_guard lock(mutex);
            if (!converters.empty()) {
                converter = std::move(converters.back());
                converters.pop_back();
            }
        }
        if (!converter) converter = std::make_unique<EncoderPictures>(size);
        FramePtr picture;
        std::string error;
        try {
            if (result.image.isNull() && !result.base) throw MediaError(kFrameCancelled);
            picture = converter->picture(result);
        } catch (const MediaError& e) {
            error = e.what();
        } catch (const std::bad_alloc&) {
            error = kWriteError;
        }
        {
            std::lock_guard lock(mutex);
            converters.push_back(std::move(converter));
        }
        finish(slot, std::move(picture), std::move(error));
    }

    // The decoding thread: source frames of each output frame, in order,
    // handed to the compositors in turn, at most `window` ahead.
    void decode()
    {
        pthread_setname_np(pthread_self(), "ondexa.exportrd");
        // Compositors that take frames undecoded get those the encoder takes as they are.
        const bool keepYuv = !compositors.empty() && compositors.front()->acceptsYuvFrames();
        SourceFrames sources(composition, std::make_shared<FrameCache>(kSourceCacheBytes),
                             keepYuv ? size : QSize());
        for (std::int64_t k = 0; k < frames; ++k) {
            auto slot = std::make_shared<Slot>();
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stopping || k - encoded < std::int64_t(window); });
                if (stopping) return;
                inFlight.push_back(slot);
            }
            const MediaTime t = span.start + times(step, k);
            const auto instruction = videoComposition->instructionAt(t);
            if (!instruction || compositors.empty()) {
                FrameRequest::Result black;
                black.status = FrameRequest::Result::Status::composed;
                black.image = blackFrame(size);
                if (instruction) {
                    black.status = FrameRequest::Result::Status::failed;
                    black.error = kNoPicture;
                }
                deliver(slot, std::move(black));
                continue;
            }
            FrameRequest::YuvFrames yuvFrames;
            auto sourceFrames = sources.framesAt(instruction->requiredSourceTrackIds(), t, {}, &yuvFrames);
            if (auto error = sources.takeError()) {
                finish(slot, nullptr, *error);
                return;
            }
            VideoCompositor& compositor = *compositors[std::size_t(k % std::int64_t(compositors.size()))];
            compositor.startRequest(std::make_shared<FrameRequest>(
                t, instruction, std::move(sourceFrames), size,
                [this, slot](FrameRequest::Result result) { deliver(slot, std::move(result)); }, std::move(yuvFrames)));
        }
    }

    // The export thread: the next frame in time order, once drawn; null when
    // stopped first.
    std::shared_ptr<Slot> next(const std::atomic<bool>& cancelled)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return cancelled.load() || (!inFlight.empty() && inFlight.front()->done); });
        if (cancelled.load()) return nullptr;
        auto slot = std::move(inFlight.front());
        inFlight.pop_front();
        ++encoded;
        lock.unlock();
        changed.notify_all();
        return slot;
    }
};

// --- ExportSession ---------------------------------------------------------------

std::unique_ptr<ExportSession> ExportSession::create(std::shared_ptr<const Composition> composition, Preset preset)
{
    if (!composition) return nullptr;
    if (!avcodec_find_encoder_by_name("aac")) return nullptr;
    if (const char* name = videoEncoderName(preset); name && !avcodec_find_encoder_by_name(name)) return nullptr;
    const FileType types[] = {FileType::mp4, FileType::mov, FileType::m4a};
    for (FileType type : types)
        if (!av_guess_format(muxerName(type), nullptr, nullptr)) return nullptr;
    return std::unique_ptr<ExportSession>(new ExportSession(std::move(composition), preset));
}

ExportSession::ExportSession(std::shared_ptr<const Composition> composition, Preset preset)
    : composition_(std::move(composition)), preset_(preset)
{
}

ExportSession::~ExportSession()
{
    cancel();
    if (thread_.joinable()) thread_.join();
}

int ExportSession::compositorCount(int cores)
{
    return std::max(1, cores / 2);
}

int ExportSession::usableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(std::thread::hardware_concurrency()));
}

void ExportSession::setOutput(std::filesystem::path file, FileType type)
{
    output_ = std::move(file);
    type_ = type;
}

void ExportSession::setWorkingFile(std::filesystem::path file)
{
    working_ = std::move(file);
}

void ExportSession::setAudioMix(std::shared_ptr<const AudioMix> mix)
{
    mix_ = std::move(mix);
}

void ExportSession::setVideoComposition(std::shared_ptr<const VideoComposition> videoComposition)
{
    videoComposition_ = std::move(videoComposition);
}

void ExportSession::setTimeRange(TimeRange range)
{
    range_ = range;
}

std::string ExportSession::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

void ExportSession::start(std::function<void()> done)
{
    if (status_.load() != Status::waiting) throw std::logic_error("ExportSession: started twice");
    done_ = std::move(done);
    status_ = Status::exporting;
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "ondexa.export");
        run();
    });
}

void ExportSession::cancel()
{
    std::lock_guard lock(mutex_);
    if (status_.load() != Status::exporting) return;
    cancelled_ = true;
    if (pipeline_) pipeline_->cancelPending();
}

void ExportSession::end(Status status, std::string error)
{
    {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        status_ = status;
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app,
            platform::handedOver([alive = std::weak_ptr<bool>(alive_), done = done_] {
                if (alive.lock() && done) done();
            }),
            Qt::QueuedConnection);
}

void ExportSession::run()
{
    // The span, cut to what the composition holds.
    const MediaTime length = composition_->duration();
    const TimeRange wanted = range_.value_or(TimeRange(MediaTime::zero(), length));
    MediaTime start = wanted.start.isNumeric() ? std::max(wanted.start, MediaTime::zero()) : MediaTime::invalid();
    MediaTime finish = wanted.end().isNumeric() ? std::min(wanted.end(), length) : MediaTime::invalid();
    bool hasSound = false;
    for (const Composition::Track& track : composition_->tracks())
        hasSound |= track.kind == Composition::TrackKind::sound && !track.segments.empty();

    const bool soundOnly = preset_ == Preset::sound;
    if (!start.isNumeric() || !finish.isNumeric() || !(finish > start)) return end(Status::failed, kEmptySpan);
    if (soundOnly != (type_ == FileType::m4a)) return end(Status::failed, kWrongType);
    if (soundOnly && !hasSound) return end(Status::failed, kNoSound);
    const QSize size = videoComposition_ ? videoComposition_->renderSize : QSize();
    if (!soundOnly && !videoComposition_) return end(Status::failed, kNoPicture);
    // The encoders take 4:2:0 pictures: no side may be odd.
    if (!soundOnly && (size.width() < 2 || size.height() < 2 || size.width() % 2 || size.height() % 2))
        return end(Status::failed, kStartError);

    const TimeRange span = TimeRange::fromStartEnd(start, finish);
    // A folder would refuse the rename only after the whole export.
    struct stat standing {};
    if (!working_.empty() && ::lstat(output_.c_str(), &standing) == 0 && S_ISDIR(standing.st_mode))
        return end(Status::failed, kFolderInTheWay + output_.string() + ".");

    Output output;
    try {
        output.open(working_.empty() ? output_ : working_, output_, type_, preset_, size,
                    soundOnly ? MediaTime(1, 30) : videoComposition_->effectiveFrameDuration(), hasSound);
        if (soundOnly) exportSound(output, span);
        else exportFrames(output, span);
        if (cancelled_.load()) {
            output.abandon();
            return end(Status::cancelled, {});
        }
        output.finish();
        if (!working_.empty()) output.moveTo(output_);
    } catch (const MediaError& e) {
        output.abandon();
        if (cancelled_.load()) return end(Status::cancelled, {});
        return end(Status::failed, e.what());
    } catch (const std::bad_alloc&) {
        output.abandon();
        return end(Status::failed, kWriteError);
    }
    progress_ = 1;
    end(Status::completed, {});
}

namespace {

// Mixes the composition's sound into `output` up to `target` samples of the
// span; only the very last block may be shorter than the encoder's frame.
template <typename Output>
void mixSoundTo(AudioMixer& mixer, const std::shared_ptr<const AudioMix>& mix, std::vector<float>& buffer,
                Output& output, std::int64_t target, std::int64_t total)
{
    while (output.soundWritten < target) {
        const std::int64_t left = total - output.soundWritten;
        if (left >= kSoundBlock && output.soundWritten + kSoundBlock > target) return;
        const int n = int(std::min<std::int64_t>(kSoundBlock, left));
        mixer.mix(buffer.data(), n, mix);
        if (auto error = mixer.takeError()) throw MediaError(*error);
        output.writeSound(buffer.data(), n);
    }
}

} // namespace

void ExportSession::exportSound(Output& output, const TimeRange& span)
{
    const std::int64_t total = ticksOf(span.duration, sampleRate);
    AudioMixer mixer(composition_);
    mixer.seek(span.start);
    std::vector<float> buffer(std::size_t(kSoundBlock) * channels);
    constexpr std::int64_t kStep = sampleRate / 10;
    for (std::int64_t target = kStep; !cancelled_.load(); target += kStep) {
        mixSoundTo(mixer, mix_, buffer, output, std::min(target, total), total);
        progress_ = float(double(output.soundWritten) / double(total));
        if (output.soundWritten >= total) break;
    }
}

void ExportSession::exportFrames(Output& output, const TimeRange& span)
{
    const MediaTime step = videoComposition_->effectiveFrameDuration();
    // Frames at start + k × step while before the end.
    std::int64_t count = 0;
    {
        const __int128 num = static_cast<__int128>(span.duration.value()) * step.timescale();
        const __int128 den = static_cast<__int128>(span.duration.timescale()) * step.value();
        count = std::int64_t((num + den - 1) / den);
    }
    const std::int64_t total = ticksOf(span.duration, sampleRate);
    std::unique_ptr<AudioMixer> mixer;
    if (output.sound) {
        mixer = std::make_unique<AudioMixer>(composition_);
        mixer->seek(span.start);
    }
    std::vector<float> buffer(std::size_t(kSoundBlock) * channels);

    auto pipeline = std::make_unique<Pipeline>(composition_, videoComposition_, span, count,
                                               compositorCount(usableCores()));
    {
        std::lock_guard lock(mutex_);
        pipeline_ = pipeline.get();
        if (cancelled_.load()) pipeline->cancelPending();
    }
    // cancel() loses sight of the pipeline before it stops (and its
    // compositors go).
    struct Unhook {
        ExportSession* session;
        std::unique_ptr<Pipeline>& pipeline;
        ~Unhook()
        {
            {
                std::lock_guard lock(session->mutex_);
                session->pipeline_ = nullptr;
            }
            pipeline->stop();
        }
    } unhook{this, pipeline};
    pipeline->decoder = std::thread([p = pipeline.get()] { p->decode(); });

    for (std::int64_t k = 0; k < count; ++k) {
        auto slot = pipeline->next(cancelled_);
        if (!slot) return;
        if (!slot->picture) throw MediaError(slot->error.empty() ? kFrameCancelled : slot->error);
        slot->picture->pts = k;
        output.writeVideo(slot->picture.get());
        if (mixer) mixSoundTo(*mixer, mix_, buffer, output, std::min(total, ticksOf(times(step, k + 1), sampleRate)), total);
        progress_ = float(double(k + 1) / double(count));
    }
    if (mixer) mixSoundTo(*mixer, mix_, buffer, output, total, total);
}

} // namespace platform
