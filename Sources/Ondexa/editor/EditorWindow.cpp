#include "Ondexa/editor/EditorWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

namespace ondexa {

EditorWindow::EditorWindow(std::filesystem::path url, QWidget* parent)
    : QMainWindow(parent), url_(std::move(url)), model_(std::make_unique<EditorModel>(url_))
{
    setObjectName("editorWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Szerkesztő");
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    status_ = new QLabel(content);
    status_->setObjectName("editorStatus");
    status_->setAlignment(Qt::AlignCenter);
    status_->setWordWrap(true);
    layout->addWidget(status_);
    setCentralWidget(content);
    resize(960, 600);
    connect(model_.get(), &EditorModel::loadErrorChanged, this, &EditorWindow::refresh);
    connect(model_.get(), &EditorModel::tracksChanged, this, &EditorWindow::refresh);
    connect(model_.get(), &EditorModel::documentURLChanged, this, &EditorWindow::refresh);
    model_->setPathChooser([this](const std::filesystem::path& proposed, EditorModel::ChosenPath chosen) {
        auto* dialog = new QFileDialog(this, "Projekt mentése", QString::fromStdString(proposed.string()));
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->selectFile(QString::fromStdString(proposed.filename().string()));
        auto answer = std::make_shared<EditorModel::ChosenPath>(std::move(chosen));
        connect(dialog, &QFileDialog::fileSelected, this, [answer](const QString& file) {
            if (auto call = std::exchange(*answer, {})) call(std::filesystem::path(file.toStdString()));
        });
        connect(dialog, &QDialog::finished, this, [answer] {
            if (auto call = std::exchange(*answer, {})) call(std::nullopt);
        });
        dialog->open();
    });
    refresh();
}

EditorWindow::~EditorWindow() = default;

void EditorWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (loadStarted_) return;
    loadStarted_ = true;
    model_->load([self = QPointer<EditorWindow>(this)] {
        if (self) self->refresh();
    });
}

void EditorWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

void EditorWindow::refresh()
{
    const auto& document = model_->documentURL() ? *model_->documentURL() : url_;
    const QString name = QString::fromStdString(document.filename().string());
    setWindowTitle(name.isEmpty() ? QString("Szerkesztő") : name);
    if (model_->loadError()) {
        status_->setText(QString::fromStdString(*model_->loadError()));
    } else {
        status_->setText(QString("%1\n%2 sáv").arg(name).arg(model_->tracks().size()));
    }
}

} // namespace ondexa
