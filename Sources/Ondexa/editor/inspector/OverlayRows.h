#pragma once

#include "Ondexa/model/Overlays.h"

#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QComboBox;
class QPlainTextEdit;

namespace ondexa {

class ColorRow;
class EditorModel;
class SliderRow;
class SwitchRow;

// The rows that edit the selected clip's overlay: text, alignment, font,
// weight, size, colour and background of a text; colour and line width of
// an arrow, rectangle or ellipse; nothing for a zoom or picture-in-picture.
// Every control writes one undo step per change it delivers, the sliders one
// per value.
//
// While the text editor has the focus the model's isEditingText is true; it
// turns false when the editor loses the focus or is destroyed with it.
// The text editor keeps no undo of its own: its menu offers none, and its
// undo and redo keys are left to the model's commands.
class OverlayRows : public QWidget {
    Q_OBJECT

public:
    OverlayRows(EditorModel& model, const Overlay& overlay, QWidget* parent = nullptr);
    ~OverlayRows() override;

    OverlayKind kind() const { return kind_; }
    // Shows the overlay's values again; false for an overlay of another kind
    // (rows of another shape). A held slider keeps what the user is doing;
    // the text editor, focused or not, shows the model's text.
    bool refresh(const Overlay& overlay);

    // For tests and the section around it.
    QPlainTextEdit* textEditor() const { return text_; }
    QButtonGroup* alignmentGroup() const { return alignment_; }
    QComboBox* fontPicker() const { return font_; }
    SwitchRow* boldRow() const { return bold_; }
    SliderRow* fontSizeRow() const { return fontSize_; }
    SliderRow* lineWidthRow() const { return lineWidth_; }
    ColorRow* colorRow() const { return color_; }
    SwitchRow* backgroundRow() const { return background_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildShapeRows();
    void buildTextRows();
    void setTextFocused(bool focused);
    void showText(const QString& text);

    EditorModel& model_;
    // The model outlives every widget of its window but for the window's own
    // tear-down, which the destructor must survive.
    QPointer<EditorModel> guard_;
    OverlayKind kind_;
    bool textFocused_ = false;
    QPlainTextEdit* text_ = nullptr;
    QString shownText_;  // the text the editor and the model last agreed on
    QButtonGroup* alignment_ = nullptr;
    QComboBox* font_ = nullptr;
    SwitchRow* bold_ = nullptr;
    SliderRow* fontSize_ = nullptr;
    SliderRow* lineWidth_ = nullptr;
    ColorRow* color_ = nullptr;
    SwitchRow* background_ = nullptr;
};

} // namespace ondexa
