#pragma once

// The icon themes of a stock GNOME or Xfce desktop, hicolor and Adwaita,
// as the only ones on the icon path for one scope; breeze is out of sight.

#include "support/ScopedEnv.h"

#include "Ondexa/ui/Symbols.h"

#include <QIcon>
#include <QTemporaryDir>

#include <filesystem>
#include <optional>

namespace testsupport {

class StockIconThemes {
public:
    StockIconThemes() : oldPaths_(QIcon::themeSearchPaths())
    {
        namespace fs = std::filesystem;
        const fs::path icons = fs::path(folder_.path().toStdString()) / "icons";
        fs::create_directories(icons);
        for (const char* theme : {"hicolor", "Adwaita"})
            fs::create_directory_symlink(fs::path("/usr/share/icons") / theme, icons / theme);
        xdgDataDirs_.emplace("XDG_DATA_DIRS", folder_.path().toStdString());
        QIcon::setThemeSearchPaths({});
        ondexa::Symbols::useIconTheme();
    }
    ~StockIconThemes()
    {
        xdgDataDirs_.reset();
        QIcon::setThemeSearchPaths(oldPaths_);
        ondexa::Symbols::useIconTheme();
    }
    StockIconThemes(const StockIconThemes&) = delete;
    StockIconThemes& operator=(const StockIconThemes&) = delete;

private:
    QStringList oldPaths_;
    QTemporaryDir folder_;
    std::optional<ScopedEnv> xdgDataDirs_;
};

// Whether the icon draws something at `side` pixels.
inline bool drawsSomething(const QIcon& icon, int side = 22)
{
    const QImage image = icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) return true;
    return false;
}

} // namespace testsupport
