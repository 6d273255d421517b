#include "Ondexa/editor/inspector/ActionSection.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/InspectorRows.h"

namespace ondexa {

ActionSection::ActionSection(EditorModel& model, const Uuid& actionID, QWidget* parent)
    : QWidget(parent), model_(model), actionID_(actionID)
{
    inspectorColumn(this);
}

bool ActionSection::refresh()
{
    const auto selected = model_.selectedAction();
    return selected && selected->action.id == actionID_;
}

} // namespace ondexa
