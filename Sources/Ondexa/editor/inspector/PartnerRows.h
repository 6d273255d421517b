#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/model/Uuid.h"

#include <QWidget>

class QLabel;

namespace ondexa {

class EditorModel;
class FadeRows;
class SliderRow;
class TitleRow;
class TrackSection;

// The rows of one clip linked to the selected clip: a sound partner's
// volume, fades and track rows; for a picture partner only a pointer to
// selecting it alone.
class PartnerRows : public QWidget {
    Q_OBJECT

public:
    PartnerRows(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& clipID() const { return clipID_; }
    const Uuid& trackID() const { return trackID_; }
    bool refresh();

    // The rows, for the panel's tests; null where the partner has no such row.
    TitleRow* header() const { return header_; }
    SliderRow* volumeRow() const { return volume_; }
    FadeRows* fadeRows() const { return fades_; }
    TrackSection* trackSection() const { return track_; }
    QLabel* pictureCaption() const { return pictureCaption_; }

private:
    EditorModel& model_;
    Uuid clipID_;
    Uuid trackID_;
    bool sound_ = false;

    TitleRow* header_ = nullptr;
    SliderRow* volume_ = nullptr;
    FadeRows* fades_ = nullptr;
    TrackSection* track_ = nullptr;
    QLabel* pictureCaption_ = nullptr;
};

} // namespace ondexa
