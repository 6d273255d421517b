#include "Ondexa/editor/inspector/TrackSection.h"

#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"

namespace ondexa {

TrackSection::TrackSection(EditorModel& model, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), trackID_(trackID)
{
    inspectorColumn(this);
}

bool TrackSection::refresh() { return InspectorEdits::liveTrack(model_, trackID_).has_value(); }

} // namespace ondexa
