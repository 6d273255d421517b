#include "Ondexa/editor/inspector/ClipSection.h"

#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/OverlayRows.h"

#include <QVBoxLayout>

namespace ondexa {

ClipSection::ClipSection(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), clipID_(clipID), trackID_(trackID)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    if (clip && clip->overlay) {
        overlayRows_ = new OverlayRows(model_, *clip->overlay, this);
        column->addWidget(overlayRows_);
    }
}

bool ClipSection::refresh()
{
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    if (!clip || clip->overlay.has_value() != (overlayRows_ != nullptr)) return false;
    return !overlayRows_ || overlayRows_->refresh(*clip->overlay);
}

} // namespace ondexa
