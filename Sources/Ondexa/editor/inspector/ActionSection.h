#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/model/Uuid.h"

#include <QWidget>

class QAbstractButton;

namespace ondexa {

class SliderRow;
class SwitchRow;
class TitleRow;
class ValueRow;

// The rows of the selected action: its span with buttons that move either
// end to the playhead, whether it returns at its end, and what it sets (the
// volume on a sound track, else size, rotation and centre).
class ActionSection : public QWidget {
    Q_OBJECT

public:
    ActionSection(EditorModel& model, const Uuid& actionID, QWidget* parent = nullptr);

    const Uuid& actionID() const { return actionID_; }
    bool refresh();

    // The rows, for the panel's tests; null where the action has no such row.
    TitleRow* header() const { return header_; }
    QAbstractButton* deleteButton() const { return delete_; }
    ValueRow* startRow() const { return start_; }
    ValueRow* endRow() const { return end_; }
    QAbstractButton* startButton() const { return startButton_; }
    QAbstractButton* endButton() const { return endButton_; }
    SwitchRow* returnsRow() const { return returns_; }
    SliderRow* volumeRow() const { return volume_; }
    SliderRow* scaleRow() const { return scale_; }
    SliderRow* rotationRow() const { return rotation_; }
    SliderRow* centerXRow() const { return centerX_; }
    SliderRow* centerYRow() const { return centerY_; }
    QAbstractButton* centreButton() const { return centre_; }
    QAbstractButton* resetButton() const { return reset_; }

private:
    void buildSoundRows();
    void buildPictureRows();
    void show(const EditorModel::SelectedAction& selected);
    // Moves the start or the end of the selected action to the playhead.
    void moveToPlayhead(bool start);

    EditorModel& model_;
    Uuid actionID_;
    bool sound_ = false;

    TitleRow* header_ = nullptr;
    QAbstractButton* delete_ = nullptr;
    ValueRow* start_ = nullptr;
    ValueRow* end_ = nullptr;
    QAbstractButton* startButton_ = nullptr;
    QAbstractButton* endButton_ = nullptr;
    SwitchRow* returns_ = nullptr;
    SliderRow* volume_ = nullptr;
    SliderRow* scale_ = nullptr;
    SliderRow* rotation_ = nullptr;
    SliderRow* centerX_ = nullptr;
    SliderRow* centerY_ = nullptr;
    QAbstractButton* centre_ = nullptr;
    QAbstractButton* reset_ = nullptr;
};

} // namespace ondexa
