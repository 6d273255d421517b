// The editor window on the screens people have: a laptop's 768 px high
// screen takes it whole, footer and all, and it comes back onto the screen
// when placed low; a large screen keeps its full size.

#include "AppTestSupport.h"

#include "Ondexa/editor/EditorFooter.h"
#include "Ondexa/editor/EditorWindow.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>

namespace ondexa {
namespace {

using namespace testing;

// The test's screens (screens.json): "wide" 1920 × 1200 at the origin,
// "laptop" 1366 × 768 to its right.
QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name) return screen;
    return nullptr;
}

QRect onScreen(const QWidget& widget) { return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size()); }

class EditorWindowFit : public RecordWindowTest {};

TEST_F(EditorWindowFit, ALaptopScreenTakesTheWindowWholeAndALargeOneItsFullSize)
{
    QScreen* laptop = screenNamed("laptop");
    QScreen* wide = screenNamed("wide");
    ASSERT_TRUE(laptop && wide);
    {
        EditorWindow window(temp.path / "nincs.mov");
        window.move(wide->geometry().topLeft() + QPoint(100, 100));
        window.show();
        settle();
        EXPECT_EQ(window.height(), 800);
        EXPECT_EQ(window.QWidget::minimumHeight(), EditorWindow::minimumHeight);
    }
    EditorWindow window(temp.path / "nincs.mov");
    // Placed low on the laptop, as a window manager may: it comes up to fit.
    window.move(laptop->geometry().topLeft() + QPoint(50, 200));
    window.show();
    settle();
    const QRect available = laptop->availableGeometry();
    EXPECT_EQ(window.screen(), laptop);
    EXPECT_TRUE(available.contains(window.frameGeometry()))
        << window.frameGeometry().y() << " + " << window.frameGeometry().height();
    for (QPushButton* button : window.footer()->findChildren<QPushButton*>()) {
        if (!button->isVisible()) continue;
        EXPECT_TRUE(available.contains(onScreen(*button))) << button->text().toStdString();
    }
    saveScreenshot(window, "editor-768-high");
}

} // namespace
} // namespace ondexa
