#include "Ondexa/editor/inspector/InspectorPanel.h"

namespace ondexa {

InspectorPanel::InspectorPanel(EditorModel& model, QWidget* parent) : QScrollArea(parent), model_(model)
{
    setFixedWidth(280);
    setFrameShape(QFrame::NoFrame);
}

} // namespace ondexa
