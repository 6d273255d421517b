#include "Ondexa/editor/ExportDialog.h"

namespace ondexa {

ExportDialog::ExportDialog(EditorModel& model, QWidget* parent) : QDialog(parent), model_(model)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle("Exportálás");
}

} // namespace ondexa
