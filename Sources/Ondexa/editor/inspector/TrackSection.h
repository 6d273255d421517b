#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/model/Uuid.h"

#include <QWidget>

namespace ondexa {

class EditorModel;

// The rows of a track: the selected clip's or the selected track.
class TrackSection : public QWidget {
    Q_OBJECT

public:
    TrackSection(EditorModel& model, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& trackID() const { return trackID_; }
    bool refresh();

private:
    EditorModel& model_;
    Uuid trackID_;
};

} // namespace ondexa
