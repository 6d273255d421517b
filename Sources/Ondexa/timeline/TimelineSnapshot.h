#pragma once

// What the timeline drawing reads, copied once from the editor's document so
// that painting never reaches back into the model. Content coordinates: time
// t lies at x = 10 + t·pps; the ruler takes y 0…24 (its band 0…20); track
// row i spans 24 + i·trackHeight … 24 + (i + 1)·trackHeight. The drawing is
// in visible coordinates: content x − scrollX; the rows (and what lies on
// them) at content y − scrollY under a ruler that stays in place.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/CrossFades.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"
#include "Ondexa/rendering/CompositionBuilder.h"
#include "Ondexa/rendering/Thumbnails.h"

#include <QRectF>
#include <QRegion>
#include <QSize>

#include <optional>
#include <set>
#include <vector>

namespace ondexa {

inline constexpr double timelineOrigin = 10;  // content x of time 0
inline constexpr double rulerHeight = 24;     // rows start here
inline constexpr double rulerBand = 20;       // the drawn band of the ruler
// How far past its rectangle a clip's drawing may reach, in points: the fade
// grips (3.5 beside an edge), strokes, antialiasing and the least widths of
// bars and bands. Redrawn areas and culling both leave this much room.
inline constexpr double drawingReach = 8;

struct TimelineSnapshot {
    std::vector<Track> tracks;
    // What drawing a track needs beyond its clips: their start order with
    // the automatic cross-fades (Track::effectiveClips() without copies),
    // and whether two of them share an id.
    struct Order {
        CrossFades fades;
        bool sharedIds = false;
        static Order of(const Track& track);
    };
    // One per track, kept beside them; when they don't match the tracks in
    // number, drawing works them out itself.
    std::vector<Order> orders;
    double trackHeight = 40;
    PeakMap peaks;
    ThumbnailMap thumbnails;
    std::set<Uuid> selectedClips;
    std::optional<Uuid> selectedTrack;
    std::optional<Uuid> selectedAction;
    std::optional<double> markIn;
    std::optional<double> markOut;
    std::optional<EditorModel::Gap> gap;
    // The on-screen matrix rectangle and rubber band, in content coordinates.
    std::optional<QRectF> matrix;
    std::optional<QRectF> marquee;
    double pps = 100;  // points per second
    double scrollX = 0;
    double scrollY = 0;  // of the rows under the ruler
    QSize size;
    double duration = 0;

    // The model's values with the view's zoom, scroll and size.
    static TimelineSnapshot of(const EditorModel& model, double pps, double scrollX, QSize size);

    // What of the model a change signal speaks of.
    enum class Part { tracks, selectedClips, selectedTrack, selectedAction, gap, marks, media, trackHeight };
    // Takes the model's current values of `part` and adds to `damage` the
    // visible area whose drawing they change, with the snapshot's view.
    // False when the whole drawing changes: then `damage` is left as it is
    // and the snapshot is to be made again. Of a track it copies only the
    // clips that changed and what the drawing reads (id, name, media,
    // hidden, muted, volume): a change of anything else is not drawn.
    bool take(const EditorModel& model, Part part, QRegion& damage);

    bool hasOrders() const { return orders.size() == tracks.size(); }

    // Visible x of a timeline time.
    double x(double t) const { return timelineOrigin + t * pps - scrollX; }
    // Whether pps can be drawn at all: positive and finite.
    bool drawable() const;
};

} // namespace ondexa
