#include "Ondexa/timeline/TimelinePainting.h"

#include "Ondexa/timeline/TimelineSymbols.h"
#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/Theme.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <map>

namespace ondexa {

namespace {

QColor white(double alpha) { return QColor::fromRgbF(1, 1, 1, float(alpha)); }
QColor black(double alpha) { return QColor::fromRgbF(0, 0, 0, float(alpha)); }
QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QColor kindColor(MediaKind kind, double alpha)
{
    switch (kind) {
    case MediaKind::video: return QColor::fromRgbF(0.16f, 0.25f, 0.45f, float(alpha));
    case MediaKind::audio: return QColor::fromRgbF(0.12f, 0.32f, 0.20f, float(alpha));
    case MediaKind::image: return QColor::fromRgbF(0.10f, 0.35f, 0.40f, float(alpha));
    case MediaKind::effects: return QColor::fromRgbF(0.20f, 0.40f, 0.85f, float(alpha));
    }
    return {};
}

// A double as an index, without undefined conversions of huge values.
long long toIndex(double value)
{
    if (!(value > -1e15)) return -1'000'000'000'000'000LL;
    if (value > 1e15) return 1'000'000'000'000'000LL;
    return static_cast<long long>(value);  // truncates towards zero
}

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Text whose leading edge has its midpoint at `at`.
void drawLeading(QPainter& painter, const QPointF& at, const QString& text)
{
    const QFontMetricsF metrics(painter.font());
    painter.drawText(QPointF(at.x(), at.y() + (metrics.ascent() - metrics.descent()) / 2), text);
}

struct Frame {
    QPainter& painter;
    const TimelineSnapshot& s;
    double width;
    double height;
    QRectF area;  // what is being drawn: the whole canvas, or a part that changed
    const TimelineSymbolImages& symbols;  // at the painter's device pixel ratio
    double x(double t) const { return s.x(t); }
    bool outside(const QRectF& r) const { return r.right() < 0 || r.left() > width; }
    // Whether a shape can leave a mark on the area.
    bool touches(const QRectF& r) const
    {
        return r.right() + drawingReach > area.left() && r.left() - drawingReach < area.right()
               && r.bottom() + drawingReach > area.top() && r.top() - drawingReach < area.bottom();
    }
};

void drawRuler(Frame& f)
{
    QPainter& p = f.painter;
    QLinearGradient band(0, 0, 0, rulerBand);
    band.setColorAt(0, white(0.07));
    band.setColorAt(1, white(0.02));
    p.fillRect(QRectF(0, 0, f.width, rulerBand), band);
    p.fillRect(QRectF(0, 19.5, f.width, 0.5), white(0.18));

    const double pps = f.s.pps;
    const double tLeft = (f.s.scrollX - timelineOrigin) / pps;
    const double tRight = tLeft + f.width / pps;
    const RulerStep step = rulerStep(pps);
    double t0 = std::floor(tLeft / step.label) * step.label;
    if (t0 < 0) t0 = 0;
    p.setFont(Theme::font(9, Theme::Weight::medium));
    const int n = rulerDivisions(step);
    // Only what a silly zoom could ask for beyond a few ticks per pixel.
    const long long limit = toIndex(f.width * 4) + 64;
    for (long long k = 0; k <= limit; ++k) {
        const double t = t0 + double(k) * step.minor;
        if (t > tRight) break;
        const bool labelled = k % n == 0;
        const double h = rulerTickHeight(step, k);
        const double x = f.x(t);
        p.fillRect(QRectF(x, rulerBand - h, 1, h), white(labelled ? 0.55 : 0.28));
        if (labelled) {
            p.setPen(white(0.7));
            drawLeading(p, QPointF(x + 3, 6), rulerLabel(t, step.label));
        }
    }
}

// A clip with the fades it is drawn with: its automatic cross-fades.
struct Faded {
    const Clip& clip;
    double fadeIn = 0;
    double fadeOut = 0;
};

void drawWave(Frame& f, const std::vector<float>& peaks, const Faded& faded, float gain, const QRectF& r)
{
    const double pps = f.s.pps;
    const double yc = r.center().y() + 2;
    const double a = r.height() / 2 - 7;
    const Clip& clip = faded.clip;
    std::vector<const TrackAction*> volumes;
    for (const TrackAction& action : clip.actions)
        if (action.volume) volumes.push_back(&action);

    const long long count = static_cast<long long>(peaks.size());
    const double s = r.left() <= 0 ? -r.left() : 0;
    // Bars only over the area, on the same 2-point grid as a whole drawing.
    const double e = std::min({f.width - r.left(), r.width(), f.area.right() + drawingReach - r.left()});
    const long long first = std::max(0LL, toIndex((f.area.left() - drawingReach - r.left() - s) / 2));
    QList<QRectF> normal;
    QList<QRectF> loud;
    for (long long k = first;; ++k) {
        const double x = s + 2 * double(k);
        if (!(x < e)) break;
        const double u = x / pps;
        const long long i0 = toIndex((clip.sourceStart + u) * 50);
        const long long i1 = toIndex((clip.sourceStart + (x + 2) / pps) * 50);
        float peak = 0;
        if (i0 < count) {
            const long long to = std::min(count, std::max(i0 + 1, i1));
            for (long long i = std::max(i0, 0LL); i < to; ++i) peak = std::max(peak, peaks[std::size_t(i)]);
        }
        float v = clip.volume;
        for (const TrackAction* action : volumes)
            if (action->start <= u && u < action->end) v = *action->volume;
        const double t = clip.start + u;
        double fade = faded.fadeIn > 0 ? std::clamp((t - clip.start) / faded.fadeIn, 0.0, 1.0) : 1.0;
        if (faded.fadeOut > 0) fade = std::min(fade, std::max((clip.end() - t) / faded.fadeOut, 0.0));
        const float level = peak * v * gain * float(fade);
        const double b = a * double(std::pow(std::min(level, 1.0f), 0.6f));
        (level > 1 ? loud : normal).append(QRectF(r.left() + x, yc - b, 1.5, std::max(2 * b, 0.5)));
    }
    // One fill each for the normal and the over-level bars.
    QPainter& p = f.painter;
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(Theme::green(), 0.85));
    p.drawRects(normal);
    p.setBrush(Theme::systemOrange());
    p.drawRects(loud);
    p.setBrush(Qt::NoBrush);
}

// The thumbnail nearest to source time t: the first at or after it, or the
// one before when that is strictly nearer.
const Thumbnail& nearestThumbnail(const std::vector<Thumbnail>& list, double t)
{
    if (list.size() == 1) return list.front();
    auto found = std::lower_bound(list.begin(), list.end(), t,
                                  [](const Thumbnail& thumb, double time) { return thumb.time < time; });
    if (found == list.end()) return list.back();
    if (found != list.begin()) {
        const auto before = std::prev(found);
        if (std::abs(before->time - t) < std::abs(found->time - t)) return *before;
    }
    return *found;
}

void drawFilmstrip(Frame& f, const std::vector<Thumbnail>& list, const Clip& clip, const QRectF& r, double dim)
{
    QPainter& p = f.painter;
    const QImage& first = list.front().image;
    const double h = r.height();
    const double w = std::max(h * first.width() / std::max(first.height(), 1), 8.0);
    const double s = r.left() <= 0 ? -r.left() : 0;
    // Tiles stay aligned to the clip's start; only those over the area are drawn.
    const double e = std::min({f.width - r.left(), r.width(), f.area.right() + drawingReach - r.left()});
    const long long firstTile = std::max(toIndex(s / w), toIndex((f.area.left() - drawingReach - r.left()) / w));
    p.save();
    p.setClipPath(rounded(r, 4), Qt::IntersectClip);
    p.setOpacity(dim);
    for (long long k = std::max(firstTile, 0LL);; ++k) {
        const double o = double(k) * w;
        if (!(o < e)) break;
        const double t = clip.sourceStart + (o + w / 2) / f.s.pps;
        // As a texture: drawImage snaps a tile to whole pixels where the
        // visible part of the clip's shape happens to be a plain rectangle,
        // so a part of the strip drawn alone would not match the whole.
        const QImage& image = nearestThumbnail(list, t).image;
        if (image.isNull()) continue;
        const QRectF tile(r.left() + o, r.top(), w, h);
        QBrush texture(image);
        texture.setTransform(QTransform(w / image.width(), 0, 0, h / image.height(), tile.left(), tile.top()));
        p.fillRect(tile, texture);
    }
    p.restore();
}

void drawFades(Frame& f, const Faded& faded, std::pair<double, double> own, const QRectF& r)
{
    QPainter& p = f.painter;
    const double pps = f.s.pps;
    const double wIn = faded.fadeIn * pps;
    const double wOut = faded.fadeOut * pps;
    const QPen ramp(white(0.8), 1);
    if (wIn > 1) {
        QPainterPath wedge;
        wedge.moveTo(r.left(), r.top());
        wedge.lineTo(r.left() + wIn, r.top());
        wedge.lineTo(r.left(), r.bottom());
        wedge.closeSubpath();
        p.fillPath(wedge, black(0.45));
        p.setPen(ramp);
        p.drawLine(QPointF(r.left(), r.bottom()), QPointF(r.left() + wIn, r.top()));
    }
    if (wOut > 1) {
        QPainterPath wedge;
        wedge.moveTo(r.right(), r.top());
        wedge.lineTo(r.right() - wOut, r.top());
        wedge.lineTo(r.right(), r.bottom());
        wedge.closeSubpath();
        p.fillPath(wedge, black(0.45));
        p.setPen(ramp);
        p.drawLine(QPointF(r.right(), r.bottom()), QPointF(r.right() - wOut, r.top()));
    }
    if (r.width() > 24) {
        p.setPen(QPen(black(0.6), 1));
        p.setBrush(Qt::white);
        for (const double gx : {r.left() + own.first * pps - 3.5, r.right() - own.second * pps - 3.5})
            p.drawRoundedRect(QRectF(gx, r.top() - 1, 7, 7), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
    }
}

void drawActions(Frame& f, const Clip& clip, double top)
{
    QPainter& p = f.painter;
    for (const TrackAction& action : clip.actions) {
        const QRectF a(f.x(clip.start + action.start), top + 2,
                       std::max((action.end - action.start) * f.s.pps - 1, 3.0), 11);
        if (f.outside(a) || !f.touches(a)) continue;
        const QPainterPath shape = rounded(a, 3);
        p.fillPath(shape, withAlpha(Theme::yellow(), 0.92));
        if (f.s.selectedAction == action.id) p.strokePath(shape, QPen(Qt::black, 2));
        if (a.width() > 34) {
            p.save();
            p.setClipRect(a, Qt::IntersectClip);
            p.setFont(Theme::font(9, Theme::Weight::semibold));
            p.setPen(Qt::black);
            drawLeading(p, QPointF(std::max(a.left(), 0.0) + 4, a.center().y()), actionLabel(action));
            p.restore();
        }
    }
}

void drawName(Frame& f, const Track& track, const Clip& clip, const QRectF& r)
{
    QPainter& p = f.painter;
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    if (track.isPicture()) p.fillRect(QRectF(r.left(), r.bottom() - 15, r.width(), 15), black(0.55));
    p.setFont(Theme::font(9, Theme::Weight::medium));
    p.setPen(white(0.9));
    double x = std::max(r.left(), 0.0) + 5;
    const double y = r.bottom() - 8;
    if (clip.link) {
        // DejaVu has no chain glyph: the symbol, one text line high, then a blank.
        const int side = TimelineSymbolImages::side;
        p.drawImage(QPointF(x, y - side / 2.0), f.symbols.chain);
        x += side + QFontMetricsF(p.font()).horizontalAdvance(QLatin1Char(' '));
    }
    // A narrow clip ends its name in "…" rather than mid-letter.
    drawLeading(p, QPointF(x, y), elidedToFit(QFontMetricsF(p.font()), clipLabel(track, clip), r.right() - x - 4));
    p.restore();
}

// `order`: the clips by start, equal starts in stored order.
void drawTransitions(Frame& f, const Track& track, const std::vector<std::size_t>& order, double top)
{
    QPainter& p = f.painter;
    std::vector<const Clip*> clips;
    clips.reserve(order.size());
    for (const std::size_t i : order) clips.push_back(&track.clips[i]);
    const double h = f.s.trackHeight;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const Clip& a = *clips[i];
        for (std::size_t j = i + 1; j < clips.size(); ++j) {
            const Clip& b = *clips[j];
            // Sorted by start: no later clip can overlap a either.
            if (b.start >= a.end()) break;
            const double length = std::min(b.end(), a.end()) - b.start;
            const QRectF o(f.x(b.start), top + 2, std::max(length * f.s.pps, 3.0), h - 4);
            if (f.outside(o) || !f.touches(o)) continue;
            const QPainterPath shape = rounded(o, 4);
            QLinearGradient fill(o.topLeft(), o.bottomRight());
            fill.setColorAt(0, withAlpha(Theme::yellow(), 0.45));
            fill.setColorAt(1, withAlpha(Theme::systemOrange(), 0.3));
            p.fillPath(shape, fill);
            p.strokePath(shape, QPen(Theme::yellow(), 1.5));
            p.setPen(QPen(withAlpha(Theme::yellow(), 0.7), 1));
            p.drawLine(QPointF(o.left(), o.bottom()), QPointF(o.right(), o.top()));
            p.drawLine(QPointF(o.left(), o.top()), QPointF(o.right(), o.bottom()));
            if (track.media.kind == MediaKind::audio) continue;

            const Transition kind = b.transition.value_or(Transition::dissolve);
            p.save();
            p.setClipPath(shape, Qt::IntersectClip);
            const double badge = std::min(o.width(), 90.0);
            p.fillPath(rounded(QRectF(o.center().x() - badge / 2 + 2, o.center().y() - 8, badge - 4, 16), 4),
                       black(0.6));
            p.setFont(Theme::font(9, Theme::Weight::semibold));
            const QFontMetricsF metrics(p.font());
            const int side = TimelineSymbolImages::side;
            const QString name = o.width() > 70 ? transitionName(kind) : QString();
            const double textWidth = name.isEmpty() ? 0 : metrics.horizontalAdvance(QLatin1Char(' ') + name);
            double x = o.center().x() - (side + textWidth) / 2;
            p.drawImage(QPointF(x, o.center().y() - side / 2.0), f.symbols.transitions.at(std::size_t(kind)));
            if (!name.isEmpty()) {
                p.setPen(Theme::yellow());
                drawLeading(p, QPointF(x + side, o.center().y()), QLatin1Char(' ') + name);
            }
            p.restore();
        }
    }
}

void drawTrack(Frame& f, const Track& track, const TimelineSnapshot::Order& order, double top, std::size_t row)
{
    QPainter& p = f.painter;
    const double h = f.s.trackHeight;
    if (f.s.selectedTrack == track.id) p.fillRect(QRectF(0, top, f.width, h), withAlpha(Theme::accent(), 0.08));
    else if (row % 2 == 0) p.fillRect(QRectF(0, top, f.width, h), white(0.03));
    p.fillRect(QRectF(0, top + h - 0.5, f.width, 0.5), white(0.06));

    // The user's own fades: of the first stored clip with the id.
    std::map<Uuid, std::pair<double, double>> shared;
    if (order.sharedIds)
        for (const Clip& clip : track.clips) shared.emplace(clip.id, std::pair(clip.fadeIn, clip.fadeOut));
    const auto own = [&](const Clip& clip) {
        return order.sharedIds ? shared.at(clip.id) : std::pair(clip.fadeIn, clip.fadeOut);
    };
    const double dim = track.hidden || track.muted ? 0.4 : 1.0;
    const bool sound = track.media.kind == MediaKind::audio;

    const CrossFades& fades = order.fades;
    for (std::size_t k = 0; k < fades.order.size(); ++k) {
        const Clip& clip = track.clips[fades.order[k]];
        const Faded faded{clip, fades.fadeIn[k], fades.fadeOut[k]};
        const QRectF r(f.x(clip.start), top + 3, std::max(clip.duration * f.s.pps - 1, 2.0), h - 6);
        if (f.outside(r)) continue;
        if (!f.touches(r)) {
            // Its action bars may still reach into the area.
            drawActions(f, clip, top);
            continue;
        }
        const QPainterPath body = rounded(r, 4);
        p.fillPath(body, kindColor(track.media.kind, dim));
        const MediaRef& media = clip.media ? *clip.media : track.media;
        if (sound) {
            if (const auto found = f.s.peaks.find(media); found != f.s.peaks.end() && !found->second.empty())
                drawWave(f, found->second, faded, track.muted ? 0.0f : track.volume, r);
        } else if (track.isPicture()) {
            if (const auto found = f.s.thumbnails.find(media);
                found != f.s.thumbnails.end() && !found->second.empty())
                drawFilmstrip(f, found->second, clip, r, dim);
        }
        drawFades(f, faded, own(clip), r);
        if (r.width() > 40) drawName(f, track, clip, r);
        if (f.s.selectedClips.contains(clip.id)) {
            p.fillPath(body, withAlpha(Theme::accent(), 0.25));
            p.strokePath(body, QPen(Qt::white, 2));
        } else {
            p.strokePath(body, QPen(white(0.25), 1));
        }
        drawActions(f, clip, top);
    }
    drawTransitions(f, track, fades.order, top);
}

void drawGap(Frame& f, const EditorModel::Gap& gap, double top)
{
    QPainter& p = f.painter;
    const QRectF g(f.x(gap.start), top + 3, std::max((gap.end - gap.start) * f.s.pps - 1, 3.0),
                   f.s.trackHeight - 6);
    const QPainterPath shape = rounded(g, 4);
    p.fillPath(shape, white(0.12));
    p.save();
    p.setClipPath(shape, Qt::IntersectClip);
    QPainterPath hatch;
    for (double x = g.left() - g.height(); x < g.right(); x += 9) {
        hatch.moveTo(x, g.bottom());
        hatch.lineTo(x + g.height(), g.top());
    }
    p.strokePath(hatch, QPen(white(0.18), 2));
    p.restore();

    QPen border(Qt::white, 1.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    border.setDashPattern({5 / 1.5, 3 / 1.5});  // Qt counts dashes in pen widths
    border.setMiterLimit(10);
    p.strokePath(shape, border);

    p.save();
    p.setFont(Theme::font(9, Theme::Weight::semibold));
    const QString text = gapLabel(g.width());
    if (!text.isEmpty()) {
        p.setClipPath(shape, Qt::IntersectClip);
        p.setPen(Qt::white);
        p.drawText(g, Qt::AlignCenter, text);
    }
    p.restore();
}

void drawMatrix(Frame& f, const QRectF& content)
{
    QPainter& p = f.painter;
    const QRectF m = content.translated(-f.s.scrollX, -f.s.scrollY);
    const QColor orange = Theme::systemOrange();
    p.fillRect(m, withAlpha(orange, 0.22));
    QPen edge(orange, 1.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    edge.setDashPattern({5 / 1.5, 3 / 1.5});
    edge.setMiterLimit(10);
    p.setPen(edge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(m);
    const double h = std::min(m.height() - 4, 26.0);
    for (const double x : {m.left(), m.right()}) {
        const QRectF handle(x - 4.5, m.center().y() - h / 2, 9, h);
        // A soft shadow under the grip.
        for (int spread = 2; spread >= 1; --spread) {
            const QRectF shadow = handle.adjusted(-spread, -spread, spread, spread);
            p.fillPath(rounded(shadow, shadow.width() / 2), black(0.33 / 3));
        }
        const QPainterPath capsule = rounded(handle, 4.5);
        p.fillPath(capsule, orange);
        p.strokePath(capsule, QPen(Qt::white, 1.5));
    }
}

} // namespace

RulerStep rulerStep(double pps)
{
    static constexpr RulerStep steps[] = {
        {0.1, 0.02}, {0.2, 0.05}, {0.5, 0.1},   {1, 0.2},     {2, 0.5},     {5, 1},
        {10, 2},     {15, 5},     {30, 5},      {60, 10},     {120, 30},    {300, 60},
        {600, 120},  {1200, 300}, {1800, 300},  {3600, 600},
    };
    for (const RulerStep& step : steps)
        if (step.label * pps >= 80) return step;
    return {};
}

int rulerDivisions(const RulerStep& step) { return std::max(1, int(std::lround(step.label / step.minor))); }

double rulerTickHeight(const RulerStep& step, long long k)
{
    const int n = rulerDivisions(step);
    const long long r = k % n;
    if (r == 0) return 9;
    if (n % 2 == 0 && r == n / 2) return 6;
    return 3.5;
}

QString rulerLabel(double t, double labelStep)
{
    if (labelStep < 1) {
        const long long tenths = std::llround(t * 10);
        if (tenths % 10 != 0) return QString::asprintf("%.1fs", double(tenths) / 10);
        return QStringLiteral("%1s").arg(tenths / 10);
    }
    const long long s = std::llround(t);
    const long long m = s / 60;
    const long long h = s / 3600;
    const long long sec = s - 60 * m;
    QString text;
    if (s >= 3600) text = QString::asprintf("%lldh%02lldm", h, m % 60);
    else if (m >= 1) text = QStringLiteral("%1m").arg(m);
    else return QStringLiteral("%1s").arg(sec);
    if (sec >= 1) text += QStringLiteral("%1s").arg(sec);
    return text;
}

QString actionLabel(const TrackAction& action)
{
    QStringList parts;
    if (action.scale) parts << QStringLiteral("%1%").arg(std::llround(*action.scale * 100));
    if (action.rotation && std::abs(*action.rotation) > 0.5)
        parts << QStringLiteral("%1°").arg(std::llround(*action.rotation));
    if (action.centerX || action.centerY) parts << QStringLiteral("hely");
    if (action.volume) parts << QStringLiteral("hang %1%").arg(std::lround(*action.volume * 100.0f));
    return parts.isEmpty() ? QStringLiteral("Művelet") : parts.join(QStringLiteral(" · "));
}

QString clipLabel(const Track& track, const Clip& clip)
{
    if (!clip.overlay) return QString::fromStdString(track.name);
    switch (clip.overlay->kind) {
    case OverlayKind::text: return QString::fromStdString(clip.overlay->text);
    case OverlayKind::arrow: return QStringLiteral("Nyíl");
    case OverlayKind::rectangle: return QStringLiteral("Téglalap");
    case OverlayKind::ellipse: return QStringLiteral("Ellipszis");
    case OverlayKind::zoom: return QStringLiteral("Közelítés");
    case OverlayKind::pip: return QStringLiteral("Kép a képben");
    }
    return {};
}

QString gapLabel(double width)
{
    if (width <= 60) return {};
    const QString full = QStringLiteral("Üres szakasz · Backspace összezárja");
    // The key's name is longer than its glyph: the long text only where it fits.
    if (width > 170 && QFontMetricsF(Theme::font(9, Theme::Weight::semibold)).horizontalAdvance(full) + 8 <= width)
        return full;
    return QStringLiteral("Üres · Backspace");
}

QString transitionName(Transition transition)
{
    switch (transition) {
    case Transition::dissolve: return QStringLiteral("Áttűnés");
    case Transition::dipToBlack: return QStringLiteral("Feketén át");
    case Transition::wipe: return QStringLiteral("Törlés balról");
    case Transition::push: return QStringLiteral("Betolás");
    case Transition::circle: return QStringLiteral("Kör");
    case Transition::zoom: return QStringLiteral("Ráközelítés");
    }
    return {};
}

QString transitionSymbol(Transition transition)
{
    switch (transition) {
    case Transition::dissolve: return QStringLiteral("circle.lefthalf.filled");
    case Transition::dipToBlack: return QStringLiteral("moon.fill");
    case Transition::wipe: return QStringLiteral("rectangle.righthalf.inset.filled");
    case Transition::push: return QStringLiteral("arrow.left.square");
    case Transition::circle: return QStringLiteral("circle.dashed");
    case Transition::zoom: return QStringLiteral("plus.magnifyingglass");
    }
    return {};
}

namespace {

QRectF rowsArea(QSize size)
{
    return QRectF(0, rulerHeight, size.width(), std::max(size.height() - rulerHeight, 0.0));
}

} // namespace

void paintTimelineBack(QPainter& painter, const TimelineSnapshot& snapshot, QSize size)
{
    paintTimelineBack(painter, snapshot, size, QRect(QPoint(0, 0), size));
}

void paintTimelineBack(QPainter& painter, const TimelineSnapshot& snapshot, QSize size, const QRect& part)
{
    const QRect area = part & QRect(QPoint(0, 0), size);
    if (area.isEmpty()) return;
    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    painter.fillRect(area, Theme::background());
    if (!snapshot.drawable()) {
        painter.restore();
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    Frame f{painter, snapshot, double(size.width()), double(size.height()), QRectF(area),
            TimelineSymbolImages::at(painter.device()->devicePixelRatioF())};

    // The rows scroll under the ruler: what lies on them is cut at its edge.
    const QRectF rows = rowsArea(size);
    const double h = snapshot.trackHeight;
    const auto rowTop = [&](std::size_t i) { return rulerHeight + double(i) * h - snapshot.scrollY; };
    painter.save();
    painter.setClipRect(rows, Qt::IntersectClip);
    for (std::size_t i = 0; i < snapshot.tracks.size(); ++i) {
        const double top = rowTop(i);
        if (top + h < rulerHeight || top > f.height || top + h <= f.area.top() || top >= f.area.bottom()) continue;
        if (snapshot.hasOrders()) drawTrack(f, snapshot.tracks[i], snapshot.orders[i], top, i);
        else drawTrack(f, snapshot.tracks[i], TimelineSnapshot::Order::of(snapshot.tracks[i]), top, i);
    }
    if (snapshot.gap) {
        for (std::size_t j = 0; j < snapshot.tracks.size(); ++j)
            if (snapshot.tracks[j].id == snapshot.gap->track) {
                drawGap(f, *snapshot.gap, rowTop(j));
                break;
            }
    }
    painter.restore();
    if (f.area.top() < rulerBand) drawRuler(f);
    for (const auto& mark : {snapshot.markIn, snapshot.markOut})
        if (mark) painter.fillRect(QRectF(f.x(*mark) - 1, rulerBand, 2, f.height - rulerBand), Theme::yellow());
    if (snapshot.markIn && snapshot.markOut && *snapshot.markIn < *snapshot.markOut)
        painter.fillRect(QRectF(f.x(*snapshot.markIn), rulerHeight, (*snapshot.markOut - *snapshot.markIn) * snapshot.pps,
                                f.height - rulerHeight),
                         withAlpha(Theme::yellow(), 0.15));
    painter.restore();
}

void paintTimelineFront(QPainter& painter, const TimelineSnapshot& snapshot, QSize size)
{
    if (!snapshot.drawable() || (!snapshot.matrix && !snapshot.marquee)) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(rowsArea(size), Qt::IntersectClip);
    Frame f{painter, snapshot, double(size.width()), double(size.height()), QRectF(QPoint(0, 0), size),
            TimelineSymbolImages::at(painter.device()->devicePixelRatioF())};
    if (snapshot.matrix) drawMatrix(f, *snapshot.matrix);
    if (snapshot.marquee) {
        const QRectF q = snapshot.marquee->translated(-snapshot.scrollX, -snapshot.scrollY);
        painter.fillRect(q, withAlpha(Theme::accent(), 0.15));
        painter.setPen(QPen(Theme::accent(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(q);
    }
    painter.restore();
}

void paintTimeline(QPainter& painter, const TimelineSnapshot& snapshot, QSize size)
{
    paintTimelineBack(painter, snapshot, size);
    paintTimelineFront(painter, snapshot, size);
}

} // namespace ondexa
