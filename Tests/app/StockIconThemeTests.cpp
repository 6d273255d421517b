// The record window and the tray on a desktop with only hicolor and Adwaita
// (a stock GNOME or Xfce): their symbols come from the program's own copy,
// so the tray has an icon to show.

#include "AppTestSupport.h"
#include "support/StockIconThemes.h"

#include "Ondexa/app/MenuBarExtra.h"
#include "Ondexa/app/RecordView.h"

#include <QPushButton>
#include <QSystemTrayIcon>

namespace ondexa {
namespace {

using namespace testing;

using StockIconTheme = RecordWindowTest;

TEST_F(StockIconTheme, TheTrayAndTheRecordButtonHaveTheirSymbols)
{
    testsupport::StockIconThemes stock;
    auto state = make();
    Tray tray(*state);
    EXPECT_TRUE(testsupport::drawsSomething(tray.icon()->icon()));
    RecordView view(*state, [](const std::filesystem::path&) {});
    view.resize(view.sizeHint());
    auto* button = part<QPushButton>(view, "mainButton");
    ASSERT_TRUE(button);
    EXPECT_TRUE(testsupport::drawsSomething(button->icon(), 18));
    saveScreenshot(view, "record-stock-icon-themes");
}

} // namespace
} // namespace ondexa
