#include "Ondexa/editor/inspector/SectionRows.h"

#include "Ondexa/editor/inspector/ClipGeometry.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace ondexa {

namespace {

constexpr int kSymbolSize = 16;
constexpr double kFadeStep = 0.01;  // seconds

void useSecondaryText(QLabel& label)
{
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, Theme::secondary());
    label.setPalette(palette);
}

QHBoxLayout* plainRow(QWidget* owner)
{
    auto* row = new QHBoxLayout(owner);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    return row;
}

} // namespace

TitleRow::TitleRow(const QString& symbol, const QString& title, QWidget* parent) : QWidget(parent)
{
    row_ = plainRow(this);
    icon_ = new QLabel(this);
    icon_->setFixedSize(kSymbolSize, kSymbolSize);
    text_ = new ElidedLabel({}, this);
    text_->setFont(Theme::font(Theme::bodySize, Theme::Weight::bold));
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row_->addWidget(icon_);
    row_->addWidget(text_, 1);
    setTitle(symbol, title);
}

void TitleRow::setTitle(const QString& symbol, const QString& title)
{
    if (symbol != symbol_) {
        symbol_ = symbol;
        icon_->setPixmap(Symbols::icon(symbol).pixmap(kSymbolSize, kSymbolSize));
    }
    title_ = title;
    text_->setText(title);
}

void TitleRow::addButton(QAbstractButton* button) { row_->addWidget(button); }

ValueRow::ValueRow(const QString& label, QWidget* parent) : QWidget(parent)
{
    row_ = plainRow(this);
    label_ = new QLabel(label, this);
    value_ = new QLabel(this);
    value_->setFont(Theme::monoFont(Theme::bodySize));
    useSecondaryText(*value_);
    row_->addWidget(label_);
    row_->addStretch(1);
    row_->addWidget(value_);
}

QString ValueRow::label() const { return label_->text(); }

QString ValueRow::valueText() const { return value_->text(); }

void ValueRow::setValueText(const QString& text) { value_->setText(text); }

void ValueRow::addButton(QAbstractButton* button) { row_->addWidget(button); }

QToolButton* symbolButton(const QString& symbol, const QString& toolTip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(QSize(kSymbolSize, kSymbolSize));
    button->setAutoRaise(true);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip.isEmpty() ? symbol : toolTip);
    return button;
}

QToolButton* deleteButton(const QString& toolTip, QWidget* parent)
{
    QToolButton* button = symbolButton("trash", toolTip, parent);
    button->setIcon(Symbols::tinted("trash", Theme::red()));
    return button;
}

FadeRows::FadeRows(EditorModel& model, std::optional<Uuid> clipID, const Clip& clip, QWidget* parent)
    : QWidget(parent), model_(model), clipID_(std::move(clipID))
{
    column_ = inspectorColumn(this);
    in_ = makeRow(true, clipgeometry::fadeLimit(clip.duration, clip.fadeOut));
    out_ = makeRow(false, clipgeometry::fadeLimit(clip.duration, clip.fadeIn));
    column_->addWidget(in_);
    column_->addWidget(out_);
    refresh(clip);
}

SliderRow* FadeRows::makeRow(bool in, double limit)
{
    const QString label = in ? QStringLiteral("Fade in") : QStringLiteral("Fade out");
    SliderRow::ClipSet set = in ? SliderRow::ClipSet([](Clip& clip, double v) { clip.fadeIn = v; })
                                : SliderRow::ClipSet([](Clip& clip, double v) { clip.fadeOut = v; });
    if (clipID_) return SliderRow::forPartner(model_, *clipID_, label, 0, limit, kFadeStep, set, this);
    return SliderRow::forClip(model_, label, 0, limit, kFadeStep, set, this);
}

void FadeRows::refresh(const Clip& clip)
{
    show(in_, true, clipgeometry::fadeLimit(clip.duration, clip.fadeOut), clip.fadeIn);
    show(out_, false, clipgeometry::fadeLimit(clip.duration, clip.fadeIn), clip.fadeOut);
}

void FadeRows::show(SliderRow*& row, bool in, double limit, double value)
{
    if (row->slider()->maximum() != limit && !row->isHeld()) {
        SliderRow* fresh = makeRow(in, limit);
        delete column_->replaceWidget(row, fresh);
        row->hide();
        row->deleteLater();
        row = fresh;
    }
    row->showValue(value, secondsText(value));
}

} // namespace ondexa
