#pragma once

#include <QDialog>

namespace ondexa {

class EditorModel;

// The export sheet: range, format, size and encoding, the file, progress and
// cancel. A new window-modal dialog for every presentation.
class ExportDialog : public QDialog {
    Q_OBJECT

public:
    explicit ExportDialog(EditorModel& model, QWidget* parent = nullptr);

private:
    EditorModel& model_;
};

} // namespace ondexa
