#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"

#include <QWidget>

class QAbstractButton;
class QLabel;

namespace ondexa {

class EditorModel;
class SliderRow;
class SwitchRow;
class TitleRow;

// The rows of a track: the selected clip's, the selected track alone, or a
// sound partner's. Its settings go through updateTrack(undoable), one undo
// step per value that differs from the stored track.
class TrackSection : public QWidget {
    Q_OBJECT

public:
    TrackSection(EditorModel& model, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& trackID() const { return trackID_; }
    bool refresh();

    // The rows, for the panel's tests; null where the track has no such row.
    TitleRow* header() const { return header_; }
    QAbstractButton* deleteButton() const { return delete_; }
    QAbstractButton* upButton() const { return up_; }
    QAbstractButton* downButton() const { return down_; }
    SwitchRow* visibleRow() const { return visible_; }
    SwitchRow* muteRow() const { return mute_; }
    SliderRow* volumeRow() const { return volume_; }
    SwitchRow* maximizeRow() const { return maximize_; }
    // The boost slider and the automatic gain, shown while the maximizer is on.
    QWidget* maximizerRows() const { return maximizer_; }
    SliderRow* boostRow() const { return boost_; }
    QLabel* automaticGain() const { return automaticGain_; }
    QLabel* caption() const { return caption_; }

private:
    void buildSoundRows();
    void show(const Track& track);

    EditorModel& model_;
    Uuid trackID_;
    bool sound_ = false;

    TitleRow* header_ = nullptr;
    QAbstractButton* delete_ = nullptr;
    QAbstractButton* up_ = nullptr;
    QAbstractButton* down_ = nullptr;
    SwitchRow* visible_ = nullptr;
    SwitchRow* mute_ = nullptr;
    SliderRow* volume_ = nullptr;
    SwitchRow* maximize_ = nullptr;
    QWidget* maximizer_ = nullptr;
    SliderRow* boost_ = nullptr;
    QLabel* automaticGain_ = nullptr;
    QLabel* caption_ = nullptr;
};

} // namespace ondexa
