#pragma once

// A section of the inspector's column; see ClipSection.h for the contract.

#include "Ondexa/model/Uuid.h"

#include <QWidget>

namespace ondexa {

class EditorModel;

// The rows of the selected action.
class ActionSection : public QWidget {
    Q_OBJECT

public:
    ActionSection(EditorModel& model, const Uuid& actionID, QWidget* parent = nullptr);

    const Uuid& actionID() const { return actionID_; }
    bool refresh();

private:
    EditorModel& model_;
    Uuid actionID_;
};

} // namespace ondexa
