#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/model/Uuid.h"

#include <QWidget>

namespace ondexa {

class EditorModel;

// The rows of one clip linked to the selected clip, with its track's rows.
class PartnerRows : public QWidget {
    Q_OBJECT

public:
    PartnerRows(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& clipID() const { return clipID_; }
    const Uuid& trackID() const { return trackID_; }
    bool refresh();

private:
    EditorModel& model_;
    Uuid clipID_;
    Uuid trackID_;
};

} // namespace ondexa
