#include "Ondexa/editor/inspector/InspectorPanel.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ActionSection.h"
#include "Ondexa/editor/inspector/ClipSection.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/PartnerRows.h"
#include "Ondexa/editor/inspector/PointerStyleRows.h"
#include "Ondexa/editor/inspector/TrackSection.h"
#include "Ondexa/ui/QtTexts.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleSwitch.h"
#include "Ondexa/ui/VendalumHeader.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace ondexa {

namespace {

constexpr std::array<OverlayKind, 4> kAddableKinds{OverlayKind::text, OverlayKind::arrow, OverlayKind::rectangle,
                                                   OverlayKind::ellipse};

QPushButton* addButton(const QString& title, const QString& symbol, QWidget* parent)
{
    auto* button = new QPushButton(Symbols::icon(symbol), title, parent);
    button->setMinimumWidth(10);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet("text-align: left;");
    return button;
}

void openMediaDialog(QWidget* parent, const InspectorPanel::ChosenFile& chosen)
{
    auto* dialog = new QFileDialog(parent, "Videó vagy kép hozzáadása");
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(InspectorPanel::mediaNameFilters());
    // Hundreds of patterns: the type list shows the names alone.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    speakHungarian(*dialog);
    // One answer whichever way the dialog ends.
    auto answered = std::make_shared<bool>(false);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen, answered](const QString& file) {
        *answered = true;
        chosen(file.isEmpty() ? std::nullopt : std::optional(std::filesystem::path(file.toStdString())));
    });
    QObject::connect(dialog, &QDialog::finished, dialog, [chosen, answered](int) {
        if (!*answered) chosen(std::nullopt);
        *answered = true;
    });
    dialog->open();
}

} // namespace

QStringList InspectorPanel::mediaNameFilters()
{
    // Every movie and picture type the system knows by name; the importer
    // tells the ones it can't read when they are chosen.
    QStringList globs;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
        const QString name = type.name();
        if (!name.startsWith("video/") && !name.startsWith("image/")) continue;
        for (const QString& glob : type.globPatterns())
            // A space or a bracket would break the filter's list apart.
            if (!glob.contains(' ') && !glob.contains('(') && !glob.contains(')'))
                globs << glob;
    }
    globs.sort(Qt::CaseInsensitive);
    globs.removeDuplicates();
    return {"Videók és képek (" + globs.join(' ') + ")", "Minden fájl (*)"};
}

QString InspectorPanel::overlayTitle(OverlayKind kind)
{
    switch (kind) {
    case OverlayKind::text: return "Szöveg";
    case OverlayKind::arrow: return "Nyíl";
    case OverlayKind::rectangle: return "Téglalap";
    case OverlayKind::ellipse: return "Ellipszis";
    case OverlayKind::zoom: return "Közelítés";
    case OverlayKind::pip: return "Kép a képben";
    }
    return {};
}

QString InspectorPanel::overlaySymbol(OverlayKind kind)
{
    switch (kind) {
    case OverlayKind::text: return "textformat";
    case OverlayKind::arrow: return "arrow.up.right";
    case OverlayKind::rectangle: return "rectangle";
    case OverlayKind::ellipse: return "circle";
    case OverlayKind::zoom: return "plus.magnifyingglass";
    case OverlayKind::pip: return "pip";
    }
    return {};
}

InspectorPanel::InspectorPanel(EditorModel& model, QWidget* parent)
    : QScrollArea(parent), model_(model), openDialog_(openMediaDialog)
{
    setFixedWidth(280);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::panel());
    setPalette(palette);

    auto* content = new QWidget();
    content->setAutoFillBackground(true);
    content->setPalette(palette);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);
    column->setAlignment(Qt::AlignTop);

    column->addWidget(new VendalumHeader("Szerkesztő", content));
    column->addWidget(inspectorDivider(content));
    column->addWidget(inspectorHeading("Hozzáadás", content));

    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    const auto place = [&](QPushButton* button) {
        const int index = int(addButtons_.size());
        grid->addWidget(button, index / 2, index % 2);
        addButtons_.append(button);
    };
    for (const OverlayKind kind : kAddableKinds) {
        QPushButton* button = addButton(overlayTitle(kind), overlaySymbol(kind), content);
        connect(button, &QPushButton::clicked, this, [this, kind] { model_.addOverlay(kind); });
        place(button);
    }
    QPushButton* media = addButton("Videó / kép", "photo.on.rectangle", content);
    connect(media, &QPushButton::clicked, this, &InspectorPanel::chooseMedia);
    place(media);
    QPushButton* action = addButton("Művelet", "sparkles", content);
    connect(action, &QPushButton::clicked, this, [this] { model_.addAction(); });
    place(action);
    column->addLayout(grid);

    column->addWidget(inspectorCaption("Az új elem a lejátszófejnél jelenik meg, vagy a kezdő–végpont tartományra "
                                       "kerül. A behúzott videó és hangja külön sávot kap; kép alapból 3 mp.",
                                       content));

    clicksRow_ = new SwitchRow("Kattintások kiemelése", {}, content);
    connect(clicksRow_->toggle(), &QAbstractButton::clicked, this, [this](bool on) { model_.setShowClicks(on); });
    column->addWidget(clicksRow_);

    pointerRows_ = new PointerStyleRows(model_, content);
    column->addWidget(pointerRows_);

    column->addWidget(inspectorDivider(content));

    sectionArea_ = new QWidget(content);
    sectionColumn_ = inspectorColumn(sectionArea_);
    column->addWidget(sectionArea_);
    column->addStretch(1);
    setWidget(content);

    for (auto signal : {&EditorModel::tracksChanged, &EditorModel::selectedClipsChanged,
                        &EditorModel::selectedTrackIDChanged, &EditorModel::selectedActionIDChanged,
                        &EditorModel::hasClicksChanged, &EditorModel::showClicksChanged,
                        &EditorModel::cursorStyleChanged, &EditorModel::peaksChanged})
        connect(&model_, signal, this, &InspectorPanel::refresh);
    refresh();
}

void InspectorPanel::setOpenDialog(OpenDialog dialog) { openDialog_ = dialog ? std::move(dialog) : openMediaDialog; }

void InspectorPanel::chooseMedia()
{
    QPointer<EditorModel> model(&model_);
    openDialog_(this, [model](std::optional<std::filesystem::path> file) {
        if (file && model) model->addMedia(*file);
    });
}

void InspectorPanel::refresh()
{
    clicksRow_->setVisible(model_.hasClicks());
    clicksRow_->setChecked(model_.showClicks());
    pointerRows_->setVisible(model_.cursorStyle().has_value());
    if (model_.cursorStyle()) pointerRows_->refresh();

    const Shown shown = shownNow();
    if (shown_ && *shown_ == shown && refreshSections()) return;
    buildSections(shown);
}

InspectorPanel::Shown InspectorPanel::shownNow() const
{
    Shown shown;
    if (const auto selected = model_.selectedAction()) {
        shown.kind = Shown::Kind::action;
        shown.action = selected->action.id;
        shown.clip = selected->clip.id;
        shown.track = selected->track.id;
    } else if (const auto placed = model_.selectedClip()) {
        shown.kind = Shown::Kind::clip;
        shown.clip = placed->clip->id;
        shown.track = placed->track->id;
        for (const EditorModel::PlacedClip& partner : model_.linkedPartners())
            shown.partners.emplace_back(partner.clip->id, partner.track->id);
    } else if (const Track* track = model_.selectedTrack()) {
        shown.kind = Shown::Kind::track;
        shown.track = track->id;
    }
    return shown;
}

bool InspectorPanel::refreshSections()
{
    for (QWidget* widget : sections_) {
        if (auto* s = qobject_cast<ActionSection*>(widget); s && !s->refresh()) return false;
        if (auto* s = qobject_cast<ClipSection*>(widget); s && !s->refresh()) return false;
        if (auto* s = qobject_cast<TrackSection*>(widget); s && !s->refresh()) return false;
        if (auto* s = qobject_cast<PartnerRows*>(widget); s && !s->refresh()) return false;
    }
    return true;
}

void InspectorPanel::buildSections(const Shown& shown)
{
    // A row may have started this from inside its own signal: the old
    // widgets go later, not now.
    for (QWidget* widget : sections_) {
        sectionColumn_->removeWidget(widget);
        widget->hide();
        widget->deleteLater();
    }
    sections_.clear();
    shown_ = shown;

    const auto add = [this](QWidget* widget) {
        sectionColumn_->addWidget(widget);
        sections_.append(widget);
        // At once, not when the layout gets to it: a test or the window may look now.
        widget->show();
    };
    switch (shown.kind) {
    case Shown::Kind::action: add(new ActionSection(model_, shown.action, sectionArea_)); break;
    case Shown::Kind::clip:
        add(new ClipSection(model_, shown.clip, shown.track, sectionArea_));
        add(inspectorDivider(sectionArea_));
        add(new TrackSection(model_, shown.track, sectionArea_));
        for (const auto& [clip, track] : shown.partners) {
            add(inspectorDivider(sectionArea_));
            add(new PartnerRows(model_, clip, track, sectionArea_));
        }
        break;
    case Shown::Kind::track: add(new TrackSection(model_, shown.track, sectionArea_)); break;
    case Shown::Kind::hint:
        add(inspectorCallout("Kattints egy klipre vagy sávra a beállításokhoz.", sectionArea_));
        break;
    }
}

QList<QWidget*> InspectorPanel::sectionWidgets() const { return sections_; }

ActionSection* InspectorPanel::actionSection() const
{
    for (QWidget* widget : sections_)
        if (auto* section = qobject_cast<ActionSection*>(widget)) return section;
    return nullptr;
}

ClipSection* InspectorPanel::clipSection() const
{
    for (QWidget* widget : sections_)
        if (auto* section = qobject_cast<ClipSection*>(widget)) return section;
    return nullptr;
}

TrackSection* InspectorPanel::trackSection() const
{
    for (QWidget* widget : sections_)
        if (auto* section = qobject_cast<TrackSection*>(widget)) return section;
    return nullptr;
}

std::vector<PartnerRows*> InspectorPanel::partnerRows() const
{
    std::vector<PartnerRows*> rows;
    for (QWidget* widget : sections_)
        if (auto* section = qobject_cast<PartnerRows*>(widget)) rows.push_back(section);
    return rows;
}

} // namespace ondexa
