#pragma once

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <vector>

class QAction;
class QMainWindow;
class QMenuBar;

namespace ondexa {

class CanCheckForUpdates;
class EditorModel;
class EditorWindow;
class Updates;

// The program's menu commands: one set of actions shared by every window's
// menu bar. The Edit commands act on the model of the editor window active
// last (a menu open over it keeps it); with no editor active, cut, copy,
// paste and select all go to the widget that has the focus (or the nearest
// of its parents that has such a slot), and the other Edit commands are
// disabled.
class MenuCommands : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        std::function<void(const std::filesystem::path&)> openEditorWindow;
        std::function<void()> quit;
    };

    MenuCommands(Updates& updates, Hooks hooks, QObject* parent = nullptr);
    ~MenuCommands() override;

    // Gives the window a menu bar with the shared actions.
    void install(QMainWindow& window);

    // The model of the editor window that was active last, while no other
    // window of ours has become active since; null otherwise.
    EditorModel* activeEditor() const;

    QAction* open() const { return open_; }
    QAction* cut() const { return cut_; }
    QAction* copy() const { return copy_; }
    QAction* paste() const { return paste_; }
    QAction* duplicate() const { return duplicate_; }
    QAction* link() const { return link_; }
    QAction* unlink() const { return unlink_; }
    QAction* selectAll() const { return selectAll_; }
    QAction* saveProject() const { return save_; }
    QAction* saveProjectAs() const { return saveAs_; }
    QAction* undo() const { return undo_; }
    QAction* redo() const { return redo_; }
    QAction* about() const { return about_; }
    QAction* checkForUpdates() const { return checkUpdates_; }
    QAction* quit() const { return quit_; }

    // Re-reads the active editor and the enabled states.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* make(const QString& title, const QKeySequence& key, const char* name);
    // A standard action to the focus widget or its nearest parent with the slot.
    static void sendToFocus(const char* slot);
    // The editor window the commands act on (see activeEditor()).
    EditorWindow* focusedEditor() const;
    // Would this action call the active editor's model now?
    bool goesToEditor(const QAction* action) const;

    Updates& updates_;
    Hooks hooks_;
    CanCheckForUpdates* canCheck_ = nullptr;  // child of this
    QPointer<QWidget> editor_;  // the editor window active last (a QWidget: it may be in its destructor)
    std::vector<QMetaObject::Connection> editorConnections_;
    QAction* open_;
    QAction* cut_;
    QAction* copy_;
    QAction* paste_;
    QAction* duplicate_;
    QAction* link_;
    QAction* unlink_;
    QAction* selectAll_;
    QAction* save_;
    QAction* saveAs_;
    QAction* undo_;
    QAction* redo_;
    QAction* about_;
    QAction* checkUpdates_;
    QAction* quit_;
};

} // namespace ondexa
