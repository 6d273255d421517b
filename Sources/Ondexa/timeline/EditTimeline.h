#pragma once

// The editor's lower panel: the track headers, a divider, and the timeline
// area (the canvas with the playhead over it) with its scroll bars. It owns
// the view's geometry: the drawing zoom (the model's, else a fit of the edit
// into the area), the content width and the two scroll offsets, each of
// which changes only through its scroll bar. The rows and their headers
// scroll together under the ruler; the ruler, the playhead and the
// horizontal scroll bar stay in view. The panel is never taller than all its
// rows, and gives up rows to a scroll bar where the window has no room. The
// area's own mouse and wheel events go to a TimelineInteraction; the area is
// never rebuilt, so a drag outlives every signal of the model.

#include "Ondexa/timeline/TimelineInteraction.h"

#include <QPointer>
#include <QWidget>

class QScrollBar;

namespace ondexa {

class EditorModel;
class PlayheadOverlay;
class TimelineCanvas;
class TrackHeaders;

class EditTimeline final : public QWidget {
    Q_OBJECT

public:
    static constexpr int dividerWidth = 1;

    explicit EditTimeline(EditorModel& model, QWidget* parent = nullptr);
    ~EditTimeline() override;

    // The widget that takes the timeline's mouse and wheel events.
    QWidget* area() const;
    QScrollBar* scrollBar() const { return scrollBar_; }
    // Shown only while the rows don't fit.
    QScrollBar* rowScrollBar() const { return rowScrollBar_; }
    TimelineCanvas* canvas() const { return canvas_; }
    PlayheadOverlay* playhead() const { return playhead_; }
    TrackHeaders* headers() const { return headers_; }
    TimelineInteraction& interaction() { return interaction_; }

    // The zoom the drawing uses: the model's, else (W − 20)/D.
    double pixelsPerSecond() const;
    double scrollX() const;
    // The larger of W and D·pps + 20 + W/2.
    double contentWidth() const;
    double areaWidth() const;
    // Ruler, rows and 6 points under the last one.
    double panelHeight() const;
    // Asks the scroll bar for a content x; it keeps the request within 0 … CW − W.
    void scrollTo(double x);
    // How far the rows are scrolled up under the ruler.
    double scrollY() const;
    // Asks the row scroll bar for an offset; it keeps it within 0 … H − area height.
    void scrollRowsTo(double y);

    // Up to four rows by preference, at least one, at most all of them.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    class Area;

private:
    void areaResized();
    void durationMaybeChanged();
    // The zoom of a freshly loaded edit, once, while the model has none.
    void fit();
    void followPlayhead();
    // Hands the current zoom, scroll and widths to the scroll bar, the
    // drawing and the interaction.
    void refreshView();
    void refreshHeight();
    // The height of the panel with `rows` rows shown, scroll bar included.
    int heightFor(double rows) const;

    QPointer<EditorModel> model_;
    TimelineInteraction interaction_;
    TrackHeaders* headers_ = nullptr;
    Area* area_ = nullptr;
    TimelineCanvas* canvas_ = nullptr;
    PlayheadOverlay* playhead_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QScrollBar* rowScrollBar_ = nullptr;
    QWidget* rowScrollColumn_ = nullptr;  // the row scroll bar, level with the rows
    double lastDuration_ = 0;
    bool appeared_ = false;
};

} // namespace ondexa
