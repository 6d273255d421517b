#pragma once

// The timeline area's drawing as a widget: the timeline under the playhead
// into a cached image (drawn a row to a thread, TimelineBands), redrawn
// whole when the zoom, the scroll offset or the size changes; a change of
// the model redraws only the rows and times it touched (its snapshot knows
// what it drew before); every other paint (a playhead moved over it) is
// copied from the cache. The matrix and the rubber band lie on a layer of
// their own in front. It takes no input: mouse events go to its parent.

#include "Ondexa/timeline/TimelineSnapshot.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace ondexa {

class EditorModel;
class TimelineBands;

class TimelineCanvas final : public QWidget {
    Q_OBJECT

public:
    explicit TimelineCanvas(EditorModel& model, QWidget* parent = nullptr);

    double pixelsPerSecond() const { return pps_; }
    double scrollX() const { return scrollX_; }
    double scrollY() const { return scrollY_; }
    // scrollY moves the rows under the ruler.
    void setView(double pps, double scrollX, double scrollY = 0);
    // In content coordinates; none hides them.
    void setMatrix(std::optional<QRectF> rect);
    void setMarquee(std::optional<QRectF> rect);
    const std::optional<QRectF>& matrix() const { return matrix_; }
    const std::optional<QRectF>& marquee() const { return marquee_; }

    // The snapshot the cache was last drawn from (made now when stale).
    const TimelineSnapshot& snapshot();
    // How often the cache has been redrawn with paintTimeline, whole or in part.
    int redrawCount() const { return redraws_; }
    // How often it was redrawn whole.
    int fullRedrawCount() const { return fullRedraws_; }

    // Marks the cache stale and schedules a repaint.
    void invalidate();
    // The child that draws the matrix and the rubber band; whatever is laid
    // over the canvas belongs under it.
    QWidget* frontLayer() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Front;
    void redraw();
    void redrawDamage();
    // A change of the model: its part of the drawing, or all of it.
    void modelChanged(TimelineSnapshot::Part part);

    QPointer<EditorModel> model_;
    double pps_ = 100;
    double scrollX_ = 0;
    double scrollY_ = 0;
    std::optional<QRectF> matrix_;
    std::optional<QRectF> marquee_;
    TimelineSnapshot snapshot_;
    QImage cache_;
    bool stale_ = true;       // the cache needs paintTimeline
    bool modelStale_ = true;  // the snapshot needs the model's values
    QRegion damage_;          // parts of the cache to draw again from the snapshot
    int redraws_ = 0;
    int fullRedraws_ = 0;
    Front* front_ = nullptr;
    std::shared_ptr<TimelineBands> bands_;  // draws the cache
};

} // namespace ondexa
