// The documents' save dialog: the type's extension ends every name it gives.

#include "Ondexa/editor/SaveDialog.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QPointer>

namespace ondexa {
namespace {

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

} // namespace
} // namespace ondexa
