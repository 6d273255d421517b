#include "Ondexa/editor/EditorWindow.h"

#include "Ondexa/editor/EditorFooter.h"
#include "Ondexa/editor/EditorToolbar.h"
#include "Ondexa/editor/ExportDialog.h"
#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/editor/PreviewCanvas.h"
#include "Ondexa/editor/SaveDialog.h"
#include "Ondexa/editor/inspector/InspectorPanel.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/timeline/EditTimeline.h"
#include "Ondexa/ui/Alert.h"
#include "Ondexa/ui/Theme.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

namespace ondexa {

namespace {

constexpr int kStripMarginX = 12;
constexpr int kStripMarginY = 8;
constexpr int kPreviewMinimumHeight = 280;
// What the preview keeps on the shortest screen.
constexpr int kPreviewSmallestHeight = 160;
constexpr int kInspectorWidth = 280;
constexpr int kBoxPadding = 12;

// A strip of the window on the panel colour, its content inset.
QWidget* strip(QWidget* content, QWidget* parent)
{
    auto* panel = new QWidget(parent);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Theme::panel());
    panel->setPalette(palette);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(kStripMarginX, kStripMarginY, kStripMarginX, kStripMarginY);
    layout->setSpacing(0);
    content->setParent(panel);
    layout->addWidget(content);
    return panel;
}

QFrame* divider(QFrame::Shape shape, QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, Theme::quaternary());
    line->setPalette(palette);
    return line;
}

// The windows there are, to find the one that has a package open.
std::vector<EditorWindow*> editorWindows;

// A window edits `package` when it has it open, or a recording inside it.
bool edits(EditorWindow& window, const std::filesystem::path& package)
{
    const auto& document = window.model().documentURL();
    if (document && sameFile(*document, package)) return true;
    const std::filesystem::path root = normalisedPath(package);
    for (std::filesystem::path up = normalisedPath(window.model().url()); up.has_relative_path();
         up = up.parent_path())
        if (up == root) return true;
    return false;
}

// Models of closed windows whose export still runs, and who waits for them.
int keptModels = 0;
std::vector<std::pair<QPointer<QObject>, std::function<void()>>> exportWaiters;

void keptModelEnded()
{
    if (--keptModels > 0) return;
    auto waiters = std::exchange(exportWaiters, {});
    for (auto& [context, then] : waiters)
        if (context) then();
}

// The model lives on until its export has ended, then goes; at the latest
// it goes with the application (a quit cancels the export).
void keepUntilExported(std::unique_ptr<EditorModel> model)
{
    EditorModel* kept = model.release();
    // Nothing may ask the closed window for a place any more.
    kept->setPathChooser({});
    kept->setParent(QCoreApplication::instance());
    ++keptModels;
    QObject::connect(kept, &EditorModel::exportProgressChanged, kept, [kept] {
        if (kept->exportProgress()) return;
        // The export's own completion is still on its way through the
        // model's finish: the model goes once that has returned.
        QObject::disconnect(kept, &EditorModel::exportProgressChanged, kept, nullptr);
        kept->deleteLater();
        keptModelEnded();
    });
}

} // namespace

QString EditorWindow::title(const std::filesystem::path& url, const std::optional<std::filesystem::path>& documentURL)
{
    std::filesystem::path document = documentURL ? *documentURL : url;
    // A package named with a closing slash is still the package.
    if (!document.has_filename()) document = document.parent_path();
    return QString::fromStdString(document.stem().string());
}

EditorWindow::EditorWindow(std::filesystem::path url, QWidget* parent)
    : QMainWindow(parent), url_(std::move(url)), model_(std::make_unique<EditorModel>(url_))
{
    setObjectName("editorWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(minimumWidth, minimumHeight);

    EditorModel& model = *model_;
    playerView_ = new PlayerView(model, this);

    auto* content = new QWidget(this);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* main = new QWidget(content);
    auto* column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    preview_ = new PreviewCanvas(model, *playerView_, main);
    preview_->setMinimumHeight(kPreviewMinimumHeight);
    preview_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    toolbar_ = new EditorToolbar(model);
    timeline_ = new EditTimeline(model, main);
    footer_ = new EditorFooter(model);
    // The height left by the toolbar and the footer goes three parts to the
    // preview and two to the timeline, which takes no more than all its rows
    // and scrolls them where it gets less.
    column->addWidget(preview_, 3);
    column->addWidget(strip(toolbar_, main));
    column->addWidget(timeline_, 2);
    column->addWidget(divider(QFrame::HLine, main));
    column->addWidget(strip(footer_, main));
    row->addWidget(main, 1);

    row->addWidget(divider(QFrame::VLine, content));
    inspector_ = new InspectorPanel(model, content);
    inspector_->setFixedWidth(kInspectorWidth);
    row->addWidget(inspector_);
    setCentralWidget(content);

    // Over everything, in the middle, as large as its text.
    loadError_ = new QLabel(content);
    loadError_->setObjectName("loadError");
    loadError_->setAlignment(Qt::AlignCenter);
    loadError_->setWordWrap(true);
    loadError_->setStyleSheet(QString("QLabel { background: rgba(40, 44, 56, 235); color: white; border-radius: 8px;"
                                      " padding: %1px; }")
                                  .arg(kBoxPadding));
    loadError_->hide();

    connect(footer_, &EditorFooter::exportRequested, this, &EditorWindow::openExportDialog);
    connect(&model, &EditorModel::documentURLChanged, this, &EditorWindow::refreshTitle);
    connect(&model, &EditorModel::loadErrorChanged, this, &EditorWindow::refreshLoadError);
    connect(&model, &EditorModel::exportErrorChanged, this, &EditorWindow::refreshAlert);

    model.setPathChooser([this](const std::filesystem::path& proposed, EditorModel::ChosenPath chosen) {
        // Only packages open again as projects: a name typed without the
        // extension gets it, and a package chosen is replaced as a whole.
        QFileDialog* dialog = makeSaveDialog(this, "Projekt mentése", proposed, "Vendalum-projekt", "vdlproj", true);
        auto answer = std::make_shared<EditorModel::ChosenPath>(std::move(chosen));
        connect(dialog, &QFileDialog::fileSelected, this, [this, answer](const QString& file) {
            auto call = std::exchange(*answer, {});
            if (!call) return;
            const std::filesystem::path target(file.toStdString());
            // One window per project: the window that has the package open
            // keeps it, and comes forward to say so.
            for (EditorWindow* other : editorWindows) {
                if (other == this || !edits(*other, target)) continue;
                other->showOpenHere();
                return call(std::nullopt);
            }
            call(target);
        });
        connect(dialog, &QDialog::finished, this, [answer] {
            if (auto call = std::exchange(*answer, {})) call(std::nullopt);
        });
        dialog->open();
    });

    refreshTitle();
    refreshLoadError();
    resize(minimumWidth, 800);
    editorWindows.push_back(this);
}

void EditorWindow::showOpenHere()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (openHere_) return;
    openHere_ = new QMessageBox(QMessageBox::Information, "Projekt mentése",
                                "Ez a projekt ebben az ablakban nyitva van, ezért másik ablak nem mentheti a helyére.",
                                QMessageBox::Ok, this);
    openHere_->setObjectName("openHere");
    openHere_->setAttribute(Qt::WA_DeleteOnClose);
    openHere_->setWindowModality(Qt::WindowModal);
    openHere_->open();
}

EditorWindow::~EditorWindow()
{
    editorWindows.erase(std::remove(editorWindows.begin(), editorWindows.end(), this), editorWindows.end());
    // The regions and dialogs read the model to their end: they go first.
    delete exportDialog_.data();
    delete alert_.data();
    delete takeCentralWidget();
    delete playerView_;
    model_->player().pause();
    if (model_->exportProgress()) keepUntilExported(std::move(model_));
}

int EditorWindow::exportsOfClosedWindows() { return keptModels; }

void EditorWindow::whenClosedWindowsExported(QObject* context, std::function<void()> then)
{
    if (keptModels == 0) return then();
    exportWaiters.emplace_back(context, std::move(then));
}

void EditorWindow::setVisible(bool visible)
{
    // Sized before the first show: a Wayland compositor places a window at
    // its first size.
    if (visible) fitScreen();
    QMainWindow::setVisible(visible);
}

bool EditorWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    // The frame is known once the window manager has framed the window,
    // which a move follows.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) fitScreen();
    if (event->type() == QEvent::Show) screenFit_.keepOnScreen();
    return handled;
}

void EditorWindow::fitScreen()
{
    screenFit_.follow();
    const int limit = screenFit_.contentHeight();
    if (limit <= 0) return;
    const int missing = std::max(0, minimumHeight - limit);
    preview_->setMinimumHeight(std::max(kPreviewSmallestHeight, kPreviewMinimumHeight - missing));
    setMinimumHeight(std::min(minimumHeight, limit));
    if (height() > limit) resize(width(), limit);
}

void EditorWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Once per window: a load that has begun (or ended) is not asked again.
    if (loadStarted_) return;
    loadStarted_ = true;
    model_->load([self = QPointer<EditorWindow>(this)] {
        if (self) self->toolbar_->refreshZoom();
    });
}

void EditorWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    // The sound stops with the window; minimising leaves it playing.
    model_->player().pause();
    emit closed();
}

void EditorWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    placeLoadError();
    toolbar_->refreshZoom();
}

void EditorWindow::refreshTitle()
{
    QString name = title(url_, model_->documentURL());
    if (name.isEmpty()) name = "Szerkesztő";
    // "[*]" in a title is the placeholder of the modified mark: doubled, it
    // shows as written.
    setWindowTitle(name.replace("[*]", "[*][*]"));
}

void EditorWindow::refreshLoadError()
{
    const auto& message = model_->loadError();
    loadError_->setVisible(message.has_value());
    if (!message) return;
    loadError_->setText(QString::fromStdString(*message));
    placeLoadError();
    loadError_->raise();
}

void EditorWindow::placeLoadError()
{
    QWidget* content = loadError_->parentWidget();
    // One line when it fits in two thirds of the window, else wrapped there.
    const int natural = loadError_->fontMetrics().horizontalAdvance(loadError_->text()) + 2 * kBoxPadding + 2;
    const int width = std::min(natural, content->width() * 2 / 3);
    const int height = loadError_->heightForWidth(width) > 0 ? loadError_->heightForWidth(width)
                                                              : loadError_->sizeHint().height();
    loadError_->setGeometry((content->width() - width) / 2, (content->height() - height) / 2, width, height);
}

void EditorWindow::refreshAlert()
{
    const auto& message = model_->exportError();
    if (!message) {
        // Cleared elsewhere: the alert has nothing left to say.
        if (alert_) ui::Alert::close(*alert_);
        return;
    }
    // The export dialog shows its own failures above itself, where the user is.
    if (exportDialog_ && exportDialog_->isVisible()) return;
    if (!alert_) {
        alert_ = new QMessageBox(QMessageBox::Warning, "Hiba", {}, QMessageBox::Ok, this);
        alert_->setObjectName("errorAlert");
        alert_->setWindowModality(Qt::WindowModal);
        // However it goes away, the message is done with.
        connect(alert_, &QMessageBox::finished, this, [this] {
            if (model_) model_->setExportError(std::nullopt);
        });
    }
    // One alert: a second message replaces the text of the one shown.
    alert_->setText(QString::fromStdString(*message));
    ui::Alert::open(*alert_);
}

void EditorWindow::openExportDialog()
{
    if (model_->tracks().empty() || exportDialog_) return;
    exportDialog_ = new ExportDialog(*model_, this);
    exportDialog_->setAttribute(Qt::WA_DeleteOnClose);
    // What the dialog left unshown is the window's to say.
    connect(exportDialog_, &QDialog::finished, this, &EditorWindow::refreshAlert, Qt::QueuedConnection);
    exportDialog_->open();
}

} // namespace ondexa
