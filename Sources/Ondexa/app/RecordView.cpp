#include "Ondexa/app/RecordView.h"

#include "Ondexa/app/LevelMeter.h"
#include "Ondexa/model/TimeText.h"
#include "Ondexa/recording/AccessMessages.h"
#include "Ondexa/ui/Alert.h"
#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/GroupBox.h"
#include "Ondexa/ui/SegmentedControl.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleSwitch.h"
#include "Ondexa/ui/VendalumHeader.h"
#include "Ondexa/ui/WheelPassing.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ondexa {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

void dim(QWidget* label)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::secondary());
    label->setPalette(p);
}

// The rounded group of a form section; a hairline between its visible rows.
class Box : public GroupBox {
public:
    explicit Box(QWidget* parent) : GroupBox(parent)
    {
        rows = new QVBoxLayout(this);
        rows->setContentsMargins(0, 2, 0, 2);
        rows->setSpacing(0);
    }
    QVBoxLayout* rows;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        GroupBox::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(255, 255, 255, 20), 1));
        const QWidget* previous = nullptr;
        for (int i = 0; i < rows->count(); ++i) {
            const QWidget* w = rows->itemAt(i)->widget();
            if (!w || w->isHidden()) continue;
            if (previous) {
                const qreal y = w->geometry().top() + 0.5;
                painter.drawLine(QPointF(12, y), QPointF(width() - 12, y));
            }
            previous = w;
        }
    }
};

// A row of a section: the label at the leading edge, the control at the trailing one.
QWidget* makeRow(QWidget* parent, QWidget* leading, QWidget* trailing)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 7, 12, 7);
    layout->setSpacing(10);
    if (leading) layout->addWidget(leading);
    layout->addStretch(1);
    if (trailing) layout->addWidget(trailing);
    return row;
}

QComboBox* makePicker(QWidget* parent)
{
    // Long names end in "…" with the whole name as the tooltip.
    auto* picker = new ElidedComboBox(parent);
    // Long window titles must not widen the fixed column.
    picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker->setMinimumContentsLength(22);
    picker->setMaximumWidth(300);
    // The form scrolls on a short screen: the wheel scrolls past a picker.
    passUnfocusedWheel(*picker);
    return picker;
}

// Fills a picker with (text, value) entries unless it shows them already, so
// that an open popup survives a refresh that changed nothing; selects `value`.
void fillPicker(QComboBox* picker, const std::vector<std::pair<QString, QVariant>>& entries, const QVariant& value)
{
    const QSignalBlocker blocker(picker);
    bool same = picker->count() == int(entries.size());
    for (int i = 0; same && i < picker->count(); ++i)
        same = picker->itemText(i) == entries[i].first && picker->itemData(i) == entries[i].second;
    if (!same) {
        picker->clear();
        for (const auto& [text, data] : entries) picker->addItem(text, data);
    }
    picker->setCurrentIndex(picker->findData(value));
}

QString oneLine(QString text) { return text.replace('\n', ' ').replace('\r', ' '); }

} // namespace

// A section of the settings form: an optional header, the rounded group of
// rows and an optional footer.
class RecordView::Section : public QWidget {
public:
    Section(QWidget* parent, const QString& header) : QWidget(parent)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(5);
        if (!header.isEmpty()) {
            auto* title = new QLabel(header, this);
            title->setFont(Theme::font(Theme::captionSize + 1, Theme::Weight::semibold));
            title->setContentsMargins(12, 0, 0, 0);
            dim(title);
            layout->addWidget(title);
        }
        box = new Box(this);
        layout->addWidget(box);
        footer = new QLabel(this);
        footer->setObjectName("footer");
        footer->setWordWrap(true);
        footer->setFont(Theme::font(Theme::captionSize + 1));
        footer->setContentsMargins(12, 0, 12, 0);
        dim(footer);
        footer->hide();
        layout->addWidget(footer);
    }
    void add(QWidget* row) { box->rows->addWidget(row); }
    void setFooter(const QString& text)
    {
        footer->setText(text);
        footer->setVisible(!text.isEmpty());
    }

    Box* box;
    QLabel* footer;
};

RecordView::RecordView(AppState& state, EditorOpener openEditorWindow, QWidget* parent)
    : QWidget(parent), state_(state), openEditorWindow_(std::move(openEditorWindow))
{
    setObjectName("recordView");
    Theme::style(*this);
    setFixedWidth(width);
    setMinimumHeight(520);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    header_ = new VendalumHeader("Képernyő- és hangfelvétel", this);
    header_->setContentsMargins(20, 14, 20, 4);
    root->addWidget(header_);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    form_ = new QWidget(scroll);
    form_->setObjectName("form");
    form_->setAutoFillBackground(false);
    auto* formLayout = new QVBoxLayout(form_);
    formLayout->setContentsMargins(20, 12, 20, 16);
    formLayout->setSpacing(16);
    buildForm(formLayout);
    formLayout->addStretch(1);
    scroll->setWidget(form_);
    // A row shown or hidden deep in the form reaches the form's layout only
    // after its own layouts have settled, later than refresh() asks for a new
    // size: the window follows the form's own layout requests.
    form_->installEventFilter(this);
    // The backdrop shows through the form (setWidget turns filling on).
    form_->setAutoFillBackground(false);
    root->addWidget(scroll, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet("background: rgba(255,255,255,30); border: none;");
    root->addWidget(divider);
    actionBar_ = buildActionBar();
    root->addWidget(actionBar_);

    alert_ = new QMessageBox(QMessageBox::Warning, "Hiba", QString(), QMessageBox::Ok, this);
    alert_->setObjectName("errorAlert");
    alert_->setWindowModality(Qt::WindowModal);
    connect(alert_, &QMessageBox::finished, this, [this] {
        // Dismissed by the user: the message is read.
        if (!closingAlert_) state_.setErrorMessage(std::nullopt);
    });

    const auto all = [this] { refresh(); };
    for (auto signal : {&AppState::phaseChanged, &AppState::needsScreenPermissionChanged, &AppState::captureModeChanged,
                        &AppState::displaysChanged, &AppState::displayIDChanged, &AppState::areaChanged,
                        &AppState::windowsChanged, &AppState::windowIDChanged, &AppState::fpsChanged,
                        &AppState::systemAudioChanged, &AppState::micEnabledChanged, &AppState::cameraEnabledChanged,
                        &AppState::camerasChanged, &AppState::cameraIDChanged, &AppState::micDevicesChanged,
                        &AppState::micUIDChanged, &AppState::micChannelsChanged, &AppState::stereoPairsChanged})
        connect(&state_, signal, this, all);
    connect(&state_, &AppState::screenOnWaylandChanged, this, all);
    connect(&state_, &AppState::screenCastOfferChanged, this, all);
    connect(&state_, &AppState::hotKeyChanged, this, all);
    connect(&state_, &AppState::elapsedChanged, this, &RecordView::refreshPhase);
    connect(&state_, &AppState::micLevelsChanged, this, &RecordView::refreshLevels);
    connect(&state_, &AppState::errorMessageChanged, this, &RecordView::refreshError);
    refresh();
    refreshError();
}

RecordView::~RecordView()
{
    // The alert is a child; its `finished` must not reach the controller now.
    if (alert_) alert_->disconnect(this);
}

QWidget* RecordView::row(Section* section, const QString& label, QWidget* control, const char* name)
{
    QLabel* text = label.isEmpty() ? nullptr : new QLabel(label);
    QWidget* r = makeRow(section->box, text, control);
    r->setObjectName(name);
    section->add(r);
    return r;
}

void RecordView::buildForm(QVBoxLayout* form)
{
    // Permission notice.
    permission_ = new Section(form_, {});
    permission_->setObjectName("permission");
    {
        auto* notice = new QWidget(permission_->box);
        auto* layout = new QVBoxLayout(notice);
        layout->setContentsMargins(12, 9, 12, 9);
        layout->setSpacing(8);
        // On X11 the permission is an X display that answers (asking again is
        // looking again); on Wayland it is the screen-cast portal's dialog.
        permissionText_ = new QLabel(notice);
        permissionText_->setObjectName("permissionText");
        permissionText_->setWordWrap(true);
        layout->addWidget(permissionText_);
        grant_ = new QPushButton("Engedély megadása…", notice);
        grant_->setObjectName("grantPermission");
        connect(grant_, &QPushButton::clicked, this, [this] { state_.requestScreenPermission(); });
        layout->addWidget(grant_, 0, Qt::AlignLeft);
        permission_->add(notice);
    }
    form->addWidget(permission_);

    // In a Wayland session no permission helps: the notice says so instead.
    wayland_ = new Section(form_, {});
    wayland_->setObjectName("waylandNotice");
    {
        auto* text = new QLabel(qs(access::screenNotice(platform::ScreenAccess::Refusal::waylandOnly)), wayland_->box);
        text->setWordWrap(true);
        text->setContentsMargins(12, 9, 12, 9);
        wayland_->add(text);
    }
    form->addWidget(wayland_);

    // What a Wayland session leaves out of the recordings.
    sessionNotes_ = new Section(form_, {});
    sessionNotes_->setObjectName("sessionNotes");
    sessionNotesText_ = new QLabel(sessionNotes_->box);
    sessionNotesText_->setObjectName("sessionNotesText");
    sessionNotesText_->setWordWrap(true);
    sessionNotesText_->setContentsMargins(12, 9, 12, 9);
    sessionNotes_->add(sessionNotesText_);
    form->addWidget(sessionNotes_);

    // Target and sources.
    sources_ = new Section(form_, {});
    sources_->setObjectName("sources");
    captureMode_ = new SegmentedControl;
    for (const char* choice : {"Teljes kijelző", "Terület", "Ablak"}) captureMode_->addSegment(choice);
    captureMode_->setFixedWidth(290);
    connect(captureMode_, &SegmentedControl::activated, this,
            [this](int index) { state_.setCaptureMode(AppState::CaptureMode(index)); });
    row(sources_, "Felvétel", captureMode_, "captureModeRow");

    display_ = makePicker(nullptr);
    connect(display_, &QComboBox::activated, this,
            [this](int index) { state_.setDisplayID(display_->itemData(index).toUInt()); });
    displayRow_ = row(sources_, "Kijelző", display_, "displayRow");

    {
        auto* content = new QWidget;
        auto* layout = new QHBoxLayout(content);
        layout->setContentsMargins(0, 0, 0, 0);
        area_ = new QLabel(content);
        area_->setObjectName("areaText");
        layout->addWidget(area_);
        auto* select = new QPushButton("Kijelölés…", content);
        select->setObjectName("selectArea");
        connect(select, &QPushButton::clicked, this, [this] { state_.selectArea(); });
        layout->addWidget(select);
        areaRow_ = row(sources_, "Terület", content, "areaRow");
    }

    window_ = makePicker(nullptr);
    connect(window_, &QComboBox::activated, this,
            [this](int index) { state_.setWindowID(window_->itemData(index).toUInt()); });
    windowRow_ = row(sources_, "Ablak", window_, "windowRow");
    {
        auto* refreshWindows = new QPushButton("Ablaklista frissítése");
        refreshWindows->setObjectName("refreshWindows");
        connect(refreshWindows, &QPushButton::clicked, this, [this] { state_.refreshSources(); });
        refreshWindowsRow_ = makeRow(sources_->box, refreshWindows, nullptr);
        refreshWindowsRow_->setObjectName("refreshWindowsRow");
        sources_->add(refreshWindowsRow_);
    }
    // The whole width: a sentence, not a value beside a label.
    windowNote_ = new QLabel(sources_->box);
    windowNote_->setObjectName("windowNote");
    windowNote_->setWordWrap(true);
    windowNote_->setContentsMargins(12, 7, 12, 7);
    sources_->add(windowNote_);

    fps_ = new SegmentedControl;
    fps_->addSegment("30");
    fps_->addSegment("60");
    fps_->setFixedWidth(110);
    fps_->setToolTip("60 kép/mp folyamatosabb mozgást ad (pl. görgetésnél), de a gépet jobban terheli");
    connect(fps_, &SegmentedControl::activated, this, [this](int index) { state_.setFps(index == 1 ? 60 : 30); });
    row(sources_, "Képkocka / mp", fps_, "fpsRow")->setToolTip(fps_->toolTip());

    systemAudio_ = new ToggleSwitch;
    connect(systemAudio_, &ToggleSwitch::toggled, this, [this](bool on) { state_.setSystemAudio(on); });
    row(sources_, "Gép hangja", systemAudio_, "systemAudioRow");

    micEnabled_ = new ToggleSwitch;
    connect(micEnabled_, &ToggleSwitch::toggled, this, [this](bool on) { state_.setMicEnabled(on); });
    row(sources_, "Hangkártya", micEnabled_, "micEnabledRow");

    cameraEnabled_ = new ToggleSwitch;
    cameraEnabled_->setToolTip("Beépített kamera, USB-kamera vagy más virtuális kamera");
    connect(cameraEnabled_, &ToggleSwitch::toggled, this, [this](bool on) { state_.setCameraEnabled(on); });
    row(sources_, "Kamera (kép a képben)", cameraEnabled_, "cameraEnabledRow")->setToolTip(cameraEnabled_->toolTip());

    camera_ = makePicker(nullptr);
    connect(camera_, &QComboBox::activated, this,
            [this](int index) { state_.setCameraID(camera_->itemData(index).toString().toStdString()); });
    cameraRow_ = row(sources_, "Kamera", camera_, "cameraRow");
    form->addWidget(sources_);

    // Audio-interface inputs.
    mic_ = new Section(form_, "Hangkártya bemenetei");
    mic_->setObjectName("micSection");
    micDevice_ = makePicker(nullptr);
    connect(micDevice_, &QComboBox::activated, this,
            [this](int index) { state_.setMicUID(micDevice_->itemData(index).toString().toStdString()); });
    row(mic_, "Eszköz", micDevice_, "micDeviceRow");
    channels_ = new QWidget(mic_->box);
    channels_->setObjectName("channels");
    auto* channelRows = new QVBoxLayout(channels_);
    channelRows->setContentsMargins(0, 0, 0, 0);
    channelRows->setSpacing(0);
    mic_->add(channels_);
    stereoPairs_ = new ToggleSwitch;
    connect(stereoPairs_, &ToggleSwitch::toggled, this, [this](bool on) { state_.setStereoPairs(on); });
    stereoRow_ = row(mic_, "Sztereó párok (1–2, 3–4, …)", stereoPairs_, "stereoRow");
    form->addWidget(mic_);
}

QWidget* RecordView::buildActionBar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName("actionBar");
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);

    mainButton_ = new QPushButton(bar);
    mainButton_->setObjectName("mainButton");
    mainButton_->setIconSize(QSize(18, 18));
    mainButton_->setFont(Theme::font(Theme::bodySize, Theme::Weight::semibold));
    // Wide enough for hours of recording, so that the button keeps its size
    // while the time runs.
    const int longest = QFontMetrics(mainButton_->font()).horizontalAdvance("Leállítás  00:00:00");
    mainButton_->setMinimumWidth(std::max(190, longest + 18 + 8 + 2 * 12));
    const QColor red = Theme::record();
    mainButton_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 8px;"
                        " padding: 8px 12px; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }"
                       "QPushButton:disabled { background: rgba(%4,%5,%6,90); color: rgba(255,255,255,140); }")
            .arg(red.name(), red.lighter(112).name(), red.darker(115).name())
            .arg(red.red())
            .arg(red.green())
            .arg(red.blue()));
    connect(mainButton_, &QPushButton::clicked, this, [this] { state_.toggleRecording(); });
    layout->addWidget(mainButton_);

    // Beside the buttons there is room for "Ctrl+Alt+A" and little more: the
    // desktop's words for its keys end in "…" where they don't fit, whole in
    // the tooltip (and in the note on the keys).
    auto* hotKey = hotKey_ = new ElidedLabel(QString(), bar);
    hotKey->setObjectName("hotKey");
    hotKey->setFont(Theme::font(12));
    dim(hotKey);
    layout->addWidget(hotKey);
    layout->addStretch(1);

    auto* folder = new QPushButton("Felvételek mappa", bar);
    folder->setObjectName("revealFolder");
    connect(folder, &QPushButton::clicked, this, [this] { state_.revealRecordingsFolder(); });
    layout->addWidget(folder);

    auto* open = new QPushButton("Megnyitás…", bar);
    open->setObjectName("open");
    connect(open, &QPushButton::clicked, this, [this] {
        AppState::chooseRecording([view = QPointer<RecordView>(this)](std::optional<std::filesystem::path> file) {
            if (view && file && view->openEditorWindow_) view->openEditorWindow_(*file);
        });
    });
    layout->addWidget(open);
    // Fusion's buttons hug their text; a little more height matches the main button better.
    for (QPushButton* b : {folder, open}) b->setMinimumHeight(b->sizeHint().height() + 4);
    return bar;
}

QSize RecordView::sizeHint() const
{
    // Tall enough for the whole form without scrolling (wrapped texts
    // included); the window scrolls only when the screen is smaller.
    const int formHeight = form_->layout()->hasHeightForWidth() ? form_->layout()->heightForWidth(width)
                                                                 : form_->sizeHint().height();
    const int chrome = header_->sizeHint().height() + 1 + actionBar_->sizeHint().height();
    const int least = minimumHeight();
    return {width, std::min(std::max(least, chrome + formHeight), std::max(least, heightLimit_))};
}

void RecordView::setHeightLimit(int limit)
{
    if (limit == heightLimit_) return;
    heightLimit_ = limit;
    updateGeometry();
}

QString RecordView::buttonTitle() const
{
    switch (state_.phase()) {
    case AppState::Phase::idle: return QStringLiteral("Felvétel indítása");
    case AppState::Phase::starting: return QStringLiteral("Indítás…");
    case AppState::Phase::recording: return QStringLiteral("Leállítás  ") + qs(formatTime(state_.elapsed(), false));
    case AppState::Phase::finishing: return QStringLiteral("Mentés…");
    }
    return {};
}

void RecordView::refresh()
{
    refreshPhase();
    // Without the portal no grant can help: said before a start fails.
    const auto& offer = state_.screenCastOffer();
    const bool noPortal = state_.capturesThroughPortal() && offer && !offer->available;
    permissionText_->setText(qs(noPortal                           ? std::string(access::portal::unavailable)
                                : state_.capturesThroughPortal() ? std::string(access::portal::notice)
                                                                 : access::screenNotice(platform::ScreenAccess::Refusal::refused)));
    grant_->setVisible(!noPortal);
    permission_->setVisible((state_.needsScreenPermission() || noPortal) && !state_.screenOnWayland());
    wayland_->setVisible(state_.screenOnWayland());

    const auto mode = state_.captureMode();
    captureMode_->setCurrentIndex(int(mode));
    displayRow_->setVisible(mode != AppState::CaptureMode::window);
    areaRow_->setVisible(mode == AppState::CaptureMode::area);
    // The portal lists no windows: its dialog picks one, where it offers windows at all.
    const bool portal = state_.capturesThroughPortal();
    windowRow_->setVisible(mode == AppState::CaptureMode::window && !portal);
    refreshWindowsRow_->setVisible(mode == AppState::CaptureMode::window && !portal);
    windowNote_->setVisible(mode == AppState::CaptureMode::window && portal);
    windowNote_->setText(state_.windowsRecordable() ? access::portal::windowChosenInDialog
                                                    : access::portal::noWindowsHere);
    const std::vector<std::string> notes = state_.sessionNotes();
    QStringList noteTexts;
    for (const auto& note : notes) noteTexts << qs(note);
    sessionNotesText_->setText(noteTexts.join(QStringLiteral("\n\n")));
    sessionNotes_->setVisible(!notes.empty());
    hotKey_->setText(qs(state_.hotKeyText()));

    // What a start records: the part of the area on the chosen display.
    std::optional<QRectF> area = state_.area();
    const auto& displays = state_.displays();
    const auto display = std::find_if(displays.begin(), displays.end(),
                                      [&](const auto& d) { return d.id == state_.displayID(); });
    if (area && display != displays.end()) {
        *area = area->intersected(QRectF(QPointF(0, 0), QSizeF(display->frame.size())));
        if (area->isEmpty()) area.reset();
    }
    if (area) {
        // Whole points, the fraction dropped.
        area_->setText(QStringLiteral("%1 × %2")
                           .arg(qint64(std::trunc(area->width())))
                           .arg(qint64(std::trunc(area->height()))));
        area_->setPalette(palette());
    } else {
        area_->setText("nincs kijelölve");
        dim(area_);
    }

    fps_->setCurrentIndex(state_.fps() == 60 ? 1 : 0);
    for (auto [toggle, on] : {std::pair{systemAudio_, state_.systemAudio()}, std::pair{micEnabled_, state_.micEnabled()},
                              std::pair{cameraEnabled_, state_.cameraEnabled()}}) {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(on);
    }
    cameraRow_->setVisible(state_.cameraEnabled());
    mic_->setVisible(state_.micEnabled());
    mic_->setFooter(state_.stereoPairs()
                        ? "A bejelölt párok (pl. 1–2) bal/jobb sztereóként, a magányos bemenetek középre kerülnek."
                        : "Minden bejelölt bemenet középre kerül (mono). Egy mikrofonhoz ez a jó beállítás.");

    refreshLists();
    refreshChannels();
    sources_->box->update();
    mic_->box->update();
    updateGeometry();  // the window follows the content's height
}

void RecordView::refreshPhase()
{
    const auto phase = state_.phase();
    form_->setEnabled(phase == AppState::Phase::idle);
    mainButton_->setText(buttonTitle());
    mainButton_->setIcon(Symbols::tinted(phase == AppState::Phase::recording ? "stop.fill" : "record.circle", Qt::white));
    mainButton_->setEnabled(phase != AppState::Phase::starting && phase != AppState::Phase::finishing);
}

void RecordView::refreshLists()
{
    std::vector<std::pair<QString, QVariant>> entries;
    for (const auto& d : state_.displays()) entries.emplace_back(qs(state_.displayName(d)), QVariant(d.id));
    fillPicker(display_, entries, QVariant(state_.displayID()));

    entries.clear();
    for (const auto& w : state_.windows()) entries.emplace_back(oneLine(qs(AppState::windowName(w))), QVariant(w.id));
    fillPicker(window_, entries, QVariant(state_.windowID()));

    entries.clear();
    for (const auto& c : state_.cameras()) entries.emplace_back(qs(c.name), QVariant(qs(c.id)));
    fillPicker(camera_, entries, QVariant(qs(state_.cameraID())));

    entries.clear();
    for (const auto& m : state_.micDevices()) entries.emplace_back(qs(m.name), QVariant(qs(m.uid)));
    fillPicker(micDevice_, entries, QVariant(qs(state_.micUID())));
}

void RecordView::refreshChannels()
{
    const auto device = state_.currentMicDevice();
    // Rebuilt only when the device changes, so that a switch being clicked survives.
    if (device != channelsDevice_) {
        channelsDevice_ = device;
        for (QWidget* old : channels_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) delete old;
        channelSwitches_.clear();
        meters_.clear();
        auto* layout = static_cast<QVBoxLayout*>(channels_->layout());
        const std::size_t count = device ? device->channelNames.size() : 0;
        for (std::size_t i = 0; i < count; ++i) {
            auto* r = new QWidget(channels_);
            r->setObjectName(QStringLiteral("channel%1").arg(i));
            auto* rowLayout = new QHBoxLayout(r);
            rowLayout->setContentsMargins(12, 6, 12, 6);
            rowLayout->setSpacing(12);
            // The labelled switch in a 220 wide frame, the meter in the rest.
            auto* labelled = new QWidget(r);
            labelled->setFixedWidth(220);
            auto* labelledLayout = new QHBoxLayout(labelled);
            labelledLayout->setContentsMargins(0, 0, 0, 0);
            auto* name = new ElidedLabel(qs(device->channelNames[i]), labelled);
            name->setObjectName(QStringLiteral("channelName%1").arg(i));
            name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            labelledLayout->addWidget(name, 1);
            auto* toggle = new ToggleSwitch(labelled);
            labelledLayout->addWidget(toggle);
            rowLayout->addWidget(labelled);
            auto* meter = new LevelMeter(r);
            meter->setObjectName(QStringLiteral("meter%1").arg(i));
            rowLayout->addWidget(meter, 1);
            const int channel = int(i);
            connect(toggle, &ToggleSwitch::toggled, this, [this, channel](bool on) {
                std::set<int> chosen = state_.micChannels();
                if (on) chosen.insert(channel);
                else chosen.erase(channel);
                state_.setMicChannels(std::move(chosen));
            });
            layout->addWidget(r);
            channelSwitches_.push_back(toggle);
            meters_.push_back(meter);
        }
    }
    for (std::size_t i = 0; i < channelSwitches_.size(); ++i) {
        const QSignalBlocker blocker(channelSwitches_[i]);
        channelSwitches_[i]->setChecked(state_.micChannels().count(int(i)) > 0);
    }
    {
        const QSignalBlocker blocker(stereoPairs_);
        stereoPairs_->setChecked(state_.stereoPairs());
    }
    stereoRow_->setVisible(device && device->channelNames.size() >= 2);
    refreshLevels();
}

void RecordView::refreshLevels()
{
    const auto& levels = state_.micLevels();
    for (std::size_t i = 0; i < meters_.size(); ++i) meters_[i]->setLevel(i < levels.size() ? levels[i] : 0.0f);
}

void RecordView::refreshError()
{
    if (!alert_) return;
    const auto& message = state_.errorMessage();
    if (message) {
        // One alert: a newer message replaces the text of the one shown.
        alert_->setText(qs(*message));
        ui::Alert::open(*alert_);
    } else if (ui::Alert::isOpen(*alert_)) {
        closingAlert_ = true;
        alert_->done(QMessageBox::Ok);
        closingAlert_ = false;
    }
}

bool RecordView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == form_ && event->type() == QEvent::LayoutRequest) updateGeometry();
    return QWidget::eventFilter(watched, event);
}

void RecordView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (openEditorWindow_) state_.setOpenEditor(openEditorWindow_);
}

void RecordView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::backdrop(rect()));
}

} // namespace ondexa
