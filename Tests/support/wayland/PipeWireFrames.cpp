#include "PipeWireFrames.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <cstring>

namespace screencast {

namespace {

std::int64_t hostNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* formatName(std::uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx: return "BGRx";
    case SPA_VIDEO_FORMAT_BGRA: return "BGRA";
    case SPA_VIDEO_FORMAT_RGBx: return "RGBx";
    case SPA_VIDEO_FORMAT_RGBA: return "RGBA";
    default: return "other";
    }
}

} // namespace

struct PipeWireFrames::Hooks {
    static void stateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
    {
        auto* self = static_cast<PipeWireFrames*>(data);
        if (state != PW_STREAM_STATE_ERROR && state != PW_STREAM_STATE_UNCONNECTED) return;
        std::lock_guard lock(self->mutex_);
        if (self->error_.empty())
            self->error_ = std::string("stream ") + pw_stream_state_as_string(state) + (error ? std::string(": ") + error : "");
        self->changed_.notify_all();
    }

    static void paramChanged(void* data, std::uint32_t id, const spa_pod* param)
    {
        auto* self = static_cast<PipeWireFrames*>(data);
        if (id != SPA_PARAM_Format || !param) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        self->videoFormat_ = info.format;
        self->width_ = int(info.size.width);
        self->height_ = int(info.size.height);
        {
            std::lock_guard lock(self->mutex_);
            self->format_ = std::string(formatName(info.format)) + " " + std::to_string(info.size.width) + "x"
                            + std::to_string(info.size.height);
        }
        std::uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        pw_stream_update_params(self->stream_, params, 2);
    }

    static void process(void* data)
    {
        auto* self = static_cast<PipeWireFrames*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
        if (!b) return;
        spa_buffer* buffer = b->buffer;
        const spa_data& d = buffer->datas[0];
        const int width = self->width_, height = self->height_;
        const int stride = d.chunk && d.chunk->stride > 0 ? d.chunk->stride : width * 4;
        const bool whole = d.data && d.chunk && d.chunk->size > 0 && width > 0 && height > 0
                           && std::size_t(stride) * std::size_t(height) <= d.maxsize - d.chunk->offset;
        auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        const bool corrupted = header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED);
        if (whole && !corrupted) {
            Frame frame;
            frame.hostTime = hostNanoseconds();
            frame.pts = header ? header->pts : -1;
            const auto* bits = static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
            QImage::Format format = QImage::Format_RGB32;
            if (self->videoFormat_ == SPA_VIDEO_FORMAT_RGBx) format = QImage::Format_RGBX8888;
            if (self->videoFormat_ == SPA_VIDEO_FORMAT_RGBA) format = QImage::Format_RGBA8888;
            if (self->videoFormat_ == SPA_VIDEO_FORMAT_BGRA) format = QImage::Format_ARGB32;
            // Kept past this buffer's return to the stream: always a copy
            // (converting to the format an image already has shares it).
            const QImage inBuffer(bits, width, height, stride, format);
            frame.image = format == QImage::Format_RGB32 ? inBuffer.copy() : inBuffer.convertToFormat(QImage::Format_RGB32);
            std::unique_lock lock(self->mutex_);
            frame.number = ++self->count_;
            self->frames_.push_back(frame);
            while (self->frames_.size() > self->keep_) self->frames_.pop_front();
            self->changed_.notify_all();
            lock.unlock();
            if (self->onFrame_) self->onFrame_(frame);
        }
        pw_stream_queue_buffer(self->stream_, b);
    }
};

namespace {

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = &PipeWireFrames::Hooks::stateChanged;
    events.param_changed = &PipeWireFrames::Hooks::paramChanged;
    events.process = &PipeWireFrames::Hooks::process;
    return events;
}();

} // namespace

PipeWireFrames::PipeWireFrames(int fd, std::uint32_t node, std::size_t keep, std::function<void(const Frame&)> onFrame)
    : keep_(std::max<std::size_t>(1, keep)), onFrame_(std::move(onFrame))
{
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("test-consumer", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    listener_ = new spa_hook{};
    if (!loop_ || !context_ || pw_thread_loop_start(loop_) < 0) {
        error_ = "no PipeWire loop";
        if (fd >= 0) ::close(fd);
        return;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect_fd(context_, fd, nullptr, 0);  // takes the descriptor, also on failure
    if (!core_) {
        const std::string reason = std::strerror(errno);
        pw_thread_loop_unlock(loop_);
        std::lock_guard lock(mutex_);
        error_ = "cannot connect to PipeWire: " + reason;
        return;
    }
    stream_ = pw_stream_new(core_, "test-consumer",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                              PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    pw_stream_add_listener(stream_, static_cast<spa_hook*>(listener_), &streamEvents, this);

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
    spa_fraction rate{0, 1}, minRate{0, 1}, maxRate{1000, 1};
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)))};
    const int connected = pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, node, pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    pw_thread_loop_unlock(loop_);
    if (connected < 0) {
        std::lock_guard lock(mutex_);
        error_ = std::string("cannot connect the stream: ") + std::strerror(-connected);
    }
}

PipeWireFrames::~PipeWireFrames()
{
    if (loop_) pw_thread_loop_stop(loop_);
    if (stream_) pw_stream_destroy(stream_);
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (loop_) pw_thread_loop_destroy(loop_);
    delete static_cast<spa_hook*>(listener_);
    // No pw_deinit: the program's own consumer may share the process.
}

bool PipeWireFrames::waitForFrames(std::uint64_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return count_ >= count || !error_.empty(); }) && count_ >= count;
}

std::uint64_t PipeWireFrames::frameCount() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

std::deque<PipeWireFrames::Frame> PipeWireFrames::frames() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

std::string PipeWireFrames::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

std::string PipeWireFrames::format() const
{
    std::lock_guard lock(mutex_);
    return format_;
}

} // namespace screencast
