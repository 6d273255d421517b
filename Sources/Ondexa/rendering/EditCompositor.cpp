#include "EditCompositor.h"
#include "Platform/core/HandOff.h"

#include "Ondexa/rendering/CursorRenderer.h"
#include "Ondexa/rendering/LayerGeometry.h"
#include "Platform/media/BgraBufferPool.h"
#include "Platform/media/BgraConversion.h"

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

// The output frame, black until something is drawn. The pictures are
// collected first and drawn when the frame is finished. When the first one is
// an image covering the frame exactly, it is copied in (over black it only
// becomes opaque) instead of being blended over a black fill; and when that
// image is a source frame still in the encoder's YUV, only the part the other
// pictures cover is converted and drawn, to be laid over it.
class Canvas {
public:
    Canvas(QSize size, platform::BgraConverter& whole, platform::BgraConverter& part)
        : size_(size), whole_(whole), part_(part)
    {
    }

    void draw(const Picture& picture)
    {
        if (!picture.isEmpty()) pictures_.push_back(picture);
    }

    // A picture for `frame`, converted only once it is known to be needed.
    QImage standIn(const std::shared_ptr<const platform::YuvFrame>& frame)
    {
        for (StandIn& s : standIns_)
            if (s.frame == frame) {
                ++s.uses;
                return s.image;
            }
        const QSize size = frame->size();
        // Pooled: written whole before it is read, or never read at all.
        QImage image = platform::BgraBufferPool::shared().image(size.width(), size.height(),
                                                                 QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) throw std::bad_alloc();
        uchar* bits = image.bits();
        standIns_.push_back({frame, image, bits, 1});
        return image;
    }

    void finish(platform::FrameRequest& request, LayerPool& pool)
    {
        if (!pictures_.empty() && !request.wantsWholeFrame()) {
            Picture above;
            const QImage bottom = pictures_.front().bottomImage(above);
            for (const StandIn& s : standIns_) {
                // Passed on only where it is the bottom alone: a picture drawn
                // over it from the same frame needs it converted after all.
                if (bottom.isNull() || bottom.constBits() != s.bits || bottom.size() != size_ || s.uses != 1)
                    continue;
                // Every other frame is drawn over it, so it must hold its picture.
                if (!convertStandIns(&s)) return request.finishWithError(EditCompositor::frameError);
                std::vector<Picture> over;
                if (!above.isEmpty()) over.push_back(above);
                over.insert(over.end(), pictures_.begin() + 1, pictures_.end());
                return finishOver(request, pool, s.frame, over);
            }
        }
        // A stand-in that is the whole bottom alone is converted straight
        // into the frame: opaque, as the copy over black would leave it.
        const StandIn* bottom = nullptr;
        if (!pictures_.empty()) {
            const QImage plain = pictures_.front().plainImage();
            for (const StandIn& s : standIns_)
                if (!plain.isNull() && plain.constBits() == s.bits && plain.size() == size_ && s.uses == 1) bottom = &s;
        }
        if (!convertStandIns(bottom)) return request.finishWithError(EditCompositor::frameError);
        // A pooled buffer may hold an earlier frame: every pixel is written below.
        QImage image = platform::BgraBufferPool::shared().image(size_.width(), size_.height(),
                                                                 QImage::Format_ARGB32_Premultiplied);
        if (image.isNull()) return request.finishWithError(EditCompositor::frameError);
        std::optional<QPainter> painter;
        for (const Picture& picture : pictures_) {
            if (!painter) {
                const QImage plain = picture.plainImage();
                if (bottom) {
                    if (bottom->frame->toBgra(whole_, QRect(QPoint(0, 0), size_), image.bits()) < 0)
                        return request.finishWithError(EditCompositor::frameError);
                    begin(painter, image);
                    continue;
                }
                if (plain.size() == size_ &&
                    (plain.format() == QImage::Format_ARGB32_Premultiplied || plain.format() == QImage::Format_RGB32)) {
                    copyOverBlack(plain, image);
                    begin(painter, image);
                    continue;
                }
                image.fill(QColor(Qt::black));
                begin(painter, image);
            }
            picture.draw(*painter, pool);
        }
        if (!painter) image.fill(QColor(Qt::black));
        painter.reset();
        request.finish(std::move(image));
    }

private:
    struct StandIn {
        std::shared_ptr<const platform::YuvFrame> frame;
        QImage image;
        uchar* bits;  // the image's pixels, filled only when converted
        int uses;     // pictures drawn from it
    };

    // Fills every stand-in's pixels but `skipped`'s: pooled buffers hold
    // whatever an earlier frame left in them until then.
    bool convertStandIns(const StandIn* skipped)
    {
        for (const StandIn& s : standIns_) {
            if (&s == skipped) continue;
            if (s.frame->toBgra(whole_, QRect(QPoint(0, 0), s.frame->size()), s.bits) < 0) return false;
        }
        return true;
    }

    static void begin(std::optional<QPainter>& painter, QImage& image)
    {
        painter.emplace(&image);
        painter->setRenderHint(QPainter::Antialiasing);
    }

    // Premultiplied colour over opaque black keeps its colour and becomes opaque.
    static void copyOverBlack(const QImage& source, QImage& image)
    {
        const int width = image.width();
        for (int y = 0; y < image.height(); ++y) {
            const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) out[x] = in[x] | 0xFF000000u;
        }
    }

    // `base` with `over` drawn on the part of it they reach, that part rounded
    // out to whole 2 × 2 blocks of the encoder's 4:2:0 chroma.
    void finishOver(platform::FrameRequest& request, LayerPool& pool,
                    const std::shared_ptr<const platform::YuvFrame>& base, const std::vector<Picture>& over)
    {
        QRectF covered;
        for (const Picture& picture : over) covered |= picture.extent();
        QRect area = covered.toAlignedRect() & QRect(QPoint(0, 0), size_);
        if (area.isEmpty()) return request.finishOver(base, {}, {});
        const int left = area.left() & ~1, top = area.top() & ~1;
        const int right = std::min((area.right() + 2) & ~1, size_.width());
        const int bottom = std::min((area.bottom() + 2) & ~1, size_.height());
        area = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));

        // Drawn apart first, so that what they leave bare is known: there
        // the encoder gets the source as decoded.
        QImage drawn = pool.acquire(area.size());
        QImage image = platform::BgraBufferPool::shared().image(area.width(), area.height(),
                                                                 QImage::Format_ARGB32_Premultiplied);
        if (drawn.isNull() || image.isNull()) throw std::bad_alloc();
        drawn.fill(Qt::transparent);
        {
            QPainter painter(&drawn);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.translate(-area.topLeft());
            for (const Picture& picture : over) picture.draw(painter, pool);
        }
        if (base->toBgra(part_, area, image.bits()) < 0) {
            pool.release(std::move(drawn));
            return request.finishWithError(EditCompositor::frameError);
        }
        {
            QPainter painter(&image);
            painter.drawImage(0, 0, drawn);
        }
        // Opaque colours, with the drawn pictures' coverage as alpha.
        for (int y = 0; y < area.height(); ++y) {
            const auto* cover = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < area.width(); ++x) out[x] = (out[x] & 0x00FFFFFFu) | (cover[x] & 0xFF000000u);
        }
        pool.release(std::move(drawn));
        image.reinterpretAsFormat(QImage::Format_ARGB32);
        request.finishOver(base, std::move(image), area.topLeft());
    }

    QSize size_;
    platform::BgraConverter& whole_;
    platform::BgraConverter& part_;
    std::vector<Picture> pictures_;
    std::vector<StandIn> standIns_;
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

void drawEffects(Canvas& canvas, RenderState& state, const VideoLayer& layer, double t,
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
        canvas.draw(faded(picture, clip.fadeLevel(t)));
    }
}

void drawPictures(Canvas& canvas, RenderState& state, const VideoLayer& layer,
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
        if (const auto track = content.video.find(clip->id); track != content.video.end()) {
            source = drawable(request.sourceFrame(track->second));
            if (const auto yuv = request.yuvFrame(track->second); source.isNull() && yuv) source = canvas.standIn(yuv);
        }
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
        canvas.draw(transitioned(picture, *clip, incoming, t, bounds));
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
    const bool started = threads && threads->tryStart(platform::handedOver([&] {
        try {
            render(request);
        } catch (...) {
            failure = std::current_exception();
        }
        platform::handOffGive(&done);
        done.release();
    }));
    if (!started) {
        render(request);
        return;
    }
    done.acquire();
    platform::handOffTake(&done);
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
    Canvas canvas(size, whole_, part_);

    RenderState& state = instruction->state();
    const double t = request.compositionTime().seconds();
    const QRectF bounds(QPointF(0, 0), QSizeF(size));
    for (const VideoLayer& layer : state.layers) {
        if (const auto* pictures = std::get_if<VideoLayer::Pictures>(&layer.content))
            drawPictures(canvas, state, layer, *pictures, request, t, bounds);
        else
            drawEffects(canvas, state, layer, t, size);
    }
    canvas.finish(request, pool_);
}

} // namespace ondexa
