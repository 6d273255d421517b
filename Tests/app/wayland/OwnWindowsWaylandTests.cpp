// Our windows leaving the screen for a recording and coming back on the
// Wayland test session (sway): an alert raised meanwhile comes back in
// front of its window, with the focus. What sway did is read from its tree.

#include "app/AppTestSupport.h"

#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/OwnWindows.h"
#include "Ondexa/app/RecordView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>

namespace ondexa::testing {
namespace {

using namespace std::chrono_literals;

// Sway's windows, bottom to top (tiled ones under floating ones), and the
// one with the focus.
struct SwayWindows {
    std::vector<QString> order;
    QString focused;

    bool has(const QString& name) const { return std::find(order.begin(), order.end(), name) != order.end(); }
    bool above(const QString& upper, const QString& lower) const
    {
        const auto u = std::find(order.begin(), order.end(), upper);
        const auto l = std::find(order.begin(), order.end(), lower);
        return u != order.end() && l != order.end() && u > l;
    }
};

void collect(const QJsonObject& node, std::vector<QString>& tiled, std::vector<QString>& floating, QString& focused,
             bool inFloating)
{
    if (node["type"].toString() == "con" || node["type"].toString() == "floating_con") {
        const QString name = node["name"].toString();
        if (!name.isEmpty() && node["nodes"].toArray().isEmpty()) (inFloating ? floating : tiled).push_back(name);
        if (node["focused"].toBool()) focused = name;
    }
    for (const auto& child : node["nodes"].toArray()) collect(child.toObject(), tiled, floating, focused, inFloating);
    for (const auto& child : node["floating_nodes"].toArray()) collect(child.toObject(), tiled, floating, focused, true);
}

SwayWindows swayWindows()
{
    QProcess sway;
    sway.start("swaymsg", {"-r", "-t", "get_tree"});
    pumpUntil([&] { return sway.state() == QProcess::NotRunning; }, 10s);
    std::vector<QString> tiled, floating;
    SwayWindows windows;
    collect(QJsonDocument::fromJson(sway.readAllStandardOutput()).object(), tiled, floating, windows.focused, false);
    windows.order = tiled;
    windows.order.insert(windows.order.end(), floating.begin(), floating.end());
    return windows;
}

class OwnWindowsWaylandTest : public RecordWindowTest {};

TEST_F(OwnWindowsWaylandTest, AnAlertRaisedWhileTheRecordWindowIsAwayStaysInFrontAsItComesBack)
{
    ASSERT_TRUE(QGuiApplication::platformName().startsWith("wayland")) << QGuiApplication::platformName().toStdString();
    const auto state = make();
    RecordWindow window(*state, {});
    window.show();
    ASSERT_TRUE(pumpUntil([&] { return swayWindows().focused == "Vendalum"; }, 10s));

    // A recording that fails as it starts: its message comes just before
    // our windows.
    OwnWindows own;
    own.hide(QRectF());
    ASSERT_TRUE(pumpUntil([&] { return !swayWindows().has("Vendalum"); }, 10s));
    state->setErrorMessage("A felvétel lezárása hibával járt: betelt a lemez.");
    own.show();
    const auto inFront = [&] {
        const SwayWindows now = swayWindows();
        return now.focused == "Hiba" && now.above("Hiba", "Vendalum");
    };
    ASSERT_TRUE(pumpUntil(inFront, 10s));
    pumpFor(700ms);
    EXPECT_TRUE(inFront());
    EXPECT_TRUE(window.view()->errorAlert()->isVisible());
}

} // namespace
} // namespace ondexa::testing
