#include "EditCompositor.h"

#include "Ondexa/rendering/CursorRenderer.h"
#include "Ondexa/rendering/LayerGeometry.h"
#include "Platform/media/BgraBufferPool.h"

#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

namespace ondexa {

using namespace compositing;

namespace {

// Sources come premultiplied from the media layer; anything else is converted
// once here rather than on every draw.
QImage drawable(QImage image)
{
    if (image.isNull()) return image;
    switch (image.format()) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB32:
        return image;
    default:
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
}

// The output frame, black until something is drawn (its pooled buffer may
// hold an earlier frame: every pixel is written). It is painted on only
// from the first drawing on: when that first picture is an image covering it
// exactly, the image is copied in (over black it only becomes opaque) instead
// of being blended over a black fill.
class Canvas {
public:
    explicit Canvas(QSize size)
        : image_(platform::BgraBufferPool::shared().image(size.width(), size.height(),
                                                           QImage::Format_ARGB32_Premultiplied))
    {
    }
    bool isNull() const { return image_.isNull(); }

    void draw(const Picture& picture, LayerPool& pool)
    {
        if (picture.isEmpty()) return;
        if (!painter_) {
            const QImage plain = picture.plainImage();
            if (plain.size() == image_.size() &&
                (plain.format() == QImage::Format_ARGB32_Premultiplied || plain.format() == QImage::Format_RGB32)) {
                copyOverBlack(plain);
                begin();
                return;
            }
            image_.fill(QColor(Qt::black));
            begin();
        }
        picture.draw(*painter_, pool);
    }

    QImage finished()
    {
        if (!painter_) image_.fill(QColor(Qt::black));
        painter_.reset();
        return std::move(image_);
    }

private:
    void begin()
    {
        painter_.emplace(&image_);
        painter_->setRenderHint(QPainter::Antialiasing);
    }

    // Premultiplied colour over opaque black keeps its colour and becomes opaque.
    void copyOverBlack(const QImage& source)
    {
        const int width = image_.width();
        for (int y = 0; y < image_.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(image_.scanLine(y));
            for (int x = 0; x < width; ++x) out[x] = in[x] | 0xFF000000u;
        }
    }

    QImage image_;
    std::optional<QPainter> painter_;
};

bool isActive(const Clip& clip, double t)
{
    return clip.start <= t && t < clip.start + clip.duration;
}

// The most recent click that still makes the ring pulse.
const ClickEvent* pulsingClick(const std::vector<ClickEvent>& clicks, double srcT)
{
    const ClickEvent* recent = nullptr;
    for (const ClickEvent& click : clicks) {
        if (click.t <= srcT && srcT < click.t + ringPulseDuration) recent = &click;
    }
    return recent;
}

// Click highlights, the ring and the pointer over a screen-recording frame.
// Sizes and positions come from the frame's own rectangle, and the result is
// cropped to it, so decorations never move or resize the picture.
Picture decorated(const Picture& frame, RenderState& state, double srcT)
{
    const QRectF rect = frame.extent();
    const double w = rect.width();
    const double h = rect.height();
    Picture result = frame;

    if (state.showClicks) {
        for (const ClickEvent& click : state.clicks) {
            if (click.t <= srcT && srcT < click.t + clickHighlightDuration)
                result = clickHighlight(click, (srcT - click.t) / clickHighlightDuration, rect).over(result);
        }
    }

    const std::optional<CursorSample> position = CursorRenderer::position(state.cursor, srcT);
    if (position && position->x >= -0.05 && position->x <= 1.05 && position->y >= -0.05 && position->y <= 1.05) {
        const std::optional<CursorRenderer::PointerImage> pointer = state.pointer(h);
        if (pointer && !pointer->image.isNull()) {
            const QPointF point(rect.x() + position->x * w, rect.y() + position->y * h);
            const ClickEvent* recent = pulsingClick(state.clicks, srcT);
            const std::optional<QImage> ring = state.ring(h, recent && recent->right);
            if (ring && !ring->isNull()) {
                const double k =
                    recent ? 1 + 0.25 * std::sin(std::numbers::pi * (srcT - recent->t) / ringPulseDuration) : 1;
                const QTransform place(k, 0, 0, k, point.x() - k * ring->width() / 2.0,
                                       point.y() - k * ring->height() / 2.0);
                result = Picture::image(*ring).transformed(place).over(result);
            }
            result = Picture::image(pointer->image, point - QPointF(pointer->padding, pointer->padding)).over(result);
        }
    }
    return result.cropped(rect);
}

// Full frame, or the box of the clip's aspect placed by its state.
Picture placed(const Picture& picture, const Clip& clip, const PictureState& state, double outputAspect,
               const QRectF& bounds)
{
    const auto [box, fitted] = placement(clip, state, outputAspect, bounds);
    if (fitted) return fit(picture, box);
    Picture result = pictureInPicture(picture, box, bounds, clip.rounded);
    if (std::abs(state.rotation) > 0.01) {
        const QPointF c = box.center();
        QTransform turn = QTransform::fromTranslate(-c.x(), -c.y());
        turn *= QTransform().rotate(state.rotation);  // positive degrees turn clockwise on screen
        turn *= QTransform::fromTranslate(c.x(), c.y());
        result = result.transformed(turn);
    }
    return result;
}

void drawEffects(Canvas& canvas, LayerPool& pool, RenderState& state, const VideoLayer& layer, double t,
                 QSize size)
{
    const QSizeF sizeF(size);
    for (const Clip& clip : layer.clips) {
        if (!isActive(clip, t) || !clip.overlay) continue;
        const std::optional<OverlayRenderer::OverlayImage> drawn = state.image(*clip.overlay, size);
        if (!drawn) continue;
        Picture picture = Picture::image(drawn->image, drawn->origin);
        if (picture.isEmpty()) continue;
        const PictureState s = clip.pictureState(t, layer.outputAspect);
        if (!isIdentity(s)) {
            const QPointF p = pivot(*clip.overlay, sizeF);
            QTransform move = QTransform::fromTranslate(-p.x(), -p.y());
            move *= QTransform::fromScale(s.scale, s.scale);
            move *= QTransform().rotate(s.rotation);
            move *= QTransform::fromTranslate(p.x() + sizeF.width() * (s.centerX - 0.5),
                                              p.y() + sizeF.height() * (s.centerY - 0.5));
            picture = picture.transformed(move);
        }
        canvas.draw(faded(picture, clip.fadeLevel(t)), pool);
    }
}

void drawPictures(Canvas& canvas, LayerPool& pool, RenderState& state, const VideoLayer& layer,
                  const VideoLayer::Pictures& content, const platform::FrameRequest& request, double t,
                  const QRectF& bounds)
{
    std::vector<const Clip*> active;
    for (const Clip& clip : layer.clips) {
        if (isActive(clip, t)) active.push_back(&clip);
    }
    if (active.empty()) return;
    // Equal starts keep the layer's order; the latest start comes in over the others.
    std::stable_sort(active.begin(), active.end(), [](const Clip* a, const Clip* b) { return a->start < b->start; });
    const Clip* incoming = active.size() >= 2 ? active.back() : nullptr;

    for (const Clip* clip : active) {
        QImage source;
        if (const auto track = content.video.find(clip->id); track != content.video.end())
            source = drawable(request.sourceFrame(track->second));
        if (source.isNull()) {
            if (const auto still = content.stills.find(clip->id); still != content.stills.end())
                source = drawable(still->second);
        }
        Picture picture = Picture::image(std::move(source));
        if (picture.isEmpty()) continue;
        if (layer.screenClips.contains(clip->id))
            picture = decorated(picture, state, clip->sourceStart + (t - clip->start));
        const PictureState s = clip->pictureState(t, layer.outputAspect);
        picture = placed(picture, *clip, s, layer.outputAspect, bounds);
        canvas.draw(transitioned(picture, *clip, incoming, t, bounds), pool);
    }
}

} // namespace

EditCompositor::EditCompositor() = default;

EditCompositor::~EditCompositor()
{
    std::lock_guard lock(cancelLock_);
    ++generation_;
}

void EditCompositor::startRequest(std::shared_ptr<platform::FrameRequest> request)
{
    if (!request) return;
    // Queued under the lock, so that a request queued after a cancellation
    // always carries the new generation.
    std::lock_guard lock(cancelLock_);
    queue_.async([this, request = std::move(request), generation = generation_] { run(*request, generation); });
}

void EditCompositor::cancelAllPendingRequests()
{
    std::lock_guard lock(cancelLock_);
    ++generation_;
}

void EditCompositor::run(platform::FrameRequest& request, std::uint64_t generation)
{
    bool cancelled;
    {
        std::lock_guard lock(cancelLock_);
        cancelled = generation != generation_;
    }
    if (cancelled) {
        request.finishCancelled();
        return;
    }
    try {
        if (oneThread_)
            renderOnOneThread(request);
        else
            render(request);
    } catch (...) {
        // Out of memory or a fault in a drawing step: this frame fails, the next one is tried afresh.
        request.finishWithError(frameError);
    }
    if (!request.isFinished()) request.finishWithError(frameError);
}

void EditCompositor::renderOnOneThread(platform::FrameRequest& request)
{
    QThreadPool* threads = QThreadPool::globalInstance();
    QSemaphore done;
    std::exception_ptr failure;
    const bool started = threads && threads->tryStart([&] {
        try {
            render(request);
        } catch (...) {
            failure = std::current_exception();
        }
        done.release();
    });
    if (!started) {
        render(request);
        return;
    }
    done.acquire();
    if (failure) std::rethrow_exception(failure);
}

void EditCompositor::render(platform::FrameRequest& request)
{
    const auto* instruction = dynamic_cast<const EditInstruction*>(request.instruction().get());
    const QSize size = request.renderSize();
    if (!instruction || !instruction->sharedState() || size.isEmpty() || !request.compositionTime().isNumeric()) {
        request.finishWithError(frameError);
        return;
    }
    Canvas canvas(size);
    if (canvas.isNull()) {
        request.finishWithError(frameError);
        return;
    }

    RenderState& state = instruction->state();
    const double t = request.compositionTime().seconds();
    const QRectF bounds(QPointF(0, 0), QSizeF(size));
    for (const VideoLayer& layer : state.layers) {
        if (const auto* pictures = std::get_if<VideoLayer::Pictures>(&layer.content))
            drawPictures(canvas, pool_, state, layer, *pictures, request, t, bounds);
        else
            drawEffects(canvas, pool_, state, layer, t, size);
    }
    request.finish(canvas.finished());
}

} // namespace ondexa
