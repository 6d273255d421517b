#pragma once

#include "Ondexa/editing/EditorModel.h"

#include <QMainWindow>

#include <filesystem>
#include <memory>

class QLabel;

namespace ondexa {

// One editor window: a recording or a project package with its own
// document model, loaded the first time the window is shown. Until the full
// editor view is placed here it shows the document's name and state.
class EditorWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit EditorWindow(std::filesystem::path url, QWidget* parent = nullptr);
    ~EditorWindow() override;

    const std::filesystem::path& url() const { return url_; }
    EditorModel& model() { return *model_; }

signals:
    // The user closed the window (not hidden for a recording).
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();

    std::filesystem::path url_;
    std::unique_ptr<EditorModel> model_;
    QLabel* status_ = nullptr;
    bool loadStarted_ = false;
};

} // namespace ondexa
