#include "Platform/capture/PipeWireStream.h"

#include "Platform/capture/PictureOps.h"
#include "Platform/core/HostClock.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

// A producer's time further than this from the arrival is not on our clock.
constexpr std::int64_t kSameClockWindow = 2'000'000'000;  // ns
// How long start() waits for PipeWire to take the stream in.
constexpr int kConnectSeconds = 5;
// The pointer images the producer may send: up to 256 × 256 pixels.
constexpr int kLargestCursor = 256;
constexpr int kUsualCursor = 64;
// Larger than any real screen; keeps size arithmetic far from overflow.
constexpr int kLargestSide = 16384;

constexpr int cursorMetaSize(int width, int height)
{
    return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + width * height * 4;
}

// The byte order of a 32-bit picture: where blue, green and red lie in each pixel.
struct Layout {
    int blue, green, red;
};

std::optional<Layout> layoutOf(std::uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA: return Layout{0, 1, 2};
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA: return Layout{2, 1, 0};
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB: return Layout{3, 2, 1};
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR: return Layout{1, 2, 3};
    default: return std::nullopt;
    }
}

// Alpha's place in a pointer image's pixel, by format; none when it has none.
std::optional<int> alphaOf(std::uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRA:
    case SPA_VIDEO_FORMAT_RGBA: return 3;
    case SPA_VIDEO_FORMAT_ARGB:
    case SPA_VIDEO_FORMAT_ABGR: return 0;
    default: return std::nullopt;
    }
}

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// What a delivered picture keeps alive: its pixels and the count of frames in flight.
struct FrameHold {
    std::vector<std::uint8_t> pixels;
    std::shared_ptr<std::atomic<int>> inFlight;
};

void releaseFrame(void* info)
{
    auto* hold = static_cast<FrameHold*>(info);
    hold->inFlight->fetch_sub(1);
    delete hold;
}

} // namespace

std::int64_t PipeWireStream::hostTimeOf(std::int64_t pts, std::int64_t arrival)
{
    // Compositors stamp their frames on CLOCK_MONOTONIC, our clock; a
    // producer with a clock of its own is taken at the arrival. A picture
    // is never later than its arrival.
    if (pts <= 0 || pts > arrival || arrival - pts > kSameClockWindow) return arrival;
    return pts;
}

struct PipeWireStream::Impl {
    Configuration configuration;
    FrameHandler onFrame;
    ErrorHandler onError;
    PointerHandler onPointer;

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    spa_hook coreListener{};

    struct Counters {
        std::atomic<std::int64_t> grabs{0}, delivered{0}, droppedInFlight{0};
    } counters;
    std::shared_ptr<std::atomic<int>> inFlight = std::make_shared<std::atomic<int>>(0);

    // Owned by the loop's thread (its lock) once connected.
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::string failure;          // why PipeWire refused or ended the stream
    bool errorReported = false;
    bool running = false;         // start() has succeeded: failures go to onError
    bool stopping = false;        // set under the lock by stop(): no more reports
    spa_video_info_raw format{};
    bool hasFormat = false;
    Layout layout{0, 1, 2};
    // The pointer as the metadata last gave it (in the stream's pixels).
    bool pointerKnown = false;
    bool pointerVisible = false;
    QPoint pointerAt;
    QPoint hotspot;
    std::vector<std::uint32_t> cursorImage;  // premultiplied ARGB
    QSize cursorSize;
    // The last cropped picture without the pointer: redrawn when only the pointer moves.
    std::vector<std::uint8_t> lastClean;
    QSize lastCleanSize;
    std::int64_t lastTime = 0;

    ~Impl() { close(); }

    void open();
    void close();

    void stateChanged(pw_stream_state old, pw_stream_state now, const char* error);
    void paramChanged(std::uint32_t id, const spa_pod* param);
    void process();
    // `endedByDesktop`: see CaptureError.
    void report(const std::string& sentence, bool endedByDesktop = false);

    // The crop in the stream's pixels.
    QRect cropInPixels() const;
    bool readCursor(spa_buffer* buffer);
    bool picture(spa_buffer* buffer, std::vector<std::uint8_t>& out, QSize& outSize);
    void deliver(std::int64_t hostTime);
};

void PipeWireStream::Impl::open()
{
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = [](void* data, pw_stream_state old, pw_stream_state now, const char* error) {
            static_cast<Impl*>(data)->stateChanged(old, now, error);
        };
        events.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
            static_cast<Impl*>(data)->paramChanged(id, param);
        };
        events.process = [](void* data) { static_cast<Impl*>(data)->process(); };
        return events;
    }();
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = [](void* data, std::uint32_t id, int, int res, const char* message) {
            // Only the connection's own end matters; errors of single objects
            // reach the stream's state.
            if (id != PW_ID_CORE) return;
            static_cast<Impl*>(data)->report(std::string("A képernyőmegosztás kapcsolata megszakadt (PipeWire: ")
                                             + (message ? message : "") + ", " + spa_strerror(res) + ").");
        };
        return events;
    }();

    initPipeWire();
    loop = pw_thread_loop_new("ondexa.pipewire", nullptr);
    if (!loop) throw CaptureError("A PipeWire nem indítható (nincs elég memória).");
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context) throw CaptureError("A PipeWire nem indítható (nincs elég memória).");
    if (pw_thread_loop_start(loop) < 0) throw CaptureError("A PipeWire szála nem indítható.");

    pw_thread_loop_lock(loop);
    struct Unlock {
        pw_thread_loop* loop;
        ~Unlock() { pw_thread_loop_unlock(loop); }
    } unlock{loop};

    const int fd = configuration.remoteFd;
    configuration.remoteFd = -1;  // from here on closed by PipeWire (or below)
    core = fd >= 0 ? pw_context_connect_fd(context, fd, nullptr, 0) : pw_context_connect(context, nullptr, 0);
    if (!core) {
        const int error = errno;
        throw CaptureError(std::string("A PipeWire nem érhető el: a képernyőmegosztás nem indítható (")
                           + spa_strerror(-error) + ").");
    }
    pw_core_add_listener(core, &coreListener, &coreEvents, this);

    stream = pw_stream_new(core, "Vendalum",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!stream) throw CaptureError("A PipeWire nem fogadta a képernyőmegosztás adatfolyamát.");
    pw_stream_add_listener(stream, &streamListener, &streamEvents, this);

    // Any size, any rate up to the one asked for; the formats we can read.
    std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_rectangle sizeDefault{std::uint32_t(std::max(1, configuration.outputSize.width())),
                                    std::uint32_t(std::max(1, configuration.outputSize.height()))};
    const spa_rectangle sizeMin{1, 1};
    const spa_rectangle sizeMax{kLargestSide, kLargestSide};
    const spa_fraction rateDefault{std::uint32_t(configuration.framesPerSecond), 1};
    const spa_fraction rateMin{0, 1};
    const spa_fraction rateMax{360, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                               SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&sizeDefault, &sizeMin, &sizeMax),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rateDefault, &rateMin, &rateMax)));

    const int result = pw_stream_connect(
        stream, PW_DIRECTION_INPUT, configuration.nodeId,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (result < 0)
        throw CaptureError(std::string("A PipeWire nem fogadta a képernyőmegosztás adatfolyamát (")
                           + spa_strerror(result) + ").");

    // Taken in once the node exists in the graph (paused until linked).
    const auto until = HostClock::nowNanoseconds() + std::int64_t(kConnectSeconds) * 1'000'000'000;
    while (state != PW_STREAM_STATE_PAUSED && state != PW_STREAM_STATE_STREAMING && failure.empty()) {
        if (HostClock::nowNanoseconds() >= until)
            throw CaptureError("A képernyőmegosztás nem indult el: a PipeWire nem válaszolt.");
        pw_thread_loop_timed_wait(loop, 1);
    }
    if (!failure.empty()) throw CaptureError(failure);
    running = true;
}

void PipeWireStream::Impl::close()
{
    if (!loop) return;
    pw_thread_loop_lock(loop);
    stopping = true;
    if (stream) {
        spa_hook_remove(&streamListener);
        pw_stream_disconnect(stream);
        pw_stream_destroy(stream);
        stream = nullptr;
    }
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    if (context) pw_context_destroy(context);
    context = nullptr;
    pw_thread_loop_destroy(loop);
    loop = nullptr;
    if (configuration.remoteFd >= 0) ::close(configuration.remoteFd);
    configuration.remoteFd = -1;
}

void PipeWireStream::Impl::report(const std::string& sentence, bool endedByDesktop)
{
    if (failure.empty()) failure = sentence;
    pw_thread_loop_signal(loop, false);
    // Before start() has returned the failure is start()'s to throw.
    if (!running || stopping || errorReported) return;
    errorReported = true;
    if (onError) onError(CaptureError(sentence, endedByDesktop));
}

void PipeWireStream::Impl::stateChanged(pw_stream_state old, pw_stream_state now, const char* error)
{
    state = now;
    pw_thread_loop_signal(loop, false);
    if (now == PW_STREAM_STATE_ERROR)
        report(std::string("A képernyőmegosztás adatfolyama hibával leállt (PipeWire: ") + (error ? error : "")
               + ").");
    else if (now == PW_STREAM_STATE_UNCONNECTED && old != PW_STREAM_STATE_UNCONNECTED && !stopping)
        // The graph took our node away, as the desktop's session manager
        // does once the sharing is ended by its own control.
        report("A képernyőmegosztás véget ért: a rendszer leállította az adatfolyamot.", true);
}

void PipeWireStream::Impl::paramChanged(std::uint32_t id, const spa_pod* param)
{
    if (id != SPA_PARAM_Format || !param) return;
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    const auto found = layoutOf(info.format);
    if (!found || info.size.width < 1 || info.size.height < 1 || info.size.width > kLargestSide
        || info.size.height > kLargestSide)
        return;
    format = info;
    layout = *found;
    hasFormat = true;
    lastClean.clear();

    // Shared memory, or a DMA-BUF that we map (we announce no modifiers, so
    // it is laid out in lines); the header (times) and the pointer.
    std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(kUsualCursor, kUsualCursor), cursorMetaSize(1, 1),
                                 cursorMetaSize(kLargestCursor, kLargestCursor))));
    pw_stream_update_params(stream, params, 3);
}

QRect PipeWireStream::Impl::cropInPixels() const
{
    const QRect whole(0, 0, int(format.size.width), int(format.size.height));
    if (configuration.crop.isEmpty()) return whole;
    const QSizeF logical = configuration.logicalSize.isEmpty() ? QSizeF(whole.size()) : configuration.logicalSize;
    const double sx = whole.width() / logical.width();
    const double sy = whole.height() / logical.height();
    const QRectF& c = configuration.crop;
    const int left = int(std::lround(c.left() * sx)), top = int(std::lround(c.top() * sy));
    const int right = int(std::lround(c.right() * sx)), bottom = int(std::lround(c.bottom() * sy));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & whole;
}

bool PipeWireStream::Impl::readCursor(spa_buffer* buffer)
{
    auto* cursor = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (!cursor || !spa_meta_cursor_is_valid(cursor)) return false;
    spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_Cursor);
    const std::size_t metaSize = meta ? meta->size : 0;

    const QPoint at(cursor->position.x, cursor->position.y);
    bool changed = !pointerKnown || at != pointerAt;
    pointerKnown = true;
    pointerAt = at;
    if (cursor->bitmap_offset >= sizeof(spa_meta_cursor)
        && cursor->bitmap_offset + sizeof(spa_meta_bitmap) <= metaSize) {
        auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
        const auto layoutFound = layoutOf(bitmap->format);
        const int w = int(bitmap->size.width), h = int(bitmap->size.height);
        const int stride = bitmap->stride > 0 ? bitmap->stride : w * 4;
        if (bitmap->offset == 0) {
            // No image: the pointer is hidden.
            changed = changed || pointerVisible;
            pointerVisible = false;
        } else if (layoutFound && w > 0 && h > 0 && w <= kLargestCursor && h <= kLargestCursor
                   && stride >= w * 4 && bitmap->offset >= sizeof(spa_meta_bitmap)
                   && cursor->bitmap_offset + bitmap->offset + std::size_t(stride) * (h - 1) + std::size_t(w) * 4
                          <= metaSize) {
            const auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, const std::uint8_t);
            const std::optional<int> alpha = alphaOf(bitmap->format);
            cursorImage.resize(std::size_t(w) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t* p = pixels + std::size_t(y) * stride + std::size_t(x) * 4;
                    const std::uint32_t a = alpha ? p[*alpha] : 255;
                    // Straight alpha, as compositors send it: premultiplied here.
                    const auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
                    cursorImage[std::size_t(y) * w + x] = a << 24 | pre(p[layoutFound->red]) << 16
                                                          | pre(p[layoutFound->green]) << 8 | pre(p[layoutFound->blue]);
                }
            cursorSize = QSize(w, h);
            hotspot = QPoint(cursor->hotspot.x, cursor->hotspot.y);
            pointerVisible = true;
            changed = true;
        }
    } else if (!cursorImage.empty()) {
        pointerVisible = true;
    }
    return changed;
}

bool PipeWireStream::Impl::picture(spa_buffer* buffer, std::vector<std::uint8_t>& out, QSize& outSize)
{
    if (!hasFormat || buffer->n_datas < 1) return false;
    spa_data& data = buffer->datas[0];
    if (!data.chunk || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return false;
    auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return false;

    const int width = int(format.size.width), height = int(format.size.height);
    const int stride = data.chunk->stride > 0 ? data.chunk->stride : width * 4;
    if (stride < width * 4) return false;
    const std::size_t needed = std::size_t(data.chunk->offset) + std::size_t(stride) * (height - 1) + width * 4;

    // Shared memory is mapped by PipeWire; a DMA-BUF we map for the copy.
    const std::uint8_t* base = static_cast<const std::uint8_t*>(data.data);
    void* mapped = nullptr;
    std::size_t mappedSize = 0;
    if (data.type == SPA_DATA_DmaBuf) {
        mappedSize = std::size_t(data.maxsize) + data.mapoffset;
        mapped = mmap(nullptr, mappedSize, PROT_READ, MAP_SHARED, int(data.fd), 0);
        if (mapped == MAP_FAILED) return false;
        dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
        ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
        base = static_cast<const std::uint8_t*>(mapped) + data.mapoffset;
    }
    struct Unmap {
        void* address;
        std::size_t size;
        int fd;
        ~Unmap()
        {
            if (!address) return;
            dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
            ioctl(fd, DMA_BUF_IOCTL_SYNC, &sync);
            munmap(address, size);
        }
    } unmap{mapped, mappedSize, int(data.fd)};
    if (!base || needed > data.maxsize) return false;

    const QRect crop = cropInPixels();
    if (crop.isEmpty()) return false;
    outSize = crop.size();
    out.resize(std::size_t(crop.width()) * crop.height() * 4);
    const std::uint8_t* source = base + data.chunk->offset;
    for (int y = 0; y < crop.height(); ++y) {
        const std::uint8_t* row = source + std::size_t(crop.y() + y) * stride + std::size_t(crop.x()) * 4;
        std::uint8_t* to = out.data() + std::size_t(y) * crop.width() * 4;
        if (layout.blue == 0 && layout.green == 1 && layout.red == 2) {
            std::memcpy(to, row, std::size_t(crop.width()) * 4);
            continue;
        }
        for (int x = 0; x < crop.width(); ++x, row += 4, to += 4) {
            to[0] = row[layout.blue];
            to[1] = row[layout.green];
            to[2] = row[layout.red];
            to[3] = 0xFF;
        }
    }
    return true;
}

void PipeWireStream::Impl::process()
{
    // Only the newest picture counts; older ones still queued go back at once.
    pw_buffer* newest = nullptr;
    bool pointerMoved = false;
    const std::int64_t arrival = HostClock::nowNanoseconds();
    std::int64_t pts = 0;
    std::vector<std::uint8_t> clean;
    QSize cleanSize;
    bool hasPicture = false;
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
        if (readCursor(b->buffer)) pointerMoved = true;
        std::vector<std::uint8_t> pixels;
        QSize size;
        if (picture(b->buffer, pixels, size)) {
            clean = std::move(pixels);
            cleanSize = size;
            hasPicture = true;
            auto* header = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(b->buffer, SPA_META_Header, sizeof(spa_meta_header)));
            pts = header ? header->pts : 0;
        }
        if (newest) pw_stream_queue_buffer(stream, newest);
        newest = b;
    }
    if (newest) pw_stream_queue_buffer(stream, newest);

    const std::int64_t hostTime = std::max(hostTimeOf(pts, arrival), lastTime);
    if (pointerMoved && pointerKnown && onPointer) {
        const QSizeF logical = configuration.logicalSize.isEmpty()
                                   ? QSizeF(format.size.width, format.size.height)
                                   : configuration.logicalSize;
        const double sx = format.size.width / logical.width();
        const double sy = format.size.height / logical.height();
        onPointer(PointerSample{hostTime, configuration.desktopOrigin + QPointF(pointerAt.x() / sx, pointerAt.y() / sy)});
    }

    if (hasPicture) {
        ++counters.grabs;
        lastClean = std::move(clean);
        lastCleanSize = cleanSize;
    } else if (!(pointerMoved && configuration.showsCursor && !lastClean.empty())) {
        return;  // nothing new to show
    }
    deliver(hostTime);
}

void PipeWireStream::Impl::deliver(std::int64_t hostTime)
{
    if (inFlight->load() >= PictureSource::maximumFramesInFlight) {
        ++counters.droppedInFlight;
        return;
    }
    lastTime = hostTime;
    const QSize output = configuration.outputSize;
    auto* hold = new FrameHold{{}, inFlight};
    // The pointer is drawn on a copy: the clean picture serves the next move.
    const std::uint8_t* source = lastClean.data();
    std::vector<std::uint8_t> withPointer;
    if (configuration.showsCursor && pointerKnown && pointerVisible && !cursorImage.empty()) {
        const QRect crop = cropInPixels();
        withPointer = lastClean;
        pictures::drawCursor(withPointer.data(), lastCleanSize, cursorImage.data(), cursorSize.width(),
                             cursorSize.height(), pointerAt - hotspot - crop.topLeft());
        source = withPointer.data();
    }
    if (pictures::cutsTo(lastCleanSize, output)) {
        hold->pixels.resize(std::size_t(output.width()) * output.height() * 4);
        for (int y = 0; y < output.height(); ++y)
            std::memcpy(hold->pixels.data() + std::size_t(y) * output.width() * 4,
                        source + std::size_t(y) * lastCleanSize.width() * 4, std::size_t(output.width()) * 4);
    } else {
        hold->pixels.resize(std::size_t(output.width()) * output.height() * 4);
        pictures::fitInto(source, lastCleanSize, hold->pixels.data(), output);
    }
    inFlight->fetch_add(1);
    const uchar* pixels = hold->pixels.data();
    QImage image(pixels, output.width(), output.height(), output.width() * 4, QImage::Format_RGB32, &releaseFrame,
                 hold);
    ++counters.delivered;
    if (onFrame) onFrame(ScreenFrame{std::move(image), hostTime});
}

PipeWireStream::PipeWireStream(Configuration configuration, FrameHandler onFrame, ErrorHandler onError,
                               PointerHandler onPointer)
    : configuration_(std::move(configuration)), onFrame_(std::move(onFrame)), onError_(std::move(onError)),
      onPointer_(std::move(onPointer))
{
}

PipeWireStream::~PipeWireStream()
{
    stop();
    if (!impl_ && configuration_.remoteFd >= 0) ::close(configuration_.remoteFd);
}

void PipeWireStream::start()
{
    if (impl_) throw std::logic_error("PipeWireStream::start() called twice");
    if (configuration_.framesPerSecond < 1 || configuration_.framesPerSecond > 240)
        throw std::invalid_argument("PipeWireStream: framesPerSecond out of range");
    if (configuration_.outputSize.isEmpty() || configuration_.outputSize.width() > kLargestSide
        || configuration_.outputSize.height() > kLargestSide)
        throw std::invalid_argument("PipeWireStream: output size out of range");
    auto impl = std::make_unique<Impl>();
    impl->configuration = configuration_;
    configuration_.remoteFd = -1;  // the Impl's now
    impl->onFrame = onFrame_;
    impl->onError = onError_;
    impl->onPointer = onPointer_;
    impl->open();  // on failure the Impl closes what it opened
    impl_ = std::move(impl);
}

void PipeWireStream::stop()
{
    if (impl_) impl_->close();
}

PictureSource::Statistics PipeWireStream::statistics() const
{
    Statistics s;
    if (!impl_) return s;
    s.grabs = impl_->counters.grabs.load();
    s.delivered = impl_->counters.delivered.load();
    s.droppedInFlight = impl_->counters.droppedInFlight.load();
    return s;
}

std::uint32_t PipeWireStream::nodeId() const
{
    if (!impl_ || !impl_->stream) return 0;
    pw_thread_loop_lock(impl_->loop);
    const std::uint32_t id = pw_stream_get_node_id(impl_->stream);
    pw_thread_loop_unlock(impl_->loop);
    return id == SPA_ID_INVALID ? 0 : id;
}

} // namespace platform
