#include "Ondexa/ui/QtTexts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHash>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QTreeView>

namespace ondexa {

namespace {

class FileTypeNames : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override
    {
        const QString ours = fileTypeName(info);
        return ours.isEmpty() ? QFileIconProvider::type(info) : ours;
    }
};

// The file dialog's model with its size and date columns in the default
// (Hungarian) locale.
class HungarianFileColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files && (index.column() == kSizeColumn || index.column() == kDateColumn)) {
            const QFileInfo info = files->fileInfo(mapToSource(index));
            if (index.column() == kDateColumn) return QLocale().toString(info.lastModified(), QLocale::ShortFormat);
            if (info.isFile()) return QLocale().formattedDataSize(info.size());
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    // QFileSystemModel's columns: name, size, type, date modified.
    static constexpr int kSizeColumn = 1;
    static constexpr int kDateColumn = 3;
};

} // namespace

bool installHungarianQtTexts(QCoreApplication& application)
{
    QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
    auto* translator = new QTranslator(&application);
    if (!translator->load("qtbase_hu", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QString fileTypeName(const QFileInfo& file)
{
    static const QHash<QString, QString> names = {
        {"mov", "MOV-videó"},   {"mp4", "MP4-videó"},   {"m4v", "M4V-videó"},   {"mkv", "MKV-videó"},
        {"webm", "WebM-videó"}, {"avi", "AVI-videó"},   {"m4a", "M4A-hang"},    {"png", "PNG-kép"},
        {"jpg", "JPEG-kép"},    {"jpeg", "JPEG-kép"},   {"gif", "GIF-kép"},     {"bmp", "BMP-kép"},
        {"tif", "TIFF-kép"},    {"tiff", "TIFF-kép"},   {"webp", "WebP-kép"},   {"heic", "HEIC-kép"},
        {"vdlproj", "Vendalum-projekt"},
    };
    // A project package is a folder with our suffix: named by the suffix.
    const QString ours = names.value(file.suffix().toLower());
    if (ours.isEmpty() && file.isDir()) return QStringLiteral("Mappa");
    return ours;
}

void speakHungarian(QFileDialog& dialog)
{
    // One for the process: a dialog does not own its provider.
    static FileTypeNames* const provider = new FileTypeNames;
    dialog.setIconProvider(provider);
    dialog.setProxyModel(new HungarianFileColumns(&dialog));
    // Qt sizes the columns for English texts: the Hungarian dates and type
    // names would be cut in the middle. They take their texts' width; the
    // name takes the rest and, too long, loses its end.
    if (auto* list = dialog.findChild<QTreeView*>("treeView")) {
        QHeaderView* header = list->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        list->setTextElideMode(Qt::ElideRight);
    }
    dialog.setLabelText(QFileDialog::LookIn, "Hely:");
    dialog.setLabelText(QFileDialog::FileName, "Fájlnév:");
    dialog.setLabelText(QFileDialog::FileType, "Típus:");
}

} // namespace ondexa
