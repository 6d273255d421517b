#include "Ondexa/app/OndexaApp.h"

#include "Ondexa/app/AppDelegate.h"
#include "Ondexa/editor/EditorWindow.h"
#include "Ondexa/app/MenuBarExtra.h"
#include "Ondexa/app/MenuCommands.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/app/RecordingChooser.h"
#include "Ondexa/app/Updates.h"
#include "Ondexa/model/Files.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QResizeEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

namespace ondexa {

namespace {
// What panels and a compositor's title bar may take of a Wayland screen.
constexpr int kUnseenPanelsHeight = 80;
} // namespace

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

void RecordWindow::setVisible(bool visible)
{
    // Limited before the first layout, so that the window shows at its size.
    if (visible) fitScreen();
    QMainWindow::setVisible(visible);
}

bool RecordWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    // Each show on Wayland places a new surface, at the size of its first
    // frame: the one drawn for the first expose.
    if (event->type() == QEvent::Show && QGuiApplication::platformName().startsWith("wayland") && windowHandle()) {
        placedHeight_ = -1;
        windowHandle()->installEventFilter(this);
    }
    if (event->type() == QEvent::Hide) placedHeight_ = 0;
    // The native window exists once shown; its frame is known once the
    // window manager has framed it, which a move follows.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) fitScreen();
    // Shown where it was left, perhaps on a smaller screen since.
    if (event->type() == QEvent::Show) screenFit_.keepOnScreen();
    return handled;
}

bool RecordWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (placedHeight_ < 0 && watched == windowHandle() && event->type() == QEvent::Expose
        && windowHandle()->isExposed()) {
        placedHeight_ = height();
        fitScreen();
    }
    return QMainWindow::eventFilter(watched, event);
}

void RecordWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    screenFit_.keepOnScreen();
}

void RecordWindow::fitScreen()
{
    screenFit_.follow();
    int limit = screenFit_.contentHeight();
    if (limit <= 0) return;
    if (QGuiApplication::platformName().startsWith("wayland")) {
        // Wayland tells a program nothing of the panels: its available area
        // is the whole screen. Room is kept for them and for a title bar the
        // compositor draws.
        if (const QScreen* s = screen(); s && s->availableGeometry() == s->geometry())
            limit -= kUnseenPanelsHeight;
        // The window can't move itself, and compositors centre a new one in
        // the available area: grown past the room below that centre (rows
        // and notices that come after the first show), it would run off the
        // screen. The view scrolls instead.
        if (placedHeight_ > 0) limit = std::min(limit, (limit + placedHeight_) / 2);
    }
    if (const QWidget* menu = menuWidget(); menu && !menu->isHidden()) limit -= menu->sizeHint().height();
    view_->setHeightLimit(limit);
}

namespace {
// How long after a menu is hidden the X server may still show it.
constexpr int kMenuLeavesScreenMs = 150;
// The longest the first show waits for the sources on Wayland.
constexpr int kFirstShowWaitMs = 3000;
} // namespace

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
    // Where neither a tray icon nor a hot key from anywhere could stop the
    // recording, our windows go to the task bar instead of out of sight.
    state_.setWindowHooks(
        [this](const QRectF& captured) {
            if (tray_) updateTrayShown();  // a panel may have come or gone
            if (state_.stopWithinReach())
                ownWindows_.hide(captured);
            else
                ownWindows_.minimize(captured);
        },
        [this] { ownWindows_.show(); });
    connect(&delegate_, &AppDelegate::activationRequested, this, &OndexaApp::showRecordWindow);
    // The launch's files have just opened, or the record window has just
    // been asked for: the window in front is the one it came for.
    connect(&delegate_, &AppDelegate::launchActivation, this, [this](const LaunchActivation& launch) {
        if (broughtForward_ && broughtForward_->isVisible()) launch.activate(*broughtForward_);
    });

    // Made whatever the desktop has now: a panel may start after us.
    if (options.tray) {
        tray_ = std::make_unique<Tray>(state_);
        connect(tray_->menu(), &MenuBarContent::recordWindowRequested, this, &OndexaApp::showRecordWindow);
        connect(tray_->menu(), &MenuBarContent::quitRequested, &delegate_, &AppDelegate::requestQuit);
        // The open menu is never recorded: the picture holds until it has
        // left the screen.
        connect(tray_->menu(), &QMenu::aboutToShow, this, [this] { state_.holdPicture(true); });
        connect(tray_->menu(), &QMenu::aboutToHide, this, [this] {
            QTimer::singleShot(kMenuLeavesScreenMs, this, [this] {
                if (!tray_->menu()->isVisible()) state_.holdPicture(false);
            });
        });
        tray_->show();
    }
    updateTrayShown();
}

OndexaApp::~OndexaApp()
{
    AppState::setRecordingChooser({});
    state_.setWindowHooks({}, {});
    state_.setOpenEditor({});
    const auto windows = editors_;
    for (EditorWindow* window : windows) {
        disconnect(window, nullptr, this, nullptr);
        delete window;
    }
}

void OndexaApp::showRecordWindow()
{
    // A compositor places a new window once, at its first size, and the
    // window can't move itself: shown before its rows and notices are known,
    // it would grow off the screen's bottom.
    if (!recordWindowOpen_ && !state_.sourcesKnown() && QGuiApplication::platformName().startsWith("wayland")) {
        if (firstShowWaits_) return;
        firstShowWaits_ = true;
        const auto show = [this] {
            if (!std::exchange(firstShowWaits_, false)) return;
            recordWindowOpen_ = true;  // shown now, whatever the sources
            showRecordWindow();
        };
        connect(&state_, &AppState::sourcesKnownChanged, this, show, Qt::SingleShotConnection);
        QTimer::singleShot(kFirstShowWaitMs, this, show);
        return;
    }
    recordWindowOpen_ = true;
    // Showing the view hands it the files waiting for an editor: the last of
    // those stays in front.
    lastEditor_ = nullptr;
    recordWindow_->show();
    if (lastEditor_) {
        broughtForward_ = lastEditor_;
        // The record window takes the focus as it appears; give it back
        // once that has happened.
        QTimer::singleShot(0, lastEditor_, [editor = lastEditor_] {
            editor->raise();
            editor->activateWindow();
        });
        return;
    }
    broughtForward_ = recordWindow_.get();
    recordWindow_->raise();
    recordWindow_->activateWindow();
}

namespace {

// What the window edits now: its package once saved as a project.
const std::filesystem::path& documentOf(EditorWindow& window)
{
    const auto& package = window.model().documentURL();
    return package ? *package : window.url();
}

} // namespace

EditorWindow* OndexaApp::editorWindow(const std::filesystem::path& file) const
{
    for (EditorWindow* window : editors_)
        if (sameFile(documentOf(*window), file)) return window;
    return nullptr;
}

void OndexaApp::forget(EditorWindow* window)
{
    editors_.erase(std::remove(editors_.begin(), editors_.end(), window), editors_.end());
}

EditorWindow* OndexaApp::openEditorWindow(const std::filesystem::path& file)
{
    EditorWindow* window = editorWindow(file);
    if (!window) {
        window = new EditorWindow(normalisedPath(file));
        commands_->install(*window);
        editors_.push_back(window);
        connect(window, &EditorWindow::closed, this, [this, window] {
            forget(window);
            if (!window->model().exportProgress()) return windowClosed();
            // Its export goes on without the window: the program stays until
            // that file is written.
            connect(window, &QObject::destroyed, this, [this] {
                EditorWindow::whenClosedWindowsExported(this, [this] { windowClosed(); });
            });
        });
        connect(window, &QObject::destroyed, this, [this, window] { forget(window); });
    }
    lastEditor_ = window;
    broughtForward_ = window;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void OndexaApp::updateTrayShown()
{
    state_.setTrayShown(tray_ && QSystemTrayIcon::isSystemTrayAvailable());
}

void OndexaApp::windowClosed()
{
    if (delegate_.isQuitting()) return;
    // Asked now, not at start-up: the panel may have come or gone since.
    updateTrayShown();
    if (tray_ && QSystemTrayIcon::isSystemTrayAvailable()) return;
    if (recordWindowOpen_ || !editors_.empty()) return;
    delegate_.requestQuit();
}

} // namespace ondexa
