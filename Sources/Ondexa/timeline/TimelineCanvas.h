#pragma once

// The timeline area's drawing as a widget: paintTimeline into a cached
// pixmap, redrawn only when the model, the zoom, the scroll offset, the
// matrix or the size changes; every other paint (a playhead moved over it)
// is copied from the cache. It takes no input: mouse events go to its parent.

#include "Ondexa/timeline/TimelineSnapshot.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace ondexa {

class EditorModel;

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
    // How often the cache has been redrawn with paintTimeline.
    int redrawCount() const { return redraws_; }

    // Marks the cache stale and schedules a repaint.
    void invalidate();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void redraw();

    QPointer<EditorModel> model_;
    double pps_ = 100;
    double scrollX_ = 0;
    double scrollY_ = 0;
    std::optional<QRectF> matrix_;
    std::optional<QRectF> marquee_;
    TimelineSnapshot snapshot_;
    QPixmap cache_;
    bool stale_ = true;       // the cache needs paintTimeline
    bool modelStale_ = true;  // the snapshot needs the model's values
    int redraws_ = 0;
};

} // namespace ondexa
