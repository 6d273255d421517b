#include "Ondexa/editor/inspector/PartnerRows.h"

#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/SectionRows.h"
#include "Ondexa/editor/inspector/SectionTexts.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "Ondexa/editor/inspector/TrackSection.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ondexa {

namespace texts = sectiontexts;

PartnerRows::PartnerRows(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), clipID_(clipID), trackID_(trackID)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!clip || !track) return;  // refresh() reports it
    sound_ = track->media.kind == MediaKind::audio;

    header_ = new TitleRow(TrackHeaders::symbolFor(*track), texts::partnerTitle(*track), this);
    column->addWidget(header_);
    if (!sound_) {
        pictureCaption_ = inspectorCaption(texts::partnerPictureCaption(), this);
        column->addWidget(pictureCaption_);
        return;
    }
    volume_ = SliderRow::forPartner(
        model_, clipID_, QStringLiteral("Klip hangereje"), 0, 4, 0.01,
        [](Clip& partner, double v) { partner.volume = float(v); }, this);
    column->addWidget(volume_);
    fades_ = new FadeRows(model_, clipID_, *clip, this);
    column->addWidget(fades_);
    track_ = new TrackSection(model_, trackID_, this);
    column->addWidget(track_);
    refresh();
}

bool PartnerRows::refresh()
{
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!header_ || !clip || !track || (track->media.kind == MediaKind::audio) != sound_) return false;
    header_->setTitle(TrackHeaders::symbolFor(*track), texts::partnerTitle(*track));
    if (!sound_) return true;
    volume_->showValue(clip->volume, texts::volumePercent(clip->volume));
    fades_->refresh(*clip);
    return track_->refresh();
}

} // namespace ondexa
