#include "Platform/capture/ScreenStream.h"

#include "Platform/capture/PictureOps.h"
#include "Platform/capture/XcbSupport.h"
#include "Platform/core/HostClock.h"

#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <cmath>
#include <cstring>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <vector>

namespace platform {

using xcb::Reply;
using pictures::cutsTo;
using pictures::drawCursor;
using pictures::fitInto;

namespace {

constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
// Larger than any real screen; keeps size arithmetic far from overflow.
constexpr int maximumSide = 16384;

// A pixel buffer of the frame pool: shared memory the X server writes into
// directly, or plain memory for scaled pictures and servers without MIT-SHM.
struct Buffer {
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    int shmId = -1;               // >= 0: System V shared memory
    xcb_shm_seg_t segment = 0;    // the server's name for the shared memory

    bool shared() const { return shmId >= 0; }
    ~Buffer()
    {
        if (shared())
            shmdt(data);
        else
            std::free(data);
    }
};

// Buffers are recycled: a 1080p picture is 8 MB and a fresh allocation per
// frame would cost page faults on every grab. A buffer goes back to the pool
// when the last frame and the stream let go of it, from whatever thread.
struct FramePool {
    std::mutex mutex;
    std::vector<std::unique_ptr<Buffer>> free;  // guarded by mutex
    bool closed = false;                          // guarded by mutex; set when the stream ends
    std::atomic<int> inFlight{0};                 // frames delivered and still held by the consumer
};

using BufferRef = std::shared_ptr<Buffer>;

BufferRef adopt(std::unique_ptr<Buffer> buffer, const std::shared_ptr<FramePool>& pool)
{
    return BufferRef(buffer.release(), [pool](Buffer* b) {
        std::unique_ptr<Buffer> owned(b);
        std::lock_guard lock(pool->mutex);
        if (!pool->closed) pool->free.push_back(std::move(owned));
    });
}

// What a delivered QImage keeps alive.
struct FrameHold {
    BufferRef buffer;
    std::shared_ptr<FramePool> pool;
};

void releaseFrame(void* info)
{
    auto* hold = static_cast<FrameHold*>(info);
    hold->pool->inFlight.fetch_sub(1);
    delete hold;
}

} // namespace

// The stream's state. Everything below `thread-owned` is touched only by the
// stream's thread once it runs (start() sets it up before the thread exists).
struct ScreenStream::Worker {
    ScreenStream::Configuration configuration;
    FrameHandler onFrame;
    ErrorHandler onError;
    QSize output;

    std::mutex mutex;                  // guards stopping
    std::condition_variable wake;
    bool stopping = false;             // guarded by mutex

    struct Counters {
        std::atomic<std::int64_t> grabs{0}, delivered{0}, unchanged{0}, droppedInFlight{0}, missedDeadlines{0};
    } counters;

    std::shared_ptr<FramePool> pool = std::make_shared<FramePool>();

    // thread-owned
    std::unique_ptr<xcb::Connection> connection;
    bool useShm = false;
    bool hasCursor = false;
    QRect grabRect;                    // display and area: root rectangle read each tick
    // The server's own time of each grab: a zero-length property append on
    // this window, sent just before and just after the picture request,
    // comes back as an event stamped when the server carried it out (see
    // grabTime).
    xcb_window_t clockWindow = XCB_NONE;
    std::vector<std::uint32_t> serverTimes;  // of this grab's events, server milliseconds
    BufferRef previous;                // the last delivered picture as grabbed (pointer drawn)
    QSize previousSize;

    // window targets
    xcb::Atoms atoms;
    xcb_window_t client = XCB_NONE;
    xcb_window_t topLevel = XCB_NONE;  // the root's child holding the client (the manager's frame)
    xcb_pixmap_t pixmap = XCB_NONE;    // the top-level's off-screen copy, named while viewable
    QSize pixmapSize;                  // the top-level's outer size when the pixmap was named
    QPoint topLevelOrigin;             // root position of the top-level's outer corner
    QRect crop;                        // the window's frame within the pixmap
    bool viewable = false;
    bool windowDirty = true;           // geometry must be read again before the next grab

    ~Worker() { close(); }

    void open();
    void run();
    void close();

    bool waitUntil(std::int64_t deadline);
    void openClock();
    std::int64_t grabTime(std::int64_t asked, std::int64_t answered) const;
    void markServerTime();
    // One tick: read the picture and deliver it when it changed; the host
    // time of the picture read, none when there was nothing to read. Throws
    // CaptureError when the stream can't go on.
    std::optional<std::int64_t> tick();
    BufferRef acquire(std::size_t bytes, bool shared);
    void openWindow();
    void processEvents();
    void updateWindow();
    void freePixmap();
    bool readImage(xcb_drawable_t drawable, const QRect& rect, Buffer& buffer);
    bool grabRoot(Buffer& buffer, const QRect& rect);
    bool grabWindow(Buffer& buffer, const QRect& rect);
    void deliver(const BufferRef& buffer, QSize size, std::int64_t hostTime);
};

ScreenStream::Target ScreenStream::Target::ofDisplay(const ScreenDisplay& display)
{
    Target target;
    target.kind = Kind::display;
    target.rect = display.frame;
    return target;
}

ScreenStream::Target ScreenStream::Target::ofArea(const ScreenDisplay& display, const QRect& area)
{
    Target target;
    target.kind = Kind::area;
    target.rect = area.translated(display.frame.topLeft());
    return target;
}

ScreenStream::Target ScreenStream::Target::ofWindow(std::uint32_t windowId)
{
    Target target;
    target.kind = Kind::window;
    target.window = windowId;
    return target;
}

ScreenStream::ScreenStream(Configuration configuration, FrameHandler onFrame, ErrorHandler onError)
    : configuration_(std::move(configuration)), onFrame_(std::move(onFrame)), onError_(std::move(onError))
{
}

ScreenStream::~ScreenStream()
{
    stop();
}

void ScreenStream::start()
{
    if (worker_) throw std::logic_error("ScreenStream::start() called twice");
    if (configuration_.framesPerSecond < 1 || configuration_.framesPerSecond > 240)
        throw std::invalid_argument("ScreenStream: framesPerSecond out of range");

    auto worker = std::make_unique<Worker>();
    worker->configuration = configuration_;
    worker->onFrame = onFrame_;
    worker->onError = onError_;
    worker->open();
    outputSize_ = worker->output;
    worker_ = std::move(worker);
    thread_ = std::thread([w = worker_.get()] { w->run(); });
}

void ScreenStream::stop()
{
    if (!worker_) return;
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            throw std::logic_error("ScreenStream::stop() called from its own handler");
        {
            std::lock_guard lock(worker_->mutex);
            worker_->stopping = true;
        }
        worker_->wake.notify_all();
        thread_.join();
    }
    worker_->close();
}

ScreenStream::Statistics ScreenStream::statistics() const
{
    Statistics s;
    if (!worker_) return s;
    s.grabs = worker_->counters.grabs.load();
    s.delivered = worker_->counters.delivered.load();
    s.unchanged = worker_->counters.unchanged.load();
    s.droppedInFlight = worker_->counters.droppedInFlight.load();
    s.missedDeadlines = worker_->counters.missedDeadlines.load();
    return s;
}

// ---- setting up (on the caller's thread) ----

void ScreenStream::Worker::open()
{
    connection = std::make_unique<xcb::Connection>();
    xcb_connection_t* c = connection->get();

    // Pictures are read as 32-bit B, G, R, X words: the usual little-endian
    // TrueColor server. Anything else is refused rather than shown wrong.
    const xcb_setup_t* setup = xcb_get_setup(c);
    bool depth24Is32Bits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24 && it.data->bits_per_pixel == 32) depth24Is32Bits = true;
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || !depth24Is32Bits ||
        connection->screen()->root_depth < 24)
        throw CaptureError("Az X kijelző képformátuma nem támogatott (24 bites színmélység kell).");

    if (connection->hasExtension(&xcb_shm_id)) {
        Reply<xcb_shm_query_version_reply_t> version(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        useShm = bool(version);
    }
    if (configuration.showsCursor && connection->hasExtension(&xcb_xfixes_id)) {
        Reply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        hasCursor = version && version->major_version >= 2;  // GetCursorImage came with version 2
    }

    openClock();

    QSize source;
    if (configuration.target.kind == Target::Kind::window) {
        openWindow();
        source = crop.size();
    } else {
        const QRect root = connection->queryRootRect();
        grabRect = configuration.target.rect & root;
        if (grabRect.isEmpty() || grabRect != configuration.target.rect)
            throw CaptureError("A felvenni kívánt terület kívül esik a képernyőn.");
        source = grabRect.size();
    }

    output = configuration.outputSize.isEmpty() ? source : configuration.outputSize;
    if (output.width() > maximumSide || output.height() > maximumSide)
        throw std::invalid_argument("ScreenStream: output size too large");
    if (configuration.target.kind != Target::Kind::window && cutsTo(grabRect.size(), output))
        grabRect.setSize(output);
}

void ScreenStream::Worker::openClock()
{
    xcb_connection_t* c = connection->get();
    clockWindow = xcb_generate_id(c);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb::Error error(xcb_request_check(
        c, xcb_create_window_checked(c, 0, clockWindow, connection->root(), -1, -1, 1, 1, 0,
                                     XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask)));
    if (error) clockWindow = XCB_NONE;  // grabs are then timed on our side alone
}

// Asks for a property event on the clock window (see grabTime).
void ScreenStream::Worker::markServerTime()
{
    if (clockWindow != XCB_NONE)
        xcb_change_property(connection->get(), XCB_PROP_MODE_APPEND, clockWindow, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            0, nullptr);
}

// The host time of the picture a grab read. The server reads the screen
// when it carries out the request, which on a loaded machine (a busy server,
// many clients, few cores) can be a large part of a second after we asked:
// the time of asking would put the picture that much too early against the
// sound. The property events just before and after the request tell that
// moment in milliseconds on the server's clock: their middle (the server
// may turn to other clients between two requests of ours, so either alone
// can be far off). A server on this machine counts them on the host clock,
// so they lie between asking and the answer. Otherwise (another clock, no
// events) the middle of asking and the answer.
std::int64_t ScreenStream::Worker::grabTime(std::int64_t asked, std::int64_t answered) const
{
    constexpr std::int64_t millisecond = 1'000'000;
    const std::int64_t middle = asked + (answered - asked) / 2;
    if (serverTimes.size() != 2) return middle;
    // X times are 32-bit milliseconds: the latest such time not after the answer.
    const std::int64_t answeredMs = answered / millisecond;
    auto hostOf = [&](std::uint32_t serverMs) {
        const std::int64_t ms = answeredMs - std::int64_t(std::uint32_t(std::uint32_t(answeredMs) - serverMs));
        return ms * millisecond + millisecond / 2;
    };
    const std::int64_t before = hostOf(serverTimes[0]);
    const std::int64_t after = hostOf(serverTimes[1]);
    if (before < asked - millisecond || after > answered + millisecond || after < before) return middle;
    return std::clamp(before + (after - before) / 2, asked, answered);
}

void ScreenStream::Worker::openWindow()
{
    xcb_connection_t* c = connection->get();
    if (!connection->hasExtension(&xcb_composite_id))
        throw CaptureError("Az X kijelzőn nincs Composite bővítmény: ablak nem vehető fel.");
    Reply<xcb_composite_query_version_reply_t> version(
        xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
    if (!version || (version->major_version == 0 && version->minor_version < 2))
        throw CaptureError("Az X kijelző Composite bővítménye túl régi: ablak nem vehető fel.");

    atoms = xcb::Atoms::intern(c);
    client = configuration.target.window;
    // Structure events of the window tell us when it moves, resizes, hides or closes.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb::Error error(xcb_request_check(
        c, xcb_change_window_attributes_checked(c, client, XCB_CW_EVENT_MASK, &mask)));
    if (error) throw CaptureError("A kiválasztott ablak már nem található.");
    updateWindow();
    if (client == XCB_NONE) throw CaptureError("A kiválasztott ablak már nem található.");
    if (crop.isEmpty()) throw CaptureError("A kiválasztott ablaknak nincs látható területe.");
}

// ---- the thread ----

void ScreenStream::Worker::run()
{
    pthread_setname_np(pthread_self(), "ondexa.screen");
    const std::int64_t fps = configuration.framesPerSecond;
    const std::int64_t start = HostClock::nowNanoseconds();
    std::int64_t index = 0;
    try {
        for (;;) {
            if (!waitUntil(start + index * nanosecondsPerSecond / fps)) return;
            const std::optional<std::int64_t> picture = tick();
            const std::int64_t next =
                nextDeadline(index, picture ? std::optional(*picture - start) : std::nullopt,
                             HostClock::nowNanoseconds() - start, configuration.framesPerSecond);
            counters.missedDeadlines += next - (index + 1);
            index = next;
        }
    } catch (const CaptureError& e) {
        if (onError) onError(e);
    }
}

bool ScreenStream::Worker::waitUntil(std::int64_t deadline)
{
    // steady_clock is CLOCK_MONOTONIC here, the host clock.
    const std::chrono::steady_clock::time_point until{std::chrono::nanoseconds(deadline)};
    std::unique_lock lock(mutex);
    wake.wait_until(lock, until, [this] { return stopping; });
    return !stopping;
}

void ScreenStream::Worker::close()
{
    {
        std::lock_guard lock(pool->mutex);
        pool->closed = true;
        pool->free.clear();
    }
    previous.reset();
    // Closing the connection also ends the window's redirection and frees
    // the server's side of every shared-memory segment.
    connection.reset();
}

BufferRef ScreenStream::Worker::acquire(std::size_t bytes, bool shared)
{
    std::unique_ptr<Buffer> found;
    std::vector<std::unique_ptr<Buffer>> discarded;
    {
        std::lock_guard lock(pool->mutex);
        // The smallest that fits, so grabs and scaled pictures of different
        // sizes don't take each other's buffers.
        auto best = pool->free.end();
        for (auto it = pool->free.begin(); it != pool->free.end(); ++it)
            if ((*it)->shared() == shared && (*it)->capacity >= bytes &&
                (best == pool->free.end() || (*it)->capacity < (*best)->capacity))
                best = it;
        if (best != pool->free.end()) {
            found = std::move(*best);
            pool->free.erase(best);
        }
        // More spare buffers than the stream can ever use at once: the size
        // changed (a window resized) and the small ones are of no more use.
        if (pool->free.size() > std::size_t(2 * ScreenStream::maximumFramesInFlight)) {
            for (auto it = pool->free.begin(); it != pool->free.end();) {
                if ((*it)->capacity < bytes) {
                    discarded.push_back(std::move(*it));
                    it = pool->free.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    xcb_connection_t* c = connection->get();
    for (auto& b : discarded)
        if (b->shared()) xcb_shm_detach(c, b->segment);
    if (found) return adopt(std::move(found), pool);

    auto buffer = std::make_unique<Buffer>();
    buffer->capacity = bytes;
    if (shared) {
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        void* address = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
        if (address != reinterpret_cast<void*>(-1)) {
            const xcb_shm_seg_t segment = xcb_generate_id(c);
            xcb::Error error(xcb_request_check(c, xcb_shm_attach_checked(c, segment, std::uint32_t(id), 0)));
            shmctl(id, IPC_RMID, nullptr);  // freed once both sides let go
            if (!error) {
                buffer->data = static_cast<std::uint8_t*>(address);
                buffer->shmId = id;
                buffer->segment = segment;
                return adopt(std::move(buffer), pool);
            }
            shmdt(address);
        } else if (id >= 0) {
            shmctl(id, IPC_RMID, nullptr);
        }
        // A server on another machine, or no System V memory: copy through the socket.
        useShm = false;
    }
    buffer->data = static_cast<std::uint8_t*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64));
    if (!buffer->data) throw CaptureError("Nincs elég memória a képernyőképhez.");
    return adopt(std::move(buffer), pool);
}

std::int64_t ScreenStream::nextDeadline(std::int64_t index, std::optional<std::int64_t> picture, std::int64_t now,
                                        int framesPerSecond)
{
    const auto slot = [&](std::int64_t t) { return std::max<std::int64_t>(t, 0) * framesPerSecond / nanosecondsPerSecond; };
    const std::int64_t shown = picture ? std::max(index, slot(*picture)) : index;
    return std::max({index + 1, shown + 1, slot(now)});
}

std::optional<std::int64_t> ScreenStream::Worker::tick()
{
    xcb_connection_t* c = connection->get();
    if (connection->broken()) throw CaptureError("Megszakadt a kapcsolat az X kijelzővel.");

    QRect rect;       // what is read: root rectangle, or the frame within the window's pixmap
    QPoint origin;    // root position of the picture's top left, for the pointer
    if (configuration.target.kind == Target::Kind::window) {
        processEvents();
        if (windowDirty) updateWindow();
        if (pixmap == XCB_NONE || crop.isEmpty()) return std::nullopt;  // hidden or minimised: nothing to show
        rect = crop;
        if (cutsTo(rect.size(), output)) rect.setSize(output);
        origin = topLevelOrigin + rect.topLeft();
    } else {
        rect = grabRect;
        origin = rect.topLeft();
    }

    const QSize size = rect.size();
    const std::size_t bytes = std::size_t(size.width()) * size.height() * 4;
    BufferRef raw = acquire(bytes, useShm);

    // The pointer's image and position are asked for together with the
    // picture: one round trip for both.
    std::optional<xcb_xfixes_get_cursor_image_cookie_t> cursorCookie;
    if (hasCursor) cursorCookie = xcb_xfixes_get_cursor_image(c);
    serverTimes.clear();
    markServerTime();
    const std::int64_t asked = HostClock::nowNanoseconds();
    const bool grabbed = configuration.target.kind == Target::Kind::window ? grabWindow(*raw, rect)
                                                                            : grabRoot(*raw, rect);
    const std::int64_t answered = HostClock::nowNanoseconds();
    Reply<xcb_xfixes_get_cursor_image_reply_t> cursor;
    if (cursorCookie) cursor.reset(xcb_xfixes_get_cursor_image_reply(c, *cursorCookie, nullptr));
    // The second property event follows the picture's answer on the wire
    // and has nearly always come with it. When it has not, a round trip
    // behind it makes sure both are queued now, so that no grab takes an
    // event of another; only then, as on a starved server each round trip
    // waits for the server's next turn.
    processEvents();
    if (clockWindow != XCB_NONE && serverTimes.size() < 2) {
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        processEvents();
    }
    if (!grabbed) return std::nullopt;
    const std::int64_t hostTime = grabTime(asked, answered);
    ++counters.grabs;

    if (cursor) {
        const QPoint at(cursor->x - cursor->xhot - origin.x(), cursor->y - cursor->yhot - origin.y());
        drawCursor(raw->data, size, xcb_xfixes_get_cursor_image_cursor_image(cursor.get()), cursor->width,
                   cursor->height, at);
    }

    if (previous && previousSize == size && std::memcmp(previous->data, raw->data, bytes) == 0) {
        ++counters.unchanged;
        return hostTime;
    }
    if (pool->inFlight.load() >= ScreenStream::maximumFramesInFlight) {
        // `previous` stays: the next tick sees the change again and delivers it.
        ++counters.droppedInFlight;
        return hostTime;
    }
    if (size == output) {
        deliver(raw, size, hostTime);
    } else {
        BufferRef scaled = acquire(std::size_t(output.width()) * output.height() * 4, false);
        fitInto(raw->data, size, scaled->data, output);
        deliver(scaled, output, hostTime);
    }
    previous = std::move(raw);
    previousSize = size;
    return hostTime;
}

void ScreenStream::Worker::deliver(const BufferRef& buffer, QSize size, std::int64_t hostTime)
{
    auto* hold = new FrameHold{buffer, pool};
    pool->inFlight.fetch_add(1);
    // The const constructor: a consumer that writes to its copy gets a deep
    // copy and never touches the pooled buffer.
    QImage image(static_cast<const uchar*>(buffer->data), size.width(), size.height(), size.width() * 4,
                 QImage::Format_RGB32, &releaseFrame, hold);
    ++counters.delivered;
    if (onFrame) onFrame(ScreenFrame{std::move(image), hostTime});
}

bool ScreenStream::Worker::readImage(xcb_drawable_t drawable, const QRect& rect, Buffer& buffer)
{
    xcb_connection_t* c = connection->get();
    const auto x = std::int16_t(rect.x()), y = std::int16_t(rect.y());
    const auto w = std::uint16_t(rect.width()), h = std::uint16_t(rect.height());
    // The clock's second event follows the request, before its answer is awaited.
    if (buffer.shared()) {
        const auto cookie = xcb_shm_get_image(c, drawable, x, y, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, buffer.segment, 0);
        markServerTime();
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(c, cookie, nullptr));
        // Depths below 24 have other pixel layouts; never taken for B, G, R, X.
        return reply && reply->depth >= 24;
    }
    const auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x, y, w, h, ~0u);
    markServerTime();
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, cookie, nullptr));
    if (!reply || reply->depth < 24) return false;
    const std::size_t bytes = std::size_t(rect.width()) * rect.height() * 4;
    const std::size_t length = std::size_t(xcb_get_image_data_length(reply.get()));
    std::memcpy(buffer.data, xcb_get_image_data(reply.get()), std::min(bytes, length));
    return true;
}

bool ScreenStream::Worker::grabRoot(Buffer& buffer, const QRect& rect)
{
    if (readImage(connection->root(), rect, buffer)) return true;
    if (connection->broken()) throw CaptureError("Megszakadt a kapcsolat az X kijelzővel.");
    // The root shrank under us (a monitor was switched off): what we record is gone.
    if (!connection->queryRootRect().contains(rect))
        throw CaptureError("A felvett kijelző már nem érhető el.");
    return false;
}

// ---- window targets ----

void ScreenStream::Worker::processEvents()
{
    xcb_connection_t* c = connection->get();
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
        Reply<xcb_generic_event_t> event(raw);
        switch (event->response_type & 0x7F) {
        case 0: {  // an error of an unchecked request
            auto* error = reinterpret_cast<xcb_generic_error_t*>(event.get());
            if (error->error_code == XCB_WINDOW && error->resource_id == client)
                throw CaptureError("A felvett ablak bezárult.");
            windowDirty = true;
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(event.get())->window == client)
                throw CaptureError("A felvett ablak bezárult.");
            windowDirty = true;
            break;
        case XCB_UNMAP_NOTIFY:
        case XCB_MAP_NOTIFY:
            // A window mapped again has a new off-screen copy.
            freePixmap();
            windowDirty = true;
            break;
        case XCB_CONFIGURE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
            windowDirty = true;
            break;
        case XCB_PROPERTY_NOTIFY: {
            const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
            if (property->window == clockWindow) serverTimes.push_back(property->time);
            break;
        }
        default:
            break;
        }
    }
}

void ScreenStream::Worker::freePixmap()
{
    if (pixmap != XCB_NONE) xcb_free_pixmap(connection->get(), pixmap);
    pixmap = XCB_NONE;
}

void ScreenStream::Worker::updateWindow()
{
    xcb_connection_t* c = connection->get();
    const xcb_window_t root = connection->root();
    windowDirty = false;

    // The top-level: the window itself, or the manager's frame around it.
    xcb_window_t top = client;
    for (int depth = 0; depth < 64; ++depth) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, top), &error));
        xcb::Error owned(error);
        if (!tree) {
            if (top == client) throw CaptureError("A felvett ablak bezárult.");
            windowDirty = true;  // the frame vanished between two requests; try again next tick
            return;
        }
        if (tree->parent == root || tree->parent == XCB_NONE) break;
        top = tree->parent;
    }

    if (top != topLevel) {
        freePixmap();
        if (topLevel != XCB_NONE && topLevel != client)
            xcb_composite_unredirect_window(c, topLevel, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        topLevel = top;
        if (topLevel != client) {
            const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(c, topLevel, XCB_CW_EVENT_MASK, &mask);
        }
        // Automatic redirection keeps an off-screen copy while the screen
        // looks the same; a compositing manager's own redirection is left alone.
        xcb_composite_redirect_window(c, topLevel, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }

    auto topAttributes = xcb_get_window_attributes(c, topLevel);
    auto topGeometry = xcb_get_geometry(c, topLevel);
    auto topOrigin = xcb_translate_coordinates(c, topLevel, root, 0, 0);
    auto clientGeometry = xcb_get_geometry(c, client);
    auto clientOrigin = xcb_translate_coordinates(c, client, root, 0, 0);
    auto extentsCookie = xcb::requestProperty(c, client, atoms.netFrameExtents, 4);
    auto shadowCookie = xcb::requestProperty(c, client, atoms.gtkFrameExtents, 4);
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, topAttributes, nullptr));
    Reply<xcb_get_geometry_reply_t> tg(xcb_get_geometry_reply(c, topGeometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> to(xcb_translate_coordinates_reply(c, topOrigin, nullptr));
    Reply<xcb_get_geometry_reply_t> cg(xcb_get_geometry_reply(c, clientGeometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> co(xcb_translate_coordinates_reply(c, clientOrigin, nullptr));
    const std::vector<std::uint32_t> extents = xcb::propertyLongs(c, extentsCookie);
    const std::vector<std::uint32_t> shadow = xcb::propertyLongs(c, shadowCookie);
    if (!cg || !co) throw CaptureError("A felvett ablak bezárult.");
    if (!attributes || !tg || !to) {
        windowDirty = true;
        return;
    }

    // The named pixmap covers the top-level's border too.
    const int border = tg->border_width;
    const QSize outer(tg->width + 2 * border, tg->height + 2 * border);
    topLevelOrigin = QPoint(to->dst_x - border, to->dst_y - border);
    const QRect frame = xcb::frameWithExtents(QPoint(co->dst_x, co->dst_y), cg->width, cg->height, extents, shadow);
    crop = frame.translated(-topLevelOrigin) & QRect(QPoint(0, 0), outer);

    viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (!viewable || outer != pixmapSize) freePixmap();
    if (viewable && pixmap == XCB_NONE) {
        const xcb_pixmap_t named = xcb_generate_id(c);
        xcb::Error error(xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, topLevel, named)));
        if (!error) {
            pixmap = named;
            pixmapSize = outer;
        } else if (error->error_code == XCB_WINDOW) {
            windowDirty = true;  // the frame went away; the client's own events say whether it closed
        }
        // BadMatch: not viewable after all (unmapped in between); the map event follows.
    }
}

bool ScreenStream::Worker::grabWindow(Buffer& buffer, const QRect& rect)
{
    if (readImage(pixmap, rect, buffer)) return true;
    if (connection->broken()) throw CaptureError("Megszakadt a kapcsolat az X kijelzővel.");
    // A stale pixmap (the window resized or closed in between): read the
    // geometry again; a closed window shows up in the events.
    freePixmap();
    windowDirty = true;
    return false;
}

} // namespace platform
