#pragma once

// The rows every inspector section is made of. A row shows values that its
// section hands it (`show…`, `setChecked`, `setColor`: never delivered back
// to the model) and reports what the user does; the factories below wire a
// row to the model with the undo rule of its kind (see InspectorEdits.h).
//
// Sections refresh rows in place: a slider that is held and an editor that
// has the focus keep what the user is doing (SliderRow::show leaves a held
// handle alone; callers skip a focused editor).

#include "Ondexa/model/Overlays.h"
#include "Ondexa/model/Timeline.h"
#include "Ondexa/model/Uuid.h"

#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QVBoxLayout;

namespace ondexa {

class ColorButton;
class DoubleSlider;
class EditorModel;
class ToggleSwitch;

class SliderRow : public QWidget {
    Q_OBJECT

public:
    enum class Layout {
        stacked,  // the label and the value text above the slider
        plain,    // the label above the slider, no value text
        inline_,  // label, slider and value text in one line
        bare,     // label and slider in one line, no value text
    };

    SliderRow(const QString& label, double minimum, double maximum, double step, Layout layout,
              QWidget* parent = nullptr);

    QString label() const;
    DoubleSlider* slider() const { return slider_; }
    // Null for the layouts without a value text.
    QLabel* valueLabel() const { return value_; }
    QString valueText() const;
    bool isHeld() const;

    // Shows a value and its text; a held handle stays where the user has it,
    // the text follows.
    void showValue(double value, const QString& text = {});

    // Value rows of a clip, an action and a partner clip: one undo step when
    // a drag begins, each value written without one.
    using ClipSet = std::function<void(Clip&, double)>;
    using ActionSet = std::function<void(TrackAction&, double)>;
    using TrackSet = std::function<void(Track&, double)>;
    using OverlaySet = std::function<void(Overlay&, double)>;
    static SliderRow* forClip(EditorModel& model, const QString& label, double minimum, double maximum, double step,
                              ClipSet set, QWidget* parent = nullptr, Layout layout = Layout::stacked);
    static SliderRow* forAction(EditorModel& model, const QString& label, double minimum, double maximum,
                                double step, ActionSet set, QWidget* parent = nullptr,
                                Layout layout = Layout::stacked);
    static SliderRow* forPartner(EditorModel& model, const Uuid& clipID, const QString& label, double minimum,
                                 double maximum, double step, ClipSet set, QWidget* parent = nullptr,
                                 Layout layout = Layout::stacked);
    // A track setting: updateTrack(undoable) per value.
    static SliderRow* forTrack(EditorModel& model, const Uuid& trackID, const QString& label, double minimum,
                               double maximum, double step, TrackSet set, QWidget* parent = nullptr,
                               Layout layout = Layout::stacked);
    // The overlay's plain sliders: one undo step per value.
    static SliderRow* forOverlay(EditorModel& model, const QString& label, double minimum, double maximum,
                                 double step, OverlaySet set, QWidget* parent = nullptr,
                                 Layout layout = Layout::plain);

private:
    QLabel* label_ = nullptr;
    QLabel* value_ = nullptr;
    DoubleSlider* slider_ = nullptr;
};

// A label, a flexible space and a switch. Connect to toggle()'s `clicked`:
// it fires for the user only.
class SwitchRow : public QWidget {
    Q_OBJECT

public:
    explicit SwitchRow(const QString& label, const QString& toolTip = {}, QWidget* parent = nullptr);

    QString label() const;
    ToggleSwitch* toggle() const { return toggle_; }
    bool isChecked() const;
    void setChecked(bool checked);  // delivers nothing

private:
    QLabel* label_ = nullptr;
    ToggleSwitch* toggle_ = nullptr;
};

// A label, a flexible space and a colour well; `button()->picked` reports
// each colour the user chose.
class ColorRow : public QWidget {
    Q_OBJECT

public:
    explicit ColorRow(const QString& label, QWidget* parent = nullptr);

    QString label() const;
    ColorButton* button() const { return button_; }
    void setColor(const RGBA& color);  // delivers nothing

private:
    QLabel* label_ = nullptr;
    ColorButton* button_ = nullptr;
};

// The panel's dividers and texts.
QFrame* inspectorDivider(QWidget* parent = nullptr);
QLabel* inspectorHeading(const QString& text, QWidget* parent = nullptr);
// Caption (small) and callout (body) texts in the secondary style, wrapped.
QLabel* inspectorCaption(const QString& text, QWidget* parent = nullptr);
QLabel* inspectorCallout(const QString& text, QWidget* parent = nullptr);

// The column a section lays its rows out in: leading alignment, 12 points
// between rows, no margins (the panel has them).
QVBoxLayout* inspectorColumn(QWidget* owner);

} // namespace ondexa
