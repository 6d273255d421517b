// The application shell in one process: the menus of the record window and
// of an editor window, the about dialog, the quit road, the editor windows
// per file, files handed over by a later launch, and the updater's start
// decision.

#include "app/AppTestSupport.h"
#include "app/shell/ProgramRun.h"

#include "Ondexa/app/AppDelegate.h"
#include "Ondexa/editor/EditorWindow.h"
#include "Ondexa/app/MenuBarExtra.h"
#include "Ondexa/app/MenuCommands.h"
#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/app/Updates.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/VendalumHeader.h"

#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QJsonArray>
#include <QLabel>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QWindow>
#include <QTest>

#include <atomic>
#include <climits>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace ondexa::testing {
namespace {

Updates::Environment selfTestUpdates()
{
    Updates::Environment env;
    env.arguments = {"--selftest"};
    return env;
}

class ShellTest : public RecordWindowTest {
protected:
    void activate(QWidget& window)
    {
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    }
    // A line edit in the window, focused, holding `text`.
    QLineEdit* field(QWidget& window, const QString& text)
    {
        auto* edit = new QLineEdit(&window);
        edit->setGeometry(10, 40, 200, 24);
        edit->show();
        edit->setFocus();
        edit->insert(text);  // typed: the field has its own undo
        return edit;
    }
    // Two linked-to-be clips on a picture track and a sound track.
    static std::vector<Track> twoTracks()
    {
        Track screen;
        screen.name = "Képernyő";
        screen.media = MediaRef{"/nincs/felvétel.mov", MediaKind::video, 0};
        Track sound = screen;
        sound.id = Uuid::random();
        sound.name = "Rendszerhang";
        sound.media.kind = MediaKind::audio;
        for (Track* track : {&screen, &sound}) {
            Clip clip;
            clip.start = 0;
            clip.duration = 2;
            track->clips = {clip};
        }
        return {screen, sound};
    }
    EditorWindow* editor()
    {
        EditorWindow* window = app.openEditorWindow(temp.path / "nincs.mov");
        // The missing file ends the load; the tracks set afterwards stay.
        EXPECT_TRUE(pumpUntil([&] { return window->model().loadError().has_value(); }, std::chrono::seconds(20)));
        window->model().setTracks(twoTracks());
        return window;
    }
    // A three-second movie in the temporary folder.
    std::filesystem::path movie(const std::string& name)
    {
        const std::filesystem::path file = temp.path / name;
        EXPECT_EQ(QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                               "testsrc2=s=320x240:r=30", "-t", "3", "-c:v", "libx264", "-preset",
                                               "ultrafast", "-pix_fmt", "yuv420p", QString::fromStdString(file.string())}),
                  0);
        return file;
    }
    static std::set<Uuid> allClips(const EditorModel& model)
    {
        std::set<Uuid> ids;
        for (const Track& track : model.tracks())
            for (const Clip& clip : track.clips) ids.insert(clip.id);
        return ids;
    }

    std::unique_ptr<AppState> state = make();
    int quits = 0;
    std::vector<std::filesystem::path> opened;
    Updates updates{selfTestUpdates()};
    AppDelegate delegate{*state, [this] { ++quits; }};
    OndexaApp app{*state, delegate, updates, {.tray = false}};
    MenuCommands& menu = app.commands();
};

TEST_F(ShellTest, RecordWindowAloneDisablesTheEditorsCommands)
{
    app.showRecordWindow();
    activate(app.recordWindow());
    EXPECT_EQ(app.recordWindow().windowTitle(), "Vendalum");
    EXPECT_EQ(menu.activeEditor(), nullptr);
    for (QAction* action : {menu.duplicate(), menu.link(), menu.unlink(), menu.saveProject(), menu.saveProjectAs(),
                            menu.undo(), menu.redo()})
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    for (QAction* action : {menu.cut(), menu.copy(), menu.paste(), menu.selectAll(), menu.open(), menu.quit()})
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    // The update check is off in a self-test run.
    EXPECT_FALSE(menu.checkForUpdates()->isEnabled());
    // Every window has the same three menus.
    QStringList titles;
    for (QAction* top : app.recordWindow().menuBar()->actions()) titles << top->text();
    EXPECT_EQ(titles, QStringList({"Vendalum", "Fájl", "Szerkesztés"}));
}

TEST_F(ShellTest, MenusHoldTheirItemsInOrder)
{
    // Each menu's items by object name, "|" for a separator.
    const auto items = [&](QMainWindow& window) {
        std::vector<std::vector<std::string>> menus;
        for (QAction* top : window.menuBar()->actions()) {
            menus.emplace_back();
            for (QAction* item : top->menu()->actions())
                menus.back().push_back(item->isSeparator() ? "|" : item->objectName().toStdString());
        }
        return menus;
    };
    const std::vector<std::vector<std::string>> expected = {
        {"about", "checkForUpdates", "|", "quit"},
        {"open", "|", "saveProject", "saveProjectAs"},
        {"undo", "redo", "|", "cut", "copy", "paste", "duplicate", "link", "unlink", "selectAll"},
    };
    EXPECT_EQ(items(app.recordWindow()), expected);
    EditorWindow* window = editor();
    EXPECT_EQ(items(*window), expected);
    // The save items keep their keys, and follow the active editor as before.
    EXPECT_EQ(menu.saveProject()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(menu.saveProjectAs()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    activate(*window);
    EXPECT_TRUE(menu.saveProject()->isEnabled());
    EXPECT_TRUE(menu.saveProjectAs()->isEnabled());
    EXPECT_EQ(menu.about()->text(), "A Vendalum névjegye");
}

TEST_F(ShellTest, TheAboutDialogShowsTheNameTheVersionAndTheIcon)
{
    app.showRecordWindow();
    activate(app.recordWindow());
    menu.about()->trigger();
    QDialog* about = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        about = app.recordWindow().findChild<QDialog*>("aboutDialog");
        return about && about->isVisible();
    }));
    EXPECT_EQ(about->windowTitle(), "A Vendalum névjegye");
    auto* header = about->findChild<VendalumHeader*>();
    ASSERT_NE(header, nullptr);
    // The version the update check compares, after the one shown.
    EXPECT_EQ(header->subtitle(), QString("Verzió: %1 (%2)").arg(Updates::displayVersion(), ONDEXA_VERSION));
    const auto* icon = header->findChild<QLabel*>();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().toImage(), Theme::appIcon().pixmap(QSize(VendalumHeader::iconSize, VendalumHeader::iconSize),
                                                                 icon->devicePixelRatioF()).toImage());
    saveScreenshot(*about, "about");
    // A second choice brings the same dialog forward.
    menu.about()->trigger();
    EXPECT_EQ(app.recordWindow().findChildren<QDialog*>("aboutDialog").size(), 1);
    about->close();
}

TEST_F(ShellTest, ClipboardCommandsActOnTheFocusedFieldWithoutAnEditor)
{
    app.showRecordWindow();
    activate(app.recordWindow());
    QLineEdit* edit = field(app.recordWindow(), "Vendalum felvétel");
    QApplication::clipboard()->clear();

    menu.selectAll()->trigger();
    EXPECT_EQ(edit->selectedText(), "Vendalum felvétel");
    menu.copy()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "Vendalum felvétel");
    edit->setSelection(0, 8);
    menu.cut()->trigger();
    EXPECT_EQ(edit->text(), " felvétel");
    EXPECT_EQ(QApplication::clipboard()->text(), "Vendalum");
    edit->end(false);
    menu.paste()->trigger();
    EXPECT_EQ(edit->text(), " felvételVendalum");
}

TEST_F(ShellTest, UndoAndRedoFollowTheActiveEditor)
{
    EditorWindow* window = editor();
    activate(*window);
    EditorModel& model = window->model();
    EXPECT_EQ(menu.activeEditor(), &model);
    EXPECT_FALSE(menu.undo()->isEnabled());
    EXPECT_FALSE(menu.redo()->isEnabled());
    EXPECT_TRUE(menu.duplicate()->isEnabled());

    model.setSelectedClips(allClips(model));
    menu.link()->trigger();
    EXPECT_TRUE(model.tracks()[0].clips[0].link.has_value());
    EXPECT_TRUE(menu.undo()->isEnabled());
    EXPECT_FALSE(menu.redo()->isEnabled());

    menu.undo()->trigger();
    EXPECT_FALSE(model.tracks()[0].clips[0].link.has_value());
    EXPECT_FALSE(menu.undo()->isEnabled());
    EXPECT_TRUE(menu.redo()->isEnabled());

    // Back on the record window, the editor's commands are off again.
    app.showRecordWindow();
    activate(app.recordWindow());
    EXPECT_FALSE(menu.redo()->isEnabled());
    EXPECT_FALSE(menu.link()->isEnabled());
}

TEST_F(ShellTest, AMenuOpenOverAnEditorKeepsItsCommands)
{
    app.showRecordWindow();
    EditorWindow* window = editor();
    activate(*window);
    EditorModel& model = window->model();
    model.setSelectedClips(allClips(model));
    model.linkSelection();
    ASSERT_TRUE(menu.undo()->isEnabled());

    // The Edit menu opens; on Wayland it takes the focus, and the editor
    // may be left without it while the menu shows.
    QMenu* edit = window->menuBar()->actions()[2]->menu();
    edit->popup(window->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activePopupWidget() == edit; }));
    for (QWidget* taker : {static_cast<QWidget*>(edit), static_cast<QWidget*>(nullptr)}) {
        QApplication::setActiveWindow(taker);
        EXPECT_EQ(menu.activeEditor(), &model);
        for (QAction* action : {menu.undo(), menu.duplicate(), menu.link(), menu.saveProject()})
            EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
        EXPECT_FALSE(menu.redo()->isEnabled());
    }
    menu.undo()->trigger();
    edit->hide();
    EXPECT_FALSE(model.tracks()[0].clips[0].link.has_value());
    EXPECT_TRUE(menu.redo()->isEnabled());

    // Another program has the focus: still the editor's, as when it comes back.
    QApplication::setActiveWindow(nullptr);
    EXPECT_EQ(menu.activeEditor(), &model);
    EXPECT_TRUE(menu.redo()->isEnabled());
    // The record window comes forward: nobody's.
    activate(app.recordWindow());
    EXPECT_EQ(menu.activeEditor(), nullptr);
    EXPECT_FALSE(menu.redo()->isEnabled());
    QApplication::setActiveWindow(nullptr);
    EXPECT_EQ(menu.activeEditor(), nullptr);
}

TEST_F(ShellTest, WhileTextIsEditedKeysCopyTheTextButUndoTheTimeline)
{
    EditorWindow* window = editor();
    activate(*window);
    EditorModel& model = window->model();
    model.setSelectedClips(allClips(model));
    model.linkSelection();
    ASSERT_TRUE(model.canUndo());
    model.copySelection();
    const auto clipboardBefore = model.clipboard().size();

    QLineEdit* edit = field(*window, "felirat");
    model.setEditingText(true);
    QApplication::clipboard()->clear();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "felirat");
    EXPECT_EQ(model.clipboard().size(), clipboardBefore);

    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "felirat");  // the field kept its typing
    EXPECT_FALSE(model.tracks()[0].clips[0].link.has_value());
    EXPECT_TRUE(model.canRedo());

    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(model.tracks()[0].clips[0].link.has_value());
}

TEST_F(ShellTest, PasteKeyPastesAtThePlayhead)
{
    EditorWindow* window = editor();
    activate(*window);
    EditorModel& model = window->model();
    model.setSelectedClips({model.tracks()[0].clips[0].id});
    QTest::keyClick(window, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(model.clipboard().size(), 1u);
    model.clock().setTime(5.25);
    QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(model.tracks()[0].clips.size(), 2u);
    EXPECT_DOUBLE_EQ(model.tracks()[0].clips[1].start, 5.25);
    EXPECT_EQ(model.tracks()[1].clips.size(), 1u);
    EXPECT_TRUE(model.canUndo());
}

TEST_F(ShellTest, OneEditorWindowPerFile)
{
    const auto a = temp.path / "a.mov", b = temp.path / "b.mov";
    EditorWindow* first = app.openEditorWindow(a);
    EXPECT_EQ(app.openEditorWindow(temp.path / "." / "a.mov"), first);
    EXPECT_EQ(app.editorWindowCount(), 1u);
    EditorWindow* second = app.openEditorWindow(b);
    EXPECT_NE(second, first);
    EXPECT_EQ(app.editorWindowCount(), 2u);
    EXPECT_EQ(first->model().url(), a);
    // Reopening brings the window forward.
    app.openEditorWindow(a);
    EXPECT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == first; }));
    second->close();
    EXPECT_TRUE(pumpUntil([&] { return app.editorWindowCount() == 1; }));
}

TEST_F(ShellTest, AWindowSavedAsAProjectIsFoundByItsPackageNotItsRecording)
{
    app.showRecordWindow();
    const auto recording = movie("felvétel.mov");
    EditorWindow* window = app.openEditorWindow(recording);
    ASSERT_TRUE(pumpUntil([&] { return window->model().isLoaded(); }, std::chrono::seconds(30)));
    const auto package = temp.path / "projekt.vdlproj";
    std::optional<std::optional<std::string>> saved;
    window->model().saveProject(package, [&](std::optional<std::string> error) { saved = error; });
    ASSERT_TRUE(pumpUntil([&] { return saved.has_value(); }, std::chrono::seconds(30)));
    ASSERT_EQ(*saved, std::nullopt);

    // The package by the menu and, under another name of its folder, from
    // the desktop: the same window comes forward.
    std::filesystem::create_directory_symlink(temp.path, temp.path / "másik");
    EXPECT_EQ(app.openEditorWindow(package), window);
    delegate.openFiles({temp.path / "másik" / "projekt.vdlproj"});
    settle();
    EXPECT_EQ(app.editorWindowCount(), 1u);
    EXPECT_EQ(app.editorWindow(package), window);
    // The recording no longer names that window: it opens one of its own.
    EditorWindow* again = app.openEditorWindow(recording);
    EXPECT_NE(again, window);
    EXPECT_EQ(app.editorWindowCount(), 2u);
    EXPECT_EQ(app.editorWindow(recording), again);
    EXPECT_EQ(app.editorWindow(package), window);
}

TEST_F(ShellTest, FilesFromLaunchWaitForTheRecordWindowAndOpenInOrder)
{
    const auto a = temp.path / "a.mov", b = temp.path / "b.vdlproj";
    delegate.openFiles({a, b});
    EXPECT_EQ(state->pendingOpen(), (std::vector<std::filesystem::path>{a, b}));
    EXPECT_EQ(app.editorWindowCount(), 0u);
    app.showRecordWindow();
    EXPECT_TRUE(state->pendingOpen().empty());
    ASSERT_NE(app.editorWindow(a), nullptr);
    ASSERT_NE(app.editorWindow(b), nullptr);
    // The later one opened last and is in front.
    EXPECT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == app.editorWindow(b); }));
}

TEST_F(ShellTest, LastWindowClosedQuitsWithoutATray)
{
    app.showRecordWindow();
    EditorWindow* window = app.openEditorWindow(temp.path / "a.mov");
    // Hidden for a recording is not closed.
    app.recordWindow().hide();
    window->hide();
    settle();
    EXPECT_EQ(quits, 0);
    app.recordWindow().show();
    window->show();
    app.recordWindow().close();
    settle();
    EXPECT_EQ(quits, 0);
    window->close();
    EXPECT_TRUE(pumpUntil([&] { return quits == 1; }));
}

TEST_F(ShellTest, TheLastWindowClosedDuringAnExportQuitsOnceTheFileIsWritten)
{
    EditorWindow* window = app.openEditorWindow(movie("export.mov"));
    ASSERT_TRUE(pumpUntil([&] { return window->model().isLoaded(); }, std::chrono::seconds(30)));
    std::optional<bool> written;
    window->model().exportTo(temp.path / "kész.mp4", {}, [&](bool ok) { written = ok; });
    ASSERT_TRUE(window->model().exportProgress());

    window->close();
    settle();
    EXPECT_EQ(quits, 0) << "the program ended before its export";
    ASSERT_TRUE(pumpUntil([&] { return written.has_value(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(*written);
    EXPECT_TRUE(pumpUntil([&] { return quits == 1; }));
    EXPECT_GT(std::filesystem::file_size(temp.path / "kész.mp4"), 0u);
}

TEST_F(ShellTest, QuitWhileIdleEndsAtOnce)
{
    delegate.requestQuit();
    EXPECT_EQ(quits, 1);
    delegate.requestQuit();
    EXPECT_EQ(quits, 1);
}

TEST_F(ShellTest, QuitWaitsForAStartOrFinishToSettle)
{
    for (auto phase : {AppState::Phase::starting, AppState::Phase::finishing}) {
        SCOPED_TRACE(int(phase));
        quits = 0;
        AppDelegate waiting(*state, [this] { ++quits; });
        state->forcePhaseForTesting(phase);
        waiting.requestQuit();
        settle();
        EXPECT_EQ(quits, 0);
        state->forcePhaseForTesting(AppState::Phase::idle);
        EXPECT_EQ(quits, 1);
    }
}

TEST_F(ShellTest, QuitWhileAStartWaitsForThePortalGivesTheStartUpAndQuits)
{
    platform::ScreenCastOffer offer;
    offer.available = offer.monitors = offer.cursorEmbedded = true;
    system.portalOffer = offer;
    system.portalWaits = true;  // its dialog is open, or it never answers
    auto portalState = make();
    ASSERT_TRUE(pumpUntil([&] { return portalState->screenCastOffer().has_value(); }));
    AppDelegate quitting(*portalState, [this] { ++quits; });
    portalState->startRecording();
    ASSERT_TRUE(pumpUntil([&] { return bool(system.portalPending); }));
    ASSERT_EQ(portalState->phase(), AppState::Phase::starting);

    quitting.requestQuit();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(portalState->phase(), AppState::Phase::idle);
    EXPECT_EQ(system.recordersMade, 0);
}

TEST_F(ShellTest, QuitDuringARecordingFinishesItWithoutAnEditor)
{
    for (std::string stopError : {"", "A mozgókép lezárása nem sikerült."}) {
        SCOPED_TRACE(stopError);
        quits = 0;
        system.recorderStopError = stopError;
        state->setOpenEditor([this](const std::filesystem::path& file) { opened.push_back(file); });
        start(*state);
        ASSERT_EQ(state->phase(), AppState::Phase::recording);
        AppDelegate quitting(*state, [this] { ++quits; });
        quitting.requestQuit();
        EXPECT_EQ(quits, 0);  // not before the recording has ended
        ASSERT_TRUE(pumpUntil([&] { return quits == 1; }));
        EXPECT_EQ(state->phase(), AppState::Phase::idle);
        EXPECT_EQ(system.recordersAlive, 0);
        EXPECT_TRUE(opened.empty());
    }
}

// The program's own hiding, without the fakes' window hooks, on a desktop
// whose tray holds the recording's stop.
class OwnWindowsTest : public RecordWindowTest {
protected:
    bool real = (system.realWindows = true);
    std::unique_ptr<AppState> state = make();
    Updates updates{selfTestUpdates()};
    AppDelegate delegate{*state, [] {}};
    OndexaApp app{*state, delegate, updates, {.tray = false}};
    bool trayShown = (state->setTrayShown(true), true);
};

// A desktop with neither a tray nor a hot key that reaches us from anywhere.
class BareDesktopTest : public RecordWindowTest {
protected:
    bool real = (system.realWindows = true);
    bool focusOnly = (system.hotKeyWhileFocused = true);
    std::unique_ptr<AppState> state = make();
    Updates updates{selfTestUpdates()};
    AppDelegate delegate{*state, [] {}};
    OndexaApp app{*state, delegate, updates, {.tray = false}};
};

TEST_F(BareDesktopTest, TheWindowsGoToTheTaskBarInsteadOfOutOfReach)
{
    ASSERT_FALSE(state->stopWithinReach());
    app.showRecordWindow();
    RecordWindow& record = app.recordWindow();
    EditorWindow* editor = app.openEditorWindow(temp.path / "nincs.mov");
    editor->showMaximized();
    settle();
    start(*state);
    ASSERT_EQ(state->phase(), AppState::Phase::recording) << state->errorMessage().value_or("");
    // Out of the picture, but where the user finds them.
    EXPECT_TRUE(record.isVisible() && record.isMinimized());
    EXPECT_TRUE(editor->isVisible() && editor->isMinimized());
    stop(*state);
    EXPECT_FALSE(record.isMinimized());
    EXPECT_FALSE(editor->isMinimized());
    EXPECT_TRUE(editor->isMaximized());
}

TEST_F(OwnWindowsTest, TheRecordWindowComesBackDuringARecordingAndTheRestAfterIt)
{
    app.showRecordWindow();
    RecordWindow& record = app.recordWindow();
    EditorWindow* editor = app.openEditorWindow(temp.path / "nincs.mov");
    ASSERT_TRUE(record.isVisible() && editor->isVisible());
    const auto onScreen = [](QWidget& w) { return w.isVisible() && w.windowHandle() && w.windowHandle()->isVisible(); };
    // Off the screen before the recorder is asked for its first frame.
    std::optional<bool> shownAtStart;
    system.starting = [&] { shownAtStart = onScreen(record) || onScreen(*editor); };
    start(*state);
    ASSERT_EQ(state->phase(), AppState::Phase::recording) << state->errorMessage().value_or("");
    EXPECT_EQ(shownAtStart, false);
    EXPECT_FALSE(record.isVisible());
    EXPECT_FALSE(editor->isVisible());

    // The tray's "Vendalum ablak" and a second launch both come here.
    app.showRecordWindow();
    settle();
    EXPECT_TRUE(onScreen(record));
    EXPECT_FALSE(editor->isVisible());  // only what was asked for
    auto* button = part<QPushButton>(record, "mainButton");
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->text().startsWith("Leállítás  00:00")) << button->text().toStdString();
    ASSERT_TRUE(pumpUntil([&] { return button->text().endsWith("00:01"); }));
    saveScreenshot(record, "record-window-during-recording");

    // The stop brings every hidden window back, the record window stays.
    stop(*state);
    EXPECT_TRUE(onScreen(record));
    EXPECT_TRUE(onScreen(*editor));
    EXPECT_TRUE(button->text().startsWith("Felvétel")) << button->text().toStdString();
}

TEST_F(OwnWindowsTest, AWindowWhollyOutsideTheCapturedAreaStaysShown)
{
    state->setArea(QRectF(0, 0, 400, 300));
    state->setCaptureMode(AppState::CaptureMode::area);
    app.showRecordWindow();
    RecordWindow& record = app.recordWindow();
    record.move(0, 0);
    EditorWindow* editor = app.openEditorWindow(temp.path / "nincs.mov");
    editor->move(600, 400);  // another monitor, say
    settle();
    ASSERT_FALSE(AppState::rootFrame(*editor->windowHandle()).intersects(QRectF(0, 0, 400, 300)));
    start(*state);
    ASSERT_EQ(state->phase(), AppState::Phase::recording) << state->errorMessage().value_or("");
    EXPECT_FALSE(record.isVisible());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_TRUE(editor->windowHandle()->isVisible());
    stop(*state);
    EXPECT_TRUE(record.isVisible());
    EXPECT_TRUE(editor->isVisible());
}

// The tray's menu open during a recording.
class TrayMenuTest : public RecordWindowTest {
protected:
    std::unique_ptr<AppState> state = make();
    Updates updates{selfTestUpdates()};
    AppDelegate delegate{*state, [] {}};
    OndexaApp app{*state, delegate, updates, {.tray = true}};
};

TEST_F(TrayMenuTest, ThePictureHoldsWhileTheMenuIsOpenAndAWhileAfter)
{
    start(*state);
    ASSERT_EQ(state->phase(), AppState::Phase::recording) << state->errorMessage().value_or("");
    ASSERT_NE(app.tray(), nullptr);
    QMenu* menu = app.tray()->menu();
    emit menu->aboutToShow();
    EXPECT_TRUE(system.recorder->pictureHeld);
    emit menu->aboutToHide();
    EXPECT_TRUE(system.recorder->pictureHeld);  // the server may still show it
    EXPECT_TRUE(pumpUntil([&] { return !system.recorder->pictureHeld; }));
    stop(*state);
}

TEST(ShellLaunch, ArgumentsDecideFilesAndHandOver)
{
    struct Case {
        QStringList arguments;
        std::vector<std::string> files;
        bool handsOver;
    };
    const std::string here = std::filesystem::current_path().string();
    for (const Case& c : {Case{{}, {}, true}, Case{{"a.mov", "/x/b.vdlproj"}, {here + "/a.mov", "/x/b.vdlproj"}, true},
                          Case{{"--gaptest", "a.mov"}, {here + "/a.mov"}, false},
                          Case{{"--updatecheck"}, {}, false}}) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        std::vector<std::string> arguments, files;
        for (const QString& argument : c.arguments) arguments.push_back(argument.toStdString());
        for (const auto& file : AppDelegate::filesOf(arguments)) files.push_back(file.string());
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(AppDelegate::takesPartInHandOver(c.arguments), c.handsOver);
    }
}

TEST(ShellLaunch, FileArgumentsKeepTheirBytes)
{
    // A Latin-1 name from an old archive is not UTF-8; a package named with
    // the shell's completion ends in a slash.
    const std::vector<std::string> files{"/x/caf\xe9.mov", "/x/./y/../b.vdlproj/"};
    std::vector<std::string> got;
    for (const auto& file : AppDelegate::filesOf(files)) got.push_back(file.string());
    EXPECT_EQ(got, (std::vector<std::string>{"/x/caf\xe9.mov", "/x/b.vdlproj"}));
}

TEST(ShellLaunch, HelpPrintsTheCommandLineAndStartsNothing)
{
    for (const char* flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        ProgramHome home;
        QProcess program;
        // No display to start on: only a program that starts nothing ends well.
        QProcessEnvironment env = home.environment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VENDALUM_PROGRAM), {flag});
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        const QString text = QString::fromUtf8(program.readAllStandardOutput());
        EXPECT_TRUE(text.startsWith("Használat: vendalum [FÁJL…]\n")) << text.toStdString();
        // Each flag on a line of its own, its options and paths beside it.
        for (const char* line : {"--selftest [--fps60] [--area] ", "--featuretest F.mov KIMENET ",
                                 "--fadetest F.mov KIMENET ", "--movetest F.mov kep.png KIMENET ",
                                 "--gaptest F.mov KIMENET ", "--transitiontest F.mov KIMENET ",
                                 "--exporttest F.mov KIMENET ", "--snapshot KIMENET [--open F.mov] ",
                                 "--edittest F.mov KIMENET/edit.mp4 ", "--updatecheck ", "-h, --help "})
            EXPECT_EQ(text.count("\n  " + QString::fromUtf8(line)), 1) << line;
        EXPECT_FALSE(std::filesystem::exists(home.log()));
    }
}

TEST_F(ShellTest, ALaterLaunchHandsItsFilesToTheRunningProgram)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.path.string());
    EXPECT_FALSE(AppDelegate::handOver({temp.path / "x.mov"}));  // nobody listens yet
    ASSERT_TRUE(delegate.serve());
    app.showRecordWindow();
    const auto files = std::vector<std::filesystem::path>{temp.path / "c.mov", temp.path / "caf\xe9.mov"};
    std::optional<bool> handed;
    std::thread later([&] { handed = AppDelegate::handOver(files); });
    EXPECT_TRUE(pumpUntil([&] { return handed.has_value(); }, std::chrono::seconds(20)));
    later.join();
    EXPECT_EQ(handed, true);
    EXPECT_TRUE(pumpUntil([&] { return app.editorWindowCount() == 2; }));
    EXPECT_NE(app.editorWindow(files[0]), nullptr);
    EXPECT_NE(app.editorWindow(files[1]), nullptr);
}

// Sends `bytes` to the running program's socket as a later launch would and
// gives its answer: "ok", or "dropped" when it closed the connection unanswered.
std::string handOverRaw(const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.connectToServer(AppDelegate::serverName());
    if (!socket.waitForConnected(5000)) return "no server";
    socket.write(bytes);
    QByteArray answer;
    pumpUntil(
        [&] {
            answer += socket.readAll();
            return answer.endsWith('\n') || socket.state() == QLocalSocket::UnconnectedState;
        },
        std::chrono::seconds(30));
    answer += socket.readAll();
    if (answer.endsWith('\n')) return answer.trimmed().toStdString();
    return socket.state() == QLocalSocket::UnconnectedState ? "dropped" : "no answer";
}

QByteArray handOverLine(const std::vector<std::string>& paths)
{
    QJsonArray list;
    for (const auto& path : paths) list.append(QString::fromStdString(path));
    return QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n';
}

TEST_F(ShellTest, AHandOverIsBoundedInLengthInEachPathAndInFiles)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.path.string());
    ASSERT_TRUE(delegate.serve());
    // The record window is not shown: what is taken waits in the queue.
    using Files = std::vector<std::filesystem::path>;

    // A line without end is not kept: beyond 1 MiB the connection goes.
    EXPECT_EQ(handOverRaw(QByteArray(3 * 1024 * 1024, 'a')), "dropped");
    EXPECT_TRUE(logHas("A fájlok átvétele elmaradt: túl hosszú üzenet érkezett."));

    // A path no file system could hold is left out; the others open.
    const std::string a = (temp.path / "a.mov").string();
    EXPECT_EQ(handOverRaw(handOverLine({"/" + std::string(PATH_MAX, 'x'), a, ""})), "ok");
    EXPECT_EQ(state->pendingOpen(), Files{a});
    EXPECT_TRUE(logHas("Érvénytelen útvonal érkezett megnyitásra (4097 bájt), nem nyílik meg."));

    // 64 files at once are taken; 65 are refused as a whole.
    std::vector<std::string> many;
    for (int i = 0; i < 65; ++i) many.push_back((temp.path / ("f" + std::to_string(i) + ".mov")).string());
    EXPECT_EQ(handOverRaw(handOverLine(many)), "ok");
    EXPECT_EQ(state->pendingOpen(), Files{a});
    EXPECT_TRUE(logHas("Egyszerre túl sok fájl érkezett megnyitásra (65, legfeljebb 64), egyik sem nyílik meg."));
    many.pop_back();
    EXPECT_EQ(handOverRaw(handOverLine(many)), "ok");
    EXPECT_EQ(state->pendingOpen().size(), 65u);
}

TEST_F(ShellTest, ALaterLaunchHandsOnWhatItsLauncherGaveItAndEndsOnceItIsUsed)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.path.string());
    ASSERT_TRUE(delegate.serve());
    app.showRecordWindow();
    // Each launch's activation as the program got it, with the editor windows open by then.
    std::vector<std::pair<LaunchActivation, std::size_t>> used;
    QObject::connect(&delegate, &AppDelegate::launchActivation,
                     [&](const LaunchActivation& launch) { used.emplace_back(launch, app.editorWindowCount()); });
    const auto later = [&](std::vector<std::filesystem::path> files, LaunchActivation launch) {
        std::atomic<int> handed = -1;
        std::size_t usedBefore = 0;
        std::thread launcher([&] { handed = AppDelegate::handOver(files, launch) ? 1 : 0; });
        EXPECT_TRUE(pumpUntil([&] {
            usedBefore = used.size();
            return handed >= 0;
        }, std::chrono::seconds(20)));
        launcher.join();
        EXPECT_EQ(handed, 1);
        return usedBefore;
    };

    // Used once the file has its window, before the launch ends.
    const LaunchActivation given{"vendalum-teszt_TIME4242", "jelzo-1"};
    EXPECT_EQ(later({temp.path / "c.mov"}, given), 1u);
    ASSERT_EQ(used.size(), 1u);
    EXPECT_EQ(used[0].first, given);
    EXPECT_EQ(used[0].second, 1u);
    // Without files, for the record window; a token alone will do.
    EXPECT_EQ(later({}, {"", "jelzo-2"}), 2u);
    EXPECT_EQ(used.back().first, (LaunchActivation{"", "jelzo-2"}));
    // A launch given nothing, one of an earlier version (its files alone),
    // one refused, and one whose second line is no such thing: nothing to use.
    EXPECT_EQ(later({temp.path / "d.mov"}, {}), 2u);
    EXPECT_EQ(handOverRaw(handOverLine({(temp.path / "e.mov").string()})), "ok");
    std::vector<std::string> many(65, (temp.path / "f.mov").string());
    EXPECT_EQ(handOverRaw(handOverLine(many) + R"({"startupId":"x_TIME1"})" + '\n'), "ok");
    EXPECT_EQ(handOverRaw(handOverLine({}) + R"(["x_TIME1"])" + '\n'), "ok");
    EXPECT_TRUE(pumpUntil([&] { return app.editorWindowCount() == 3; }));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(used.size(), 2u);
}

TEST_F(ShellTest, AnEarlierVersionRunningTakesTheFilesAndLeavesTheRestUnread)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.path.string());
    // As earlier versions serve: one line read, answered, the connection closed.
    QLocalServer earlier;
    ASSERT_TRUE(earlier.listen(AppDelegate::serverName()));
    QByteArray heard;
    QObject::connect(&earlier, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = earlier.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [&heard, socket] {
            if (!socket->canReadLine()) return;
            heard = socket->readLine();
            socket->write("ok\n");
            socket->disconnectFromServer();
        });
    });
    std::atomic<int> handed = -1;
    const auto started = std::chrono::steady_clock::now();
    std::thread launcher([&] {
        handed = AppDelegate::handOver({temp.path / "c.mov"}, {"vendalum-teszt_TIME4242", "jelzo"}) ? 1 : 0;
    });
    EXPECT_TRUE(pumpUntil([&] { return handed >= 0; }, std::chrono::seconds(20)));
    launcher.join();
    EXPECT_EQ(handed, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));  // not left waiting
    EXPECT_EQ(heard, handOverLine({(temp.path / "c.mov").string()}));
}

TEST(ShellLaunch, AStartupIdGivesItsTimeAndIsQuotedWhereItMustBe)
{
    EXPECT_EQ(LaunchActivation::startupTime("xfce4-panel-1234-gep-vendalum-0_TIME56789"), 56789u);
    EXPECT_EQ(LaunchActivation::startupTime("a_TIME1_TIME2"), 2u);
    for (const char* without : {"vendalum", "vendalum_TIME", "vendalum_TIME12x", "vendalum_TIME99999999999"})
        EXPECT_EQ(LaunchActivation::startupTime(without), 0u) << without;
    EXPECT_EQ(LaunchActivation::removeMessage("gep-12_TIME3"), "remove: ID=gep-12_TIME3");
    EXPECT_EQ(LaunchActivation::removeMessage(R"(a b"c\d)"), R"(remove: ID="a b\"c\\d")");
}

TEST_F(ShellTest, WithoutARuntimeFolderTheSocketFolderMustBeOursAlone)
{
    namespace fs = std::filesystem;
    ScopedEnv runtime("XDG_RUNTIME_DIR", "");
    const fs::path tmp = temp.path / "tmp";
    fs::create_directories(tmp);
    ScopedEnv tmpdir("TMPDIR", tmp.string());
    const fs::path folder = tmp / ("vendalum-" + std::to_string(::getuid()));
    const auto mode = [&] { return fs::status(folder).permissions() & fs::perms::all; };
    const auto serves = [&] {
        AppDelegate server(*state, [] {});
        return server.serve();
    };

    // Made for us alone, and used.
    {
        AppDelegate server(*state, [] {});
        ASSERT_TRUE(server.serve());
        EXPECT_EQ(mode(), fs::perms::owner_all);
        std::optional<bool> handed;
        std::thread later([&] { handed = AppDelegate::handOver({temp.path / "c.mov"}); });
        EXPECT_TRUE(pumpUntil([&] { return handed.has_value(); }, std::chrono::seconds(20)));
        later.join();
        EXPECT_EQ(handed, true);
    }

    // Anyone may write into it: someone else's socket may wait there. A
    // later launch hands it nothing, and no server starts.
    fs::permissions(folder, fs::perms::all);
    {
        QLocalServer stranger;
        ASSERT_TRUE(stranger.listen(QString::fromStdString((folder / "vendalum.socket").string())));
        QByteArray heard;
        QObject::connect(&stranger, &QLocalServer::newConnection, [&] {
            QLocalSocket* socket = stranger.nextPendingConnection();
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [&heard, socket] {
                heard += socket->readAll();
                if (heard.endsWith('\n')) socket->write("ok\n");
            });
        });
        std::optional<bool> handed;
        std::thread later([&] { handed = AppDelegate::handOver({temp.path / "d.mov"}); });
        EXPECT_TRUE(pumpUntil([&] { return handed.has_value(); }, std::chrono::seconds(20)));
        later.join();
        EXPECT_EQ(handed, false);
        EXPECT_EQ(heard.toStdString(), "");
    }
    EXPECT_FALSE(serves());
    EXPECT_TRUE(logHas("A fájlok átvétele nem indul: a kapcsolat mappájába (" + folder.string() +
                       ") mások is írhatnak."));

    // Another user's, however closed.
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_EQ(::chown(folder.c_str(), 4242, 4242), 0);
    EXPECT_FALSE(serves());
    EXPECT_TRUE(logHas("A fájlok átvétele nem indul: a kapcsolat mappája (" + folder.string() +
                       ") egy másik felhasználóé."));

    // A link in its place, even to a folder of ours.
    fs::remove_all(folder);
    fs::create_directories(temp.path / "elsewhere");
    fs::permissions(temp.path / "elsewhere", fs::perms::owner_all);
    fs::create_directory_symlink(temp.path / "elsewhere", folder);
    EXPECT_FALSE(serves());
    EXPECT_TRUE(logHas("nem mappa áll."));

    // Ours but readable by others, as earlier versions made it: closed, then used.
    fs::remove(folder);
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    EXPECT_TRUE(serves());
    EXPECT_EQ(mode(), fs::perms::owner_all);
    EXPECT_EQ(state->pendingOpen(), (std::vector<fs::path>{temp.path / "c.mov"}));
}

// --- The updater's start decision and its veto ---

class UpdatesTest : public AppStateTest {
protected:
    Updates::Environment environment(QStringList arguments)
    {
        Updates::Environment env;
        env.arguments = std::move(arguments);
        const auto feed = temp.path / "feed.xml";
        std::ofstream(feed) << "<rss version=\"2.0\"><channel><item><version>210</version>"
                               "<displayVersion>2.1</displayVersion></item></channel></rss>";
        env.defaultFeed = QUrl::fromLocalFile(QString::fromStdString(feed.string()));
        env.isRecording = [this] { return recording; };
        return env;
    }
    int updateLines() const
    {
        const std::string log = readFile(temp.path / "state" / "Vendalum" / "Vendalum.log");
        int count = 0;
        for (auto at = log.find("Frissítés"); at != std::string::npos; at = log.find("Frissítés", at + 1)) ++count;
        return count;
    }
    bool recording = false;
};

TEST_F(UpdatesTest, StartDecision)
{
    struct Case {
        QStringList arguments;
        bool started, automatic;
        int checks;
    };
    for (const Case& c : {Case{{}, true, true, 1}, Case{{"--updatecheck"}, true, false, 1},
                          Case{{"a.mov"}, true, true, 1}, Case{{"--selftest", "x.mov"}, false, false, 0},
                          Case{{"--gaptest", "x.mov", "--updatecheck"}, false, false, 0}}) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        std::filesystem::remove(temp.path / "state" / "Vendalum" / "Vendalum.log");
        Updates updates(environment(c.arguments));
        EXPECT_EQ(updates.started(), c.started);
        EXPECT_EQ(updates.automaticallyChecksForUpdates(), c.automatic);
        EXPECT_EQ(updates.automaticallyDownloadsUpdates(), c.automatic);
        pumpUntil([&] { return updateLines() >= c.checks && !updates.isChecking(); });
        pumpFor(std::chrono::milliseconds(100));
        EXPECT_EQ(updateLines(), c.checks);
        EXPECT_EQ(updates.canCheckForUpdates(), c.started);
    }
}

TEST_F(UpdatesTest, NoCheckWhileRecordingAndAgainAfterwards)
{
    Updates updates(environment({"--updatecheck"}));
    recording = true;
    ASSERT_TRUE(pumpUntil([&] { return updateLines() == 1; }));
    EXPECT_TRUE(logHas("Frissítés-keresés hiba: Felvétel közben nincs frissítés."));
    recording = false;
    updates.checkForUpdatesInBackground();
    EXPECT_TRUE(updates.isChecking());
    EXPECT_FALSE(updates.canCheckForUpdates());
    ASSERT_TRUE(pumpUntil([&] { return updateLines() == 2; }));
    EXPECT_TRUE(logHas("Frissítés elérhető: 2.1 (210)"));
    EXPECT_TRUE(updates.canCheckForUpdates());
}

TEST_F(UpdatesTest, FeedAddressFromTheEnvironment)
{
    auto env = environment({"--selftest"});
    EXPECT_EQ(Updates(env).feedURL(), env.defaultFeed);
    env.feedVariable = "http://127.0.0.1:9/feed.xml";
    EXPECT_EQ(Updates(env).feedURL(), QUrl("http://127.0.0.1:9/feed.xml"));
    env.feedVariable = "";
    env.arguments = {"--updatecheck"};
    Updates empty(env);
    ASSERT_TRUE(pumpUntil([&] { return updateLines() == 1; }));
    EXPECT_TRUE(logHas("Frissítés-keresés hiba: "));
}

TEST(UpdateVersions, CompareNumberByNumber)
{
    struct Case {
        const char *a, *b;
        int order;
    };
    for (const Case& c : {Case{"210", "10", 1}, Case{"9", "10", -1}, Case{"10", "10", 0}, Case{"1.10", "1.9", 1},
                          Case{"2", "2.0", 0}, Case{"2.0.1", "2", 1}}) {
        SCOPED_TRACE(std::string(c.a) + " ~ " + c.b);
        EXPECT_EQ(Updates::compareVersions(c.a, c.b), c.order);
        EXPECT_EQ(Updates::compareVersions(c.b, c.a), -c.order);
    }
}

TEST(UpdateFeed, NewestItemAndBrokenFeeds)
{
    const auto items = Updates::parseFeed("<rss><channel><item><version>3</version></item>"
                                          "<item><title>x</title></item></channel></rss>");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "3");
    EXPECT_EQ(items[0].displayVersion, "3");
    EXPECT_THROW(Updates::parseFeed("<html><body>404</body></html>"), OndexaError);
    EXPECT_THROW(Updates::parseFeed("<rss><channel><item>"), OndexaError);
}

} // namespace
} // namespace ondexa::testing
