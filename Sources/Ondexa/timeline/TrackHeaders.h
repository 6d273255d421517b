#pragma once

// The timeline's left column: a 24-point spacer beside the ruler, then one
// header per track, each one track row high: drag handle, kind symbol, name
// and the track's switches (eye; or volume, MAX and mute). Rows are kept by
// track id and refreshed in place, so a slider being dragged outlives the
// model's change signals. The headers scroll with the timeline's rows, under
// the spacer.

#include "Ondexa/model/Uuid.h"

#include <QPointer>
#include <QWidget>

#include <map>
#include <optional>

class QMenu;
class QSlider;

namespace ondexa {

class EditorModel;
struct Track;

class TrackHeaders final : public QWidget {
    Q_OBJECT

public:
    static constexpr int columnWidth = 210;

    explicit TrackHeaders(EditorModel& model, QWidget* parent = nullptr);
    ~TrackHeaders() override;

    // The header row of a track; null when it has none.
    QWidget* row(const Uuid& track) const;
    // The volume slider of a sound track's header; null when it has none.
    QSlider* volumeSlider(const Uuid& track) const;
    // The header's context menu: "Feljebb", "Lejjebb", "Sáv duplikálása", "Sáv törlése".
    void fillMenu(const Uuid& track, QMenu& menu) const;
    // The symbol name shown for a track's kind ("display", "video", …).
    static QString symbolFor(const Track& track);
    // "Hangerő: 100 %".
    static QString volumeTip(float volume);

    QSize sizeHint() const override;
    // Moves the headers up by `y` points, as the rows beside them.
    void setScrollY(double y);
    double scrollY() const { return scrollY_; }

    class Row;

signals:
    // A wheel turned over the column, its rows included.
    void wheelTurned(QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void refresh();
    void layoutRows();
    friend class Row;

    QPointer<EditorModel> model_;
    std::map<Uuid, Row*> rows_;
    std::optional<Uuid> dragging_;
    double scrollY_ = 0;
    QWidget* spacer_ = nullptr;  // beside the ruler, over the headers scrolled away
};

} // namespace ondexa
