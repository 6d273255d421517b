#include "Ondexa/editor/SaveDialog.h"

#include "Ondexa/ui/QtTexts.h"

#include <QFileDialog>

namespace ondexa {

QFileDialog* makeSaveDialog(QWidget* parent, const QString& title, const std::filesystem::path& suggested,
                            const QString& typeName, const QString& extension)
{
    auto* dialog = new QFileDialog(parent, title, QString::fromStdString(suggested.parent_path().string()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QString("%1 (*.%2)").arg(typeName, extension));
    dialog->setDefaultSuffix(extension);
    dialog->selectFile(QString::fromStdString(suggested.filename().string()));
    dialog->setLabelText(QFileDialog::Accept, "Mentés");
    dialog->setLabelText(QFileDialog::Reject, "Mégse");
    dialog->setLabelText(QFileDialog::LookIn, "Hely:");
    dialog->setLabelText(QFileDialog::FileName, "Fájlnév:");
    dialog->setLabelText(QFileDialog::FileType, "Típus:");
    speakHungarian(*dialog);
    return dialog;
}

} // namespace ondexa
