#include "Ondexa/editor/EditorToolbar.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/TimelineZoom.h"
#include "Ondexa/timeline/LcdTimeDisplay.h"
#include "Ondexa/ui/KeyNames.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ondexa {

namespace {

// The controls' small size.
constexpr int kControlFont = 11;
constexpr int kIconSize = 14;
constexpr int kSpacing = 6;
// Free room between the forward button and "Snap", where the time code sits.
constexpr int kTransportGap = 300;
constexpr int kSliderWidth = 120;
constexpr int kDividerHeight = 18;
// The play symbol's frame, so the button keeps its width when it flips.
constexpr int kPlayIconWidth = 20;

QLabel* symbolImage(const QString& symbol, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::icon(symbol).pixmap(kIconSize, kIconSize, QIcon::Disabled));
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

} // namespace

EditorToolbar::EditorToolbar(EditorModel& model, QWidget* parent) : QWidget(parent), model_(&model)
{
    setObjectName("editorToolbar");
    setFont(Theme::font(kControlFont));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kSpacing);

    // Transport row.
    transport_ = new QWidget(this);
    auto* transport = new QHBoxLayout(transport_);
    transport->setContentsMargins(0, 0, 0, 0);
    transport->setSpacing(kSpacing);
    auto* back = addButton(transport_, "back", "gobackward.5", {}, "Vissza 1 mp (←)");
    play_ = addButton(transport_, "play", "play.fill", {}, "Lejátszás / szünet (szóköz)");
    play_->setIconSize(QSize(kPlayIconWidth, kIconSize));
    auto* forward = addButton(transport_, "forward", "goforward.5", {}, "Előre 1 mp (→)");
    snap_ = addButton(transport_, "snap", "magnet", "Snap",
                      "Bekapcsolva a húzott klip és művelet a többi klip széléhez és a lejátszófejhez tapad");
    snap_->setCheckable(true);
    styleToggle(*snap_);
    undo_ = addButton(transport_, "undo", "arrow.uturn.backward", {}, "Visszavonás (⌘Z)");
    redo_ = addButton(transport_, "redo", "arrow.uturn.forward", {}, "Újra (⌘⇧Z)");
    zoom_ = new QSlider(Qt::Horizontal, transport_);
    zoom_->setObjectName("zoom");
    zoom_->setFixedWidth(kSliderWidth);
    zoom_->setRange(0, zoom::sliderSteps);
    zoom_->setFocusPolicy(Qt::NoFocus);
    zoom_->setToolTip(keyNames("Időskála nagyítása (⌥ + görgő): kicsinyítve akár 3 óra is látszik"));
    auto* fit = addButton(transport_, "fit", "arrow.left.and.right.square", {},
                          "Az egész szerkesztés beférjen az idővonalba");

    transport->addWidget(back);
    transport->addWidget(play_);
    transport->addWidget(forward);
    transport->addSpacerItem(new QSpacerItem(kTransportGap, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    transport->addWidget(snap_);
    transport->addWidget(undo_);
    transport->addWidget(redo_);
    transport->addWidget(symbolImage("minus.magnifyingglass", transport_));
    transport->addWidget(zoom_);
    transport->addWidget(symbolImage("plus.magnifyingglass", transport_));
    transport->addWidget(fit);
    column->addWidget(transport_);

    // The time code lies over the row, centred in its whole width.
    lcd_ = new LcdTimeDisplay(model.clock(), model.duration(), model.frameRate(), this);
    lcd_->setObjectName("timeCode");
    transport_->setMinimumHeight(lcd_->sizeHint().height());

    // Edit row.
    auto* editRow = new QWidget(this);
    auto* edit = new QHBoxLayout(editRow);
    edit->setContentsMargins(0, 0, 0, 0);
    edit->setSpacing(kSpacing);
    const auto add = [&](const QString& name, const QString& symbol, const QString& title, const QString& help) {
        QToolButton* button = addButton(editRow, name, symbol, title, help);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        edit->addWidget(button);
        return button;
    };
    auto* split = add("split", "scissors", "Vágás T",
                      "A kijelölt klip(ek) elvágása a lejátszófejnél; ha nincs kijelölés, minden sávé");
    auto* trimFront = add("trimFront", {}, "Eleje [", "A klip lejátszófej előtti részének levágása");
    auto* trimEnd = add("trimEnd", {}, "Vége ]", "A klip lejátszófej utáni részének levágása");
    auto* action = add("action", "sparkles", "Művelet M",
                       "Sárga művelet a kijelölt klipre: méret, hely, forgatás vagy hangerő változtatása");
    auto* divider = new QFrame(editRow);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(kDividerHeight);
    edit->addWidget(divider);
    auto* markIn = add("markIn", {}, "Be I",
                       "Tartomány kezdete a lejátszófejnél; a Törlés a kezdő- és végpont közti részt vágja ki");
    auto* markOut = add("markOut", {}, "Ki O", "Tartomány vége a lejátszófejnél");
    auto* remove = add("delete", "trash", "Törlés ⌫",
                       "⌫: kijelölt művelet, a kezdő–végpont közti rész, vagy a kijelölt klip (hézag marad)");
    auto* link = add("link", "link", "Összeköt",
                     "A kijelölt klipek összekötése (pl. videó és hangja): együtt mozognak, vágódnak (⌘L)");
    auto* unlink = add("unlink", {}, "Szétválaszt",
                       "Összekötés megszüntetése (⌘⇧L). Egy összekötött klip ⌥-kattintással külön is megfogható.");
    auto* ripple = add("rippleDelete", {}, "Összezár ⇧⌫",
                       "⇧⌫: a kijelölt klip törlése úgy, hogy a sávban utána jövők előrecsúsznak");
    edit->addStretch(1);
    column->addWidget(editRow);

    connect(back, &QToolButton::clicked, this, &EditorToolbar::back);
    connect(play_, &QToolButton::clicked, this, &EditorToolbar::togglePlay);
    connect(forward, &QToolButton::clicked, this, &EditorToolbar::forward);
    connect(snap_, &QToolButton::clicked, this, [this](bool on) {
        if (model_) model_->setSnapping(on);
    });
    connect(undo_, &QToolButton::clicked, this, [this] {
        if (model_) model_->undo();
    });
    connect(redo_, &QToolButton::clicked, this, [this] {
        if (model_) model_->redo();
    });
    // Only a user's move changes the zoom: the refresh sets the slider under
    // a signal blocker, so its rounding never reaches the model.
    connect(zoom_, &QSlider::valueChanged, this, &EditorToolbar::zoomMoved);
    connect(fit, &QToolButton::clicked, this, &EditorToolbar::fit);
    connect(split, &QToolButton::clicked, this, &EditorToolbar::split);
    connect(trimFront, &QToolButton::clicked, this, &EditorToolbar::trimFront);
    connect(trimEnd, &QToolButton::clicked, this, &EditorToolbar::trimEnd);
    connect(action, &QToolButton::clicked, this, &EditorToolbar::addAction);
    connect(markIn, &QToolButton::clicked, this, &EditorToolbar::setMarkIn);
    connect(markOut, &QToolButton::clicked, this, &EditorToolbar::setMarkOut);
    connect(remove, &QToolButton::clicked, this, &EditorToolbar::deleteSelection);
    connect(link, &QToolButton::clicked, this, [this] {
        if (model_) model_->linkSelection();
    });
    connect(unlink, &QToolButton::clicked, this, [this] {
        if (model_) model_->unlinkSelection();
    });
    connect(ripple, &QToolButton::clicked, this, &EditorToolbar::rippleDelete);

    bindKey(QKeySequence(Qt::Key_Left), &EditorToolbar::back);
    bindKey(QKeySequence(Qt::Key_Space), &EditorToolbar::togglePlay);
    bindKey(QKeySequence(Qt::Key_Right), &EditorToolbar::forward);
    bindKey(QKeySequence(Qt::Key_T), &EditorToolbar::split);
    bindKey(QKeySequence(Qt::Key_BracketLeft), &EditorToolbar::trimFront);
    bindKey(QKeySequence(Qt::Key_BracketRight), &EditorToolbar::trimEnd);
    bindKey(QKeySequence(Qt::Key_M), &EditorToolbar::addAction);
    bindKey(QKeySequence(Qt::Key_I), &EditorToolbar::setMarkIn);
    bindKey(QKeySequence(Qt::Key_O), &EditorToolbar::setMarkOut);
    // Backspace is the key the labels name; Delete does the same.
    bindKey(QKeySequence(Qt::Key_Backspace), &EditorToolbar::deleteSelection);
    bindKey(QKeySequence(Qt::Key_Delete), &EditorToolbar::deleteSelection);
    bindKey(QKeySequence(Qt::SHIFT | Qt::Key_Backspace), &EditorToolbar::rippleDelete);
    bindKey(QKeySequence(Qt::SHIFT | Qt::Key_Delete), &EditorToolbar::rippleDelete);
    bindKey(QKeySequence(Qt::Key_Escape), &EditorToolbar::escape);
    attachShortcuts(!model.isEditingText());

    connect(&model, &EditorModel::isEditingTextChanged, this, [this] {
        if (model_) attachShortcuts(!model_->isEditingText());
    });
    for (auto signal : {&EditorModel::isPlayingChanged, &EditorModel::snappingChanged, &EditorModel::canUndoChanged,
                        &EditorModel::canRedoChanged, &EditorModel::pixelsPerSecondChanged,
                        &EditorModel::tracksChanged, &EditorModel::frameRateChanged})
        connect(&model, signal, this, &EditorToolbar::refresh);
    refresh();
}

QToolButton* EditorToolbar::addButton(QWidget* row, const QString& name, const QString& symbol, const QString& title,
                                      const QString& help)
{
    auto* button = new QToolButton(row);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    button->setIconSize(QSize(kIconSize, kIconSize));
    if (!symbol.isEmpty()) button->setIcon(Symbols::icon(symbol));
    if (!title.isEmpty()) button->setText(keyNames(title));
    button->setToolButtonStyle(title.isEmpty()   ? Qt::ToolButtonIconOnly
                               : symbol.isEmpty() ? Qt::ToolButtonTextOnly
                                                  : Qt::ToolButtonTextBesideIcon);
    button->setToolTip(keyNames(help));
    return button;
}

QAbstractButton* EditorToolbar::button(const QString& name) const { return findChild<QAbstractButton*>(name); }

void EditorToolbar::bindKey(const QKeySequence& key, void (EditorToolbar::*action)())
{
    auto* shortcut = new QShortcut(this);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(true);
    connect(shortcut, &QShortcut::activated, this, action);
    shortcuts_.push_back({shortcut, key});
}

void EditorToolbar::attachShortcuts(bool attach)
{
    // Taken off rather than disabled: a key with no shortcut at all goes on
    // to the focused text field.
    attached_ = attach;
    for (const Shortcut& entry : shortcuts_)
        entry.shortcut->setKey(attach ? entry.key : QKeySequence());
}

void EditorToolbar::refresh()
{
    if (!model_) return;
    play_->setIcon(Symbols::icon(model_->isPlaying() ? "pause.fill" : "play.fill"));
    {
        const QSignalBlocker blocker(snap_);
        snap_->setChecked(model_->snapping());
    }
    undo_->setEnabled(model_->canUndo());
    redo_->setEnabled(model_->canRedo());
    lcd_->setDuration(model_->duration());
    lcd_->setFrameRate(model_->frameRate());
    refreshZoom();
}

void EditorToolbar::refreshZoom()
{
    if (!model_) return;
    const double width = model_->timelineWidth();
    const double zoom = model_->pixelsPerSecond().value_or(zoom::fit(width, model_->duration()));
    const QSignalBlocker blocker(zoom_);
    zoom_->setValue(zoom::sliderPosition(zoom, width));
}

void EditorToolbar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeTimeDisplay();
}

void EditorToolbar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeTimeDisplay();
    refreshZoom();
}

void EditorToolbar::placeTimeDisplay()
{
    // The row's geometry is final once the layout has run, which happens
    // before the toolbar's own resize event reaches us.
    const QRect row = transport_->geometry();
    const QSize size = lcd_->sizeHint();
    lcd_->setGeometry(row.x() + (row.width() - size.width()) / 2, row.y() + (row.height() - size.height()) / 2,
                      size.width(), size.height());
    lcd_->raise();
}

void EditorToolbar::split()
{
    if (model_) model_->splitAtPlayhead();
}

void EditorToolbar::trimFront()
{
    if (model_) model_->trimToPlayhead(true);
}

void EditorToolbar::trimEnd()
{
    if (model_) model_->trimToPlayhead(false);
}

void EditorToolbar::addAction()
{
    if (model_) model_->addAction();
}

void EditorToolbar::setMarkIn()
{
    if (model_) model_->setMarkIn();
}

void EditorToolbar::setMarkOut()
{
    if (model_) model_->setMarkOut();
}

void EditorToolbar::deleteSelection()
{
    if (model_) model_->deleteSelection(false);
}

void EditorToolbar::rippleDelete()
{
    if (model_) model_->deleteSelection(true);
}

void EditorToolbar::back()
{
    if (model_) model_->step(-1.0);
}

void EditorToolbar::forward()
{
    if (model_) model_->step(1.0);
}

void EditorToolbar::togglePlay()
{
    if (model_) model_->togglePlay();
}

void EditorToolbar::escape()
{
    if (!model_) return;
    model_->setMarkIn(std::nullopt);
    model_->setMarkOut(std::nullopt);
    model_->clearSelection();
}

void EditorToolbar::zoomMoved(int position)
{
    if (model_) model_->setPixelsPerSecond(zoom::zoomAt(position, model_->timelineWidth()));
}

void EditorToolbar::fit()
{
    if (!model_) return;
    const double width = model_->timelineWidth();
    model_->setPixelsPerSecond(zoom::clamp(zoom::fit(width, model_->duration()), width));
}

} // namespace ondexa
