#include "Ondexa/editor/inspector/OverlayRows.h"

#include "Ondexa/editing/EditorModel.h"
#include "Ondexa/editor/inspector/ColorButton.h"
#include "Ondexa/editor/inspector/DoubleSlider.h"
#include "Ondexa/editor/inspector/FontFamilies.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/rendering/OverlayRenderer.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleStyle.h"
#include "Ondexa/ui/ToggleSwitch.h"
#include "Ondexa/ui/WheelPassing.h"

#include <QButtonGroup>
#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace ondexa {

namespace {

struct AlignmentChoice {
    TextAlignment alignment;
    const char* symbol;
    const char* help;
};
constexpr std::array<AlignmentChoice, 4> kAlignments{{
    {TextAlignment::left, "text.alignleft", "Balra"},
    {TextAlignment::center, "text.aligncenter", "Középre"},
    {TextAlignment::right, "text.alignright", "Jobbra"},
    {TextAlignment::justified, "text.justify", "Sorkizárt"},
}};

// Slider steps: a tenth of a thousandth of the picture height for lines, a
// thousandth for text.
constexpr double kLineWidthStep = 0.0001;
constexpr double kFontSizeStep = 0.001;

int alignmentIndex(const std::optional<TextAlignment>& alignment)
{
    const TextAlignment shown = alignment.value_or(TextAlignment::left);
    for (std::size_t i = 0; i < kAlignments.size(); ++i)
        if (kAlignments[i].alignment == shown) return int(i);
    return 0;
}

QString shownFamily(const Overlay& overlay)
{
    return QString::fromStdString(overlay.fontFamily.value_or(OverlayRenderer::defaultFamily));
}

bool isUndoKey(const QKeyEvent& key)
{
    return key.matches(QKeySequence::Undo) || key.matches(QKeySequence::Redo);
}

// A text field without a history of its own: undo and redo belong to the
// edit, so its menu offers none and it leaves their keys to the window's
// commands (a field's own undo would write its chunks back as new edits).
class TextField : public QPlainTextEdit {
public:
    explicit TextField(QWidget* parent) : QPlainTextEdit(parent) { setUndoRedoEnabled(false); }

protected:
    bool event(QEvent* event) override
    {
        // Unclaimed here, the key goes to the shortcuts.
        if (event->type() == QEvent::ShortcutOverride && isUndoKey(*static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        return QPlainTextEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (isUndoKey(*event)) return event->ignore();
        QPlainTextEdit::keyPressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = createStandardContextMenu(event->pos());
        // The separator after them is then a leading one, which the menu hides.
        for (QAction* action : menu->actions())
            if (action->objectName() == "edit-undo" || action->objectName() == "edit-redo") menu->removeAction(action);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
};

} // namespace

OverlayRows::OverlayRows(EditorModel& model, const Overlay& overlay, QWidget* parent)
    : QWidget(parent), model_(model), guard_(&model), kind_(overlay.kind)
{
    inspectorColumn(this);
    switch (kind_) {
    case OverlayKind::arrow:
    case OverlayKind::rectangle:
    case OverlayKind::ellipse: buildShapeRows(); break;
    case OverlayKind::text: buildTextRows(); break;
    case OverlayKind::zoom:
    case OverlayKind::pip: break;
    }
    refresh(overlay);
}

OverlayRows::~OverlayRows()
{
    if (text_) text_->removeEventFilter(this);
    if (textFocused_ && guard_) guard_->setEditingText(false);
}

void OverlayRows::buildShapeRows()
{
    color_ = new ColorRow("Szín", this);
    lineWidth_ = SliderRow::forOverlay(model_, "Vastagság", 0.002, 0.02, kLineWidthStep,
                                       [](Overlay& o, double v) { o.lineWidth = v; }, this);
    layout()->addWidget(color_);
    layout()->addWidget(lineWidth_);
    connect(color_->button(), &ColorButton::picked, this,
            [this](const QColor& c) { InspectorEdits::setOverlayColor(model_, c); });
}

void OverlayRows::buildTextRows()
{
    text_ = new TextField(this);
    text_->setFixedHeight(70);
    text_->setFont(Theme::font(Theme::bodySize));
    text_->setTabChangesFocus(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setObjectName("overlayText");
    text_->setStyleSheet("QPlainTextEdit#overlayText { border: 1px solid rgba(255, 255, 255, 46); "
                         "border-radius: 4px; background: rgba(0, 0, 0, 60); }");
    text_->installEventFilter(this);
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        shownText_ = text_->toPlainText();
        const std::string text = shownText_.toStdString();
        InspectorEdits::changeOverlay(model_, [&](Overlay& o) { o.text = text; });
    });
    layout()->addWidget(text_);

    auto* alignmentRow = new QWidget(this);
    auto* row = new QHBoxLayout(alignmentRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(new QLabel("Igazítás", alignmentRow));
    row->addStretch(1);
    // Joined segments; the chosen one in the accent colour.
    alignmentRow->setStyleSheet(
        QString("QToolButton { border: 1px solid rgba(255, 255, 255, 30); background: rgba(255, 255, 255, 22); "
                "padding: 3px 6px; } ")
        + toggleStyleSheet());
    alignment_ = new QButtonGroup(alignmentRow);
    alignment_->setExclusive(true);
    for (std::size_t i = 0; i < kAlignments.size(); ++i) {
        auto* button = new QToolButton(alignmentRow);
        button->setIcon(Symbols::icon(kAlignments[i].symbol));
        button->setToolTip(kAlignments[i].help);
        button->setAccessibleName(kAlignments[i].help);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setIconSize({16, 16});
        alignment_->addButton(button, int(i));
        row->addWidget(button);
    }
    connect(alignment_, &QButtonGroup::idClicked, this, [this](int id) {
        const TextAlignment alignment = kAlignments[std::size_t(id)].alignment;
        InspectorEdits::changeOverlay(model_, [&](Overlay& o) { o.alignment = alignment; });
    });
    layout()->addWidget(alignmentRow);

    auto* fontRow = new QWidget(this);
    auto* fontLine = new QHBoxLayout(fontRow);
    fontLine->setContentsMargins(0, 0, 0, 0);
    fontLine->setSpacing(8);
    fontLine->addWidget(new QLabel("Betűtípus", fontRow));
    font_ = new QComboBox(fontRow);
    font_->setAccessibleName("Betűtípus");
    font_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    passUnfocusedWheel(*font_);
    for (const QString& family : fontFamilies()) {
        font_->addItem(family);
        QFont face(family);
        face.setPixelSize(13);
        font_->setItemData(font_->count() - 1, face, Qt::FontRole);
    }
    fontLine->addWidget(font_, 1);
    connect(font_, &QComboBox::activated, this, [this](int index) {
        const std::string family = font_->itemText(index).toStdString();
        InspectorEdits::changeOverlay(model_, [&](Overlay& o) { o.fontFamily = family; });
    });
    layout()->addWidget(fontRow);

    bold_ = new SwitchRow("Félkövér", {}, this);
    connect(bold_->toggle(), &QAbstractButton::clicked, this,
            [this](bool on) { InspectorEdits::changeOverlay(model_, [&](Overlay& o) { o.bold = on; }); });
    layout()->addWidget(bold_);

    fontSize_ = SliderRow::forOverlay(model_, "Betűméret", 0.02, 0.15, kFontSizeStep,
                                      [](Overlay& o, double v) { o.fontSize = v; }, this);
    layout()->addWidget(fontSize_);

    color_ = new ColorRow("Szín", this);
    connect(color_->button(), &ColorButton::picked, this,
            [this](const QColor& c) { InspectorEdits::setOverlayColor(model_, c); });
    layout()->addWidget(color_);

    background_ = new SwitchRow("Sötét háttér", {}, this);
    connect(background_->toggle(), &QAbstractButton::clicked, this,
            [this](bool on) { InspectorEdits::changeOverlay(model_, [&](Overlay& o) { o.background = on; }); });
    layout()->addWidget(background_);
}

bool OverlayRows::refresh(const Overlay& overlay)
{
    if (overlay.kind != kind_) return false;
    if (color_) color_->setColor(overlay.color);
    if (lineWidth_) lineWidth_->showValue(overlay.lineWidth);
    if (text_) showText(QString::fromStdString(overlay.text));
    if (alignment_) {
        if (QAbstractButton* button = alignment_->button(alignmentIndex(overlay.alignment))) {
            const QSignalBlocker blocker(alignment_);
            button->setChecked(true);
        }
    }
    if (font_ && !font_->view()->isVisible()) {
        const QSignalBlocker blocker(font_);
        // A family not installed here matches no entry; the stored name stays.
        // One stored with its foundry is shown under its plain name.
        font_->setCurrentIndex(font_->findText(plainFontFamily(shownFamily(overlay)), Qt::MatchExactly));
    }
    if (bold_) bold_->setChecked(overlay.bold.value_or(true));
    if (fontSize_) fontSize_->showValue(overlay.fontSize);
    if (background_) background_->setChecked(overlay.background);
    return true;
}

void OverlayRows::showText(const QString& text)
{
    // What the field wrote comes back unchanged; anything else (an undo, a
    // redo, another writer) replaces the run that differs, also while the
    // user types, so that the next key goes on from the model's text.
    if (text == shownText_) return;
    shownText_ = text;
    const QString field = text_->toPlainText();
    if (field == text) return;
    const qsizetype common = std::min(field.size(), text.size());
    qsizetype head = 0;
    while (head < common && field[head] == text[head]) ++head;
    if (head > 0 && field[head - 1].isHighSurrogate()) --head;
    qsizetype tail = 0;
    while (tail < common - head && field[field.size() - 1 - tail] == text[text.size() - 1 - tail]) ++tail;
    if (tail > 0 && field[field.size() - tail].isLowSurrogate()) --tail;

    const QSignalBlocker blocker(text_);
    QTextCursor cursor(text_->document());
    cursor.setPosition(int(head));
    cursor.setPosition(int(field.size() - tail), QTextCursor::KeepAnchor);
    cursor.insertText(text.mid(head, text.size() - head - tail));
    text_->setTextCursor(cursor);
}

bool OverlayRows::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == text_) {
        if (event->type() == QEvent::FocusIn) setTextFocused(true);
        else if (event->type() == QEvent::FocusOut) setTextFocused(false);
    }
    return QWidget::eventFilter(watched, event);
}

void OverlayRows::setTextFocused(bool focused)
{
    if (focused == textFocused_) return;
    textFocused_ = focused;
    if (guard_) guard_->setEditingText(focused);
}

} // namespace ondexa
