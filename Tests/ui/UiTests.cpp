#include "Ondexa/ui/Elided.h"
#include "Ondexa/ui/KeyNames.h"
#include "Ondexa/ui/QtTexts.h"
#include "Ondexa/ui/SegmentedControl.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"
#include "Ondexa/ui/ToggleStyle.h"
#include "Ondexa/ui/ToggleSwitch.h"
#include "Ondexa/ui/VendalumHeader.h"
#include "support/ImageCompare.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHelpEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPainter>
#include <QStyle>
#include <QTemporaryDir>
#include <QSignalBlocker>
#include <QToolButton>
#include <QToolTip>


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

TEST(Theme, TheProgramsOwnIconAtTheSizesItIsSeenAt)
{
    // The application's icon is ours, whatever the icon theme offers.
    const QIcon icon = Theme::appIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(QApplication::windowIcon().pixmap(QSize(32, 32)).toImage(), icon.pixmap(QSize(32, 32)).toImage());

    // Title bar and header: a dark rounded square (clear corners), the red
    // dot above, a bright bar below.
    QWidget sheet;
    sheet.setAutoFillBackground(true);
    QPalette light = sheet.palette();
    light.setColor(QPalette::Window, QColor(235, 235, 235));
    sheet.setPalette(light);
    int x = 8;
    for (const int side : {16, 24, 32, 46}) {
        const QImage picture = icon.pixmap(QSize(side, side)).toImage();
        ASSERT_EQ(picture.size(), QSize(side, side));
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0) << side;
        const QColor dot = picture.pixelColor(side / 2, side * 26 / 64);
        EXPECT_GT(dot.red(), 180) << side;
        EXPECT_LT(dot.green(), 110) << side;
        const QColor body = picture.pixelColor(side * 8 / 64, side * 30 / 64);
        EXPECT_LT(body.lightness(), 70) << side;
        const QColor bar = picture.pixelColor(side * 44 / 64, side * 50 / 64);
        EXPECT_GT(bar.lightness(), 150) << side;
        auto* label = new QLabel(&sheet);
        label->setPixmap(icon.pixmap(QSize(side, side)));
        label->setGeometry(x, 8, side, side);
        x += side + 12;
    }
    sheet.resize(x, 62);
    saveScreenshot(sheet, "app-icon");

    // The header shows it.
    VendalumHeader header("Képernyő- és hangfelvétel");
    const auto* label = header.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->pixmap().toImage(), icon.pixmap(QSize(46, 46), label->devicePixelRatioF()).toImage());
}

TEST(SegmentedControl, OnlyTheUserActivates)
{
    SegmentedControl control;
    for (const char* text : {"Teljes kijelző", "Terület", "Ablak"}) control.addSegment(text);
    std::vector<int> activated;
    QObject::connect(&control, &SegmentedControl::activated, [&](int index) { activated.push_back(index); });
    EXPECT_EQ(control.currentIndex(), -1);
    control.setCurrentIndex(1);
    EXPECT_EQ(control.currentIndex(), 1);
    const auto segments = control.findChildren<QAbstractButton*>();
    ASSERT_EQ(segments.size(), 3);
    segments[2]->click();
    EXPECT_EQ(control.currentIndex(), 2);
    segments[2]->click();  // choosing the chosen one again keeps it
    EXPECT_EQ(control.currentIndex(), 2);
    EXPECT_EQ(activated, (std::vector{2, 2}));
    EXPECT_EQ(control.text(0), "Teljes kijelző");
    // Each segment is tall enough for its text with descenders.
    for (const auto* segment : segments)
        EXPECT_GE(segment->sizeHint().height(), QFontMetrics(segment->font()).height() + 4);
}

TEST(ToggleSwitch, FlipsWhenEnabled)
{
    ToggleSwitch toggle;
    int flips = 0;
    QObject::connect(&toggle, &ToggleSwitch::toggled, [&] { ++flips; });
    toggle.click();
    EXPECT_TRUE(toggle.isChecked());
    toggle.setEnabled(false);
    toggle.click();
    EXPECT_TRUE(toggle.isChecked());
    EXPECT_EQ(flips, 1);
}

TEST(ToggleStyle, EveryToggleOfTheProgramLooksClearlyDifferentOnAndOff)
{
    QWidget window;
    window.setPalette(Theme::palette());
    auto* layout = new QHBoxLayout(&window);
    auto* tool = new QToolButton(&window);
    tool->setText("Snap");
    tool->setCheckable(true);
    styleToggle(*tool);
    auto* segments = new SegmentedControl(&window);
    for (const char* text : {"Teljes kijelző", "Terület"}) segments->addSegment(text);
    auto* toggle = new ToggleSwitch(&window);
    for (QWidget* w : std::initializer_list<QWidget*>{tool, segments, toggle}) layout->addWidget(w);
    window.show();
    QAbstractButton* segment = segments->findChildren<QAbstractButton*>().at(1);
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(tool), segment, static_cast<QAbstractButton*>(toggle)}) {
        SCOPED_TRACE(button->metaObject()->className());
        button->setChecked(false);
        const QImage off = button->grab().toImage();
        button->setChecked(true);
        const QImage on = button->grab().toImage();
        ASSERT_EQ(off.size(), on.size());
        EXPECT_GE(fixtures::largestLumaDifference(off, on), 60);
    }
    saveScreenshot(window, "toggles-on");
}

// The tooltip a widget shows when the pointer rests on it.
QString askedTip(QWidget& widget)
{
    const QPoint at(widget.width() / 2, widget.height() / 2);
    QHelpEvent help(QEvent::ToolTip, at, widget.mapToGlobal(at));
    QApplication::sendEvent(&widget, &help);
    const QString text = QToolTip::isVisible() ? QToolTip::text() : QString();
    QToolTip::hideText();
    return text;
}

TEST(Elided, ALongTextEndsInAnEllipsisWithTheWholeTextAsTooltip)
{
    const QString name = "Focusrite Scarlett 18i20 USB – Többcsatornás bemenet (analóg sztereó duplex)";
    ElidedLabel label(name);
    label.setFont(Theme::font(Theme::bodySize));
    label.resize(label.sizeHint());
    label.show();
    EXPECT_FALSE(label.isElided());
    EXPECT_TRUE(label.toolTip().isEmpty());
    label.resize(120, label.sizeHint().height());
    const QString shown = label.shownText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(name.startsWith(shown.chopped(1))) << "whole letters, then the ellipsis";
    EXPECT_LE(label.fontMetrics().horizontalAdvance(shown), 120);
    EXPECT_EQ(label.toolTip(), name);
    label.setText("Mikrofon");
    EXPECT_FALSE(label.isElided());
    EXPECT_TRUE(label.toolTip().isEmpty());
    EXPECT_LT(label.minimumSizeHint().width(), 40) << "it takes the width it is given";

    // Drawn by hand: whole, whole letters and "…", or nothing at all.
    const QFontMetricsF metrics(label.font());
    EXPECT_EQ(elidedToFit(metrics, "Mikrofon", 200), "Mikrofon");
    const QString fitted = elidedToFit(metrics, name, 90);
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("…")) && name.startsWith(fitted.chopped(1))) << fitted.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(fitted), 90);
    EXPECT_EQ(elidedToFit(metrics, name, 2), "");
    EXPECT_EQ(elidedToFit(metrics, name, -10), "");

    ElidedComboBox picker;
    picker.addItem(name);
    picker.addItem("USB mikrofon");
    picker.resize(200, picker.sizeHint().height());
    picker.show();
    EXPECT_TRUE(picker.shownText().endsWith(QStringLiteral("…"))) << picker.shownText().toStdString();
    EXPECT_TRUE(name.startsWith(picker.shownText().chopped(1)));
    EXPECT_EQ(askedTip(picker), name);
    {
        const QSignalBlocker refilling(picker);  // as the record window refills its pickers
        picker.setCurrentIndex(1);
    }
    EXPECT_EQ(picker.shownText(), "USB mikrofon");
    EXPECT_EQ(askedTip(picker), "USB mikrofon");
    picker.setCurrentIndex(0);
    saveScreenshot(picker, "elided-picker");
}

TEST(QtTexts, StandardButtonsDatesAndTypeNamesSpeakHungarian)
{
    // Installed for the whole run by the test application, as the program does.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Mégse");
    EXPECT_EQ(QLocale().language(), QLocale::Hungarian);
    EXPECT_EQ(QLocale().toString(QDate(2026, 12, 7), "MMM"), "dec.");
    // The system's type names where ours don't reach, ours for what we show.
    EXPECT_EQ(QMimeDatabase().mimeTypeForName("video/quicktime").comment(), "QuickTime videó");
    const struct {
        const char* file;
        const char* name;
    } types[] = {{"Felvétel.mov", "MOV-videó"}, {"a.MP4", "MP4-videó"}, {"zene.m4a", "M4A-hang"},
                 {"kép.jpeg", "JPEG-kép"}, {"Projekt.vdlproj", "Vendalum-projekt"}, {"jegyzet.txt", ""}};
    for (const auto& t : types) EXPECT_EQ(fileTypeName(QFileInfo(t.file)), t.name) << t.file;
    EXPECT_EQ(fileTypeName(QFileInfo(QDir::tempPath())), "Mappa");
    const QTemporaryDir packages;
    ASSERT_TRUE(QDir(packages.path()).mkdir("Bemutató.vdlproj"));
    EXPECT_EQ(fileTypeName(QFileInfo(QDir(packages.path()).filePath("Bemutató.vdlproj"))), "Vendalum-projekt");
}

TEST(QtTexts, OurFileDialogsWriteTypesSizesAndDatesInHungarian)
{
    const QTemporaryDir folder;
    const QString movie = folder.filePath("Felvétel.mov");
    {
        QFile file(movie);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2048, 'x'));
        file.flush();  // a later write would move the time again
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(9, 30)), QFileDevice::FileModificationTime));
    }
    QFileDialog dialog(nullptr, "Exportálás", folder.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    speakHungarian(dialog);
    ASSERT_TRUE(dialog.iconProvider());
    EXPECT_EQ(dialog.iconProvider()->type(QFileInfo(movie)), "MOV-videó");
    EXPECT_FALSE(dialog.iconProvider()->type(QFileInfo("jegyzet.txt")).isEmpty());
    // The columns as the dialog's list shows them.
    auto* proxy = dialog.proxyModel();
    ASSERT_TRUE(proxy);
    auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    ASSERT_TRUE(files);
    const QModelIndex name = proxy->mapFromSource(files->index(movie));
    const QString date = name.siblingAtColumn(3).data().toString();
    EXPECT_EQ(date, QLocale().toString(QDateTime(QDate(2026, 12, 7), QTime(9, 30)), QLocale::ShortFormat));
    EXPECT_FALSE(date.contains("Dec")) << date.toStdString();
    EXPECT_EQ(name.siblingAtColumn(1).data().toString(), QLocale().formattedDataSize(2048));
    EXPECT_EQ(name.siblingAtColumn(2).data().toString(), "MOV-videó");
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
    // The title's letters: light grey at the top, blue-grey in the middle.
    VendalumHeader header("x");
    header.resize(480, 70);
    QImage picture(header.size(), QImage::Format_ARGB32);
    picture.fill(Qt::black);
    header.render(&picture);
    int top = -1, bottom = -1;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 60; x < 260; ++x)
            if (qGray(picture.pixel(x, y)) > 150) {
                if (top < 0) top = y;
                bottom = y;
            }
    ASSERT_GT(bottom - top, 10);
    // Blueness of the fully inked pixels in one row: blue minus red.
    const auto blueness = [&](int y) {
        int sum = 0, count = 0;
        for (int x = 60; x < 260; ++x) {
            const QRgb p = picture.pixel(x, y);
            if (qGray(p) < 140) continue;
            sum += qBlue(p) - qRed(p);
            ++count;
        }
        return count ? sum / count : 0;
    };
    EXPECT_LT(blueness(top + 1), 12);
    EXPECT_GT(blueness((top + bottom) / 2), 20);
    QApplication::setWindowIcon(saved);
}

} // namespace
} // namespace ondexa
