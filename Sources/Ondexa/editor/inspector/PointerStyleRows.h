#pragma once

#include <QWidget>

namespace ondexa {

class ColorRow;
class EditorModel;
class SliderRow;
class SwitchRow;

// The look of the pointer the editor redraws: on or off, size, fill and
// outline, and a ring around it with colours for left and right clicks.
// Every change writes the whole style into the model at once, without an
// undo step. Rows that the style turns off are hidden and keep their values.
class PointerStyleRows : public QWidget {
    Q_OBJECT

public:
    explicit PointerStyleRows(EditorModel& model, QWidget* parent = nullptr);

    // Shows the model's style (the default style without one).
    void refresh();

    SwitchRow* enabledRow() const { return enabled_; }
    SliderRow* scaleRow() const { return scale_; }
    ColorRow* fillRow() const { return fill_; }
    ColorRow* outlineRow() const { return outline_; }
    SwitchRow* ringRow() const { return ring_; }
    ColorRow* ringColorRow() const { return ringColor_; }
    ColorRow* ringRightColorRow() const { return ringRightColor_; }
    SliderRow* ringSizeRow() const { return ringSize_; }
    SliderRow* ringWidthRow() const { return ringWidth_; }

private:
    EditorModel& model_;
    SwitchRow* enabled_ = nullptr;
    SliderRow* scale_ = nullptr;
    ColorRow* fill_ = nullptr;
    ColorRow* outline_ = nullptr;
    SwitchRow* ring_ = nullptr;
    ColorRow* ringColor_ = nullptr;
    ColorRow* ringRightColor_ = nullptr;
    SliderRow* ringSize_ = nullptr;
    SliderRow* ringWidth_ = nullptr;
};

} // namespace ondexa
