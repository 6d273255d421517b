#include "InspectorTestSupport.h"
#include "support/WheelEvents.h"

#include "Ondexa/editor/inspector/ActionSection.h"
#include "Ondexa/editor/inspector/ClipSection.h"
#include "Ondexa/editor/inspector/ColorButton.h"
#include "Ondexa/editor/inspector/FontFamilies.h"
#include "Ondexa/editor/inspector/InspectorEdits.h"
#include "Ondexa/editor/inspector/InspectorRows.h"
#include "Ondexa/editor/inspector/OverlayRows.h"
#include "Ondexa/editor/inspector/PartnerRows.h"
#include "Ondexa/editor/inspector/PointerStyleRows.h"
#include "Ondexa/editor/inspector/TrackSection.h"
#include "Ondexa/ui/ToggleSwitch.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>

namespace ondexa {
namespace {

using testing::clipAt;
using testing::InspectorHarness;
using testing::linked;
using testing::trackWith;

Clip overlayClip(OverlayKind kind, double start = 0, double duration = 4)
{
    Clip clip = clipAt(start, duration);
    clip.media.reset();
    Overlay overlay;
    overlay.kind = kind;
    overlay.fontSize = 0.05;
    overlay.lineWidth = 0.006;
    overlay.color = RGBA{0.95, 0.2, 0.2, 1};
    overlay.background = true;
    overlay.text = "Helló";
    clip.overlay = overlay;
    return clip;
}

// A picture clip carrying one action (1 s to 2 s), linked to a sound clip.
struct LinkedPair {
    Clip picture;
    TrackAction action;
    Clip sound;
};
LinkedPair linkedPairWithAction()
{
    LinkedPair pair{linked(clipAt(0, 10), testing::link(1)), {},
                    linked(clipAt(0, 10, 0, MediaKind::audio), testing::link(1))};
    pair.action.start = 1;
    pair.action.end = 2;
    pair.picture.actions = {pair.action};
    return pair;
}

// A selected text overlay holding `words`, its caption field focused.
struct FocusedCaption {
    static Clip captionClip(std::string words)
    {
        Clip clip = overlayClip(OverlayKind::text);
        clip.overlay->text = std::move(words);
        return clip;
    }
    explicit FocusedCaption(std::string words)
        : clip(captionClip(std::move(words))), h({trackWith("Effektek 1", {clip}, MediaKind::effects)})
    {
        h.model->selectClip(clip.id, false, true);
        editor = h.panel->clipSection()->overlayRows()->textEditor();
        editor->setFocus();
    }
    Clip clip;
    InspectorHarness h;
    QPlainTextEdit* editor = nullptr;
};

QStringList visibleRowNames(const QWidget& column, const QWidget& within)
{
    QStringList names;
    for (QWidget* child : column.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisibleTo(&within)) continue;
        if (auto* row = qobject_cast<SwitchRow*>(child)) names << row->label();
        else if (auto* row = qobject_cast<SliderRow*>(child)) names << row->label();
        else if (auto* row = qobject_cast<ColorRow*>(child)) names << row->label();
        else names << child->metaObject()->className();
    }
    return names;
}

// --- Frame ---

TEST(InspectorFrame, NothingSelectedShowsTheHintAndSixAddButtons)
{
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    InspectorPanel& panel = *h.panel;

    const QList<QWidget*> section = panel.sectionWidgets();
    ASSERT_EQ(section.size(), 1);
    auto* hint = qobject_cast<QLabel*>(section.front());
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(), "Kattints egy klipre vagy sávra a beállításokhoz.");

    QStringList titles;
    for (QAbstractButton* button : panel.addButtons()) titles << button->text();
    EXPECT_EQ(titles, QStringList({"Szöveg", "Nyíl", "Téglalap", "Ellipszis", "Videó / kép", "Művelet"}));
    // Three rows of two, the columns of the same width.
    const auto buttons = panel.addButtons();
    for (int i = 0; i < 6; i += 2) {
        EXPECT_EQ(buttons[i]->y(), buttons[i + 1]->y()) << i;
        EXPECT_LT(buttons[i]->x(), buttons[i + 1]->x()) << i;
        EXPECT_EQ(buttons[i]->width(), buttons[i + 1]->width()) << i;
        if (i) {
            EXPECT_GT(buttons[i]->y(), buttons[i - 1]->y()) << i;
        }
    }
    // A document without clicks or pointer style shows neither.
    EXPECT_FALSE(panel.clicksRow()->isVisibleTo(&panel));
    EXPECT_FALSE(panel.pointerRows()->isVisibleTo(&panel));
    h.model->setCursorStyle(CursorStyle{});
    EXPECT_TRUE(panel.pointerRows()->isVisibleTo(&panel));
    testing::saveScreenshot(panel, "inspector_nothing_selected");
}

TEST(InspectorFrame, TextButtonAddsASelectedOverlayAtThePlayhead)
{
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    h.model->clock().setTime(2.0);
    const std::size_t steps = h.undoSteps();
    h.panel->addButtons()[0]->click();

    EXPECT_EQ(h.undoSteps(), steps + 1);
    const Track& effects = h.model->tracks().front();
    ASSERT_EQ(effects.media.kind, MediaKind::effects);
    ASSERT_EQ(effects.clips.size(), 1u);
    const Clip& added = effects.clips.front();
    EXPECT_DOUBLE_EQ(added.start, 2.0);
    EXPECT_DOUBLE_EQ(added.end(), 6.0);
    ASSERT_TRUE(added.overlay);
    EXPECT_EQ(added.overlay->kind, OverlayKind::text);
    EXPECT_EQ(h.model->selectedClips(), std::set<Uuid>{added.id});

    ClipSection* section = h.panel->clipSection();
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->clipID(), added.id);
    ASSERT_NE(section->overlayRows(), nullptr);
    EXPECT_EQ(section->overlayRows()->kind(), OverlayKind::text);
}

TEST(InspectorFrame, SectionFollowsTheSelection)
{
    const auto [screenClip, action, voice] = linkedPairWithAction();
    Clip camera = linked(clipAt(0, 10), testing::link(1));
    Track screen = trackWith("Képernyő", {screenClip});
    Track sound = trackWith("Mikrofon", {voice}, MediaKind::audio);
    Track cam = trackWith("Kamera", {camera});
    InspectorHarness h({screen, cam, sound});
    InspectorPanel& panel = *h.panel;

    // A clip with two partners: clip, divider, track, then a divider and rows per partner.
    h.model->selectClip(screenClip.id, false, false);
    QStringList kinds;
    for (QWidget* w : panel.sectionWidgets()) kinds << w->metaObject()->className();
    EXPECT_EQ(kinds, QStringList({"ondexa::ClipSection", "QFrame", "ondexa::TrackSection", "QFrame",
                                  "ondexa::PartnerRows", "QFrame", "ondexa::PartnerRows"}));
    const auto partners = panel.partnerRows();
    const auto expected = h.model->linkedPartners();
    ASSERT_EQ(partners.size(), expected.size());
    for (std::size_t i = 0; i < partners.size(); ++i) EXPECT_EQ(partners[i]->clipID(), expected[i].clip->id);
    EXPECT_EQ(panel.trackSection()->trackID(), screen.id);

    // An edit of the shown clip keeps every section object.
    QPointer<ClipSection> clipSection = panel.clipSection();
    h.model->updateClip([&] {
        Clip c = h.clip(0, 0);
        c.volume = 0.5f;
        return c;
    }());
    EXPECT_EQ(panel.clipSection(), clipSection.data());

    // An action: only its rows, though its clip is selected too.
    h.model->selectAction(action.id);
    kinds.clear();
    for (QWidget* w : panel.sectionWidgets()) kinds << w->metaObject()->className();
    EXPECT_EQ(kinds, QStringList({"ondexa::ActionSection"}));
    EXPECT_EQ(panel.actionSection()->actionID(), action.id);
    testing::flushDeletes();
    EXPECT_TRUE(clipSection.isNull());

    // A track alone.
    h.model->clearSelection();
    h.model->setSelectedTrackID(sound.id);
    ASSERT_EQ(panel.sectionWidgets().size(), 1);
    EXPECT_EQ(panel.trackSection()->trackID(), sound.id);
}

// The panel is a column the user scrolls: a wheel turned over a slider or a
// picker that lacks the focus scrolls on past it and edits nothing.
TEST(InspectorFrame, TheWheelScrollsPastUnfocusedSlidersAndPickers)
{
    setFontFamilies({"DejaVu Sans", "Liberation Sans"});
    Clip caption = overlayClip(OverlayKind::text, 0, 10);
    caption.overlay->fontFamily = "DejaVu Sans";
    const auto [screenClip, action, voice] = linkedPairWithAction();
    InspectorHarness h({trackWith("Effektek 1", {caption}, MediaKind::effects), trackWith("Képernyő", {screenClip}),
                        trackWith("Mikrofon", {voice}, MediaKind::audio)});
    CursorStyle style;
    style.ring = true;
    h.model->setCursorStyle(style);
    h.panel->resize(280, 300);
    QScrollBar* scroll = h.panel->verticalScrollBar();
    QWidget* elsewhere = h.panel->addButtons()[0];

    const std::function<void()> selections[] = {
        [&] { h.model->selectClip(caption.id, false, true); },
        [&] { h.model->selectClip(screenClip.id, false, false); },
        [&] { h.model->selectAction(action.id); },
    };
    int sliders = 0;
    int pickers = 0;
    for (const auto& select : selections) {
        select();
        testing::flushDeletes();
        QList<QWidget*> controls;
        for (DoubleSlider* slider : h.panel->widget()->findChildren<DoubleSlider*>())
            if (slider->isVisibleTo(h.panel.get())) controls << slider, ++sliders;
        for (QComboBox* picker : h.panel->widget()->findChildren<QComboBox*>())
            if (picker->isVisibleTo(h.panel.get())) controls << picker, ++pickers;
        for (QWidget* control : controls) {
            const QString name = control->metaObject()->className() + QString(" ") + control->accessibleName();
            elsewhere->setFocus();
            scroll->setValue(0);
            const auto tracks = h.model->tracks();
            const auto pointer = h.model->cursorStyle();
            const std::size_t steps = h.undoSteps();
            EXPECT_TRUE(testing::turnWheel(*control, {0, -120})) << name.toStdString();
            EXPECT_GT(scroll->value(), 0) << name.toStdString() << ": the panel scrolls";
            EXPECT_EQ(h.model->tracks(), tracks) << name.toStdString();
            EXPECT_EQ(h.model->cursorStyle(), pointer) << name.toStdString();
            EXPECT_EQ(h.undoSteps(), steps) << name.toStdString();
            EXPECT_FALSE(control->hasFocus()) << name.toStdString() << ": the wheel gives no focus";
        }
    }
    // Pointer, fades, font size, size, rotation, volume, partner and action rows; font and transition.
    EXPECT_GE(sliders, 12);
    EXPECT_EQ(pickers, 2);

    // Focused, a control takes the wheel, and its row's undo rule holds.
    h.model->selectClip(caption.id, false, true);
    OverlayRows* rows = h.panel->clipSection()->overlayRows();
    DoubleSlider* fontSize = rows->fontSizeRow()->slider();
    std::size_t steps = h.undoSteps();
    fontSize->setFocus();
    EXPECT_TRUE(testing::turnWheel(*fontSize, {0, 120}));
    EXPECT_NEAR(h.clip(0, 0).overlay->fontSize, 0.053, 1e-9);
    EXPECT_EQ(h.undoSteps(), steps + 1);
    rows->fontPicker()->setFocus();
    EXPECT_TRUE(testing::turnWheel(*rows->fontPicker(), {0, -120}));
    EXPECT_EQ(h.clip(0, 0).overlay->fontFamily, "Liberation Sans");
    EXPECT_EQ(h.undoSteps(), steps + 2);
    DoubleSlider* pointerSize = h.panel->pointerRows()->scaleRow()->slider();
    pointerSize->setFocus();
    EXPECT_TRUE(testing::turnWheel(*pointerSize, {0, 120}));
    EXPECT_NEAR(h.model->cursorStyle()->scale, 1.53, 1e-9);
    EXPECT_EQ(h.undoSteps(), steps + 2);
    setFontFamilies(QFontDatabase::families());
}

// "Videó / kép" offers every movie and picture type the system names, then every file.
TEST(InspectorFrame, MediaDialogOffersTheSystemsMovieAndPictureTypes)
{
    const QStringList filters = InspectorPanel::mediaNameFilters();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[1], "Minden fájl (*)");
    ASSERT_TRUE(filters[0].startsWith("Videók és képek (")) << filters[0].toStdString();
    ASSERT_TRUE(filters[0].endsWith(")"));
    const QStringList globs = filters[0].mid(filters[0].indexOf('(') + 1).chopped(1).split(' ');
    const QMimeDatabase types;
    for (const char* name : {"video/mp2t", "video/3gpp", "video/mpeg", "video/quicktime", "video/mp4", "image/png"}) {
        const QMimeType type = types.mimeTypeForName(name);
        ASSERT_TRUE(type.isValid()) << name;
        ASSERT_FALSE(type.globPatterns().isEmpty()) << name;
        for (const QString& glob : type.globPatterns())
            EXPECT_TRUE(globs.contains(glob)) << name << " " << glob.toStdString();
    }
    for (const char* glob : {"*.mts", "*.m2ts", "*.ts", "*.3gp", "*.mpg", "*.mov", "*.jpg"})
        EXPECT_TRUE(globs.contains(glob)) << glob;
    QStringList unique = globs;
    EXPECT_EQ(unique.removeDuplicates(), 0);

    // The dialog itself, its type list showing the names alone.
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    h.panel->addButtons()[4]->click();
    QPointer<QFileDialog> dialog = h.panel->findChild<QFileDialog*>();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->nameFilters(), filters);
    EXPECT_TRUE(dialog->testOption(QFileDialog::HideNameFilterDetails));
    testing::saveScreenshot(*dialog, "inspector_media_dialog");
    const auto before = h.model->tracks();
    dialog->reject();
    testing::flushDeletes();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(h.model->tracks(), before);
}

TEST(InspectorFrame, MediaChooserImportsOnlyAChosenFile)
{
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    int asked = 0;
    QWidget* parent = nullptr;
    h.panel->setOpenDialog([&](QWidget* p, InspectorPanel::ChosenFile chosen) {
        ++asked;
        parent = p;
        chosen(std::nullopt);
    });
    const auto before = h.model->tracks();
    h.panel->addButtons()[4]->click();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(parent, h.panel.get());
    EXPECT_EQ(h.model->tracks(), before);
    EXPECT_FALSE(h.model->exportError());
}

// --- Overlay ---

TEST(InspectorOverlay, RowsByKind)
{
    const struct {
        OverlayKind kind;
        QStringList rows;
    } cases[] = {
        {OverlayKind::arrow, {"Szín", "Vastagság"}},
        {OverlayKind::rectangle, {"Szín", "Vastagság"}},
        {OverlayKind::ellipse, {"Szín", "Vastagság"}},
        {OverlayKind::zoom, {}},
        {OverlayKind::pip, {}},
        {OverlayKind::text,
         {"QPlainTextEdit", "QWidget", "QWidget", "Félkövér", "Betűméret", "Szín", "Sötét háttér"}},
    };
    for (const auto& c : cases) {
        Clip clip = overlayClip(c.kind);
        InspectorHarness h({trackWith("Effektek 1", {clip}, MediaKind::effects)});
        h.model->selectClip(clip.id, false, true);
        OverlayRows* rows = h.panel->clipSection()->overlayRows();
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(visibleRowNames(*rows, *h.panel), c.rows) << int(c.kind);
    }
}

TEST(InspectorOverlay, AbsentFieldsShowDefaultsAndStayAbsent)
{
    setFontFamilies({"DejaVu Sans [PfEd]", "DejaVu Sans [misc]", "Liberation Sans", ".Hidden", "Sans Serif"});
    Clip clip = overlayClip(OverlayKind::text);
    Clip stored = overlayClip(OverlayKind::text, 5);
    stored.overlay->fontFamily = "Helvetica Neue";  // not on this machine
    stored.overlay->bold = false;
    stored.overlay->alignment = TextAlignment::right;
    Clip tagged = overlayClip(OverlayKind::text, 10);
    tagged.overlay->fontFamily = "DejaVu Sans [PfEd]";
    InspectorHarness h({trackWith("Effektek 1", {clip, stored, tagged}, MediaKind::effects)});

    h.model->selectClip(clip.id, false, true);
    OverlayRows* rows = h.panel->clipSection()->overlayRows();
    EXPECT_EQ(rows->alignmentGroup()->checkedId(), 0);
    EXPECT_EQ(rows->fontPicker()->currentText(), "Liberation Sans");
    EXPECT_EQ(rows->fontPicker()->count(), 2);
    EXPECT_TRUE(rows->boldRow()->isChecked());
    EXPECT_EQ(rows->textEditor()->toPlainText(), "Helló");

    h.model->selectClip(stored.id, false, true);
    rows = h.panel->clipSection()->overlayRows();
    EXPECT_EQ(rows->alignmentGroup()->checkedId(), 2);
    EXPECT_EQ(rows->fontPicker()->currentIndex(), -1);
    EXPECT_FALSE(rows->boldRow()->isChecked());

    // A name stored with its foundry finds its family's one entry.
    h.model->selectClip(tagged.id, false, true);
    rows = h.panel->clipSection()->overlayRows();
    EXPECT_EQ(rows->fontPicker()->currentText(), "DejaVu Sans");

    // Showing wrote nothing.
    EXPECT_EQ(h.clip(0, 0).overlay, clip.overlay);
    EXPECT_EQ(h.clip(0, 1).overlay, stored.overlay);
    EXPECT_EQ(h.undoSteps(), 0u);
    setFontFamilies(QFontDatabase::families());
}

TEST(InspectorOverlay, EachControlWritesOneUndoStep)
{
    setFontFamilies({"DejaVu Sans", "Liberation Sans"});
    Clip clip = overlayClip(OverlayKind::text);
    InspectorHarness h({trackWith("Effektek 1", {clip}, MediaKind::effects)});
    h.model->selectClip(clip.id, false, true);
    OverlayRows* rows = h.panel->clipSection()->overlayRows();
    const Overlay& live = *h.clip(0, 0).overlay;

    std::size_t steps = h.undoSteps();
    rows->alignmentGroup()->button(1)->click();
    EXPECT_EQ(live.alignment, TextAlignment::center);
    rows->boldRow()->toggle()->click();
    EXPECT_EQ(live.bold, false);
    rows->backgroundRow()->toggle()->click();
    EXPECT_FALSE(live.background);
    rows->fontPicker()->activated(0);
    EXPECT_EQ(live.fontFamily, "DejaVu Sans");
    ColorButton::setDialog([](const QColor&, QWidget*, const QString&) { return QColor(0, 255, 0, 128); });
    rows->colorRow()->button()->click();
    ColorButton::setDialog({});
    EXPECT_NEAR(live.color.g, 1, 1e-6);
    EXPECT_NEAR(live.color.a, 128 / 255.0, 1e-6);
    EXPECT_EQ(h.undoSteps(), steps + 5);

    // The same rows show it all.
    EXPECT_EQ(h.panel->clipSection()->overlayRows(), rows);
    EXPECT_EQ(rows->alignmentGroup()->checkedId(), 1);
    EXPECT_FALSE(rows->boldRow()->isChecked());
    setFontFamilies(QFontDatabase::families());
}

TEST(InspectorOverlay, TypingAddsOneStepPerKeystrokeAndMirrorsTheFocus)
{
    Clip clip = overlayClip(OverlayKind::text);
    clip.overlay->text = "";
    Clip other = overlayClip(OverlayKind::arrow, 5);
    InspectorHarness h({trackWith("Effektek 1", {clip, other}, MediaKind::effects)});
    h.model->selectClip(clip.id, false, true);
    QPointer<QPlainTextEdit> editor = h.panel->clipSection()->overlayRows()->textEditor();
    const double emptyHeight = h.clip(0, 0).overlay->rect.h;

    editor->setFocus();
    ASSERT_TRUE(editor->hasFocus());
    EXPECT_TRUE(h.model->isEditingText());

    const std::size_t steps = h.undoSteps();
    const struct {
        int key;
        const char* text;
    } keys[] = {{Qt::Key_S, "S"}, {Qt::Key_Z, "z"}, {Qt::Key_Return, "\r"}, {Qt::Key_I, "i"}, {Qt::Key_A, "a"}};
    for (const auto& k : keys) testing::sendKey(*editor, k.key, k.text);
    EXPECT_EQ(h.undoSteps(), steps + 5);
    EXPECT_EQ(h.clip(0, 0).overlay->text, "Sz\nia");
    // The same editor throughout, and the box grew with the second line.
    EXPECT_EQ(h.panel->clipSection()->overlayRows()->textEditor(), editor.data());
    EXPECT_GT(h.clip(0, 0).overlay->rect.h, emptyHeight);

    // Leaving clears the flag; coming back sets it again.
    h.panel->addButtons()[0]->setFocus();
    EXPECT_FALSE(h.model->isEditingText());
    editor->setFocus();
    EXPECT_TRUE(h.model->isEditingText());

    // Another selection replaces the rows: the flag ends with the editor.
    h.model->selectClip(other.id, false, true);
    testing::flushDeletes();
    EXPECT_TRUE(editor.isNull());
    EXPECT_FALSE(h.model->isEditingText());
}

// Undo belongs to the edit: the caption field offers none of its own, and
// its undo and redo keys reach the window's commands instead of its typing.
TEST(InspectorOverlay, TheTextFieldLeavesUndoToTheModel)
{
    FocusedCaption caption("");
    InspectorHarness& h = caption.h;
    QPlainTextEdit* editor = caption.editor;
    testing::sendKey(*editor, Qt::Key_A, "a");
    testing::sendKey(*editor, Qt::Key_B, "b");
    ASSERT_EQ(h.clip(0, 0).overlay->text, "ab");
    const std::size_t steps = h.undoSteps();

    // The menu a right click opens.
    const QPoint at(10, 10);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, editor->viewport()->mapToGlobal(at));
    QApplication::sendEvent(editor->viewport(), &click);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QStringList names;
    for (const QAction* action : menu->actions()) names << action->objectName();
    menu->close();
    testing::flushDeletes();
    EXPECT_TRUE(names.contains("edit-copy")) << names.join(' ').toStdString();
    EXPECT_FALSE(names.contains("edit-undo"));
    EXPECT_FALSE(names.contains("edit-redo"));

    // Unclaimed by a command, the key is not the field's either.
    QKeyEvent bare(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
    QApplication::sendEvent(editor, &bare);
    EXPECT_FALSE(bare.isAccepted());
    EXPECT_EQ(editor->toPlainText(), "ab");
    EXPECT_EQ(h.undoSteps(), steps);

    int undos = 0;
    int redos = 0;
    QAction undo(h.panel.get());
    undo.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QObject::connect(&undo, &QAction::triggered, [&] { ++undos, h.model->undo(); });
    QAction redo(h.panel.get());
    redo.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    QObject::connect(&redo, &QAction::triggered, [&] { ++redos, h.model->redo(); });
    h.panel->addActions({&undo, &redo});

    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(h.clip(0, 0).overlay->text, "a");
    EXPECT_EQ(h.undoSteps(), steps - 1);
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(redos, 1);
    EXPECT_EQ(h.clip(0, 0).overlay->text, "ab");
    EXPECT_EQ(h.undoSteps(), steps);
}

// Undo and redo while the field has the focus: the field shows the model's
// text with the cursor at the end of what changed, and typing goes on from it.
TEST(InspectorOverlay, UndoWhileTypingShowsTheModelsText)
{
    FocusedCaption caption("Szöveg");
    InspectorHarness& h = caption.h;
    QPlainTextEdit* editor = caption.editor;
    editor->moveCursor(QTextCursor::End);
    const auto type = [&](const QString& keys) {
        for (const QChar key : keys) testing::sendKey(*editor, Qt::Key_A + (key.unicode() - 'a'), key);
    };
    const auto text = [&] { return QString::fromStdString(h.clip(0, 0).overlay->text); };

    type("abc");
    ASSERT_EQ(text(), "Szövegabc");
    h.model->undo();
    EXPECT_EQ(text(), "Szövegab");
    EXPECT_EQ(editor->toPlainText(), "Szövegab");
    EXPECT_EQ(editor->textCursor().position(), 8);
    type("d");
    EXPECT_EQ(text(), "Szövegabd");
    EXPECT_EQ(editor->toPlainText(), "Szövegabd");

    h.model->undo();
    h.model->redo();
    EXPECT_EQ(editor->toPlainText(), "Szövegabd");
    EXPECT_EQ(editor->textCursor().position(), 9);
    type("e");
    EXPECT_EQ(text(), "Szövegabde");

    // An undone key in the middle leaves the cursor where that key was.
    editor->moveCursor(QTextCursor::Start);
    editor->moveCursor(QTextCursor::Right);
    editor->moveCursor(QTextCursor::Right);
    type("x");
    ASSERT_EQ(text(), "Szxövegabde");
    editor->moveCursor(QTextCursor::End);
    h.model->undo();
    EXPECT_EQ(editor->toPlainText(), "Szövegabde");
    EXPECT_EQ(editor->textCursor().position(), 2);
    type("y");
    EXPECT_EQ(text(), "Szyövegabde");
    EXPECT_TRUE(editor->hasFocus());
    EXPECT_EQ(h.panel->clipSection()->overlayRows()->textEditor(), editor);
}

TEST(InspectorOverlay, DestroyedFocusedEditorEndsTextEditing)
{
    Clip clip = overlayClip(OverlayKind::text);
    InspectorHarness h({trackWith("Effektek 1", {clip}, MediaKind::effects)});
    auto* rows = new OverlayRows(*h.model, *clip.overlay);
    rows->show();
    QApplication::setActiveWindow(rows);
    rows->textEditor()->setFocus();
    ASSERT_TRUE(h.model->isEditingText());
    delete rows;
    EXPECT_FALSE(h.model->isEditingText());
}

TEST(InspectorOverlay, FontSizeDragKeepsItsSliderAndStepsPerValue)
{
    Clip clip = overlayClip(OverlayKind::text);
    InspectorHarness h({trackWith("Effektek 1", {clip}, MediaKind::effects)});
    h.model->selectClip(clip.id, false, true);
    SliderRow* row = h.panel->clipSection()->overlayRows()->fontSizeRow();
    QPointer<DoubleSlider> slider = row->slider();
    const int y = slider->height() / 2;

    const std::size_t steps = h.undoSteps();
    testing::sendMouse(*slider, QEvent::MouseButtonPress, {testing::sliderX(*slider, 0.2), y}, Qt::LeftButton,
                       Qt::LeftButton);
    for (double f : {0.4, 0.6, 0.8}) {
        testing::sendMouse(*slider, QEvent::MouseMove, {testing::sliderX(*slider, f), y}, Qt::NoButton,
                           Qt::LeftButton);
        testing::flushDeletes();
        ASSERT_FALSE(slider.isNull());
        EXPECT_EQ(h.panel->clipSection()->overlayRows()->fontSizeRow()->slider(), slider.data());
    }
    testing::sendMouse(*slider, QEvent::MouseButtonRelease, {testing::sliderX(*slider, 0.8), y}, Qt::LeftButton,
                       Qt::NoButton);
    EXPECT_EQ(h.undoSteps(), steps + 4);
    EXPECT_NEAR(h.clip(0, 0).overlay->fontSize, 0.02 + 0.8 * 0.13, 0.003);
    EXPECT_EQ(h.panel->clipSection()->overlayRows()->fontSizeRow()->slider(), slider.data());

    h.model->undo();
    EXPECT_NEAR(h.clip(0, 0).overlay->fontSize, 0.02 + 0.6 * 0.13, 0.003);
}

// --- Pointer ---

TEST(InspectorPointer, RowsFollowTheSwitches)
{
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    const QStringList all{"Saját egérmutató", "Méret", "Kitöltés", "Körvonal", "Kör a mutató körül",
                          "Bal klikk / alap szín", "Jobb klikk szín", "Kör mérete", "Vastagság"};
    const struct {
        bool enabled;
        bool ring;
        QStringList rows;
    } cases[] = {
        {false, true, {"Saját egérmutató"}},
        {false, false, {"Saját egérmutató"}},
        {true, false, all.mid(0, 5)},
        {true, true, all},
    };
    for (const auto& c : cases) {
        CursorStyle style;
        style.enabled = c.enabled;
        style.ring = c.ring;
        h.model->setCursorStyle(style);
        EXPECT_EQ(visibleRowNames(*h.panel->pointerRows(), *h.panel), c.rows) << c.enabled << c.ring;
    }

    // The switches write the whole style and keep the hidden values.
    CursorStyle style;
    style.ringSize = 3.3;
    h.model->setCursorStyle(style);
    PointerStyleRows& rows = *h.panel->pointerRows();
    rows.enabledRow()->toggle()->click();
    EXPECT_FALSE(h.model->cursorStyle()->enabled);
    EXPECT_EQ(h.model->cursorStyle()->ringSize, 3.3);
    EXPECT_EQ(visibleRowNames(rows, *h.panel), QStringList{"Saját egérmutató"});
    rows.enabledRow()->toggle()->click();
    rows.ringRow()->toggle()->click();
    EXPECT_EQ(visibleRowNames(rows, *h.panel), all);
    EXPECT_NEAR(rows.ringSizeRow()->slider()->value(), 3.3, 1e-9);
    EXPECT_EQ(h.undoSteps(), 0u);
}

TEST(InspectorPointer, SizeRowShowsRoundedPercentAndDragsWithoutUndo)
{
    InspectorHarness h({trackWith("Képernyő", {clipAt(0, 10)})});
    const struct {
        double scale;
        const char* text;
        double handle;
    } cases[] = {{1.5, "150 %", 1.5}, {1.125, "113 %", 1.13}, {1.005, "100 %", 1.0}, {0.5, "50 %", 0.5},
                 {6, "600 %", 4}};
    for (const auto& c : cases) {
        CursorStyle style;
        style.scale = c.scale;
        h.model->setCursorStyle(style);
        SliderRow* row = h.panel->pointerRows()->scaleRow();
        EXPECT_EQ(row->valueText(), c.text) << c.scale;
        EXPECT_NEAR(row->slider()->value(), c.handle, 1e-9) << c.scale;
    }

    // One timeline edit, then a drag: undo takes back the edit, not the pointer.
    h.model->selectClip(h.clip(0, 0).id, false, true);
    InspectorEdits::changeClip(*h.model, [](Clip& c) { c.rounded = false; });
    const std::size_t steps = h.undoSteps();
    h.panel->resize(280, 1400);
    testing::dragSlider(*h.panel->pointerRows()->scaleRow()->slider(), {0.1, 0.5, 0.9});
    EXPECT_EQ(h.undoSteps(), steps);
    const double dragged = h.model->cursorStyle()->scale;
    EXPECT_NEAR(dragged, 0.5 + 0.9 * 3.5, 0.05);
    h.model->undo();
    EXPECT_TRUE(h.clip(0, 0).rounded);
    EXPECT_EQ(h.model->cursorStyle()->scale, dragged);
}

// --- Screenshots ---

TEST(InspectorFrame, ScreenshotOfATextOverlay)
{
    Clip clip = overlayClip(OverlayKind::text);
    clip.overlay->text = "Üdvözlet a bemutatóban";
    InspectorHarness h({trackWith("Effektek 1", {clip}, MediaKind::effects),
                        trackWith("Képernyő", {clipAt(0, 10)})});
    CursorStyle style;
    style.ring = true;
    h.model->setCursorStyle(style);
    h.model->selectClip(clip.id, false, true);
    h.panel->resize(280, 1500);
    testing::saveScreenshot(*h.panel, "inspector_text_overlay");
}

} // namespace
} // namespace ondexa

namespace ondexa {
namespace {

// A loaded recording with clicks and a pointer style, and a still to import.
TEST(InspectorFrame, ClickSwitchAndMediaImportOnALoadedRecording)
{
    testing::TempFolder folder;
    testing::RecordingRecipe recipe;
    recipe.seconds = 2;
    recipe.width = 320;
    recipe.height = 180;
    recipe.camera = false;
    recipe.tones = 1;
    const auto movie = testing::makeRecording(folder.path / "felvetel.mov", recipe);
    RecordingInfo info;
    info.audioTracks = {"Rendszerhang"};
    info.clicks = std::vector<std::vector<double>>{{0.5, 0.2, 0.3, 0}};
    info.showClicks = false;
    info.cursor = std::vector<std::vector<double>>{{0, 0.5, 0.5}, {1, 0.6, 0.5}};
    info.cursorStyle = CursorStyle{};
    info.save(movie);
    const auto picture = ::fixtures::makePicture(folder.path / "kep.png", 64, 48);

    EditorModel model(movie, testing::settingsIn(folder.path));
    ASSERT_TRUE(testing::loadAndWait(model));
    ASSERT_TRUE(model.hasClicks());
    InspectorPanel panel(model);
    panel.show();

    ASSERT_TRUE(panel.clicksRow()->isVisibleTo(&panel));
    EXPECT_FALSE(panel.clicksRow()->isChecked());
    const std::size_t steps = model.undoStack().size();
    panel.clicksRow()->toggle()->click();
    EXPECT_TRUE(model.showClicks());
    EXPECT_EQ(model.undoStack().size(), steps);
    EXPECT_TRUE(panel.pointerRows()->isVisibleTo(&panel));

    const std::size_t tracks = model.tracks().size();
    panel.setOpenDialog([&](QWidget*, InspectorPanel::ChosenFile chosen) { chosen(picture); });
    panel.addButtons()[4]->click();
    ASSERT_TRUE(testing::runUntil([&] { return model.tracks().size() > tracks; }, std::chrono::seconds(60)))
        << model.exportError().value_or("");
    const Track& added = model.tracks().front();
    EXPECT_EQ(added.media.kind, MediaKind::image);
    testing::waitForSaves(model);
}

} // namespace
} // namespace ondexa
