#include "Ondexa/editor/SaveDialog.h"

#include "Ondexa/ui/QtTexts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

namespace ondexa {

namespace {

// The type's extension goes onto every name that doesn't already end in it:
// "demo.v1" is a name with a dot, not a file of type "v1". The check for a
// file to replace then asks about the name that will be written. Where the
// type's documents are packages, a folder named with its extension is one:
// choosing it chooses the document to replace, not a folder to enter.
class SaveDialog : public QFileDialog {
public:
    SaveDialog(QWidget* parent, const QString& title, const QString& folder, const QString& extension, bool packages)
        : QFileDialog(parent, title, folder), extension_(extension), packages_(packages)
    {
        // A double click on a package enters it: step back out and choose it,
        // once Qt has finished entering.
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString& entered) {
            if (!isDocument(QFileInfo(entered))) return;
            QMetaObject::invokeMethod(this, [this, package = QFileInfo(entered).absoluteFilePath()] {
                setDirectory(QFileInfo(package).absolutePath());
                selectFile(QFileInfo(package).fileName());
                askToReplace(package);
            }, Qt::QueuedConnection);
        });
        // Qt leaves folders out of the name field: a package picked in the
        // list is the name to save under.
        connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
            const QFileInfo file(path);
            if (!isDocument(file)) return;
            if (auto* name = findChild<QLineEdit*>("fileNameEdit")) name->setText(file.fileName());
        });
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !files.front().isEmpty()) {
            QFileInfo file(files.front());
            if (!file.isDir() && !file.fileName().isEmpty() &&
                file.suffix().compare(extension_, Qt::CaseInsensitive) != 0)
            {
                QString name = file.filePath();
                if (!name.endsWith('.')) name += '.';
                selectFile(name + extension_);
                file = QFileInfo(name + extension_);
            }
            if (isDocument(file)) return askToReplace(file.absoluteFilePath());
        }
        QFileDialog::accept();
    }

private:
    bool isDocument(const QFileInfo& file) const
    {
        return packages_ && file.isDir() && file.suffix().compare(extension_, Qt::CaseInsensitive) == 0;
    }

    // Qt's own question for a file that exists, here for a package.
    void askToReplace(const QString& package)
    {
        if (question_) return;
        question_ = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                    QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                                        .arg(QFileInfo(package).fileName()),
                                    QMessageBox::Yes | QMessageBox::No, this);
        question_->setObjectName("replaceQuestion");
        question_->setDefaultButton(QMessageBox::No);
        question_->setAttribute(Qt::WA_DeleteOnClose);
        connect(question_, &QMessageBox::buttonClicked, this, [this, package](QAbstractButton* button) {
            if (!question_ || button != question_->button(QMessageBox::Yes)) return;
            emit filesSelected({package});
            emit fileSelected(package);
            emit urlsSelected({QUrl::fromLocalFile(package)});
            emit urlSelected(QUrl::fromLocalFile(package));
            QDialog::accept();
        });
        question_->open();
    }

    QPointer<QMessageBox> question_;
    QString extension_;
    bool packages_;
};

} // namespace

QFileDialog* makeSaveDialog(QWidget* parent, const QString& title, const std::filesystem::path& suggested,
                            const QString& typeName, const QString& extension, bool packages)
{
    auto* dialog = new SaveDialog(parent, title, QString::fromStdString(suggested.parent_path().string()), extension,
                                  packages);
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
