#include "Ondexa/editor/inspector/InspectorRows.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ColorButton.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/RgbaColor.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace ondexa {

namespace {

QPalette secondaryText(QPalette palette)
{
    palette.setColor(QPalette::WindowText, Theme::secondary());
    return palette;
}

// The value text's box in a one-line row.
constexpr int kInlineValueWidth = 44;

} // namespace

SliderRow::SliderRow(const QString& label, double minimum, double maximum, double step, Layout layout,
                     QWidget* parent)
    : QWidget(parent)
{
    label_ = new QLabel(label, this);
    slider_ = new DoubleSlider(minimum, maximum, step, this);
    if (layout == Layout::stacked || layout == Layout::inline_) {
        value_ = new QLabel(this);
        value_->setFont(Theme::monoFont(Theme::bodySize));
        value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    switch (layout) {
    case Layout::stacked: {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        auto* top = new QHBoxLayout();
        top->setSpacing(8);
        top->addWidget(label_);
        top->addStretch(1);
        value_->setPalette(secondaryText(value_->palette()));
        top->addWidget(value_);
        column->addLayout(top);
        column->addWidget(slider_);
        break;
    }
    case Layout::plain: {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        column->addWidget(label_);
        column->addWidget(slider_);
        break;
    }
    case Layout::inline_:
    case Layout::bare: {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        row->addWidget(label_);
        row->addWidget(slider_, 1);
        if (value_) {
            value_->setFixedWidth(kInlineValueWidth);
            row->addWidget(value_);
        }
        break;
    }
    }
}

QString SliderRow::label() const { return label_->text(); }

QString SliderRow::valueText() const { return value_ ? value_->text() : QString(); }

bool SliderRow::isHeld() const { return slider_->isHeld(); }

void SliderRow::showValue(double value, const QString& text)
{
    if (!slider_->isHeld()) slider_->setValue(value);
    if (value_) value_->setText(text);
}

SliderRow* SliderRow::forClip(EditorModel& model, const QString& label, double minimum, double maximum, double step,
                              ClipSet set, QWidget* parent, Layout layout)
{
    auto* row = new SliderRow(label, minimum, maximum, step, layout, parent);
    connect(row->slider_, &DoubleSlider::dragStarted, row, [&model] { model.pushUndo(); });
    connect(row->slider_, &DoubleSlider::valueDelivered, row, [&model, set](double v) {
        InspectorEdits::writeClip(model, [&](Clip& clip) { set(clip, v); });
    });
    return row;
}

SliderRow* SliderRow::forAction(EditorModel& model, const QString& label, double minimum, double maximum,
                                double step, ActionSet set, QWidget* parent, Layout layout)
{
    auto* row = new SliderRow(label, minimum, maximum, step, layout, parent);
    connect(row->slider_, &DoubleSlider::dragStarted, row, [&model] { model.pushUndo(); });
    connect(row->slider_, &DoubleSlider::valueDelivered, row, [&model, set](double v) {
        InspectorEdits::writeAction(model, [&](TrackAction& action) { set(action, v); });
    });
    return row;
}

SliderRow* SliderRow::forPartner(EditorModel& model, const Uuid& clipID, const QString& label, double minimum,
                                 double maximum, double step, ClipSet set, QWidget* parent, Layout layout)
{
    auto* row = new SliderRow(label, minimum, maximum, step, layout, parent);
    connect(row->slider_, &DoubleSlider::dragStarted, row, [&model] { model.pushUndo(); });
    connect(row->slider_, &DoubleSlider::valueDelivered, row, [&model, clipID, set](double v) {
        InspectorEdits::writeClip(model, clipID, [&](Clip& clip) { set(clip, v); });
    });
    return row;
}

SliderRow* SliderRow::forTrack(EditorModel& model, const Uuid& trackID, const QString& label, double minimum,
                               double maximum, double step, TrackSet set, QWidget* parent, Layout layout)
{
    auto* row = new SliderRow(label, minimum, maximum, step, layout, parent);
    connect(row->slider_, &DoubleSlider::valueDelivered, row, [&model, trackID, set](double v) {
        InspectorEdits::changeTrack(model, trackID, [&](Track& track) { set(track, v); });
    });
    return row;
}

SliderRow* SliderRow::forOverlay(EditorModel& model, const QString& label, double minimum, double maximum,
                                 double step, OverlaySet set, QWidget* parent, Layout layout)
{
    auto* row = new SliderRow(label, minimum, maximum, step, layout, parent);
    connect(row->slider_, &DoubleSlider::valueDelivered, row, [&model, set](double v) {
        InspectorEdits::changeOverlay(model, [&](Overlay& overlay) { set(overlay, v); });
    });
    return row;
}

SwitchRow::SwitchRow(const QString& label, const QString& toolTip, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    label_ = new QLabel(label, this);
    toggle_ = new ToggleSwitch(this);
    toggle_->setAccessibleName(label);
    row->addWidget(label_);
    row->addStretch(1);
    row->addWidget(toggle_);
    if (!toolTip.isEmpty()) setToolTip(toolTip);
}

QString SwitchRow::label() const { return label_->text(); }

bool SwitchRow::isChecked() const { return toggle_->isChecked(); }

void SwitchRow::setChecked(bool checked)
{
    const QSignalBlocker blocker(toggle_);
    toggle_->setChecked(checked);
}

ColorRow::ColorRow(const QString& label, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    label_ = new QLabel(label, this);
    button_ = new ColorButton(label, this);
    row->addWidget(label_);
    row->addStretch(1);
    row->addWidget(button_);
}

QString ColorRow::label() const { return label_->text(); }

void ColorRow::setColor(const RGBA& color) { button_->setColor(rgbaColor(color)); }

QFrame* inspectorDivider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setStyleSheet("background: rgba(255, 255, 255, 38); border: none;");
    line->setObjectName("divider");
    return line;
}

QLabel* inspectorHeading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(Theme::font(Theme::bodySize, Theme::Weight::bold));
    return label;
}

QLabel* inspectorCaption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(Theme::font(Theme::captionSize + 1));
    label->setPalette(secondaryText(label->palette()));
    return label;
}

QLabel* inspectorCallout(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(Theme::font(Theme::bodySize - 1));
    label->setPalette(secondaryText(label->palette()));
    return label;
}

QVBoxLayout* inspectorColumn(QWidget* owner)
{
    auto* column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->setAlignment(Qt::AlignTop);
    return column;
}

} // namespace ondexa
