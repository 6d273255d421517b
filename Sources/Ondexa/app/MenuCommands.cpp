#include "Ondexa/app/MenuCommands.h"

#include "Ondexa/app/AboutDialog.h"
#include "Ondexa/editor/EditorWindow.h"
#include "Ondexa/app/Updates.h"
#include "Ondexa/recording/AppState.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaMethod>
#include <QWindow>

namespace ondexa {

MenuCommands::MenuCommands(Updates& updates, Hooks hooks, QObject* parent)
    : QObject(parent), updates_(updates), hooks_(std::move(hooks))
{
    open_ = make("Felvétel vagy projekt megnyitása…", QKeySequence(Qt::CTRL | Qt::Key_O), "open");
    // Explicit keys: the standard Cut sequence adds Shift+Del on X11, and
    // Delete with or without Shift belongs to the timeline's ripple delete.
    cut_ = make("Kivágás", QKeySequence(Qt::CTRL | Qt::Key_X), "cut");
    copy_ = make("Másolás", QKeySequence(Qt::CTRL | Qt::Key_C), "copy");
    paste_ = make("Beillesztés", QKeySequence(Qt::CTRL | Qt::Key_V), "paste");
    duplicate_ = make("Duplikálás", QKeySequence(Qt::CTRL | Qt::Key_D), "duplicate");
    link_ = make("Összekötés", QKeySequence(Qt::CTRL | Qt::Key_L), "link");
    unlink_ = make("Összekötés megszüntetése", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), "unlink");
    selectAll_ = make("Összes kijelölése", QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll");
    save_ = make("Projekt mentése", QKeySequence(Qt::CTRL | Qt::Key_S), "saveProject");
    saveAs_ = make("Projekt mentése másként…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), "saveProjectAs");
    undo_ = make("Visszavonás", QKeySequence(Qt::CTRL | Qt::Key_Z), "undo");
    redo_ = make("Újra", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), "redo");
    about_ = make("A Vendalum névjegye", QKeySequence(), "about");
    checkUpdates_ = make("Frissítések keresése…", QKeySequence(), "checkForUpdates");
    quit_ = make("Kilépés", QKeySequence(Qt::CTRL | Qt::Key_Q), "quit");
    about_->setMenuRole(QAction::AboutRole);
    checkUpdates_->setMenuRole(QAction::ApplicationSpecificRole);
    quit_->setMenuRole(QAction::QuitRole);

    connect(open_, &QAction::triggered, this, [this] {
        AppState::chooseRecording([open = hooks_.openEditorWindow](std::optional<std::filesystem::path> file) {
            if (file && open) open(*file);
        });
    });
    connect(cut_, &QAction::triggered, this, [] { sendToFocus("cut()"); });
    connect(copy_, &QAction::triggered, this, [this] {
        EditorModel* editor = activeEditor();
        if (editor && !editor->isEditingText()) return editor->copySelection();
        sendToFocus("copy()");
    });
    connect(paste_, &QAction::triggered, this, [this] {
        EditorModel* editor = activeEditor();
        if (editor && !editor->isEditingText()) return editor->paste(editor->clock().time());
        sendToFocus("paste()");
    });
    connect(selectAll_, &QAction::triggered, this, [this] {
        EditorModel* editor = activeEditor();
        if (editor && !editor->isEditingText()) return editor->selectAllClips();
        sendToFocus("selectAll()");
    });
    const auto onEditor = [this](QAction* action, void (*call)(EditorModel&)) {
        connect(action, &QAction::triggered, this, [this, call] {
            if (EditorModel* editor = activeEditor()) call(*editor);
        });
    };
    onEditor(duplicate_, [](EditorModel& m) { m.duplicateSelection(); });
    onEditor(link_, [](EditorModel& m) { m.linkSelection(); });
    onEditor(unlink_, [](EditorModel& m) { m.unlinkSelection(); });
    onEditor(save_, [](EditorModel& m) { m.saveProject(false); });
    onEditor(saveAs_, [](EditorModel& m) { m.saveProject(true); });
    onEditor(undo_, [](EditorModel& m) { m.undo(); });
    onEditor(redo_, [](EditorModel& m) { m.redo(); });
    connect(about_, &QAction::triggered, this, [] {
        // One at a time: a second choice brings the open one forward.
        static QPointer<AboutDialog> shown;
        if (!shown) {
            shown = new AboutDialog(QApplication::activeWindow());
            shown->setAttribute(Qt::WA_DeleteOnClose);
        }
        shown->show();
        shown->raise();
        shown->activateWindow();
    });
    connect(checkUpdates_, &QAction::triggered, this,
            [this] { updates_.checkForUpdates(QApplication::activeWindow()); });
    connect(quit_, &QAction::triggered, this, [this] {
        if (hooks_.quit) hooks_.quit();
    });

    canCheck_ = new CanCheckForUpdates(updates_, this);
    connect(canCheck_, &CanCheckForUpdates::canCheckChanged, this, &MenuCommands::refresh);
    connect(qApp, &QApplication::focusChanged, this, &MenuCommands::refresh);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &MenuCommands::refresh);
    qApp->installEventFilter(this);
    refresh();
}

MenuCommands::~MenuCommands()
{
    if (qApp) qApp->removeEventFilter(this);
    for (auto& connection : editorConnections_) disconnect(connection);
}

QAction* MenuCommands::make(const QString& title, const QKeySequence& key, const char* name)
{
    auto* action = new QAction(title, this);
    action->setObjectName(name);
    action->setShortcut(key);
    return action;
}

void MenuCommands::install(QMainWindow& window)
{
    QMenuBar* bar = window.menuBar();
    QMenu* app = bar->addMenu("Vendalum");
    app->addActions({about_, checkUpdates_});
    app->addSeparator();
    app->addAction(quit_);
    QMenu* file = bar->addMenu("Fájl");
    file->addAction(open_);
    file->addSeparator();
    file->addActions({save_, saveAs_});
    QMenu* edit = bar->addMenu("Szerkesztés");
    edit->addActions({undo_, redo_});
    edit->addSeparator();
    edit->addActions({cut_, copy_, paste_, duplicate_, link_, unlink_, selectAll_});
}

EditorWindow* MenuCommands::focusedEditor() const
{
    QWidget* active = QApplication::activeWindow();
    if (auto* window = qobject_cast<EditorWindow*>(active)) return window;
    // On Wayland the menu opened from an editor's menu bar takes the focus,
    // and for a moment no window of ours may have it: the editor stays the
    // one the commands act on. Another window of ours ends that.
    const bool menuOrNone = !active || active->windowType() == Qt::Popup || QApplication::activePopupWidget();
    auto* last = qobject_cast<EditorWindow*>(editor_.data());
    return menuOrNone && last && last->isVisible() ? last : nullptr;
}

EditorModel* MenuCommands::activeEditor() const
{
    EditorWindow* window = focusedEditor();
    return window ? &window->model() : nullptr;
}

void MenuCommands::refresh()
{
    EditorWindow* window = focusedEditor();
    if (window != editor_.data()) {
        for (auto& connection : editorConnections_) disconnect(connection);
        editorConnections_.clear();
        editor_ = window;
        if (window) {
            EditorModel* model = &window->model();
            for (auto signal : {&EditorModel::canUndoChanged, &EditorModel::canRedoChanged,
                                &EditorModel::isEditingTextChanged})
                editorConnections_.push_back(connect(model, signal, this, &MenuCommands::refresh));
        }
    }
    EditorModel* editor = window ? &window->model() : nullptr;
    for (QAction* action : {duplicate_, link_, unlink_, save_, saveAs_}) action->setEnabled(editor);
    undo_->setEnabled(editor && editor->canUndo());
    redo_->setEnabled(editor && editor->canRedo());
    checkUpdates_->setEnabled(canCheck_->canCheck());
}

void MenuCommands::sendToFocus(const char* slot)
{
    const QByteArray signature = QMetaObject::normalizedSignature(slot);
    for (QObject* target = QApplication::focusWidget(); target; target = target->parent()) {
        const int index = target->metaObject()->indexOfSlot(signature);
        if (index < 0) continue;
        target->metaObject()->method(index).invoke(target);
        return;
    }
}

bool MenuCommands::goesToEditor(const QAction* action) const
{
    EditorModel* editor = activeEditor();
    if (!editor || !action->isEnabled() || action == cut_) return false;
    if (action == copy_ || action == paste_ || action == selectAll_) return !editor->isEditingText();
    return true;
}

bool MenuCommands::eventFilter(QObject* watched, QEvent* event)
{
    // A focused text field claims Ctrl+Z, Ctrl+C, … for itself before the
    // menu sees them. Where the command belongs to the editor (undo always,
    // copy while no text is being edited), the field must not get the key.
    if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType()) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (QAction* action : {copy_, paste_, duplicate_, link_, unlink_, selectAll_, save_, saveAs_, undo_, redo_}) {
            if (action->shortcut() == pressed && goesToEditor(action)) return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ondexa
