#include "Ondexa/ui/QtTexts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdlib>

namespace ondexa {

namespace {

constexpr const char* kHungarian = "hu_HU.UTF-8";

class FileTypeNames : public QFileIconProvider {
public:
    QString type(const QFileInfo& info) const override
    {
        const QString ours = fileTypeName(info);
        return ours.isEmpty() ? QFileIconProvider::type(info) : ours;
    }
};

} // namespace

void preferHungarianSystemTexts()
{
    // LC_ALL outranks every category: its value goes to each category it
    // covered, so that only the time and message categories change.
    const char* all = std::getenv("LC_ALL");
    if (all && *all) {
        const std::string value = all;
        for (const char* category : {"LC_NUMERIC", "LC_MONETARY", "LC_MEASUREMENT", "LC_PAPER", "LC_CTYPE",
                                     "LC_COLLATE"})
            setenv(category, value.c_str(), 0);
        unsetenv("LC_ALL");
    }
    setenv("LC_TIME", kHungarian, 1);
    setenv("LC_MESSAGES", kHungarian, 1);
}

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
    if (file.isDir()) return QStringLiteral("Mappa");
    static const QHash<QString, QString> names = {
        {"mov", "MOV-videó"},   {"mp4", "MP4-videó"},   {"m4v", "M4V-videó"},   {"mkv", "MKV-videó"},
        {"webm", "WebM-videó"}, {"avi", "AVI-videó"},   {"m4a", "M4A-hang"},    {"png", "PNG-kép"},
        {"jpg", "JPEG-kép"},    {"jpeg", "JPEG-kép"},   {"gif", "GIF-kép"},     {"bmp", "BMP-kép"},
        {"tif", "TIFF-kép"},    {"tiff", "TIFF-kép"},   {"webp", "WebP-kép"},   {"heic", "HEIC-kép"},
        {"vdlproj", "Vendalum-projekt"},
    };
    return names.value(file.suffix().toLower());
}

void nameFileTypes(QFileDialog& dialog)
{
    // One for the process: a dialog does not own its provider.
    static FileTypeNames* const provider = new FileTypeNames;
    dialog.setIconProvider(provider);
}

} // namespace ondexa
