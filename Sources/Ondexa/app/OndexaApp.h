#pragma once

#include "Ondexa/app/OwnWindows.h"
#include "Ondexa/ui/ScreenFit.h"
#include "Ondexa/recording/AppState.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <filesystem>
#include <memory>
#include <vector>

namespace ondexa {

class AppDelegate;
class EditorWindow;
class MenuCommands;
class RecordView;
class Tray;
class Updates;

// The record window: the record view in a window titled "Vendalum" that
// takes its size from its content, up to the available height of its
// screen; beyond that the form scrolls.
class RecordWindow : public QMainWindow {
    Q_OBJECT

public:
    RecordWindow(AppState& state, std::function<void(const std::filesystem::path&)> openEditor);
    RecordView* view() const { return view_; }
    void setVisible(bool visible) override;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Limits the view to what the window's screen leaves for it.
    void fitScreen();

    RecordView* view_;
    ui::ScreenFit screenFit_{*this, [this] { fitScreen(); }};
    // Wayland: the height at which the compositor placed the shown window,
    // which it never moves again; -1 until its first frame, 0 while hidden
    // and elsewhere.
    int placedHeight_ = 0;
};

// The application: the record window, one editor window per recording or
// project, the tray icon (shown whenever the desktop has a tray), the menus
// of every window.
// It owns no model: the windows talk to the recording controller and each
// editor window to its own document.
class OndexaApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool tray = true;  // make the tray icon, shown whenever the desktop has a tray
    };

    OndexaApp(AppState& state, AppDelegate& delegate, Updates& updates, Options options, QObject* parent = nullptr);
    ~OndexaApp() override;

    // Shows the record window; its view installs the editor opener.
    void showRecordWindow();
    RecordWindow& recordWindow() { return *recordWindow_; }
    MenuCommands& commands() { return *commands_; }
    Tray* tray() const { return tray_.get(); }

    // Opens the file in its own editor window, or brings forward the window
    // that edits it now: a recording saved as a project is then found by
    // its package, no longer by the recording.
    EditorWindow* openEditorWindow(const std::filesystem::path& file);
    EditorWindow* editorWindow(const std::filesystem::path& file) const;
    std::size_t editorWindowCount() const { return editors_.size(); }

private:
    // A window of ours was closed by the user; where the desktop has no tray
    // at that moment, the last one ends the program.
    void windowClosed();
    // Tells the state whether the desktop shows the tray icon now.
    void updateTrayShown();
    void forget(EditorWindow* window);

    AppState& state_;
    AppDelegate& delegate_;
    std::unique_ptr<MenuCommands> commands_;
    std::unique_ptr<RecordWindow> recordWindow_;
    bool recordWindowOpen_ = false;  // shown and not closed by the user (hidden for a recording counts as open)
    bool firstShowWaits_ = false;    // Wayland: the first show waits for the sources (bounded)
    std::vector<EditorWindow*> editors_;  // removed when closed or destroyed
    std::unique_ptr<Tray> tray_;
    QPointer<QWidget> lastEditor_;  // the editor window opened last
    QPointer<QWidget> broughtForward_;  // the window of ours brought forward last
    OwnWindows ownWindows_;         // hidden for the recording in progress
};

} // namespace ondexa
