#pragma once

// The editor window's bottom row: a one-line reminder of the timeline's
// mouse gestures, the link to the file the last export wrote, and the two
// document buttons, saving the project and opening the export dialog.

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>

class QLabel;
class QPushButton;
class QShortcut;

namespace ondexa {

class EditorModel;

class EditorFooter final : public QWidget {
    Q_OBJECT

public:
    // Shows one file in the file manager.
    using Revealer = std::function<void(const std::filesystem::path& file)>;

    explicit EditorFooter(EditorModel& model, QWidget* parent = nullptr);

    // Replaces the file manager (for tests).
    void setRevealer(Revealer revealer) { revealer_ = std::move(revealer); }
    // Asks the desktop's file manager to select the file (over D-Bus), else
    // opens its folder. Never waits for the answer.
    static void reveal(const std::filesystem::path& file);

    QPushButton* exportButton() const { return export_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* lastExportLink() const { return link_; }
    // The hint as written; the label shows as much of it as fits.
    static QString hint();
    QLabel* hintLabel() const { return hint_; }

signals:
    // "Exportálás…" or Ctrl+E while the edit has tracks.
    void exportRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void elideHint();

    QPointer<EditorModel> model_;
    QLabel* hint_ = nullptr;
    QPushButton* link_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* export_ = nullptr;
    QShortcut* exportKey_ = nullptr;
    Revealer revealer_ = &EditorFooter::reveal;
};

} // namespace ondexa
