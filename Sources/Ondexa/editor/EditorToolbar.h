#pragma once

// The strip between the preview and the timeline: transport with the time
// code centred over it, snapping, undo and redo, the timeline zoom, and the
// editing buttons, with the editor's single-key shortcuts. It keeps no state
// of the document: every control reads the model and calls one operation.
//
// The shortcuts belong to the window (any focus inside it) and are taken
// off while a text field of the editor is being typed into, so the keys
// reach the field. No control takes the keyboard focus, so none of them eats
// the space bar or the arrows.

#include <QKeySequence>
#include <QPointer>
#include <QWidget>

#include <vector>

class QAbstractButton;
class QShortcut;
class QSlider;
class QToolButton;

namespace ondexa {

class EditorModel;
class LcdTimeDisplay;

class EditorToolbar final : public QWidget {
    Q_OBJECT

public:
    explicit EditorToolbar(EditorModel& model, QWidget* parent = nullptr);

    // A control by its object name ("split", "play", "undo", "fit", …).
    QAbstractButton* button(const QString& name) const;
    QSlider* zoomSlider() const { return zoom_; }
    LcdTimeDisplay* timeDisplay() const { return lcd_; }
    QWidget* transportRow() const { return transport_; }
    // Whether the single-key shortcuts are attached now.
    bool shortcutsAttached() const { return attached_; }

    // Re-reads the zoom (the visible timeline width is not published).
    void refreshZoom();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Shortcut {
        QShortcut* shortcut;
        QKeySequence key;
    };

    QToolButton* addButton(QWidget* row, const QString& name, const QString& symbol, const QString& title,
                           const QString& help);
    void bindKey(const QKeySequence& key, void (EditorToolbar::*action)());
    void attachShortcuts(bool attach);
    void refresh();
    void placeTimeDisplay();

    void split();
    void trimFront();
    void trimEnd();
    void addAction();
    void setMarkIn();
    void setMarkOut();
    void deleteSelection();
    void rippleDelete();
    void back();
    void forward();
    void togglePlay();
    void escape();
    void zoomMoved(int position);
    void fit();

    QPointer<EditorModel> model_;
    QWidget* transport_ = nullptr;
    LcdTimeDisplay* lcd_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* snap_ = nullptr;
    QToolButton* undo_ = nullptr;
    QToolButton* redo_ = nullptr;
    QSlider* zoom_ = nullptr;
    std::vector<Shortcut> shortcuts_;
    bool attached_ = false;
};

} // namespace ondexa
