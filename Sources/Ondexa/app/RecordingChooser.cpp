#include "Ondexa/app/RecordingChooser.h"

#include "Ondexa/model/Paths.h"
#include "Ondexa/ui/QtTexts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>


namespace ondexa {

namespace {

// A package by its name, or by the project it holds whatever its name.
bool isPackage(const QString& path)
{
    return path.endsWith(RecordingChooser::projectSuffix, Qt::CaseInsensitive)
        || QFileInfo(QDir(path).filePath("project.json")).exists();
}

// A package is a folder: opening it chooses it instead of showing its inside.
class RecordingDialog : public QFileDialog {
public:
    RecordingDialog(QWidget* parent, const QString& folder)
        : QFileDialog(parent, "Felvétel vagy projekt megnyitása", folder)
    {
        connect(this, &QFileDialog::fileSelected, this, [this](const QString& file) {
            if (!file.isEmpty()) chosen = std::filesystem::path(file.toStdString());
        });
        // Double click or Enter on a package in the list.
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString& folder) {
            if (isPackage(folder)) choosePackage(folder);
        });
    }

    std::optional<std::filesystem::path> chosen;

protected:
    // "Megnyitás" with a package selected.
    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && isPackage(files.front()) && QFileInfo(files.front()).isDir())
            return choosePackage(files.front());
        QFileDialog::accept();
    }

private:
    void choosePackage(const QString& folder)
    {
        chosen = std::filesystem::path(QFileInfo(folder).absoluteFilePath().toStdString());
        QDialog::accept();
    }
};

} // namespace

QFileDialog* RecordingChooser::makeDialog(QWidget* parent)
{
    auto* dialog = new RecordingDialog(parent, QString::fromStdString(Paths::recordingsFolder().string()));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters({"Felvételek és projektek (*.mov *.mp4 *.m4v *.vdlproj)", "Minden fájl (*)"});
    dialog->setLabelText(QFileDialog::Accept, "Megnyitás");
    dialog->setLabelText(QFileDialog::Reject, "Mégse");
    speakHungarian(*dialog);
    return dialog;
}

QFileDialog* RecordingChooser::choose(QWidget* parent, AppState::Choice done)
{
    auto* dialog = static_cast<RecordingDialog*>(makeDialog(parent));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        done(result == QDialog::Accepted ? dialog->chosen : std::nullopt);
    });
    dialog->open();
    return dialog;
}

void RecordingChooser::install(std::function<QWidget*()> parent)
{
    AppState::setRecordingChooser([parent = std::move(parent)](AppState::Choice done) {
        choose(parent ? parent() : nullptr, std::move(done));
    });
}

} // namespace ondexa
