// The open dialog: a movie or a project package (a folder) is chosen, a
// cancel chooses nothing, the record window's "Megnyitás…" uses it, and its
// columns hold their texts.

#include "AppTestSupport.h"

#include "Ondexa/app/RecordView.h"
#include "Ondexa/app/RecordingChooser.h"
#include "Ondexa/model/Paths.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

namespace ondexa {
namespace {

using namespace testing;

// What a user does: press the dialog's "Megnyitás" button.
void pressOpen(QFileDialog& dialog)
{
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    QPushButton* open = buttons->button(QDialogButtonBox::Open);
    ASSERT_NE(open, nullptr);
    // The folder's listing arrives from a worker; the button waits for it.
    ASSERT_TRUE(pumpUntil([&] { return open->isEnabled(); }));
    open->click();
}

class RecordingChooserTest : public RecordWindowTest {
protected:
    RecordingChooserTest()
    {
        folder = Paths::recordingsFolder();
        std::filesystem::create_directories(folder / "Bemutató.vdlproj" / "Media");
        std::ofstream(folder / "Bemutató.vdlproj" / "project.json") << "{}";
        std::filesystem::create_directories(folder / "proba2");  // saved without the extension
        std::ofstream(folder / "proba2" / "project.json") << "{}";
        std::ofstream(folder / "Felvétel 1.mov") << "x";
    }
    ~RecordingChooserTest() override { AppState::setRecordingChooser({}); }

    std::filesystem::path folder;
};

TEST_F(RecordingChooserTest, ChoosesAMovieOrAPackageOrNothing)
{
    const struct {
        const char* select;  // nullptr: cancel
        std::optional<std::string> chosen;
    } cases[] = {
        {"Felvétel 1.mov", "Felvétel 1.mov"},
        {"Bemutató.vdlproj", "Bemutató.vdlproj"},
        {"proba2", "proba2"},
        {nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        int answers = 0;
        std::optional<std::filesystem::path> chosen;
        QPointer<QFileDialog> dialog = RecordingChooser::choose(nullptr, [&](auto file) {
            ++answers;
            chosen = file;
        });
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()), folder);
        if (c.select) {
            dialog->selectFile(QString::fromStdString(c.select));
            pressOpen(*dialog);
        } else {
            dialog->reject();
        }
        QApplication::processEvents();
        EXPECT_EQ(answers, 1);
        if (c.chosen) {
            ASSERT_TRUE(chosen.has_value()) << *c.chosen;
            EXPECT_EQ(*chosen, folder / *c.chosen);
        } else {
            EXPECT_FALSE(chosen.has_value());
        }
        EXPECT_FALSE(dialog && dialog->isVisible());
    }
}

TEST_F(RecordingChooserTest, DoubleClickOnAPackageChoosesIt)
{
    std::optional<std::filesystem::path> chosen;
    QPointer<QFileDialog> dialog = RecordingChooser::choose(nullptr, [&](auto file) { chosen = file; });
    dialog->resize(700, 450);
    auto* list = dialog->findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    QModelIndex package;
    ASSERT_TRUE(pumpUntil([&] {
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, list->rootIndex());
            if (index.data().toString() == "Bemutató.vdlproj") package = index;
        }
        return package.isValid();
    }));
    // The columns in Hungarian: our type names, no English month.
    EXPECT_EQ(package.siblingAtColumn(2).data().toString(), "Vendalum-projekt");
    EXPECT_FALSE(package.siblingAtColumn(3).data().toString().contains("Dec"));
    saveScreenshot(*dialog, "open-dialog");
    const QPoint at = list->visualRect(package).center();
    QWidget* viewport = list->viewport();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
    QApplication::processEvents();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, folder / "Bemutató.vdlproj");
    EXPECT_FALSE(dialog && dialog->isVisible());
}

TEST_F(RecordingChooserTest, OpenButtonOfTheRecordWindowUsesTheDialog)
{
    auto state = make();
    std::vector<std::filesystem::path> opened;
    RecordView view(*state, [&](const std::filesystem::path& file) { opened.push_back(file); });
    RecordingChooser::install([&view] { return &view; });
    view.show();
    view.findChild<QPushButton*>("open")->click();
    auto* dialog = view.findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    dialog->selectFile("Bemutató.vdlproj");
    pressOpen(*dialog);
    QApplication::processEvents();
    EXPECT_EQ(opened, std::vector{folder / "Bemutató.vdlproj"});
}

TEST_F(RecordingChooserTest, TheColumnsHoldTheirTextsWhole)
{
    // Without the columns of an earlier dialog Qt sizes them for English.
    QSettings(QSettings::UserScope, "QtProject").remove("FileDialog/treeViewHeader");
    QPointer<QFileDialog> dialog = RecordingChooser::choose(nullptr, [](auto) {});
    dialog->setViewMode(QFileDialog::Detail);
    auto* list = dialog->findChild<QTreeView*>("treeView");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return list->model()->rowCount(list->rootIndex()) == 3; }));
    QApplication::processEvents();
    saveScreenshot(*dialog, "open-dialog-columns");
    QHeaderView* header = list->header();
    for (int column = 1; column < header->count(); ++column) {
        const std::string title = list->model()->headerData(column, Qt::Horizontal).toString().toStdString();
        EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << title;
        for (int row = 0; row < 3; ++row) {
            const QModelIndex index = list->model()->index(row, column, list->rootIndex());
            EXPECT_GE(list->visualRect(index).width(), list->sizeHintForIndex(index).width())
                << title << ": " << index.data().toString().toStdString();
        }
    }
    dialog->reject();
}

} // namespace
} // namespace ondexa
