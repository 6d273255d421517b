#pragma once

#include "Ondexa/editing/EditorModel.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QFileDialog;
class QFormLayout;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace ondexa {

class SegmentedControl;

// The export sheet: range, format, size and encoding, the file, progress and
// cancel. A new window-modal dialog for every presentation; the options are
// the dialog's own and die with it. Whether an export runs is read from the
// model's exportProgress alone.
class ExportDialog : public QDialog {
    Q_OBJECT

public:
    using Options = EditorModel::ExportOptions;
    // Shows the save panel, set up by the dialog; the dialog learns the
    // answer from the panel's finished signal. The default opens it
    // window-modally; tests answer it themselves.
    using SavePanelPresenter = std::function<void(QFileDialog& panel)>;
    // Tells the user why an export of this dialog failed (the model's
    // exportError). The default shows the dialog's own "Hiba" alert, whose
    // dismissal clears exportError; a window that already shows every
    // exportError in its alert passes one that does nothing.
    using Alert = std::function<void(const QString& message)>;

    explicit ExportDialog(EditorModel& model, QWidget* parent = nullptr, SavePanelPresenter presentSavePanel = {});
    ~ExportDialog() override;

    void setSavePanelPresenter(SavePanelPresenter present);
    void setAlert(Alert alert);

    const Options& options() const { return options_; }
    // An export runs (the model has a progress).
    bool isRunning() const;
    // The save panel, then the export ("Exportálás…").
    void start();

    // The texts the dialog shows.
    static QString sizeLabel(Options::Size size, QSize pixels);
    static QString summaryText(const ExportExtent& extent, std::size_t trackCount);
    static QString progressText(double progress);
    // Where the save panel starts: the recording's folder and
    // "<name> – export.<extension>", the name taken from the open package,
    // else from the recording.
    static std::filesystem::path suggestedDestination(const std::filesystem::path& recording,
                                                      const std::optional<std::filesystem::path>& package,
                                                      Options::Format format);

    // For tests and screenshots.
    QAbstractButton* rangeButton(Options::Range range) const;
    SegmentedControl* formatPicker() const { return formatPicker_; }
    QComboBox* sizePicker() const { return sizePicker_; }
    QAbstractButton* encodingButton(Options::Encoding encoding) const;
    bool isSizeRowShown() const;
    bool isEncodingRowShown() const;
    QWidget* form() const { return form_; }
    QLabel* summary() const { return summary_; }
    QLabel* progressLabel() const { return progressLabel_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QPushButton* closeButton() const { return closeButton_; }
    QPushButton* exportButton() const { return exportButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QMessageBox* alertBox() const { return alertBox_; }

public slots:
    // Closes the dialog unless an export runs.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildForm();
    QWidget* buildButtons();
    QFileDialog* makeSavePanel();
    void exportTo(const std::filesystem::path& file);
    void finished(bool written);
    void showAlert(const QString& message);

    void refresh();
    void refreshRanges();
    void refreshSizes();
    void refreshSummary();
    void refreshState();

    // Null once the model is gone (the window destroys it before its children).
    QPointer<EditorModel> model_;
    Options options_;
    SavePanelPresenter presentSavePanel_;
    Alert alert_;

    QWidget* form_ = nullptr;
    QFormLayout* formLayout_ = nullptr;
    QButtonGroup* ranges_ = nullptr;
    SegmentedControl* formatPicker_ = nullptr;
    QComboBox* sizePicker_ = nullptr;
    QButtonGroup* encodings_ = nullptr;
    QLabel* summary_ = nullptr;
    QWidget* progressRow_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QMessageBox* alertBox_ = nullptr;  // made at the first failure
    QPointer<QFileDialog> savePanel_;   // while it is shown
};

} // namespace ondexa
