#include "Ondexa/editor/inspector/TrackSection.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/SectionRows.h"
#include "Ondexa/editor/inspector/SectionTexts.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/rendering/AudioMixBuilder.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace ondexa {

namespace texts = sectiontexts;

namespace {

constexpr double kPercentStep = 0.01;
constexpr double kDecibelStep = 1;

bool isSound(const Track& track) { return track.media.kind == MediaKind::audio; }

} // namespace

TrackSection::TrackSection(EditorModel& model, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), trackID_(trackID)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!track) return;  // refresh() reports it
    sound_ = isSound(*track);

    header_ = new TitleRow(TrackHeaders::symbolFor(*track), texts::trackTitle(*track), this);
    delete_ = ondexa::deleteButton(QStringLiteral("Sáv törlése"), header_);
    connect(delete_, &QAbstractButton::clicked, this, [this] { model_.deleteTrack(trackID_); });
    header_->addButton(delete_);
    column->addWidget(header_);

    auto* order = new ValueRow(QStringLiteral("Sorrend"), this);
    up_ = symbolButton(QStringLiteral("arrow.up"), QStringLiteral("Sáv feljebb (képeknél: előrébb)"), order);
    down_ = symbolButton(QStringLiteral("arrow.down"), QStringLiteral("Sáv lejjebb (képeknél: hátrébb)"), order);
    connect(up_, &QAbstractButton::clicked, this, [this] { model_.moveTrack(trackID_, -1); });
    connect(down_, &QAbstractButton::clicked, this, [this] { model_.moveTrack(trackID_, 1); });
    order->addButton(up_);
    order->addButton(down_);
    column->addWidget(order);

    if (sound_) {
        buildSoundRows();
    } else {
        visible_ = new SwitchRow(QStringLiteral("Látható"), QString(), this);
        connect(visible_->toggle(), &ToggleSwitch::clicked, this, [this](bool on) {
            InspectorEdits::changeTrack(model_, trackID_, [on](Track& t) { t.hidden = !on; });
        });
        column->addWidget(visible_);
    }

    caption_ = inspectorCaption(QString(), this);
    column->addWidget(caption_);
    show(*track);
}

void TrackSection::buildSoundRows()
{
    auto* column = static_cast<QVBoxLayout*>(layout());
    mute_ = new SwitchRow(QStringLiteral("Némítás"), QString(), this);
    connect(mute_->toggle(), &ToggleSwitch::clicked, this, [this](bool on) {
        InspectorEdits::changeTrack(model_, trackID_, [on](Track& t) { t.muted = on; });
    });
    column->addWidget(mute_);

    volume_ = SliderRow::forTrack(
        model_, trackID_, QStringLiteral("Sáv hangereje"), 0, 4, kPercentStep,
        [](Track& t, double v) { t.volume = float(v); }, this);
    column->addWidget(volume_);

    maximize_ = new SwitchRow(QStringLiteral("Maximalizálás (MAX)"),
                              QStringLiteral("A lehető leghangosabbra emeli a sávot torzítás nélkül: automatikus "
                                             "erősítés + előretekintő limiter \u22121 dB-nél"),
                              this);
    connect(maximize_->toggle(), &ToggleSwitch::clicked, this, [this](bool on) {
        InspectorEdits::changeTrack(model_, trackID_, [on](Track& t) { t.maximize = on; });
    });
    column->addWidget(maximize_);

    maximizer_ = new QWidget(this);
    auto* block = new QVBoxLayout(maximizer_);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(2);
    boost_ = SliderRow::forTrack(
        model_, trackID_, QStringLiteral("Plusz erősítés"), -6, 12, kDecibelStep,
        [](Track& t, double v) { t.maximizeBoost = v; }, maximizer_);
    automaticGain_ = inspectorCaption(QString(), maximizer_);
    block->addWidget(boost_);
    block->addWidget(automaticGain_);
    column->addWidget(maximizer_);
}

bool TrackSection::refresh()
{
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!header_ || !track || isSound(*track) != sound_) return false;
    show(*track);
    return true;
}

void TrackSection::show(const Track& track)
{
    header_->setTitle(TrackHeaders::symbolFor(track), texts::trackTitle(track));
    caption_->setText(texts::clipCount(track.clips.size()));
    if (!sound_) {
        visible_->setChecked(!track.hidden);
        return;
    }
    mute_->setChecked(track.muted);
    volume_->showValue(track.volume, texts::volumePercent(track.volume));
    maximize_->setChecked(track.maximize);
    maximizer_->setVisible(track.maximize);
    if (!track.maximize) return;
    boost_->showValue(track.maximizeBoost, decibelText(track.maximizeBoost));
    automaticGain_->setText(texts::automaticGain(maximizerGain(track, model_.peaks()), track.maximizeBoost));
}

} // namespace ondexa
