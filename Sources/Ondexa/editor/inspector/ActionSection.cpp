#include "Ondexa/editor/inspector/ActionSection.h"

#include "Ondexa/editor/inspector/ActionTimes.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/SectionRows.h"
#include "Ondexa/editor/inspector/SectionTexts.h"
#include "Ondexa/model/TimeText.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace ondexa {

namespace texts = sectiontexts;

namespace {

constexpr double kPercentStep = 0.01;
constexpr double kDegreeStep = 0.1;

bool onSoundTrack(const EditorModel::SelectedAction& selected)
{
    return selected.track.media.kind == MediaKind::audio;
}

} // namespace

ActionSection::ActionSection(EditorModel& model, const Uuid& actionID, QWidget* parent)
    : QWidget(parent), model_(model), actionID_(actionID)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto selected = model_.selectedAction();
    if (!selected || selected->action.id != actionID_) return;  // refresh() reports it
    sound_ = onSoundTrack(*selected);

    header_ = new TitleRow(QStringLiteral("sparkles"), texts::actionTitle(selected->clip, selected->track), this);
    delete_ = ondexa::deleteButton(QStringLiteral("Művelet törlése"), header_);
    connect(delete_, &QAbstractButton::clicked, this, [this] { model_.deleteAction(actionID_); });
    header_->addButton(delete_);
    column->addWidget(header_);

    const auto timeRow = [this, column](const QString& title, bool start, QAbstractButton*& button) {
        auto* row = new ValueRow(title, this);
        button = symbolButton(QStringLiteral("arrow.down.to.line"), title + QStringLiteral(" a lejátszófejhez"), row);
        connect(button, &QAbstractButton::clicked, this, [this, start] { moveToPlayhead(start); });
        row->addButton(button);
        column->addWidget(row);
        return row;
    };
    start_ = timeRow(QStringLiteral("Kezdete"), true, startButton_);
    end_ = timeRow(QStringLiteral("Vége"), false, endButton_);

    returns_ = new SwitchRow(
        QStringLiteral("A végén visszaáll"),
        QStringLiteral("Bekapcsolva a szakasz végén visszamegy az előző állapotra; kikapcsolva az új beállítás megmarad"),
        this);
    connect(returns_->toggle(), &ToggleSwitch::clicked, this, [this](bool on) {
        InspectorEdits::changeAction(model_, [on](TrackAction& action) { action.returns = on; });
    });
    column->addWidget(returns_);

    if (sound_) buildSoundRows();
    else buildPictureRows();
    show(*selected);
}

void ActionSection::buildSoundRows()
{
    auto* column = static_cast<QVBoxLayout*>(layout());
    volume_ = SliderRow::forAction(
        model_, QStringLiteral("Hangerő"), 0, 4, kPercentStep,
        [](TrackAction& action, double v) { action.volume = float(v); }, this);
    column->addWidget(volume_);
    auto* reset = new QPushButton(QStringLiteral("Alaphelyzet"), this);
    connect(reset, &QPushButton::clicked, this, [this] {
        InspectorEdits::changeAction(model_, [](TrackAction& action) { action.volume.reset(); });
    });
    reset_ = reset;
    column->addWidget(reset, 0, Qt::AlignLeft);
}

void ActionSection::buildPictureRows()
{
    auto* column = static_cast<QVBoxLayout*>(layout());
    const auto slider = [this, column](const QString& title, double minimum, double maximum, double step,
                                       SliderRow::ActionSet set) {
        SliderRow* row = SliderRow::forAction(model_, title, minimum, maximum, step, std::move(set), this);
        column->addWidget(row);
        return row;
    };
    scale_ = slider(QStringLiteral("Méret"), 0.1, 4, kPercentStep, [](TrackAction& a, double v) { a.scale = v; });
    rotation_ =
        slider(QStringLiteral("Forgatás"), -180, 180, kDegreeStep, [](TrackAction& a, double v) { a.rotation = v; });
    centerX_ = slider(QStringLiteral("Vízszintes hely"), -0.5, 1.5, kPercentStep,
                      [](TrackAction& a, double v) { a.centerX = v; });
    centerY_ = slider(QStringLiteral("Függőleges hely"), -0.5, 1.5, kPercentStep,
                      [](TrackAction& a, double v) { a.centerY = v; });

    auto* buttons = new QWidget(this);
    auto* line = new QHBoxLayout(buttons);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(6);
    auto* centre = new QPushButton(QStringLiteral("Középre"), buttons);
    connect(centre, &QPushButton::clicked, this, [this] {
        InspectorEdits::changeAction(model_, [](TrackAction& action) {
            action.centerX = 0.5;
            action.centerY = 0.5;
        });
    });
    auto* reset = new QPushButton(QStringLiteral("Alaphelyzet"), buttons);
    reset->setToolTip(QStringLiteral("A művelet ne változtasson semmin"));
    connect(reset, &QPushButton::clicked, this, [this] {
        InspectorEdits::changeAction(model_, [](TrackAction& action) {
            action.scale.reset();
            action.rotation.reset();
            action.centerX.reset();
            action.centerY.reset();
        });
    });
    line->addWidget(centre, 1);
    line->addWidget(reset, 1);
    centre_ = centre;
    reset_ = reset;
    column->addWidget(buttons);
    column->addWidget(inspectorCaption(
        QStringLiteral("Az előnézetben húzással a helyét, a fehér pöttyel a méretét állíthatod (a művelet célállapotát)."),
        this));
}

bool ActionSection::refresh()
{
    const auto selected = model_.selectedAction();
    if (!header_ || !selected || selected->action.id != actionID_ || onSoundTrack(*selected) != sound_) return false;
    show(*selected);
    return true;
}

void ActionSection::show(const EditorModel::SelectedAction& selected)
{
    const Clip& clip = selected.clip;
    const TrackAction& action = selected.action;
    header_->setTitle(QStringLiteral("sparkles"), texts::actionTitle(clip, selected.track));
    start_->setValueText(QString::fromStdString(formatTime(clip.start + action.start, true)));
    end_->setValueText(QString::fromStdString(formatTime(clip.start + action.end, true)));
    returns_->setChecked(action.returns);
    if (sound_) {
        const double volume = action.volume ? double(*action.volume) : double(clip.volume);
        volume_->showValue(volume, roundedPercent(volume));
        return;
    }
    const PictureState p = clip.targetState(action, model_.aspect());
    scale_->showValue(p.scale, roundedPercent(p.scale));
    rotation_->showValue(p.rotation, roundedDegrees(p.rotation));
    centerX_->showValue(p.centerX, printfPercent(p.centerX * 100));
    centerY_->showValue(p.centerY, printfPercent(p.centerY * 100));
}

void ActionSection::moveToPlayhead(bool start)
{
    const auto selected = model_.selectedAction();
    if (!selected) return;
    const double clipStart = selected->clip.start;
    const double playhead = model_.clock().time();
    InspectorEdits::changeAction(model_, [&](TrackAction& action) {
        action = start ? actiontimes::startingAt(action, clipStart, playhead)
                       : actiontimes::endingAt(action, clipStart, playhead);
    });
}

} // namespace ondexa
