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

#include "Ondexa/model/Uuid.h"

#include <QWidget>

namespace ondexa {

class EditorModel;
class OverlayRows;

// The rows of the selected clip (with its overlay's rows).
class ClipSection : public QWidget {
    Q_OBJECT

public:
    ClipSection(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent = nullptr);

    const Uuid& clipID() const { return clipID_; }
    const Uuid& trackID() const { return trackID_; }
    bool refresh();

    // Null for a clip without an overlay.
    OverlayRows* overlayRows() const { return overlayRows_; }

private:
    EditorModel& model_;
    Uuid clipID_;
    Uuid trackID_;
    OverlayRows* overlayRows_ = nullptr;
};

} // namespace ondexa
