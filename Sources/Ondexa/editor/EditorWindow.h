#pragma once

// One editor window: a recording or a project package with its own
// document model. The preview with the player's picture, the toolbar, the
// timeline and the footer stand in a column beside the inspector; the model
// loads the first time the window is shown. The export dialog opens over the
// window; failures of exports, imports and saves show in one "Hiba" alert,
// a failed load in a box over the middle of the window.
//
// A window closed while its export runs hands its model over to the
// application until that export has ended: the file is finished, not cut off.

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/ExportDialog.h"
#include "Ondexa/ui/ScreenFit.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QLabel;

namespace ondexa {

class EditTimeline;
class EditorFooter;
class EditorToolbar;
class InspectorPanel;
class PlayerView;
class PreviewCanvas;

class EditorWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 1250;
    static constexpr int minimumHeight = 720;

    explicit EditorWindow(std::filesystem::path url, QWidget* parent = nullptr);
    ~EditorWindow() override;
    void setVisible(bool visible) override;

    const std::filesystem::path& url() const { return url_; }
    EditorModel& model() { return *model_; }

    // The name the window shows: the project's, else the file's, without its
    // last extension.
    static QString title(const std::filesystem::path& url, const std::optional<std::filesystem::path>& documentURL);

    EditorToolbar* toolbar() const { return toolbar_; }
    EditorFooter* footer() const { return footer_; }
    EditTimeline* timeline() const { return timeline_; }
    PreviewCanvas* preview() const { return preview_; }
    InspectorPanel* inspector() const { return inspector_; }
    PlayerView& playerView() const { return *playerView_; }
    // The box of a failed load (hidden while there is none).
    QLabel* loadErrorBox() const { return loadError_; }
    // The "Hiba" alert, once it has been needed.
    QMessageBox* alert() const { return alert_; }
    // The export dialog while it is open.
    ExportDialog* exportDialog() const { return exportDialog_; }

    // Opens the export dialog; nothing while the edit has no tracks or the
    // dialog is already open.
    void openExportDialog();

    // Brings the window forward with the sentence that it has its project
    // open: another window chose the package to save into.
    void showOpenHere();

    // Exports of closed windows that are still being written.
    static int exportsOfClosedWindows();
    // Calls `then` once none of those runs any more (at once when none does).
    static void whenClosedWindowsExported(QObject* context, std::function<void()> then);

signals:
    // The user closed the window (not hidden for a recording).
    void closed();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshTitle();
    void refreshLoadError();
    void refreshAlert();
    void placeLoadError();
    // Within the height its screen leaves it: on a short screen the window's
    // minimum yields, the preview giving up its height first.
    void fitScreen();

    std::filesystem::path url_;
    std::unique_ptr<EditorModel> model_;
    PlayerView* playerView_ = nullptr;
    PreviewCanvas* preview_ = nullptr;
    EditorToolbar* toolbar_ = nullptr;
    EditTimeline* timeline_ = nullptr;
    EditorFooter* footer_ = nullptr;
    InspectorPanel* inspector_ = nullptr;
    QLabel* loadError_ = nullptr;
    QPointer<QMessageBox> alert_;
    QPointer<QMessageBox> openHere_;
    QPointer<ExportDialog> exportDialog_;
    bool loadStarted_ = false;
    ui::ScreenFit screenFit_{*this, [this] { fitScreen(); }};
};

} // namespace ondexa
