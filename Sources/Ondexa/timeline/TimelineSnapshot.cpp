#include "Ondexa/timeline/TimelineSnapshot.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ondexa {

namespace {

// Beyond this many pieces a change is cheaper to draw whole.
constexpr std::size_t kMostPieces = 400;

// The times a clip's drawing covers, its action bars included.
std::pair<double, double> extent(const Clip& clip)
{
    double from = clip.start;
    double to = clip.end();
    for (const TrackAction& action : clip.actions) {
        from = std::min(from, clip.start + action.start);
        to = std::max(to, clip.start + action.end);
    }
    return {from, to};
}

// Collects the visible rectangles a change touches.
class Damage {
public:
    explicit Damage(const TimelineSnapshot& s) : s_(s) {}

    // Times `from` … `to` on row i.
    void row(std::size_t i, double from, double to)
    {
        add(s_.x(from) - drawingReach, s_.x(to) + drawingReach, top(i), top(i) + s_.trackHeight);
    }
    void clip(std::size_t i, const Clip& clip)
    {
        const auto [from, to] = extent(clip);
        row(i, from, to);
    }
    void wholeRow(std::size_t i) { add(0, s_.size.width(), top(i), top(i) + s_.trackHeight); }
    // Visible x0 … x1 under the ruler's band, over every row.
    void column(double x0, double x1) { add(x0, x1, rulerBand, s_.size.height()); }

    // False when there are too many pieces to be worth it.
    bool addTo(QRegion& region) const
    {
        if (rects_.size() > kMostPieces) return false;
        for (const QRect& rect : rects_) region += rect;
        return true;
    }

private:
    double top(std::size_t i) const { return rulerHeight + double(i) * s_.trackHeight - s_.scrollY; }
    void add(double x0, double x1, double y0, double y1)
    {
        // Rows are cut at the ruler; whatever lies off the canvas is dropped.
        x0 = std::max(x0, 0.0);
        x1 = std::min(x1, double(s_.size.width()));
        y0 = std::max(y0, rulerBand);
        y1 = std::min(y1, double(s_.size.height()));
        if (!(x0 < x1) || !(y0 < y1)) return;
        const QRect rect(QPoint(int(std::floor(x0)), int(std::floor(y0))),
                         QPoint(int(std::ceil(x1)) - 1, int(std::ceil(y1)) - 1));
        rects_.push_back(rect);
    }

    const TimelineSnapshot& s_;
    std::vector<QRect> rects_;
};

// Whether the drawing reads the same of both tracks, their clips aside.
bool drawnAlike(const Track& a, const Track& b)
{
    return a.id == b.id && a.name == b.name && a.media == b.media && a.hidden == b.hidden && a.muted == b.muted
           && a.volume == b.volume;
}

// The clips a change replaced: all but the first `head` and the last `tail`,
// of `before` clips then and `after` now.
struct Replaced {
    std::size_t head = 0;
    std::size_t tail = 0;
    std::size_t before = 0;
    std::size_t after = 0;
};

// Brings the clips of `drawn` on row i to those of `now`: the ones between
// their common beginning and common end are replaced and damaged, before and
// after. None when nothing changed.
std::optional<Replaced> takeClips(std::vector<Clip>& drawn, const std::vector<Clip>& now, std::size_t row,
                                  Damage& damage)
{
    const std::size_t common = std::min(drawn.size(), now.size());
    std::size_t head = 0;
    while (head < common && drawn[head] == now[head]) ++head;
    if (head == drawn.size() && head == now.size()) return std::nullopt;
    std::size_t tail = 0;
    while (tail < common - head && drawn[drawn.size() - 1 - tail] == now[now.size() - 1 - tail]) ++tail;
    const auto from = drawn.begin() + std::ptrdiff_t(head);
    const auto to = drawn.end() - std::ptrdiff_t(tail);
    for (auto it = from; it != to; ++it) damage.clip(row, *it);
    const auto newFrom = now.begin() + std::ptrdiff_t(head);
    const auto newTo = now.end() - std::ptrdiff_t(tail);
    for (auto it = newFrom; it != newTo; ++it) damage.clip(row, *it);
    const Replaced replaced{head, tail, drawn.size(), now.size()};
    drawn.insert(drawn.erase(from, to), newFrom, newTo);
    return replaced;
}

// Damages the clips kept by a change whose automatic cross-fades it changed:
// a clip that another lies inside of fades out at its own end, wherever the
// other one is.
void takeFades(const TimelineSnapshot::Order& before, const TimelineSnapshot::Order& after, const Replaced& replaced,
               const std::vector<Clip>& clips, std::size_t row, Damage& damage)
{
    // Fades by stored index.
    const auto byIndex = [](const CrossFades& fades) {
        std::vector<std::pair<double, double>> list(fades.order.size());
        for (std::size_t p = 0; p < fades.order.size(); ++p)
            list[fades.order[p]] = {fades.fadeIn[p], fades.fadeOut[p]};
        return list;
    };
    const auto then = byIndex(before.fades);
    const auto now = byIndex(after.fades);
    for (std::size_t q = 0; q < replaced.head; ++q)
        if (then[q] != now[q]) damage.clip(row, clips[q]);
    for (std::size_t k = 1; k <= replaced.tail; ++k)
        if (then[replaced.before - k] != now[replaced.after - k]) damage.clip(row, clips[replaced.after - k]);
}

} // namespace

TimelineSnapshot TimelineSnapshot::of(const EditorModel& model, double pps, double scrollX, QSize size)
{
    TimelineSnapshot s;
    s.tracks = model.tracks();
    s.orders.reserve(s.tracks.size());
    for (const Track& track : s.tracks) s.orders.push_back(Order::of(track));
    s.trackHeight = model.trackHeight();
    s.peaks = model.peaks();
    s.thumbnails = model.thumbnails();
    s.selectedClips = model.selectedClips();
    s.selectedTrack = model.selectedTrackID();
    s.selectedAction = model.selectedActionID();
    s.markIn = model.markIn();
    s.markOut = model.markOut();
    s.gap = model.gap();
    s.pps = pps;
    s.scrollX = scrollX;
    s.size = size;
    s.duration = model.duration();
    return s;
}

bool TimelineSnapshot::take(const EditorModel& model, Part part, QRegion& damage)
{
    if (!drawable() || !hasOrders()) return false;
    Damage changed(*this);
    const auto rowOf = [this](const Uuid& id) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i].id == id) return i;
        return std::nullopt;
    };
    switch (part) {
    case Part::tracks: {
        const std::vector<Track>& now = model.tracks();
        if (now.size() != tracks.size()) return false;
        for (std::size_t i = 0; i < now.size(); ++i)
            if (now[i].id != tracks[i].id) return false;
        for (std::size_t i = 0; i < now.size(); ++i) {
            if (!drawnAlike(now[i], tracks[i])) {
                changed.wholeRow(i);
                tracks[i] = now[i];
                orders[i] = Order::of(tracks[i]);
                continue;
            }
            const std::optional<Replaced> replaced = takeClips(tracks[i].clips, now[i].clips, i, changed);
            if (!replaced) continue;
            Order order = Order::of(tracks[i]);
            takeFades(orders[i], order, *replaced, tracks[i].clips, i, changed);
            orders[i] = std::move(order);
        }
        duration = model.duration();
        break;
    }
    case Part::selectedClips: {
        const std::set<Uuid>& now = model.selectedClips();
        std::set<Uuid> flipped;
        std::set_symmetric_difference(selectedClips.begin(), selectedClips.end(), now.begin(), now.end(),
                                      std::inserter(flipped, flipped.end()));
        selectedClips = now;
        if (flipped.empty()) break;
        for (std::size_t i = 0; i < tracks.size(); ++i)
            for (const Clip& clip : tracks[i].clips)
                if (flipped.contains(clip.id)) changed.clip(i, clip);
        break;
    }
    case Part::selectedTrack: {
        const std::optional<Uuid> now = model.selectedTrackID();
        if (now == selectedTrack) break;
        for (const auto& id : {selectedTrack, now})
            if (id)
                if (const auto i = rowOf(*id)) changed.wholeRow(*i);
        selectedTrack = now;
        break;
    }
    case Part::selectedAction: {
        const std::optional<Uuid> now = model.selectedActionID();
        if (now == selectedAction) break;
        for (std::size_t i = 0; i < tracks.size(); ++i)
            for (const Clip& clip : tracks[i].clips)
                for (const TrackAction& action : clip.actions)
                    if (action.id == selectedAction || action.id == now)
                        changed.row(i, clip.start + action.start, clip.start + action.end);
        selectedAction = now;
        break;
    }
    case Part::gap: {
        const std::optional<EditorModel::Gap> now = model.gap();
        if (now == gap) break;
        for (const auto& g : {gap, now})
            if (g)
                if (const auto i = rowOf(g->track)) changed.row(*i, g->start, g->end);
        gap = now;
        break;
    }
    case Part::marks: {
        const std::optional<double> in = model.markIn();
        const std::optional<double> out = model.markOut();
        if (in == markIn && out == markOut) break;
        // The bars and the range between them, before and after.
        double from = INFINITY;
        double to = -INFINITY;
        for (const auto& mark : {markIn, markOut, in, out})
            if (mark) {
                from = std::min(from, *mark);
                to = std::max(to, *mark);
            }
        if (!std::isfinite(from) || !std::isfinite(to)) return false;
        changed.column(x(from) - drawingReach, x(to) + drawingReach);
        markIn = in;
        markOut = out;
        break;
    }
    case Part::media:
    case Part::trackHeight: return false;
    }
    return changed.addTo(damage);
}

TimelineSnapshot::Order TimelineSnapshot::Order::of(const Track& track)
{
    Order order{crossFades(track.clips)};
    std::vector<Uuid> ids;
    ids.reserve(track.clips.size());
    for (const Clip& clip : track.clips) ids.push_back(clip.id);
    std::sort(ids.begin(), ids.end());
    order.sharedIds = std::adjacent_find(ids.begin(), ids.end()) != ids.end();
    return order;
}

bool TimelineSnapshot::drawable() const { return std::isfinite(pps) && pps > 0; }

} // namespace ondexa
