#include "Ondexa/app/OndexaApp.h"

#include "Ondexa/app/AppDelegate.h"
#include "Ondexa/editor/EditorWindow.h"
#include "Ondexa/app/MenuBarExtra.h"
#include "Ondexa/app/MenuCommands.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/app/RecordingChooser.h"
#include "Ondexa/app/Updates.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QSystemTrayIcon>
#include <QTimer>

namespace ondexa {

RecordWindow::RecordWindow(AppState& state, std::function<void(const std::filesystem::path&)> openEditor)
{
    setObjectName("recordWindow");
    setWindowTitle("Vendalum");
    view_ = new RecordView(state, std::move(openEditor), this);
    setCentralWidget(view_);
    // The window follows its content as rows come and go.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void RecordWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

OndexaApp::OndexaApp(AppState& state, AppDelegate& delegate, Updates& updates, Options options, QObject* parent)
    : QObject(parent), state_(state), delegate_(delegate)
{
    MenuCommands::Hooks hooks;
    hooks.openEditorWindow = [this](const std::filesystem::path& file) { openEditorWindow(file); };
    hooks.quit = [this] { delegate_.requestQuit(); };
    commands_ = std::make_unique<MenuCommands>(updates, std::move(hooks));

    recordWindow_ = std::make_unique<RecordWindow>(state_, [this](const std::filesystem::path& file) {
        openEditorWindow(file);
    });
    commands_->install(*recordWindow_);
    connect(recordWindow_.get(), &RecordWindow::closed, this, [this] {
        recordWindowOpen_ = false;
        windowClosed();
    });
    RecordingChooser::install([] { return QApplication::activeWindow(); });
    // Through the widgets, so that the record window can come back during a recording.
    state_.setWindowHooks([this] { ownWindows_.hide(); }, [this] { ownWindows_.show(); });
    connect(&delegate_, &AppDelegate::activationRequested, this, &OndexaApp::showRecordWindow);

    if (options.tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = std::make_unique<Tray>(state_);
        connect(tray_->menu(), &MenuBarContent::recordWindowRequested, this, &OndexaApp::showRecordWindow);
        connect(tray_->menu(), &MenuBarContent::quitRequested, &delegate_, &AppDelegate::requestQuit);
        if (!tray_->show()) tray_.reset();
    }
}

OndexaApp::~OndexaApp()
{
    AppState::setRecordingChooser({});
    state_.setWindowHooks({}, {});
    state_.setOpenEditor({});
    const auto windows = editors_;
    for (auto& [file, window] : windows) {
        disconnect(window, nullptr, this, nullptr);
        delete window;
    }
}

void OndexaApp::showRecordWindow()
{
    recordWindowOpen_ = true;
    // Showing the view hands it the files waiting for an editor: the last of
    // those stays in front.
    lastEditor_ = nullptr;
    recordWindow_->show();
    if (lastEditor_) {
        // The record window takes the focus as it appears; give it back
        // once that has happened.
        QTimer::singleShot(0, lastEditor_, [editor = lastEditor_] {
            editor->raise();
            editor->activateWindow();
        });
        return;
    }
    recordWindow_->raise();
    recordWindow_->activateWindow();
}

std::filesystem::path OndexaApp::key(const std::filesystem::path& file)
{
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(file), error);
    return error ? file.lexically_normal() : canonical;
}

EditorWindow* OndexaApp::editorWindow(const std::filesystem::path& file) const
{
    auto found = editors_.find(key(file));
    return found == editors_.end() ? nullptr : found->second;
}

EditorWindow* OndexaApp::openEditorWindow(const std::filesystem::path& file)
{
    EditorWindow* window = editorWindow(file);
    if (!window) {
        const auto id = key(file);
        window = new EditorWindow(id);
        commands_->install(*window);
        editors_[id] = window;
        connect(window, &EditorWindow::closed, this, [this, id, window] {
            auto found = editors_.find(id);
            if (found != editors_.end() && found->second == window) editors_.erase(found);
            if (!window->model().exportProgress()) return windowClosed();
            // Its export goes on without the window: the program stays until
            // that file is written.
            connect(window, &QObject::destroyed, this, [this] {
                EditorWindow::whenClosedWindowsExported(this, [this] { windowClosed(); });
            });
        });
        connect(window, &QObject::destroyed, this, [this, id, window] {
            auto found = editors_.find(id);
            if (found != editors_.end() && found->second == window) editors_.erase(found);
        });
    }
    lastEditor_ = window;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void OndexaApp::windowClosed()
{
    if (tray_ || delegate_.isQuitting()) return;
    if (recordWindowOpen_ || !editors_.empty()) return;
    delegate_.requestQuit();
}

} // namespace ondexa
