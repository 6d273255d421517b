// The footer: the export button and Ctrl+E follow the track list, the link
// to the last export reveals that file, the hint keeps to one line, and the
// project button asks for a place through the window's save dialog.

#include "EditorWindowTestSupport.h"

#include "Ondexa/editor/EditorFooter.h"
#include "Ondexa/editor/ExportDialog.h"
#include "editing/EditTestSupport.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

#include <filesystem>
#include <vector>

namespace ondexa::testing {
namespace {

namespace fs = std::filesystem;

class FooterTest : public ::testing::Test {
protected:
    // The project save dialog that the footer's button opens.
    static QFileDialog* saveDialogOf(EditorWindow& window)
    {
        EXPECT_TRUE(window.model().isLoaded());
        window.footer()->saveButton()->click();
        QFileDialog* dialog = nullptr;
        const bool shown = runUntil([&] { return (dialog = window.findChild<QFileDialog*>()) && dialog->isVisible(); },
                                    std::chrono::seconds(10));
        return shown ? dialog : nullptr;
    }

    TempFolder folder;
};

TEST_F(FooterTest, ExportNeedsATrackAndCtrlEOpensOneDialog)
{
    EditorWindow window(folder.path / "nincs.mov");
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(runUntil([&] { return window.model().loadError().has_value(); }));
    QPushButton* button = window.footer()->exportButton();

    EXPECT_FALSE(button->isEnabled());
    QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
    button->click();
    window.openExportDialog();
    EXPECT_TRUE(window.findChildren<ExportDialog*>().isEmpty());

    window.model().setTracks({trackWith("Képernyő", {clipAt(0, 5)})});
    EXPECT_TRUE(button->isEnabled());
    QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
    ASSERT_EQ(window.findChildren<ExportDialog*>().size(), 1);
    ExportDialog* dialog = window.exportDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    // Asked again while it is open: still the one dialog.
    window.openExportDialog();
    EXPECT_EQ(window.findChildren<ExportDialog*>().size(), 1);

    // Closed, it is gone; the next presentation is a new dialog.
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.findChildren<ExportDialog*>().isEmpty());
    button->click();
    EXPECT_EQ(window.findChildren<ExportDialog*>().size(), 1);
}

TEST_F(FooterTest, HintKeepsToOneLineWithLinuxKeyNames)
{
    auto model = editorWith(folder.path, {});
    EditorFooter footer(*model);
    footer.resize(1600, 40);
    footer.show();
    QApplication::processEvents();
    const QString hint = EditorFooter::hint();
    EXPECT_TRUE(hint.contains("Alt-kattintás = összekötött klip külön"));
    EXPECT_TRUE(hint.endsWith("Shift/Alt/Ctrl görgő = mozgatás/zoom/sávmagasság"));
    EXPECT_EQ(footer.hintLabel()->text(), hint);
    EXPECT_EQ(footer.saveButton()->toolTip(), "A vágás mentése .vdlproj projektfájlba (Ctrl+S)");

    footer.resize(500, 40);
    QApplication::processEvents();
    const QString cut = footer.hintLabel()->text();
    EXPECT_TRUE(cut.endsWith(QChar(0x2026))) << cut.toStdString();
    EXPECT_TRUE(hint.startsWith(cut.chopped(1)));
    EXPECT_LE(footer.hintLabel()->fontMetrics().horizontalAdvance(cut), footer.hintLabel()->width());
    EXPECT_LE(footer.hintLabel()->height(), footer.height());
}

TEST_F(FooterTest, TheLastExportIsLinkedAndRevealed)
{
    const fs::path recording = makeEditorRecording(folder.path / "felvétel.mov", 20);
    auto window = openEditor(recording);
    EditorModel& model = window->model();
    ASSERT_TRUE(model.isLoaded());
    std::vector<fs::path> revealed;
    window->footer()->setRevealer([&](const fs::path& file) { revealed.push_back(file); });
    QPushButton* link = window->footer()->lastExportLink();
    EXPECT_FALSE(link->isVisible());

    // A cancelled export leaves no link.
    std::optional<bool> written;
    model.exportTo(folder.path / "cancelled.mov", {}, [&](bool ok) { written = ok; });
    ASSERT_TRUE(model.exportSession());
    model.exportSession()->cancel();
    ASSERT_TRUE(runUntil([&] { return written.has_value(); }));
    EXPECT_FALSE(*written);
    EXPECT_FALSE(link->isVisible());

    // A completed one shows its file; clicking hands that file on.
    EditorModel::ExportOptions options;
    options.format = EditorModel::ExportOptions::Format::mov;
    options.range = EditorModel::ExportOptions::Range::marks;
    model.setMarkIn(0.0);
    model.setMarkOut(1.0);
    written.reset();
    model.exportTo(folder.path / "demo.mov", options, [&](bool ok) { written = ok; });
    ASSERT_TRUE(runUntil([&] { return written.has_value(); }));
    ASSERT_TRUE(*written);
    ASSERT_TRUE(link->isVisible());
    EXPECT_EQ(link->text(), "Kész: demo.mov – mutasd");
    // The link takes its room from the hint, which is cut again to fit.
    QApplication::processEvents();
    const QLabel* hint = window->footer()->hintLabel();
    EXPECT_TRUE(hint->text().endsWith(QChar(0x2026))) << hint->text().toStdString();
    EXPECT_LE(hint->fontMetrics().horizontalAdvance(hint->text()), hint->width());
    link->click();
    EXPECT_EQ(revealed, std::vector<fs::path>{folder.path / "demo.mov"});
    saveScreenshot(*window->footer(), "editor-footer-link");

    // A later cancelled export leaves the link as it was.
    written.reset();
    model.exportTo(folder.path / "again.mov", {}, [&](bool ok) { written = ok; });
    ASSERT_TRUE(model.exportSession());
    model.exportSession()->cancel();
    ASSERT_TRUE(runUntil([&] { return written.has_value(); }));
    EXPECT_EQ(link->text(), "Kész: demo.mov – mutasd");
    EXPECT_FALSE(fs::exists(folder.path / "again.mov"));
}

TEST_F(FooterTest, SavingAProjectAsksWithTheNonNativeDialog)
{
    auto window = openEditor(makeEditorRecording(folder.path / "Felvétel.mov"));
    QFileDialog* dialog = saveDialogOf(*window);
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->directory().absolutePath(), QString::fromStdString(folder.path.string()));

    const fs::path target = folder.path / "Mentett.vdlproj";
    dialog->selectFile(QString::fromStdString(target.string()));
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(runUntil([&] { return window->model().documentURL() == target; }));
    EXPECT_EQ(window->windowTitle(), "Mentett");
    EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(FooterTest, TheProjectDialogOffersOnlyProjectsAndAddsTheirExtension)
{
    auto window = openEditor(makeEditorRecording(folder.path / "Felvétel.mov"));
    QFileDialog* dialog = saveDialogOf(*window);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Vendalum-projekt (*.vdlproj)"});
    EXPECT_EQ(dialog->defaultSuffix(), "vdlproj");
    EXPECT_EQ(dialog->selectedFiles(), QStringList{QString::fromStdString((folder.path / "Felvétel.vdlproj").string())});
    saveScreenshot(*dialog, "editor-project-save-dialog");

    // Typed without the extension, as a user would.
    dialog->selectFile("proba2");
    static_cast<QDialog*>(dialog)->accept();
    const fs::path target = folder.path / "proba2.vdlproj";
    ASSERT_TRUE(runUntil([&] { return window->model().documentURL() == target; }));
    EXPECT_EQ(window->windowTitle(), "proba2");
    EXPECT_TRUE(fs::exists(target / "project.json"));
    EXPECT_FALSE(fs::exists(folder.path / "proba2"));
}

} // namespace
} // namespace ondexa::testing
