#include "support/pipewire/VideoSource.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <time.h>

namespace testsupport {

namespace {

std::int64_t monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

constexpr int kCursorSide = 4;
constexpr int kCursorMetaSize = int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + kCursorSide * kCursorSide * 4;

} // namespace

struct VideoSource::Impl {
    Options options;
    Painter painter;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_source* timer = nullptr;
    pw_proxy* link = nullptr;
    pw_registry* registry = nullptr;  // made by removeNode()

    // Under the loop's lock.
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::int64_t index = 0;
    QPoint pointer;
    bool paused = false;
    mutable std::mutex timesMutex;
    std::vector<std::int64_t> times;  // guarded by timesMutex

    int stride() const { return options.size.width() * 4; }

    void process()
    {
        pw_buffer* b = pw_stream_dequeue_buffer(stream);
        if (!b) return;
        spa_buffer* buffer = b->buffer;
        spa_data& data = buffer->datas[0];
        if (!data.data) {
            pw_stream_queue_buffer(stream, b);
            return;
        }
        painter(static_cast<std::uint8_t*>(data.data), stride(), index++);
        data.chunk->offset = 0;
        data.chunk->size = std::uint32_t(stride() * options.size.height());
        data.chunk->stride = stride();
        const std::int64_t pts = monotonicNow() - options.stampEarlier;
        if (auto* header = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
            header->pts = pts;
            header->flags = 0;
            header->seq = std::uint64_t(index);
            header->dts_offset = 0;
        }
        if (auto* cursor = static_cast<spa_meta_cursor*>(
                spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
            cursor->id = 1;
            cursor->flags = 0;
            cursor->position = {pointer.x(), pointer.y()};
            cursor->hotspot = {1, 1};
            cursor->bitmap_offset = sizeof(spa_meta_cursor);
            auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
            bitmap->format = SPA_VIDEO_FORMAT_BGRA;
            bitmap->size = {kCursorSide, kCursorSide};
            bitmap->stride = kCursorSide * 4;
            bitmap->offset = sizeof(spa_meta_bitmap);
            auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, std::uint8_t);
            for (int i = 0; i < kCursorSide * kCursorSide; ++i) {
                pixels[i * 4 + 0] = 0;
                pixels[i * 4 + 1] = 0;
                pixels[i * 4 + 2] = 255;
                pixels[i * 4 + 3] = 255;
            }
        }
        {
            std::lock_guard lock(timesMutex);
            times.push_back(pts);
        }
        pw_stream_queue_buffer(stream, b);
    }

    void formatChosen(const spa_pod* param)
    {
        if (!param) return;
        std::uint8_t storage[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
        const spa_pod* params[3];
        std::uint32_t count = 2;
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(stride() * options.size.height()), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride()),
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        if (options.cursorMetadata)
            params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                SPA_PARAM_META_size, SPA_POD_Int(kCursorMetaSize)));
        pw_stream_update_params(stream, params, count);
    }
};

VideoSource::VideoSource(Options options, Painter painter) : impl_(std::make_unique<Impl>())
{
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state, pw_stream_state now, const char*) {
            auto* impl = static_cast<Impl*>(data);
            impl->state = now;
            pw_thread_loop_signal(impl->loop, false);
        };
        e.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
            if (id == SPA_PARAM_Format) static_cast<Impl*>(data)->formatChosen(param);
        };
        e.process = [](void* data) { static_cast<Impl*>(data)->process(); };
        return e;
    }();

    Impl& impl = *impl_;
    impl.options = options;
    if (!impl.options.format) impl.options.format = SPA_VIDEO_FORMAT_BGRx;
    impl.painter = std::move(painter);
    pw_init(nullptr, nullptr);
    impl.loop = pw_thread_loop_new("test-video-source", nullptr);
    impl.context = pw_context_new(pw_thread_loop_get_loop(impl.loop), nullptr, 0);
    pw_thread_loop_start(impl.loop);
    pw_thread_loop_lock(impl.loop);
    impl.core = pw_context_connect(impl.context, nullptr, 0);
    if (!impl.core) {
        pw_thread_loop_unlock(impl.loop);
        throw std::runtime_error("the test video source can't reach PipeWire");
    }
    impl.stream = pw_stream_new(impl.core, "test-video-source",
                                pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                                  PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
    pw_stream_add_listener(impl.stream, &impl.listener, &events, &impl);

    std::uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_rectangle size{std::uint32_t(impl.options.size.width()), std::uint32_t(impl.options.size.height())};
    const spa_fraction rate{std::uint32_t(impl.options.fps), 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(impl.options.format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    pw_stream_connect(impl.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);

    // Sends a picture every 1/fps while streaming.
    impl.timer = pw_loop_add_timer(
        pw_thread_loop_get_loop(impl.loop),
        [](void* data, std::uint64_t) {
            auto* impl = static_cast<Impl*>(data);
            if (impl->state == PW_STREAM_STATE_STREAMING && !impl->paused) pw_stream_trigger_process(impl->stream);
        },
        &impl);
    timespec first{0, 1'000'000};
    timespec every{0, long(1'000'000'000 / impl.options.fps)};
    pw_loop_update_timer(pw_thread_loop_get_loop(impl.loop), impl.timer, &first, &every, false);

    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (impl.state != PW_STREAM_STATE_PAUSED && impl.state != PW_STREAM_STATE_STREAMING) {
        if (std::chrono::steady_clock::now() > until || impl.state == PW_STREAM_STATE_ERROR) {
            pw_thread_loop_unlock(impl.loop);
            throw std::runtime_error("the test video source did not start");
        }
        pw_thread_loop_timed_wait(impl.loop, 1);
    }
    pw_thread_loop_unlock(impl.loop);
}

VideoSource::~VideoSource()
{
    Impl& impl = *impl_;
    pw_thread_loop_lock(impl.loop);
    if (impl.timer) pw_loop_destroy_source(pw_thread_loop_get_loop(impl.loop), impl.timer);
    if (impl.link) pw_proxy_destroy(impl.link);
    if (impl.registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(impl.registry));
    spa_hook_remove(&impl.listener);
    pw_stream_destroy(impl.stream);
    pw_core_disconnect(impl.core);
    pw_thread_loop_unlock(impl.loop);
    pw_thread_loop_stop(impl.loop);
    pw_context_destroy(impl.context);
    pw_thread_loop_destroy(impl.loop);
}

std::uint32_t VideoSource::nodeId() const
{
    pw_thread_loop_lock(impl_->loop);
    const std::uint32_t id = pw_stream_get_node_id(impl_->stream);
    pw_thread_loop_unlock(impl_->loop);
    return id;
}

void VideoSource::linkTo(std::uint32_t consumerNode)
{
    const std::string output = std::to_string(nodeId());
    const std::string input = std::to_string(consumerNode);
    pw_thread_loop_lock(impl_->loop);
    pw_properties* props = pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, output.c_str(), PW_KEY_LINK_INPUT_NODE,
                                             input.c_str(), PW_KEY_OBJECT_LINGER, "false", nullptr);
    impl_->link = static_cast<pw_proxy*>(
        pw_core_create_object(impl_->core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
    pw_properties_free(props);
    pw_thread_loop_unlock(impl_->loop);
}

void VideoSource::removeNode(std::uint32_t node)
{
    pw_thread_loop_lock(impl_->loop);
    if (!impl_->registry) impl_->registry = pw_core_get_registry(impl_->core, PW_VERSION_REGISTRY, 0);
    pw_registry_destroy(impl_->registry, node);
    pw_thread_loop_unlock(impl_->loop);
}

void VideoSource::setPointer(QPoint position)
{
    pw_thread_loop_lock(impl_->loop);
    impl_->pointer = position;
    pw_thread_loop_unlock(impl_->loop);
}

void VideoSource::setPaused(bool paused)
{
    pw_thread_loop_lock(impl_->loop);
    impl_->paused = paused;
    pw_thread_loop_unlock(impl_->loop);
}

std::vector<std::int64_t> VideoSource::sentTimes() const
{
    std::lock_guard lock(impl_->timesMutex);
    return impl_->times;
}

} // namespace testsupport
