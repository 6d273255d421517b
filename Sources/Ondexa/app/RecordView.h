#pragma once

#include "Ondexa/recording/AppState.h"

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace ondexa {

class ElidedLabel;
class LevelMeter;
class SegmentedControl;
class ToggleSwitch;

// The record window's content: what to record, the frame rate, the sound
// sources with a level per input, the camera; the record button with the
// elapsed time; the recordings folder and the open dialog; the controller's
// error messages. Every control shows a property of AppState or calls one of
// its methods; the view keeps no state of its own.
class RecordView : public QWidget {
    Q_OBJECT

public:
    // Opens an editor window for a recording or a project.
    using EditorOpener = std::function<void(const std::filesystem::path&)>;

    RecordView(AppState& state, EditorOpener openEditorWindow, QWidget* parent = nullptr);
    ~RecordView() override;

    // The main button's title for the current phase.
    QString buttonTitle() const;
    // The "Hiba" alert; shown while the controller has an error message.
    QMessageBox* errorAlert() const { return alert_; }
    QSize sizeHint() const override;
    // The most height the window has for the view; beyond it the form
    // scrolls and the header and the action bar stay in view.
    void setHeightLimit(int limit);

    static constexpr int width = 520;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Section;

    void buildForm(QVBoxLayout* form);
    QWidget* buildActionBar();
    QWidget* row(Section* section, const QString& label, QWidget* control, const char* name);

    void refresh();
    void refreshPhase();
    void refreshLists();
    void refreshChannels();
    void refreshLevels();
    void refreshError();

    AppState& state_;
    EditorOpener openEditorWindow_;

    QWidget* header_ = nullptr;
    QWidget* actionBar_ = nullptr;
    QWidget* form_ = nullptr;  // the settings; disabled outside idle
    Section* permission_ = nullptr;
    Section* wayland_ = nullptr;  // shown in a Wayland session the program can't use
    QLabel* permissionText_ = nullptr;
    QPushButton* grant_ = nullptr;
    Section* sessionNotes_ = nullptr;  // on the portal's path: what such a session leaves out
    QLabel* sessionNotesText_ = nullptr;
    Section* sources_ = nullptr;
    Section* mic_ = nullptr;
    SegmentedControl* captureMode_ = nullptr;
    QWidget* displayRow_ = nullptr;
    QComboBox* display_ = nullptr;
    QWidget* areaRow_ = nullptr;
    QLabel* area_ = nullptr;
    QWidget* windowRow_ = nullptr;
    QComboBox* window_ = nullptr;
    QWidget* refreshWindowsRow_ = nullptr;
    QLabel* windowNote_ = nullptr;  // on the portal's path, in place of the window list
    SegmentedControl* fps_ = nullptr;
    ToggleSwitch* systemAudio_ = nullptr;
    ToggleSwitch* micEnabled_ = nullptr;
    ToggleSwitch* cameraEnabled_ = nullptr;
    QWidget* cameraRow_ = nullptr;
    QComboBox* camera_ = nullptr;
    QComboBox* micDevice_ = nullptr;
    QWidget* channels_ = nullptr;  // one row per input of the current device
    std::vector<ToggleSwitch*> channelSwitches_;
    std::vector<LevelMeter*> meters_;
    std::optional<AudioInputDevice> channelsDevice_;  // what the channel rows show
    QWidget* stereoRow_ = nullptr;
    ToggleSwitch* stereoPairs_ = nullptr;
    QPushButton* mainButton_ = nullptr;
    ElidedLabel* hotKey_ = nullptr;  // the keys the desktop passes to us
    QMessageBox* alert_ = nullptr;  // child of the view
    bool closingAlert_ = false;  // the alert closes because the message went away
    int heightLimit_ = QWIDGETSIZE_MAX;
};

} // namespace ondexa
