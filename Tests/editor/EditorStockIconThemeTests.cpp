// The editor on a desktop with only hicolor and Adwaita (a stock GNOME or
// Xfce): every symbol it shows comes from the program's own copy.

#include "EditorWindowTestSupport.h"

#include "Ondexa/editor/EditorToolbar.h"
#include "support/StockIconThemes.h"
#include "support/TempFolder.h"
#include "support/WidgetTestApplication.h"

#include <QAbstractButton>

namespace ondexa::testing {
namespace {

TEST(EditorStockIconTheme, EverySymbolOfTheWindowIsDrawn)
{
    TempFolder folder;
    testsupport::StockIconThemes stock;
    for (const QString& name : Symbols::names())
        EXPECT_TRUE(testsupport::drawsSomething(Symbols::icon(name))) << name.toStdString();

    auto window = openEditor(makeEditorRecording(folder.path / "Felvétel.mov"));
    ASSERT_TRUE(window->model().isLoaded());
    window->resize(1250, 800);
    const auto* toolbar = window->findChild<EditorToolbar*>();
    ASSERT_TRUE(toolbar);
    for (const char* name : {"back", "play", "forward", "snap", "undo", "redo", "fit"}) {
        const QAbstractButton* button = toolbar->button(name);
        ASSERT_TRUE(button) << name;
        EXPECT_TRUE(testsupport::drawsSomething(button->icon(), 16)) << name;
    }
    // The inspector's add buttons and the edit row's labelled buttons.
    int drawn = 0;
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window.get()) || button->icon().isNull()) continue;
        EXPECT_TRUE(testsupport::drawsSomething(button->icon(), 16)) << button->text().toStdString();
        ++drawn;
    }
    EXPECT_GE(drawn, 14);
    saveScreenshot(*window, "editor-stock-icon-themes");
}

} // namespace
} // namespace ondexa::testing
