#include "Ondexa/editor/inspector/PointerStyleRows.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ColorButton.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/RgbaColor.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <QVBoxLayout>

namespace ondexa {

namespace {

// Size factors move in hundredths.
constexpr double kFactorStep = 0.01;

} // namespace

PointerStyleRows::PointerStyleRows(EditorModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto change = [this](InspectorEdits::Change<CursorStyle> edit) {
        InspectorEdits::changeCursorStyle(model_, edit);
    };
    const auto slider = [&](const QString& label, double min, double max, SliderRow::Layout layout,
                            double CursorStyle::*field) {
        auto* row = new SliderRow(label, min, max, kFactorStep, layout, this);
        connect(row->slider(), &DoubleSlider::valueDelivered, this,
                [change, field](double v) { change([&](CursorStyle& s) { s.*field = v; }); });
        column->addWidget(row);
        return row;
    };
    const auto colour = [&](const QString& label, RGBA CursorStyle::*field) {
        auto* row = new ColorRow(label, this);
        connect(row->button(), &ColorButton::picked, this, [change, field](const QColor& c) {
            const RGBA rgba = rgbaFromColor(c);
            change([&](CursorStyle& s) { s.*field = rgba; });
        });
        column->addWidget(row);
        return row;
    };
    const auto toggle = [&](const QString& label, const QString& help, bool CursorStyle::*field) {
        auto* row = new SwitchRow(label, help, this);
        connect(row->toggle(), &QAbstractButton::clicked, this,
                [change, field](bool on) { change([&](CursorStyle& s) { s.*field = on; }); });
        column->addWidget(row);
        return row;
    };

    enabled_ = toggle("Saját egérmutató", "A felvétel közben rögzített egérmozgásra rajzolt mutató",
                      &CursorStyle::enabled);
    scale_ = slider("Méret", CursorStyle::minScale, CursorStyle::maxScale, SliderRow::Layout::inline_,
                    &CursorStyle::scale);
    fill_ = colour("Kitöltés", &CursorStyle::fill);
    outline_ = colour("Körvonal", &CursorStyle::outline);
    ring_ = toggle("Kör a mutató körül", "Színes gyűrű a mutató körül, hogy könnyen követhető legyen",
                   &CursorStyle::ring);
    ringColor_ = colour("Bal klikk / alap szín", &CursorStyle::ringColor);
    ringRightColor_ = colour("Jobb klikk szín", &CursorStyle::ringRightColor);
    ringSize_ = slider("Kör mérete", CursorStyle::minRingSize, CursorStyle::maxRingSize, SliderRow::Layout::bare,
                       &CursorStyle::ringSize);
    ringWidth_ = slider("Vastagság", CursorStyle::minRingWidth, CursorStyle::maxRingWidth, SliderRow::Layout::bare,
                        &CursorStyle::ringWidth);
    refresh();
}

void PointerStyleRows::refresh()
{
    const CursorStyle style = InspectorEdits::liveCursorStyle(model_);
    enabled_->setChecked(style.enabled);
    scale_->showValue(style.scale, roundedPercent(style.scale));
    fill_->setColor(style.fill);
    outline_->setColor(style.outline);
    ring_->setChecked(style.ring);
    ringColor_->setColor(style.ringColor);
    ringRightColor_->setColor(style.ringRightColor);
    ringSize_->showValue(style.ringSize);
    ringWidth_->showValue(style.ringWidth);

    for (QWidget* row : std::initializer_list<QWidget*>{scale_, fill_, outline_, ring_})
        row->setVisible(style.enabled);
    for (QWidget* row : std::initializer_list<QWidget*>{ringColor_, ringRightColor_, ringSize_, ringWidth_})
        row->setVisible(style.enabled && style.ring);
}

} // namespace ondexa
