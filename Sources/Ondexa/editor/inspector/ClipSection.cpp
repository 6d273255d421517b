#include "Ondexa/editor/inspector/ClipSection.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ClipGeometry.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/editor/inspector/OverlayRows.h"
#include "Ondexa/editor/inspector/SectionRows.h"
#include "Ondexa/editor/inspector/SectionTexts.h"
#include "Ondexa/model/TimeText.h"
#include "Ondexa/timeline/TimelinePainting.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/ToggleSwitch.h"
#include "Ondexa/ui/WheelPassing.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ondexa {

namespace geo = clipgeometry;
namespace texts = sectiontexts;

namespace {

// Slider steps: 1 % of size and volume, a tenth of a degree.
constexpr double kPercentStep = 0.01;
constexpr double kDegreeStep = 0.1;

int transitionIndex(const std::optional<Transition>& transition)
{
    const auto all = allTransitions();
    const auto found = std::find(all.begin(), all.end(), transition.value_or(Transition::dissolve));
    return found == all.end() ? 0 : int(found - all.begin());
}

SliderRow* makeRotationRow(EditorModel& model, QWidget* parent)
{
    return SliderRow::forClip(
        model, QStringLiteral("Forgatás"), -180, 180, kDegreeStep, [](Clip& clip, double v) { clip.rotation = v; },
        parent);
}

} // namespace

ClipSection::Block ClipSection::blockOf(const Clip& clip, const Track& track)
{
    if (clip.overlay) return Block::overlay;
    return track.isPicture() ? Block::picture : Block::sound;
}

ClipSection::ClipSection(EditorModel& model, const Uuid& clipID, const Uuid& trackID, QWidget* parent)
    : QWidget(parent), model_(model), clipID_(clipID), trackID_(trackID)
{
    QVBoxLayout* column = inspectorColumn(this);
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!clip || !track) return;  // refresh() reports it
    block_ = blockOf(*clip, *track);
    picture_ = track->isPicture();

    header_ = new TitleRow(texts::clipSymbol(*clip), texts::clipTitle(*clip, *track), this);
    column->addWidget(header_);
    length_ = new ValueRow(QStringLiteral("Hossz"), this);
    column->addWidget(length_);
    fades_ = new FadeRows(model_, std::nullopt, *clip, this);
    column->addWidget(fades_);

    if (picture_) {
        transition_ = new QComboBox(this);
        // Changed without an undo step: a wheel turned to scroll the panel
        // must not change it on the way past.
        passUnfocusedWheel(*transition_);
        for (Transition t : allTransitions())
            transition_->addItem(Symbols::icon(transitionSymbol(t)), transitionName(t));
        transition_->setToolTip(
            QStringLiteral("Hogyan jelenik meg a klip a beúszás alatt, és amikor egy másik klipre tolod (átfedés)"));
        auto* row = new QWidget(this);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(new QLabel(QStringLiteral("Átmenet"), row));
        line->addWidget(transition_, 1);
        column->addWidget(row);
        connect(transition_, &QComboBox::activated, this, &ClipSection::chooseTransition);
    }

    linkRow_ = new QWidget(this);
    auto* linkLine = new QHBoxLayout(linkRow_);
    linkLine->setContentsMargins(0, 0, 0, 0);
    linkLine->setSpacing(6);
    auto* linkIcon = new QLabel(linkRow_);
    linkIcon->setPixmap(Symbols::icon(QStringLiteral("link")).pixmap(12, 12));
    linkLine->addWidget(linkIcon, 0, Qt::AlignTop);
    linkNotice_ = inspectorCaption(texts::linkNotice(), linkRow_);
    linkLine->addWidget(linkNotice_, 1);
    column->addWidget(linkRow_);

    switch (block_) {
    case Block::overlay:
        overlayRows_ = new OverlayRows(model_, *clip->overlay, this);
        column->addWidget(overlayRows_);
        rotation_ = makeRotationRow(model_, this);
        column->addWidget(rotation_);
        break;
    case Block::picture: buildPictureRows(); break;
    case Block::sound:
        volume_ = SliderRow::forClip(
            model_, QStringLiteral("Klip hangereje"), 0, 4, kPercentStep,
            [](Clip& clip, double v) { clip.volume = float(v); }, this);
        column->addWidget(volume_);
        break;
    }

    column->addWidget(inspectorCaption(
        QStringLiteral("Időben változó méret, hely, forgatás vagy hangerő: Művelet (M) → sárga szakasz a klipen."),
        this));
    show(*clip, *track);
}

void ClipSection::buildPictureRows()
{
    auto* column = static_cast<QVBoxLayout*>(layout());
    EditorModel& model = model_;
    size_ = SliderRow::forClip(
        model_, QStringLiteral("Méret"), 0.1, 4, kPercentStep,
        [&model](Clip& clip, double v) { clip.frame = geo::sized(clip, model.aspect(), v); }, this);
    column->addWidget(size_);
    rotation_ = makeRotationRow(model_, this);
    column->addWidget(rotation_);

    auto* presetRow = new QWidget(this);
    auto* presetLine = new QHBoxLayout(presetRow);
    presetLine->setContentsMargins(0, 0, 0, 0);
    presetLine->setSpacing(6);
    struct Preset {
        const char* title;
        const char* toolTip;
        InspectorEdits::Change<Clip> change;
    };
    const Preset presets[] = {
        {"100 %", "Eredeti méret, középre, forgatás nélkül",
         [](Clip& clip) {
             clip.frame.reset();
             clip.rotation = 0;
         }},
        {"Kitöltés", "A teljes képet fedje (a kilógó rész levágódik)",
         [&model](Clip& clip) { clip.frame = geo::filling(model.aspect(), clip.aspect); }},
        {"Sarokba", "", [&model](Clip& clip) { clip.frame = geo::inCorner(model.aspect(), clip.aspect); }},
    };
    for (std::size_t i = 0; i < std::size(presets); ++i) {
        auto* button = new QPushButton(QString::fromUtf8(presets[i].title), presetRow);
        button->setToolTip(QString::fromUtf8(presets[i].toolTip));
        connect(button, &QPushButton::clicked, this,
                [&model, change = presets[i].change] { InspectorEdits::changeClip(model, change); });
        presetLine->addWidget(button, 1);
        presets_[i] = button;
    }
    column->addWidget(presetRow);

    auto* cornerRow = new ValueRow(QStringLiteral("Sarok"), this);
    const char* symbols[] = {"arrow.up.left", "arrow.up.right", "arrow.down.left", "arrow.down.right"};
    for (int corner = 0; corner < 4; ++corner) {
        QToolButton* button = symbolButton(QString::fromLatin1(symbols[corner]), QString(), cornerRow);
        connect(button, &QToolButton::clicked, this, [&model, corner] {
            InspectorEdits::changeClip(model,
                                       [&](Clip& clip) { clip.frame = geo::atCorner(clip, model.aspect(), corner); });
        });
        cornerRow->addButton(button);
        corners_[corner] = button;
    }
    column->addWidget(cornerRow);

    rounded_ = new SwitchRow(QStringLiteral("Lekerekített sarok, keret"), QString(), this);
    connect(rounded_->toggle(), &ToggleSwitch::clicked, this, [&model](bool on) {
        InspectorEdits::changeClip(model, [on](Clip& clip) { clip.rounded = on; });
    });
    column->addWidget(rounded_);
    column->addWidget(inspectorCaption(
        QStringLiteral("Az előnézetben húzással mozgathatod, a fehér pöttyel méretezheted."), this));
}

bool ClipSection::refresh()
{
    const auto clip = InspectorEdits::liveClip(model_, clipID_);
    const auto track = InspectorEdits::liveTrack(model_, trackID_);
    if (!clip || !track || !header_) return false;
    if (blockOf(*clip, *track) != block_ || track->isPicture() != picture_) return false;
    if (overlayRows_ && !overlayRows_->refresh(*clip->overlay)) return false;
    show(*clip, *track);
    return true;
}

void ClipSection::show(const Clip& clip, const Track& track)
{
    header_->setTitle(texts::clipSymbol(clip), texts::clipTitle(clip, track));
    length_->setValueText(QString::fromStdString(formatTime(clip.duration, true)));
    fades_->refresh(clip);
    if (transition_) {
        const QSignalBlocker blocker(transition_);
        transition_->setCurrentIndex(transitionIndex(clip.transition));
    }
    linkRow_->setVisible(clip.link.has_value());
    if (rotation_) rotation_->showValue(clip.rotation, roundedDegrees(clip.rotation));
    if (size_) {
        const double s = geo::size(clip, model_.aspect());
        size_->showValue(s, roundedPercent(s));
    }
    if (rounded_) rounded_->setChecked(clip.rounded);
    if (volume_) volume_->showValue(clip.volume, texts::volumePercent(clip.volume));
}

void ClipSection::chooseTransition(int index)
{
    const auto all = allTransitions();
    if (index < 0 || std::size_t(index) >= all.size()) return;
    auto clip = InspectorEdits::liveClip(model_, clipID_);
    if (!clip) return;
    const Transition chosen = all[std::size_t(index)];
    // Dissolve is what no transition looks like: it is stored as none.
    clip->transition = chosen == Transition::dissolve ? std::nullopt : std::optional<Transition>(chosen);
    model_.updateClip(*clip);
}

} // namespace ondexa
