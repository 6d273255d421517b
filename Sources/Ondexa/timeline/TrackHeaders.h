#pragma once

// The timeline's left column: a 24-point spacer beside the ruler, then one
// header per track, each one track row high: drag handle, kind symbol, name
// and the track's switches (eye; or volume, MAX and mute). Rows are kept by
// track id and refreshed in place, so a slider being dragged outlives the
// model's change signals.

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

    class Row;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void layoutRows();
    friend class Row;

    QPointer<EditorModel> model_;
    std::map<Uuid, Row*> rows_;
    std::optional<Uuid> dragging_;
};

} // namespace ondexa
