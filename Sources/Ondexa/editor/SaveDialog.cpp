#include "Ondexa/editor/SaveDialog.h"

#include "Ondexa/ui/QtTexts.h"

#include <QFileDialog>
#include <QFileInfo>

namespace ondexa {

namespace {

// The type's extension goes onto every name that doesn't already end in it:
// "demo.v1" is a name with a dot, not a file of type "v1". The check for a
// file to replace then asks about the name that will be written.
class SaveDialog : public QFileDialog {
public:
    SaveDialog(QWidget* parent, const QString& title, const QString& folder, const QString& extension)
        : QFileDialog(parent, title, folder), extension_(extension)
    {
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !files.front().isEmpty()) {
            const QFileInfo file(files.front());
            if (!file.isDir() && !file.fileName().isEmpty() &&
                file.suffix().compare(extension_, Qt::CaseInsensitive) != 0)
            {
                QString name = file.filePath();
                if (!name.endsWith('.')) name += '.';
                selectFile(name + extension_);
            }
        }
        QFileDialog::accept();
    }

private:
    QString extension_;
};

} // namespace

QFileDialog* makeSaveDialog(QWidget* parent, const QString& title, const std::filesystem::path& suggested,
                            const QString& typeName, const QString& extension)
{
    auto* dialog = new SaveDialog(parent, title, QString::fromStdString(suggested.parent_path().string()), extension);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QString("%1 (*.%2)").arg(typeName, extension));
    dialog->setDefaultSuffix(extension);
    dialog->selectFile(QString::fromStdString(suggested.filename().string()));
    dialog->setLabelText(QFileDialog::Accept, "Mentés");
    dialog->setLabelText(QFileDialog::Reject, "Mégse");
    speakHungarian(*dialog);
    return dialog;
}

} // namespace ondexa
