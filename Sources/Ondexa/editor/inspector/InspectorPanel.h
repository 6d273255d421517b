#pragma once

#include <QScrollArea>

namespace ondexa {

class EditorModel;

// The editor's right-hand column: adds overlays, media and actions and edits
// what is selected.
class InspectorPanel : public QScrollArea {
    Q_OBJECT

public:
    explicit InspectorPanel(EditorModel& model, QWidget* parent = nullptr);

private:
    EditorModel& model_;
};

} // namespace ondexa
