#include "Ondexa/editor/inspector/PartnerRows.h"

#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"

namespace ondexa {

PartnerRows::PartnerRows(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), clipID_(clipID), trackID_(trackID)
{
    inspectorColumn(this);
}

bool PartnerRows::refresh() { return InspectorEdits::liveClip(model_, clipID_).has_value(); }

} // namespace ondexa
