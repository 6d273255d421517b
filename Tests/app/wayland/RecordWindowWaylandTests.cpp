// The record window on the Wayland test session (sway with a bar at the
// bottom): sway places a new window once, centred in what the bar leaves,
// and never moves it again; the window must stay within that area as its
// rows come. Where sway put it is read from its tree.

#include "app/AppTestSupport.h"

#include "Ondexa/app/AppDelegate.h"
#include "Ondexa/app/OndexaApp.h"
#include "Ondexa/app/RecordView.h"
#include "Ondexa/app/Updates.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>

#include <thread>

namespace ondexa::testing {
namespace {

using namespace std::chrono_literals;

QRect rectOf(const QJsonObject& node)
{
    const QJsonObject r = node["rect"].toObject();
    return {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
}

// The focused workspace's area (the bar left out) and our window's frame, if shown.
struct SwayPlaces {
    QRect workspace;
    std::optional<QRect> window;
};

void collect(const QJsonObject& node, SwayPlaces& places)
{
    if (node["type"].toString() == "workspace" && node["name"].toString() != "__i3_scratch")
        places.workspace = rectOf(node);
    if (node["name"].toString() == "Vendalum" && node["nodes"].toArray().isEmpty()) places.window = rectOf(node);
    for (const auto& child : node["nodes"].toArray()) collect(child.toObject(), places);
    for (const auto& child : node["floating_nodes"].toArray()) collect(child.toObject(), places);
}

SwayPlaces swayPlaces()
{
    QProcess sway;
    sway.start("swaymsg", {"-r", "-t", "get_tree"});
    pumpUntil([&] { return sway.state() == QProcess::NotRunning; }, 10s);
    SwayPlaces places;
    collect(QJsonDocument::fromJson(sway.readAllStandardOutput()).object(), places);
    return places;
}

// Sway's frame of the window once it has held still for half a second.
std::optional<QRect> settledFrame()
{
    std::optional<QRect> last;
    int still = 0;
    for (int look = 0; look < 100 && still < 5; ++look) {
        pumpFor(100ms);
        const auto now = swayPlaces().window;
        still = now && now == last ? still + 1 : 0;
        last = now;
    }
    return still >= 5 ? last : std::nullopt;
}

class RecordWindowWaylandTest : public RecordWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QGuiApplication::platformName().startsWith("wayland"))
            << QGuiApplication::platformName().toStdString();
        // An interface with many inputs: its rows need more than the screen.
        system.mics.push_back(device("big", 16));
    }
};

TEST_F(RecordWindowWaylandTest, RowsThatComeAfterTheShowStayAboveTheBar)
{
    const auto state = make();
    RecordWindow window(*state, {});
    window.show();
    const auto placed = settledFrame();
    ASSERT_TRUE(placed);
    const QRect area = swayPlaces().workspace;
    ASSERT_TRUE(area.contains(*placed)) << placed->y() << " + " << placed->height();

    // Sixteen inputs' rows come after the window was placed.
    state->setMicEnabled(true);
    state->setMicUID("big");
    const auto grown = settledFrame();
    ASSERT_TRUE(grown);
    EXPECT_GT(grown->height(), placed->height());
    EXPECT_TRUE(area.contains(*grown)) << grown->y() << " + " << grown->height() << " in " << area.height();
    EXPECT_TRUE(window.findChild<QScrollArea*>()->verticalScrollBar()->isVisible());
}

TEST_F(RecordWindowWaylandTest, TheFirstShowWaitsForTheRowsOfTheSources)
{
    settings().setValue("micEnabled", true);
    settings().setValue("micUID", "iface");
    // The sound server answers late, as a busy one does.
    auto env = system.environment();
    env.micDevices = [this] {
        std::this_thread::sleep_for(700ms);
        return system.mics;
    };
    const auto state = makeWith(env, false);
    Updates::Environment quiet;
    quiet.arguments = {"--selftest"};  // no update check
    Updates updates{quiet};
    AppDelegate delegate{*state, [] {}};
    OndexaApp app{*state, delegate, updates, {.tray = false}};
    app.showRecordWindow();
    const auto placed = settledFrame();
    ASSERT_TRUE(placed);
    ASSERT_TRUE(state->sourcesKnown());
    // Placed at the size of its rows: centred in what the bar leaves, all of
    // it above the bar.
    const QRect area = swayPlaces().workspace;
    EXPECT_TRUE(area.contains(*placed)) << placed->y() << " + " << placed->height();
    EXPECT_NEAR(placed->center().y(), area.center().y(), 2) << placed->y() << " + " << placed->height();
}

// The camera's row comes and goes with its switch; the screen has room for
// it, so the form never scrolls, nor after a restart with the camera on.
TEST_F(RecordWindowWaylandTest, TheCameraRowNeedsNoScrollBar)
{
    const auto scrolls = [](RecordWindow& window) {
        return window.findChild<QScrollArea*>()->verticalScrollBar()->isVisible();
    };
    {
        const auto state = make();
        RecordWindow window(*state, {});
        window.show();
        ASSERT_TRUE(settledFrame());
        for (const bool on : {true, false, true}) {
            state->setCameraEnabled(on);
            const auto frame = settledFrame();
            ASSERT_TRUE(frame);
            EXPECT_FALSE(scrolls(window)) << "camera " << on << ", frame height " << frame->height();
        }
    }
    const auto state = make();
    ASSERT_TRUE(state->cameraEnabled());
    RecordWindow window(*state, {});
    window.show();
    ASSERT_TRUE(settledFrame());
    EXPECT_FALSE(scrolls(window));
}

} // namespace
} // namespace ondexa::testing
