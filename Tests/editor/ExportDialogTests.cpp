// The export dialog: its choices, texts and states over models made from
// track lists, and real exports of recordings made by the ffmpeg program,
// read back with libavformat.

#include "EditTestSupport.h"
#include "support/MediaFixtures.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include "Ondexa/editor/ExportDialog.h"
#include "Ondexa/ui/SegmentedControl.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QMouseEvent>

#include <fstream>
#include <iterator>

using namespace ondexa;
using namespace ondexa::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Options = EditorModel::ExportOptions;
using Range = Options::Range;
using Format = Options::Format;

namespace {

QString qs(const fs::path& path) { return QString::fromStdString(path.string()); }

// A left click in the middle of the widget.
void click(QWidget* widget)
{
    const QPointF at = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

void pressKey(QWidget* widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

bool shown(QWidget* window) { return runUntil([&] { return window->isVisible(); }, 10s); }

std::string bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

QStringList sizeItems(const ExportDialog& dialog)
{
    QStringList items;
    for (int i = 0; i < dialog.sizePicker()->count(); ++i) items << dialog.sizePicker()->itemText(i);
    return items;
}

void clickFormat(ExportDialog& dialog, Format format)
{
    const int index = format == Format::mp4 ? 0 : format == Format::mov ? 1 : 2;
    auto buttons = dialog.formatPicker()->findChildren<QAbstractButton*>();
    ASSERT_EQ(buttons.size(), 3);
    click(buttons[index]);
}

// What the save panel was set up with, and how the test answers it.
struct SavePanelAnswer {
    int shown = 0;
    QString directory;
    QStringList suggested;
    QStringList filters;
    QString suffix;
    // None: the user cancels. `confirmReplace` stands for the user agreeing
    // to replace an existing file (the panel would ask in a modal box).
    std::optional<fs::path> file;
    bool confirmReplace = false;

    ExportDialog::SavePanelPresenter presenter()
    {
        return [this](QFileDialog& panel) {
            ++shown;
            directory = panel.directory().absolutePath();
            suggested = panel.selectedFiles();
            filters = panel.nameFilters();
            suffix = panel.defaultSuffix();
            panel.open();
            // Answered later, as a user would.
            QMetaObject::invokeMethod(
                &panel,
                [this, &panel] {
                    QDialog& asked = panel;  // the panel's own accept() and done()
                    if (!file) return asked.reject();
                    panel.selectFile(qs(*file));
                    if (confirmReplace) return asked.done(QDialog::Accepted);
                    asked.accept();
                },
                Qt::QueuedConnection);
        };
    }
};

// Three tracks, the longest clip ending at 61.5 s.
std::vector<Track> threeTracks()
{
    return {trackWith("Képernyő", {clipAt(0, 61.5)}), trackWith("Kamera", {clipAt(0, 30)}),
            trackWith("Hang", {clipAt(10, 20, 0, MediaKind::audio)}, MediaKind::audio)};
}

class ExportDialogForm : public ::testing::Test {
protected:
    TempFolder folder;
    std::unique_ptr<EditorModel> model = editorWith(folder.path, threeTracks());
    QWidget host;
};

TEST_F(ExportDialogForm, SizeLabelsOfAFullHDRecordingInOrder)
{
    ASSERT_EQ(model->screenSize(), QSize(1920, 1080));
    ExportDialog dialog(*model, &host);
    EXPECT_EQ(sizeItems(dialog), (QStringList{"Eredeti (1920 × 1080)", "1440 × 810 – az eredeti 75 %-a",
                                              "960 × 540 – az eredeti 50 %-a", "480 × 270 – az eredeti 25 %-a",
                                              "4K (3840 × 2160)", "Full HD (1920 × 1080)", "HD (1280 × 720)"}));
    EXPECT_EQ(dialog.sizePicker()->currentIndex(), 0);
}

TEST_F(ExportDialogForm, OpensOnTheWholeEditWithoutAMatrixSelection)
{
    host.show();
    auto* dialog = new ExportDialog(*model, &host);
    dialog->open();
    ASSERT_TRUE(shown(dialog));

    EXPECT_EQ(dialog->options(), Options{});
    EXPECT_TRUE(dialog->rangeButton(Range::all)->isChecked());
    EXPECT_FALSE(dialog->rangeButton(Range::matrix)->isEnabled());
    EXPECT_EQ(dialog->summary()->text(), "00:00.00 – 01:01.50  ·  01:01.50 hosszú  ·  3 sáv");
    EXPECT_FALSE(dialog->progressBar()->isVisible());
    EXPECT_FALSE(dialog->cancelButton()->isVisible());
    EXPECT_TRUE(dialog->closeButton()->isVisible());
    EXPECT_TRUE(dialog->exportButton()->isDefault());
    saveScreenshot(*dialog, "export-dialog-idle");
}

TEST_F(ExportDialogForm, OpensOnTheMatrixSelectionAndCountsItsTracks)
{
    model->setMatrixSelection(
        EditorModel::MatrixSelection{2.25, 5.5, {model->tracks()[0].id, model->tracks()[2].id}});
    ExportDialog dialog(*model, &host);
    EXPECT_EQ(dialog.options().range, Range::matrix);
    EXPECT_TRUE(dialog.rangeButton(Range::matrix)->isChecked());
    EXPECT_EQ(dialog.summary()->text(), "00:02.25 – 00:05.50  ·  00:03.25 hosszú  ·  2 sáv");

    // The whole edit again, then the selection gone: the choice greys out.
    click(dialog.rangeButton(Range::all));
    EXPECT_EQ(dialog.options().range, Range::all);
    EXPECT_EQ(dialog.summary()->text(), "00:00.00 – 01:01.50  ·  01:01.50 hosszú  ·  3 sáv");
    model->setMatrixSelection(std::nullopt);
    EXPECT_FALSE(dialog.rangeButton(Range::matrix)->isEnabled());

    // The summary follows the tracks.
    model->setTracks({model->tracks()[1], model->tracks()[2]});
    EXPECT_EQ(dialog.summary()->text(), "00:00.00 – 00:30.00  ·  00:30.00 hosszú  ·  2 sáv");
}

TEST_F(ExportDialogForm, TheMarkedRangeNeedsBothMarks)
{
    struct Case {
        std::optional<double> in, out;
        bool enabled;
        QString summary;  // after choosing it, when it can be chosen
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false, {}},
        {1.0, std::nullopt, false, {}},
        {std::nullopt, 3.0, false, {}},
        {1.0, 3.5, true, "00:01.00 – 00:03.50  ·  00:02.50 hosszú  ·  3 sáv"},
        // Out before in: choosable, but it covers the whole edit.
        {5.0, 2.0, true, "00:00.00 – 01:01.50  ·  01:01.50 hosszú  ·  3 sáv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in.value_or(-1) << " … " << c.out.value_or(-1));
        model->setMarkIn(std::nullopt);
        model->setMarkOut(std::nullopt);
        ExportDialog dialog(*model, &host);
        // Marks set while the dialog is open count too.
        model->setMarkIn(c.in);
        model->setMarkOut(c.out);
        QAbstractButton* marks = dialog.rangeButton(Range::marks);
        EXPECT_EQ(marks->isEnabled(), c.enabled);
        click(marks);
        EXPECT_EQ(dialog.options().range, c.enabled ? Range::marks : Range::all);
        if (c.enabled) {
            EXPECT_EQ(dialog.summary()->text(), c.summary);
        }
    }
}

TEST_F(ExportDialogForm, SoundAloneHidesSizeAndEncodingAndKeepsThem)
{
    host.show();
    auto* dialog = new ExportDialog(*model, &host);
    dialog->open();
    ASSERT_TRUE(shown(dialog));
    dialog->sizePicker()->setCurrentIndex(2);
    emit dialog->sizePicker()->activated(2);
    click(dialog->encodingButton(Options::Encoding::normal));
    QCoreApplication::processEvents();
    const int idleHeight = dialog->height();

    clickFormat(*dialog, Format::m4a);
    EXPECT_EQ(dialog->options().format, Format::m4a);
    EXPECT_FALSE(dialog->isSizeRowShown());
    EXPECT_FALSE(dialog->isEncodingRowShown());
    EXPECT_FALSE(dialog->sizePicker()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_LT(dialog->height(), idleHeight);

    clickFormat(*dialog, Format::mp4);
    EXPECT_TRUE(dialog->isSizeRowShown());
    EXPECT_TRUE(dialog->isEncodingRowShown());
    EXPECT_EQ(dialog->sizePicker()->currentIndex(), 2);
    EXPECT_TRUE(dialog->encodingButton(Options::Encoding::normal)->isChecked());
    EXPECT_EQ(dialog->options(), (Options{Range::all, Options::Size::half, Options::Encoding::normal, Format::mp4}));
}

TEST(ExportDialogTexts, ProgressIsTruncatedToWholePercents)
{
    const std::pair<double, const char*> cases[] = {
        {0.0, "Exportálás… 0%"},   {0.999, "Exportálás… 99%"}, {0.5, "Exportálás… 50%"},
        {0.0149, "Exportálás… 1%"}, {1.0, "Exportálás… 100%"},
    };
    for (const auto& [progress, text] : cases) EXPECT_EQ(ExportDialog::progressText(progress), text) << progress;
}

TEST(ExportDialogTexts, SuggestedFileSitsBesideTheRecording)
{
    const fs::path recording = "/home/u/Videók/Vendalum/Felvétel 2024-05-01 10.00.00.mov";
    struct Case {
        std::optional<fs::path> package;
        Format format;
        fs::path expected;
    };
    const Case cases[] = {
        {std::nullopt, Format::mp4, "/home/u/Videók/Vendalum/Felvétel 2024-05-01 10.00.00 – export.mp4"},
        {std::nullopt, Format::m4a, "/home/u/Videók/Vendalum/Felvétel 2024-05-01 10.00.00 – export.m4a"},
        // A package names the file; the folder stays the recording's.
        {fs::path("/home/u/Projektek/Demo.vdlproj"), Format::mov, "/home/u/Videók/Vendalum/Demo – export.mov"},
        {fs::path("/home/u/Projektek/Demo.vdlproj/"), Format::mp4, "/home/u/Videók/Vendalum/Demo – export.mp4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExportDialog::suggestedDestination(recording, c.package, c.format), c.expected);
}

TEST_F(ExportDialogForm, SavePanelOffersTheChosenFormatOnly)
{
    host.show();
    auto* dialog = new ExportDialog(*model, &host);
    SavePanelAnswer answer;  // cancels
    dialog->setSavePanelPresenter(answer.presenter());
    dialog->open();
    ASSERT_TRUE(shown(dialog));

    // Return starts it.
    pressKey(dialog, Qt::Key_Return);
    ASSERT_EQ(answer.shown, 1);
    EXPECT_EQ(answer.directory, qs(folder.path));
    EXPECT_EQ(answer.suggested, QStringList{qs(folder.path / "edit – export.mp4")});
    EXPECT_EQ(answer.filters, QStringList{"MP4-videó (*.mp4)"});
    EXPECT_EQ(answer.suffix, "mp4");
    ASSERT_TRUE(runUntil([&] { return !dialog->findChild<QFileDialog*>(); }, 10s));
    // Cancelled: nothing changed.
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(model->exportProgress());
    EXPECT_TRUE(dialog->form()->isEnabled());

    clickFormat(*dialog, Format::m4a);
    click(dialog->exportButton());
    ASSERT_EQ(answer.shown, 2);
    EXPECT_EQ(answer.suggested, QStringList{qs(folder.path / "edit – export.m4a")});
    EXPECT_EQ(answer.filters, QStringList{"M4A-hang (*.m4a)"});
    EXPECT_EQ(answer.suffix, "m4a");
    ASSERT_TRUE(runUntil([&] { return !dialog->findChild<QFileDialog*>(); }, 10s));

    // Escape closes the idle dialog.
    pressKey(dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

// Real exports of a small recording with a frame-numbered screen and a tone.
class ExportDialogExport : public ::testing::Test {
protected:
    void open(double seconds)
    {
        RecordingRecipe recipe;
        recipe.seconds = seconds;
        recipe.width = 640;
        recipe.height = 360;
        recipe.camera = false;
        recipe.tones = 1;
        recording = makeRecording(folder.path / "Felvétel.mov", recipe);
        model = std::make_unique<EditorModel>(recording, settingsIn(folder.path));
        ASSERT_TRUE(loadAndWait(*model));
        ASSERT_FALSE(model->loadError()) << *model->loadError();
        host.show();
        dialog = new ExportDialog(*model, &host, answer.presenter());
        dialog->open();
        ASSERT_TRUE(shown(dialog));
    }
    void TearDown() override
    {
        if (model) {
            runUntil([&] { return !model->exportProgress(); }, 60s);
            waitForSaves(*model);
        }
    }
    // Runs `atFirstPoll` once the export has reported progress from its
    // session (the report after the opening 0).
    void onFirstPoll(std::function<void()> atFirstPoll)
    {
        auto reports = std::make_shared<int>(0);
        QObject::connect(model.get(), &EditorModel::exportProgressChanged, dialog,
                         [this, reports, atFirstPoll = std::move(atFirstPoll)] {
                             if (model->exportProgress() && ++*reports == 2) atFirstPoll();
                         });
    }

    TempFolder folder;
    fs::path recording;
    std::unique_ptr<EditorModel> model;
    QWidget host;
    ExportDialog* dialog = nullptr;
    SavePanelAnswer answer;
};

TEST_F(ExportDialogExport, WritesTheEditAndCloses)
{
    ASSERT_NO_FATAL_FAILURE(open(3));
    const fs::path target = folder.path / "kész.mp4";
    answer.file = target;
    bool sawRunning = false;
    onFirstPoll([&] {
        sawRunning = true;
        EXPECT_FALSE(dialog->form()->isEnabled());
        EXPECT_TRUE(dialog->progressBar()->isVisible());
        EXPECT_EQ(dialog->progressLabel()->text(), ExportDialog::progressText(*model->exportProgress()));
        EXPECT_TRUE(dialog->cancelButton()->isVisible());
        EXPECT_FALSE(dialog->closeButton()->isVisible());
        EXPECT_FALSE(dialog->exportButton()->isVisible());
        // Nothing closes it while it runs.
        pressKey(dialog, Qt::Key_Escape);
        pressKey(dialog, Qt::Key_Return);
        dialog->close();
        EXPECT_TRUE(dialog->isVisible());
        saveScreenshot(*dialog, "export-dialog-running");
    });
    click(dialog->exportButton());
    ASSERT_TRUE(runUntil([&] { return !model->exportProgress() && !dialog->isVisible(); }, 120s));

    EXPECT_TRUE(sawRunning);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(model->lastExport(), target);
    EXPECT_FALSE(model->exportError());
    EXPECT_FALSE(dialog->alertBox());
    const auto streams = fixtures::readMovie(target);
    const auto video = std::find_if(streams.begin(), streams.end(), [](const auto& s) { return s.video; });
    ASSERT_NE(video, streams.end());
    EXPECT_EQ(video->width, 640);
    EXPECT_NEAR(video->duration(), 3.0, 1.0 / 30 + 1e-3);
}

TEST_F(ExportDialogExport, CancelLeavesNoFileAndNoAlert)
{
    ASSERT_NO_FATAL_FAILURE(open(20));
    const fs::path target = folder.path / "megszakítva.mp4";
    answer.file = target;
    bool cancelled = false;
    onFirstPoll([&] {
        cancelled = true;
        click(dialog->cancelButton());
    });
    click(dialog->exportButton());
    ASSERT_TRUE(runUntil([&] { return answer.shown && !model->exportProgress() && !dialog->findChild<QFileDialog*>(); },
                         120s));

    ASSERT_TRUE(cancelled);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(model->exportError());
    EXPECT_FALSE(model->lastExport());
    EXPECT_FALSE(dialog->alertBox());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->form()->isEnabled());
    EXPECT_FALSE(dialog->progressBar()->isVisible());
    EXPECT_TRUE(dialog->exportButton()->isVisible());
    EXPECT_FALSE(dialog->cancelButton()->isVisible());
}

TEST_F(ExportDialogExport, RefusesTheRecordingItselfAndSaysWhy)
{
    ASSERT_NO_FATAL_FAILURE(open(3));
    const std::string before = bytesOf(recording);
    answer.file = recording;
    answer.confirmReplace = true;
    click(dialog->exportButton());
    ASSERT_TRUE(runUntil([&] { return dialog->alertBox() && dialog->alertBox()->isVisible(); }, 20s));

    EXPECT_EQ(dialog->alertBox()->windowTitle(), "Hiba");
    EXPECT_EQ(dialog->alertBox()->text(), "Az exportálás nem indítható: a célfájl a szerkesztés egyik forrásfájlja.");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->form()->isEnabled());
    EXPECT_FALSE(model->exportProgress());
    EXPECT_EQ(bytesOf(recording), before);

    // A second refusal updates the one alert.
    dialog->alertBox()->setText(QString());
    dialog->start();
    ASSERT_TRUE(runUntil([&] { return !dialog->alertBox()->text().isEmpty(); }, 20s));
    EXPECT_EQ(dialog->findChildren<QMessageBox*>().size(), 1);
    EXPECT_EQ(bytesOf(recording), before);

    // "OK": the message is read.
    click(dialog->alertBox()->button(QMessageBox::Ok));
    EXPECT_FALSE(dialog->alertBox()->isVisible());
    EXPECT_FALSE(model->exportError());
}

} // namespace
