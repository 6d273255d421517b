#pragma once

// A section of the inspector's column, built by InspectorPanel once per
// identity (the ids it is constructed with) and then refreshed in place.
//
// Contract of every section (ClipSection, ActionSection, TrackSection,
// PartnerRows):
// - constructed with the model and the ids it shows; it reads the live model
//   itself and writes through InspectorEdits and the rows of InspectorRows.h;
// - it connects to no model signal: the panel calls refresh() after each;
// - refresh() shows the live values again under QSignalBlocker (the rows'
//   show/set calls deliver nothing), leaving a held slider and a focused
//   editor alone; it returns false when it can no longer show what it was
//   built for (its item is gone, or rows must appear or disappear, for
//   example another overlay kind): the panel then builds it anew;
// - the panel deletes a replaced section later (deleteLater), so a row may
//   change the selection from inside its own signal.

#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"

#include <QWidget>

#include <array>

class QAbstractButton;
class QComboBox;
class QLabel;

namespace ondexa {

class EditorModel;
class FadeRows;
class OverlayRows;
class SliderRow;
class SwitchRow;
class TitleRow;
class ValueRow;

// The rows of the selected clip: header, length, fades, transition, link
// notice, then the overlay's rows, the picture's placement or the clip's
// volume.
class ClipSection : public QWidget {
    Q_OBJECT

public:
    ClipSection(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& clipID() const { return clipID_; }
    const Uuid& trackID() const { return trackID_; }
    bool refresh();

    // Null for a clip without an overlay.
    OverlayRows* overlayRows() const { return overlayRows_; }

    // The rows, for the panel's tests; null where the clip has no such row.
    TitleRow* header() const { return header_; }
    ValueRow* lengthRow() const { return length_; }
    FadeRows* fadeRows() const { return fades_; }
    QComboBox* transitionPicker() const { return transition_; }
    QLabel* linkNotice() const { return linkNotice_; }
    SliderRow* sizeRow() const { return size_; }
    SliderRow* rotationRow() const { return rotation_; }
    // "100 %", "Kitöltés", "Sarokba".
    QAbstractButton* presetButton(int index) const { return presets_.at(index); }
    // Top left, top right, bottom left, bottom right.
    QAbstractButton* cornerButton(int corner) const { return corners_.at(corner); }
    SwitchRow* roundedRow() const { return rounded_; }
    SliderRow* volumeRow() const { return volume_; }

private:
    enum class Block { overlay, picture, sound };
    static Block blockOf(const Clip& clip, const Track& track);

    void buildPictureRows();
    void show(const Clip& clip, const Track& track);
    void chooseTransition(int index);

    EditorModel& model_;
    Uuid clipID_;
    Uuid trackID_;
    Block block_ = Block::sound;
    bool picture_ = false;  // the track shows pictures: the transition row is there

    TitleRow* header_ = nullptr;
    ValueRow* length_ = nullptr;
    FadeRows* fades_ = nullptr;
    QComboBox* transition_ = nullptr;
    QWidget* linkRow_ = nullptr;
    QLabel* linkNotice_ = nullptr;
    OverlayRows* overlayRows_ = nullptr;
    SliderRow* size_ = nullptr;
    SliderRow* rotation_ = nullptr;
    std::array<QAbstractButton*, 3> presets_{};
    std::array<QAbstractButton*, 4> corners_{};
    SwitchRow* rounded_ = nullptr;
    SliderRow* volume_ = nullptr;
};

} // namespace ondexa
