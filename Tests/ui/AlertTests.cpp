// An alert opened while its window is away waits a turn for it, then shows
// on its own; closed or answered meanwhile, it stays away.

#include "Ondexa/ui/Alert.h"
#include "support/WidgetTestApplication.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace ondexa {
namespace {

TEST(Alert, WaitsForItsWindowAndStaysAwayOnceClosedOrAnswered)
{
    QWidget window;
    auto* alert = new QMessageBox(QMessageBox::Warning, "Hiba", "Betelt a lemez.", QMessageBox::Ok, &window);
    alert->setWindowModality(Qt::WindowModal);
    int answers = 0;
    QObject::connect(alert, &QDialog::finished, [&] { ++answers; });
    const auto turn = [] { QApplication::processEvents(); };

    // The window comes back just after the message, as after a failed start.
    ui::Alert::open(*alert);
    EXPECT_TRUE(ui::Alert::isOpen(*alert));
    EXPECT_FALSE(alert->isVisible());
    window.show();
    turn();
    EXPECT_TRUE(alert->isVisible() && alert->isModal());
    alert->button(QMessageBox::Ok)->click();
    EXPECT_EQ(answers, 1);

    // A window that stays away (closed to the tray): the message still shows.
    window.hide();
    ui::Alert::open(*alert);
    turn();
    EXPECT_TRUE(alert->isVisible());
    ui::Alert::close(*alert);
    EXPECT_FALSE(ui::Alert::isOpen(*alert));

    // Closed, or answered by the message going away, before the window is back.
    for (const bool answered : {false, true}) {
        ui::Alert::open(*alert);
        if (answered) alert->done(QMessageBox::Ok);
        else ui::Alert::close(*alert);
        window.show();
        turn();
        EXPECT_FALSE(alert->isVisible()) << answered;
        window.hide();
    }
    EXPECT_EQ(answers, 2);  // a close gives no answer
}

} // namespace
} // namespace ondexa
