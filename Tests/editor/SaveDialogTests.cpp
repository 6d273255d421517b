// The documents' save dialog: the type's extension ends every name it gives,
// a package is one document to replace, and its columns hold their texts.

#include "Ondexa/editor/SaveDialog.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QTreeView>

#include <fstream>
#include <functional>

namespace ondexa {
namespace {

using testing::saveScreenshot;

QString qs(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

TEST(SaveDialog, TheTypesExtensionEndsEveryName)
{
    testing::TempFolder folder;
    const struct {
        const char* typed;
        const char* written;
    } cases[] = {
        {"demo.v1", "demo.v1.mp4"}, {"demo", "demo.mp4"},       {"demo.mp4", "demo.mp4"},
        {"demo.MP4", "demo.MP4"},   {"demo.mov", "demo.mov.mp4"}, {"demo.", "demo.mp4"},
    };
    for (const auto& c : cases) {
        QPointer<QFileDialog> dialog =
            makeSaveDialog(nullptr, "Exportálás", folder.path / "edit – export.mp4", "MP4-videó", "mp4");
        QStringList selected;
        QObject::connect(dialog, &QFileDialog::fileSelected, [&](const QString& file) { selected << file; });
        dialog->open();
        dialog->selectFile(c.typed);
        static_cast<QDialog*>(dialog.data())->accept();
        const QString expected = qs(folder.path / c.written);
        EXPECT_EQ(selected, QStringList{expected}) << c.typed;
        if (dialog) {
            EXPECT_EQ(dialog->selectedFiles(), QStringList{expected}) << c.typed;
            EXPECT_EQ(dialog->result(), QDialog::Accepted) << c.typed;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(dialog.isNull()) << c.typed;
    }
}

bool pumpUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 2000 && !done(); ++i) QTest::qWait(10);
    return done();
}

QMessageBox* question(QFileDialog& dialog)
{
    QMessageBox* box = nullptr;
    pumpUntil([&] { return (box = dialog.findChild<QMessageBox*>("replaceQuestion")) && box->isVisible(); });
    return box;
}

TEST(SaveDialog, APackageIsOneDocumentReplacedAfterTheQuestion)
{
    testing::TempFolder folder;
    const std::filesystem::path package = folder.path / "Régi.vdlproj";
    std::filesystem::create_directories(package / "Media");
    std::ofstream(package / "project.json") << "{}";
    const struct {
        const char* typed;  // nullptr: a double click on the package
        bool replace;
    } cases[] = {{"Régi.vdlproj", true}, {"Régi", true}, {"Régi.vdlproj", false}, {nullptr, true}};
    for (const auto& c : cases) {
        const std::string name = c.typed ? c.typed : "double click";
        QPointer<QFileDialog> dialog =
            makeSaveDialog(nullptr, "Projekt mentése", folder.path / "Új.vdlproj", "Vendalum-projekt", "vdlproj", true);
        QStringList selected;
        QObject::connect(dialog, &QFileDialog::fileSelected, [&](const QString& file) { selected << file; });
        dialog->open();
        if (c.typed) {
            dialog->selectFile(c.typed);
            static_cast<QDialog*>(dialog.data())->accept();
        } else {
            auto* list = dialog->findChild<QTreeView*>("treeView");
            ASSERT_NE(list, nullptr);
            QModelIndex row;
            ASSERT_TRUE(pumpUntil([&] {
                const auto found = list->model()->match(list->model()->index(0, 0, list->rootIndex()),
                                                        Qt::DisplayRole, "Régi.vdlproj", 1, Qt::MatchExactly);
                if (!found.isEmpty()) row = found.front();
                return row.isValid();
            }));
            const QPoint at = list->visualRect(row).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            // Picked in the list, the package is the name to save under.
            EXPECT_EQ(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QString("Régi.vdlproj"));
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        }
        QMessageBox* box = question(*dialog);
        ASSERT_NE(box, nullptr) << name;
        EXPECT_TRUE(box->text().contains("Régi.vdlproj")) << name;
        // Not entered: the package's inside is never the place.
        EXPECT_EQ(dialog->directory().absolutePath(), qs(folder.path)) << name;
        EXPECT_TRUE(selected.isEmpty()) << name;
        box->button(c.replace ? QMessageBox::Yes : QMessageBox::No)->click();
        QApplication::processEvents();
        if (c.replace) {
            EXPECT_EQ(selected, QStringList{qs(package)}) << name;
            EXPECT_TRUE(dialog.isNull() || dialog->result() == QDialog::Accepted) << name;
        } else {
            EXPECT_TRUE(selected.isEmpty()) << name;
            ASSERT_TRUE(dialog) << name;
            EXPECT_TRUE(dialog->isVisible()) << name;
            dialog->reject();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(FileDialogColumns, HoldTheirTextsWhole)
{
    testing::TempFolder folder;
    std::filesystem::create_directories(folder.path / "Bemutató.vdlproj");
    std::ofstream(folder.path / "Bemutató.vdlproj" / "project.json") << "{}";
    std::ofstream(folder.path / "Felvétel 2024-05-01 10.00.00.mp4") << std::string(123456, 'x');
    {
        // Qt keeps the columns of the last dialog: without them it sizes
        // them for English texts.
        QSettings settings(QSettings::UserScope, "QtProject");
        settings.remove("FileDialog/treeViewHeader");
    }
    QPointer<QFileDialog> dialog =
        makeSaveDialog(nullptr, "Exportálás", folder.path / "edit.mp4", "MP4-videó", "mp4");
    dialog->setNameFilter("Minden fájl (*)");
    dialog->open();
    auto* list = dialog->findChild<QTreeView*>("treeView");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    const QModelIndex root = list->rootIndex();
    ASSERT_TRUE(pumpUntil([&] { return list->model()->rowCount(root) == 2; }));
    QTest::qWait(200);  // the sizes follow the rows' arrival
    QApplication::processEvents();
    saveScreenshot(*dialog, "save-dialog-columns");
    QHeaderView* header = list->header();
    for (int column = 1; column < header->count(); ++column) {
        const std::string title = list->model()->headerData(column, Qt::Horizontal).toString().toStdString();
        EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << title;
        for (int row = 0; row < 2; ++row) {
            const QModelIndex index = list->model()->index(row, column, root);
            EXPECT_GE(list->visualRect(index).width(), list->sizeHintForIndex(index).width())
                << title << ": " << index.data().toString().toStdString();
        }
    }
    dialog->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
} // namespace ondexa
