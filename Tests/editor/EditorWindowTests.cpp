// The editor window: its title, the layout's fixed sizes, loading on the
// first show, the load-error box, the one "Hiba" alert, the keys of the
// toolbar in the window, and a closed window whose export goes on.

#include "EditorWindowTestSupport.h"

#include "Ondexa/editor/EditorFooter.h"
#include "Ondexa/editor/ExportDialog.h"
#include "Ondexa/editor/EditorToolbar.h"
#include "Ondexa/editor/PlayerView.h"
#include "Ondexa/editor/inspector/InspectorPanel.h"
#include "Ondexa/model/ProjectFile.h"
#include "Ondexa/editor/PreviewCanvas.h"
#include "Ondexa/timeline/EditTimeline.h"
#include "Ondexa/timeline/TrackHeaders.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QPointer>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>

#include <filesystem>

namespace ondexa::testing {
namespace {

namespace fs = std::filesystem;

std::size_t clipCount(const EditorModel& model)
{
    std::size_t count = 0;
    for (const Track& track : model.tracks()) count += track.clips.size();
    return count;
}

TEST(EditorWindowTitle, FromTheDocumentOrTheFileWithoutItsLastExtension)
{
    struct Case {
        fs::path url;
        std::optional<fs::path> document;
        QString title;
    };
    const Case cases[] = {
        {"/home/anna/Videos/Vendalum/Felvétel 2024-05-01 10.00.00.mov", {}, "Felvétel 2024-05-01 10.00.00"},
        {"/home/anna/Demo.vdlproj", "/home/anna/Demo.vdlproj", "Demo"},
        {"/home/anna/Demo.vdlproj/", "/home/anna/Demo.vdlproj/", "Demo"},
        {"/tmp/a.mov", "/tmp/X.vdlproj", "X"},
        {"/tmp/clip.tar.mov", {}, "clip.tar"},
    };
    for (const Case& c : cases) EXPECT_EQ(EditorWindow::title(c.url, c.document), c.title) << c.url;
}

class EditorWindowTest : public ::testing::Test {
protected:
    TempFolder folder;
};

TEST_F(EditorWindowTest, ShowsABracketedStarAsWritten)
{
    // "[*]" would otherwise be taken for the modified mark and vanish.
    EditorWindow window(folder.path / "a[*]b.mov");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowHandle()->title(), "a[*]b");
}

TEST_F(EditorWindowTest, AMissingFileShowsTheLoadErrorAndTheToolbarStillResponds)
{
    auto window = openEditor(folder.path / "nincs.mov");
    ASSERT_TRUE(window->model().loadError());
    QLabel* box = window->loadErrorBox();
    ASSERT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().startsWith("A felvétel nem nyitható meg: ")) << box->text().toStdString();
    // Centred over the whole content, as large as its text.
    const QRect content = window->centralWidget()->rect();
    EXPECT_LE(std::abs(box->geometry().center().x() - content.center().x()), 1);
    EXPECT_LE(std::abs(box->geometry().center().y() - content.center().y()), 1);
    EXPECT_LT(box->width(), content.width());
    saveScreenshot(*window, "editor-window-load-error");

    const bool snapping = window->model().snapping();
    window->toolbar()->button("snap")->click();
    EXPECT_EQ(window->model().snapping(), !snapping);
    window->model().clock().setTime(0);
    QTest::keyClick(window.get(), Qt::Key_I);
    EXPECT_EQ(window->model().markIn(), 0.0);
    EXPECT_FALSE(window->footer()->exportButton()->isEnabled());
}

TEST_F(EditorWindowTest, RegionsKeepTheirFixedSizes)
{
    EditorWindow window(folder.path / "nincs.mov");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.minimumSize(), QSize(1250, 720));
    window.resize(1250, 720);
    QApplication::processEvents();
    EXPECT_GE(window.preview()->height(), 280);
    EXPECT_EQ(window.inspector()->width(), 280);
    // The toolbar and the footer are inset in their strips.
    EXPECT_EQ(window.toolbar()->geometry().topLeft(), QPoint(12, 8));
    EXPECT_EQ(window.footer()->geometry().topLeft(), QPoint(12, 8));
}

TEST_F(EditorWindowTest, OneAlertWhoseTextFollowsTheMessage)
{
    EditorWindow window(folder.path / "nincs.mov");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EditorModel& model = window.model();

    model.setExportError("Első hiba.");
    QPointer<QMessageBox> alert = window.alert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Hiba");
    EXPECT_EQ(alert->text(), "Első hiba.");

    model.setExportError("Második hiba.");
    EXPECT_EQ(window.alert(), alert.data());
    EXPECT_EQ(alert->text(), "Második hiba.");
    EXPECT_EQ(window.findChildren<QMessageBox*>().size(), 1);

    // OK clears the message; the next one presents the alert again.
    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(model.exportError());
    EXPECT_FALSE(alert->isVisible());
    model.setExportError("Harmadik hiba.");
    EXPECT_TRUE(window.alert()->isVisible());
    EXPECT_EQ(window.alert()->text(), "Harmadik hiba.");
}

class EditorWindowFixtureTest : public EditorWindowTest {
protected:
    void SetUp() override
    {
        recording = makeEditorRecording(folder.path / "Felvétel 2024-05-01 10.00.00.mov");
        window = openEditor(recording);
        ASSERT_TRUE(window->model().isLoaded());
        ASSERT_FALSE(window->model().tracks().empty());
    }

    fs::path recording;
    std::unique_ptr<EditorWindow> window;
};

TEST_F(EditorWindowFixtureTest, LoadsOnShowAndTakesTheProjectsNameAfterSavingAs)
{
    EXPECT_EQ(window->windowTitle(), "Felvétel 2024-05-01 10.00.00");
    EXPECT_TRUE(runUntil([&] { return !window->playerView().frame().isNull(); }));
    window->repaint();
    saveScreenshot(*window, "editor-window");

    bool saved = false;
    window->model().saveProject(folder.path / "X.vdlproj", [&](std::optional<std::string> error) {
        EXPECT_FALSE(error) << *error;
        saved = true;
    });
    ASSERT_TRUE(runUntil([&] { return saved; }));
    EXPECT_EQ(window->windowTitle(), "X");
}

TEST_F(EditorWindowFixtureTest, AtTheSmallestSizeEachOfTwentyTracksCanBeReachedAndEdited)
{
    EditorModel& model = window->model();
    while (model.tracks().size() < 20) model.duplicateTrack(model.tracks().front().id);
    window->resize(EditorWindow::minimumWidth, EditorWindow::minimumHeight);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();  // the row scroll bar takes its place
    EditTimeline* timeline = window->timeline();
    QWidget* content = window->centralWidget();
    const auto placed = [&](QWidget* w) { return QRect(w->mapTo(content, QPoint()), w->size()); };

    // Everything below the preview stays in the window; the timeline shows a few rows.
    EXPECT_TRUE(content->rect().contains(placed(window->footer()))) << placed(window->footer()).bottom();
    EXPECT_TRUE(content->rect().contains(placed(timeline->scrollBar())));
    EXPECT_TRUE(timeline->scrollBar()->isVisible());
    EXPECT_GE(window->preview()->height(), 280);
    const double h = model.trackHeight();
    EXPECT_GE(timeline->area()->height(), 24 + 3 * h);
    ASSERT_TRUE(timeline->rowScrollBar()->isVisible());

    // The wheel takes the rows to their end, where the last one shows whole.
    QWidget* area = timeline->area();
    for (int turn = 0; turn < 25; ++turn) {
        QWheelEvent wheel(QPointF(300, 100), area->mapToGlobal(QPointF(300, 100)), {}, {0, -120}, Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(area, &wheel);
    }
    const double rows = timeline->scrollY();
    EXPECT_EQ(rows, timeline->panelHeight() - area->height());
    const Track last = model.tracks().back();
    const double top = 24 + 19 * h - rows;
    EXPECT_LE(top + h, area->height());
    QWidget* header = timeline->headers()->row(last.id);
    EXPECT_EQ(header->y(), int(top));
    EXPECT_LE(header->geometry().bottom(), timeline->headers()->height());
    saveScreenshot(*window, "editor-window-twenty-tracks-end");
    saveScreenshot(*timeline, "edit-timeline-twenty-tracks-end");

    // Its clip is clicked, its header's switch (the sound track's mute) flipped.
    const QPointF at(10 + 0.5 * timeline->pixelsPerSecond() - timeline->scrollX(), top + h / 2);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, area->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
        QApplication::sendEvent(area, &event);
    }
    EXPECT_TRUE(model.selectedClips().contains(last.clips.front().id));
    ASSERT_EQ(last.media.kind, MediaKind::audio);
    QAbstractButton* mute = nullptr;
    for (auto* button : header->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(header) && button->toolTip() == "Némítás") mute = button;
    ASSERT_NE(mute, nullptr);
    EXPECT_EQ(timeline->headers()->childAt(mute->mapTo(timeline->headers(), mute->rect().center())), mute);
    QTest::mouseClick(mute, Qt::LeftButton);
    EXPECT_TRUE(model.tracks().back().muted);
}

TEST_F(EditorWindowFixtureTest, KeysCutClearAndStandBackForText)
{
    EditorModel& model = window->model();
    const std::size_t clips = clipCount(model);
    EXPECT_FALSE(model.canUndo());

    // → moves 1 s on, t cuts there: every track's clip in two.
    QTest::keyClick(window.get(), Qt::Key_Right);
    EXPECT_DOUBLE_EQ(model.clock().time(), 1.0);
    QTest::keyClick(window.get(), Qt::Key_T);
    EXPECT_EQ(clipCount(model), 2 * clips);
    EXPECT_TRUE(model.canUndo());
    EXPECT_TRUE(window->toolbar()->button("undo")->isEnabled());

    // Escape clears the marks and the selection; the matrix and undo stay.
    model.setMarkIn(0.5);
    model.setMarkOut(2.0);
    model.selectAllClips();
    const EditorModel::MatrixSelection matrix{0.5, 2.0, {model.tracks().front().id}};
    model.setMatrixSelection(matrix);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(model.markIn());
    EXPECT_FALSE(model.markOut());
    EXPECT_TRUE(model.selectedClips().empty());
    EXPECT_EQ(model.matrixSelection(), matrix);
    EXPECT_TRUE(model.canUndo());

    // Typing into a text field: the keys are the field's.
    auto* field = new QLineEdit(window->inspector());
    field->show();
    field->setFocus();
    model.setEditingText(true);
    QTest::keyClicks(field, "tm ");
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "tm");
    EXPECT_EQ(clipCount(model), 2 * clips);
    EXPECT_FALSE(model.isPlaying());

    // Any focus, not only a field's: with no shortcut attached t does nothing.
    field->clearFocus();
    QTest::keyClick(window.get(), Qt::Key_T);
    EXPECT_EQ(clipCount(model), 2 * clips);
    model.setEditingText(false);
    QTest::keyClick(window.get(), Qt::Key_T);  // at 1 s, on the cut: nothing new
    QTest::keyClick(window.get(), Qt::Key_Right);
    QTest::keyClick(window.get(), Qt::Key_T);
    EXPECT_EQ(clipCount(model), 3 * clips);
}

TEST_F(EditorWindowFixtureTest, DeleteKeysRemoveAndRipple)
{
    EditorModel& model = window->model();
    QTest::keyClick(window.get(), Qt::Key_Right);
    QTest::keyClick(window.get(), Qt::Key_T);
    ASSERT_EQ(model.tracks().front().clips.size(), 2u);
    const double secondStart = model.tracks().front().clips[1].start;

    // Backspace or Delete leaves a gap; with Shift the later clip closes up.
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        double start;
    };
    const Case cases[] = {
        {Qt::Key_Backspace, {}, secondStart},
        {Qt::Key_Delete, {}, secondStart},
        {Qt::Key_Backspace, Qt::ShiftModifier, 0.0},
        {Qt::Key_Delete, Qt::ShiftModifier, 0.0},
    };
    for (const Case& c : cases) {
        model.selectClip(model.tracks().front().clips[0].id, false, true);
        QTest::keyClick(window.get(), c.key, c.modifiers);
        ASSERT_EQ(model.tracks().front().clips.size(), 1u) << c.key << " " << c.modifiers;
        EXPECT_DOUBLE_EQ(model.tracks().front().clips[0].start, c.start) << c.key << " " << c.modifiers;
        model.undo();
    }
}

TEST_F(EditorWindowTest, PlayerViewFitsThePictureWholeWithBands)
{
    // A portrait recording in a landscape pane: bands left and right.
    auto window = openEditor(makeEditorRecording(folder.path / "álló.mov", 1, 360, 640));
    ASSERT_TRUE(window->model().isLoaded());
    const PlayerView& view = window->playerView();
    ASSERT_TRUE(runUntil([&] { return !view.frame().isNull(); }));
    EXPECT_EQ(view.frame().size(), QSize(360, 640));

    QImage canvas(400, 200, QImage::Format_ARGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    view.paint(painter, QRectF(0, 0, 400, 200));
    painter.end();
    // 200 high and 112.5 wide, centred: x from 143.75 to 256.25.
    for (const int x : {0, 140, 260, 399}) EXPECT_EQ(canvas.pixel(x, 150), qRgb(0, 0, 0)) << x;
    for (const int x : {146, 200, 254}) EXPECT_NE(canvas.pixel(x, 150), qRgb(0, 0, 0)) << x;
    EXPECT_NE(canvas.pixel(200, 1), qRgb(0, 0, 0));
    EXPECT_NE(canvas.pixel(200, 198), qRgb(0, 0, 0));
}

TEST_F(EditorWindowFixtureTest, TheExportDialogOwnsFailuresWhileOpenAndHandsBackTheRest)
{
    window->openExportDialog();
    QPointer<ExportDialog> dialog = window->exportDialog();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    // The dialog shows its own export's failure; the window adds no second box.
    window->model().setExportError("Hiba az exportban.");
    int visible = 0;
    for (QMessageBox* box : window->findChildren<QMessageBox*>()) visible += box->isVisible();
    EXPECT_EQ(visible, 0);
    // A message still unread when the dialog goes away is shown by the window.
    dialog->reject();
    QTRY_VERIFY(window->alert() && window->alert()->isVisible());
    EXPECT_EQ(window->alert()->text(), "Hiba az exportban.");
}

TEST_F(EditorWindowFixtureTest, AClosedWindowsExportIsWrittenToTheEnd)
{
    const fs::path target = folder.path / "closed.mp4";
    std::optional<bool> written;
    QPointer<EditorModel> model = &window->model();
    model->exportTo(target, EditorModel::ExportOptions{}, [&](bool ok) { written = ok; });
    ASSERT_TRUE(model->exportProgress());

    window->setAttribute(Qt::WA_DeleteOnClose);
    window->close();
    window.release();  // deleted by its close
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(model) << "the model went with its window";
    EXPECT_EQ(EditorWindow::exportsOfClosedWindows(), 1);
    bool waited = false;
    QObject context;
    EditorWindow::whenClosedWindowsExported(&context, [&] { waited = true; });
    EXPECT_FALSE(waited);

    ASSERT_TRUE(runUntil([&] { return written.has_value(); }));
    EXPECT_TRUE(*written);
    EXPECT_TRUE(waited);
    EXPECT_EQ(EditorWindow::exportsOfClosedWindows(), 0);
    // The model goes once the export has ended.
    EXPECT_TRUE(runUntil([&] { return model.isNull(); }, std::chrono::seconds(5)));
    const auto streams = fixtures::readMovie(target);
    ASSERT_FALSE(streams.empty());
    EXPECT_NEAR(streams.front().duration(), 3.0, 1.0 / 30 + 1e-6);
}

TEST_F(EditorWindowFixtureTest, AWindowClosedWithoutExportTakesItsModel)
{
    QPointer<EditorModel> model = &window->model();
    window.reset();
    EXPECT_TRUE(model.isNull());
    EXPECT_EQ(EditorWindow::exportsOfClosedWindows(), 0);
}

template <typename Widget>
Widget* shown(QWidget& parent, const QString& name = {})
{
    for (Widget* widget : parent.findChildren<Widget*>(name))
        if (widget->isVisible()) return widget;
    return nullptr;
}

// "Projekt mentése másként…" through the window's own dialog: `choose` picks
// in it, and the question to replace a package is answered with yes.
void saveAsThroughTheDialog(EditorWindow& window, const std::function<void(QFileDialog&)>& choose)
{
    bool done = false;
    window.model().saveProject(true, [&] { window.model().whenSaved([&] { done = true; }); });
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(runUntil([&] { return (dialog = shown<QFileDialog>(window)); }));
    choose(*dialog);
    static_cast<QDialog*>(dialog)->accept();
    QMessageBox* question = nullptr;
    if (runUntil([&] { return done || (question = shown<QMessageBox>(window, "replaceQuestion")); }) && !done)
        question->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(runUntil([&] { return done; }));
}

void saveAs(EditorWindow& window, const fs::path& package)
{
    bool saved = false;
    window.model().saveProject(package, [&](std::optional<std::string> error) {
        EXPECT_FALSE(error) << *error;
        window.model().whenSaved([&] { saved = true; });
    });
    ASSERT_TRUE(runUntil([&] { return saved; }));
}

TEST_F(EditorWindowFixtureTest, SavingAsFromAnOpenProjectTakesItsProposal)
{
    saveAs(*window, folder.path / "X.vdlproj");
    ASSERT_TRUE(window->model().documentURL());

    // The recording is now the package's copy: the proposal lies beside the
    // package, not in its Media.
    const fs::path proposed = folder.path / "Felvétel 2024-05-01 10.00.00.vdlproj";
    saveAsThroughTheDialog(*window, [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.selectedFiles(), QStringList{QString::fromStdString(proposed.string())});
    });
    EXPECT_FALSE(window->model().exportError()) << *window->model().exportError();
    EXPECT_EQ(window->model().documentURL(), proposed);
    EXPECT_TRUE(fs::exists(proposed / "project.json"));

    // Its own package again, named like the recording: a save, no refusal.
    saveAsThroughTheDialog(*window, [](QFileDialog&) {});
    EXPECT_FALSE(window->model().exportError()) << *window->model().exportError();
    EXPECT_EQ(window->model().documentURL(), proposed);
}

TEST_F(EditorWindowFixtureTest, AnExistingPackageIsReplacedUnlessAnotherWindowHasItOpen)
{
    // Not the same bytes as the first: a package takes a copy it already holds.
    auto other = openEditor(makeEditorRecording(folder.path / "Másik.mov", 2));
    ASSERT_TRUE(other->model().isLoaded());
    saveAs(*other, folder.path / "Régi.vdlproj");
    saveAs(*other, folder.path / "Másik.vdlproj");

    // An earlier project that no window has open any more is replaced.
    saveAsThroughTheDialog(*window, [](QFileDialog& dialog) { dialog.selectFile("Régi.vdlproj"); });
    EXPECT_FALSE(window->model().exportError()) << *window->model().exportError();
    EXPECT_EQ(window->model().documentURL(), folder.path / "Régi.vdlproj");
    EXPECT_NE(ProjectFile::read(folder.path / "Régi.vdlproj").recording.find("Felvétel"), std::string::npos);

    // The other window's project: that window comes forward and says so,
    // nothing is written and this window keeps its project.
    const fs::path taken = folder.path / "Másik.vdlproj" / "project.json";
    const auto written = fs::last_write_time(taken);
    const std::string before = ProjectFile::read(folder.path / "Másik.vdlproj").recording;
    saveAsThroughTheDialog(*window, [](QFileDialog& dialog) { dialog.selectFile("Másik.vdlproj"); });
    bool settled = false;
    window->model().whenSaved([&] { settled = true; });
    ASSERT_TRUE(runUntil([&] { return settled; }));
    EXPECT_EQ(fs::last_write_time(taken), written);
    EXPECT_EQ(ProjectFile::read(folder.path / "Másik.vdlproj").recording, before);
    EXPECT_FALSE(window->model().exportError());
    EXPECT_EQ(window->model().documentURL(), folder.path / "Régi.vdlproj");
    EXPECT_TRUE(QTest::qWaitForWindowActive(other.get()));
    QMessageBox* told = nullptr;
    ASSERT_TRUE(runUntil([&] { return (told = shown<QMessageBox>(*other, "openHere")); }, std::chrono::seconds(5)));
    EXPECT_EQ(told->text(), "Ez a projekt ebben az ablakban nyitva van, ezért másik ablak nem mentheti a helyére.");
    told->button(QMessageBox::Ok)->click();
}

} // namespace
} // namespace ondexa::testing
