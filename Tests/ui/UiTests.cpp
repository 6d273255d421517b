#include "Ondexa/ui/KeyNames.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/VendalumHeader.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace ondexa {
namespace {

using testing::saveScreenshot;

TEST(KeyNames, GlyphsBecomeLinuxNames)
{
    const struct {
        const char* shown;
        const char* expected;
    } cases[] = {
        {"⌘Z", "Ctrl+Z"},
        {"⌘⇧Z", "Ctrl+Shift+Z"},
        {"⇧⌘Z", "Ctrl+Shift+Z"},
        {"⇧⌘L", "Ctrl+Shift+L"},
        {"⌃A", "Ctrl+Alt+A"},
        {"⌫", "Backspace"},
        {"Törlés ⌫", "Törlés Backspace"},
        {"⇧⌫: hézag bezárása", "Shift+Backspace: hézag bezárása"},
        {"⌥-kattintás: külön", "Alt-kattintás: külön"},
        {"⇧/⌥/⌘", "Shift/Alt/Ctrl"},
        {"⌥←", "Alt+←"},
        {"← →", "← →"},
        {"Művelet M", "Művelet M"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keyNames(QString::fromUtf8(c.shown)).toStdString(), c.expected) << c.shown;
}

// How much of the image is drawn at all.
int inkedPixels(const QImage& image)
{
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 40;
    return inked;
}

TEST(Symbols, EveryNameDrawsAnIcon)
{
    ASSERT_GE(Symbols::names().size(), 40);
    for (const QString& name : Symbols::names()) {
        const QIcon icon = Symbols::icon(name);
        ASSERT_FALSE(icon.isNull()) << name.toStdString();
        const QImage image = icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(image.size(), QSize(22, 22)) << name.toStdString();
        // An SVG theme icon without the SVG plugin comes back empty.
        EXPECT_GT(inkedPixels(image), 12) << name.toStdString();
    }
    EXPECT_TRUE(Symbols::icon("no.such.symbol").isNull());
}

TEST(Symbols, PaintedOnlyWithoutThemeCounterpart)
{
    for (const QString& name : Symbols::names()) {
        const QString theme = Symbols::themeName(name);
        if (theme.isEmpty()) continue;
        EXPECT_TRUE(QIcon::hasThemeIcon(theme)) << name.toStdString() << " → " << theme.toStdString();
    }
    EXPECT_TRUE(Symbols::themeName(Symbols::chain).isEmpty());
}

TEST(Symbols, SheetForTheEye)
{
    // Every symbol at the sizes windows use, for a person to look at.
    const QStringList names = Symbols::names();
    const int columns = 10, cell = 40;
    QLabel sheet;
    QPixmap canvas(columns * cell, int((names.size() + columns - 1) / columns) * cell);
    canvas.fill(Theme::panel());
    QPainter painter(&canvas);
    for (int i = 0; i < names.size(); ++i)
        Symbols::icon(names[i]).paint(&painter, QRect((i % columns) * cell + 9, (i / columns) * cell + 9, 22, 22));
    painter.end();
    sheet.setPixmap(canvas);
    sheet.resize(canvas.size());
    saveScreenshot(sheet, "symbols");
}

TEST(Theme, ApplicationIsDarkWithAccentHighlight)
{
    auto* application = qobject_cast<QApplication*>(QApplication::instance());
    ASSERT_NE(application, nullptr);
    EXPECT_EQ(application->style()->name().toLower(), "fusion");
    const QPalette palette = QApplication::palette();
    EXPECT_EQ(palette.color(QPalette::Highlight), Theme::accent());
    EXPECT_LT(palette.color(QPalette::Window).lightness(), 60);
    EXPECT_GT(palette.color(QPalette::WindowText).lightness(), 200);
    EXPECT_EQ(QIcon::themeName(), "breeze-dark");
    const QFont mono = Theme::monoFont(9, Theme::Weight::semibold);
    EXPECT_EQ(mono.pixelSize(), 9);
    EXPECT_EQ(mono.weight(), QFont::DemiBold);
    EXPECT_TRUE(QFontInfo(mono).fixedPitch());
}

TEST(VendalumHeader, IconIsAlways46AndTitleIsMetal)
{
    const QIcon saved = QApplication::windowIcon();
    for (const int iconSide : {16, 512}) {
        QPixmap appIcon(iconSide, iconSide);
        appIcon.fill(Theme::record());
        QApplication::setWindowIcon(QIcon(appIcon));
        VendalumHeader header("Képernyő- és hangfelvétel");
        header.resize(480, 70);
        Theme::style(header);
        header.setAutoFillBackground(true);
        QPalette back = header.palette();
        back.setColor(QPalette::Window, Theme::background());
        header.setPalette(back);
        const auto* icon = header.findChild<QLabel*>();
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->pixmap().size(), QSize(46, 46)) << iconSide;
        EXPECT_EQ(header.subtitle(), "Képernyő- és hangfelvétel");
        if (iconSide == 512) saveScreenshot(header, "header");
    }
    QApplication::setWindowIcon(saved);
}

} // namespace
} // namespace ondexa
