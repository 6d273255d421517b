// Runs on the Wayland test session (scripts/desktop-session --wayland): the
// tests see it as a Wayland client does, the ScreenCast portal offers the
// headless output, and a client's picture comes through its PipeWire stream.

#include "support/wayland/MarkerWindowProcess.h"
#include "support/wayland/PipeWireFrames.h"
#include "support/wayland/ScreenCastPortal.h"
#include "support/wayland/WaylandSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
using markerschedule::MarkerLine;
using markerschedule::MarkerWindowProcess;
using screencast::PipeWireFrames;
using screencast::Portal;

namespace {

const QSize screen(1920, 1080);

bool isSocket(const std::string& path)
{
    struct stat s {};
    return ::stat(path.c_str(), &s) == 0 && S_ISSOCK(s.st_mode);
}

std::string logTail(const std::string& name)
{
    std::ifstream in(waylandsession::stateFolder() + "/" + name + ".log");
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    return "--- " + name + ".log:\n" + text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
}

std::uint32_t rgbAt(const QImage& image, QPoint at)
{
    return image.pixel(at) & 0xFFFFFFu;
}

// The window's frame number from its counter strip.
int counterOf(const QImage& image)
{
    int value = 0;
    for (int bit = 0; bit < markerschedule::counterBits; ++bit) {
        const QPoint centre(bit * markerschedule::counterCell + markerschedule::counterCell / 2,
                            markerschedule::counterCell / 2);
        value = value << 1 | (qGreen(image.pixel(centre)) > 128 ? 1 : 0);
    }
    return value;
}

// True when the whole of `marker`'s square (a few pixels in from its edges) has its colour.
bool shows(const QImage& image, const MarkerLine& marker)
{
    const QRect inner = marker.rect.adjusted(3, 3, -3, -3);
    for (const QPoint p : {inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight(), inner.center()})
        if (!image.rect().contains(p) || rgbAt(image, p) != marker.rgb) return false;
    return true;
}

} // namespace

TEST(WaylandSession, testsRunAsWaylandClientsWithTheSessionsVariablesAndNoXDisplay)
{
    ASSERT_FALSE(waylandsession::envFile().empty()) << "not run by the wayland fixture";
    EXPECT_TRUE(waylandsession::inSession());
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
    EXPECT_EQ(std::getenv("QT_QPA_PLATFORM"), nullptr);
    const auto variables = waylandsession::variables();
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR",
                             "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "SWAYSOCK"}) {
        ASSERT_TRUE(variables.count(name)) << name;
        const char* value = std::getenv(name);
        EXPECT_EQ(value ? value : "", variables.at(name)) << name;
    }
    const std::string runtime = variables.at("XDG_RUNTIME_DIR");
    EXPECT_TRUE(isSocket(runtime + "/" + variables.at("WAYLAND_DISPLAY")));
    EXPECT_TRUE(isSocket(variables.at("SWAYSOCK")));
    EXPECT_TRUE(isSocket(variables.at("PULSE_SERVER").substr(5)));
}

TEST(ScreenCastPortal, offersTheMonitorWithAnEmbeddedOrHiddenPointer)
{
    Portal portal;
    const QVariant version = portal.property("version");
    ASSERT_TRUE(version.isValid()) << "no ScreenCast portal\n" << logTail("xdg-desktop-portal");
    EXPECT_GE(version.toUInt(), 1u);
    const std::uint32_t sources = portal.property("AvailableSourceTypes").toUInt();
    const std::uint32_t cursors = portal.property("AvailableCursorModes").toUInt();
    EXPECT_TRUE(sources & screencast::monitorSource) << sources;
    EXPECT_TRUE(cursors & screencast::embeddedCursor) << cursors;
    // What this desktop offers beyond that, for whoever reads the log.
    const QStringList interfaces = portal.interfaces();
    std::printf("ScreenCast version %u, source types %u, cursor modes %u, GlobalShortcuts %s\n", version.toUInt(),
                sources, cursors, interfaces.contains("org.freedesktop.portal.GlobalShortcuts") ? "yes" : "no");
}

// What the program keeps so that later recordings of the display do not ask again.
TEST(ScreenCastPortal, givesARestoreTokenThatALaterSessionIsStartedWith)
{
    Portal portal;
    QString token;
    for (int round = 0; round < 2; ++round) {
        const screencast::Reply created = portal.createSession();
        ASSERT_TRUE(created.ok()) << created.error.toStdString();
        const QString session = created.results.value("session_handle").toString();
        QVariantMap options{{"types", screencast::monitorSource}, {"cursor_mode", screencast::embeddedCursor},
                            {"persist_mode", 2u}};
        if (!token.isEmpty()) options.insert("restore_token", token);
        const screencast::Reply selected = portal.selectSources(session, options);
        ASSERT_TRUE(selected.ok()) << selected.response << " " << selected.error.toStdString();
        const screencast::Reply started = portal.start(session);
        ASSERT_TRUE(started.ok()) << started.response << " " << started.error.toStdString();
        EXPECT_EQ(Portal::streams(started).size(), 1u);
        const QString next = started.results.value("restore_token").toString();
        EXPECT_FALSE(next.isEmpty()) << "round " << round << "\n" << logTail("xdg-desktop-portal");
        token = next;
        portal.closeSession(session);
    }
}

TEST(ScreenCastPortal, castsTheHeadlessOutputWithTheMarkerWindowsPictureThroughPipeWire)
{
    MarkerWindowProcess window({"--period", "300"});
    ASSERT_TRUE(window.started()) << MarkerWindowProcess::program();
    ASSERT_TRUE(window.waitUntilShown(screen, 1, 20s)) << "the window did not cover the screen:\n"
                                                       << window.output() << logTail("sway");

    Portal portal;
    QString session;
    const screencast::Reply started = portal.startMonitorCast(screencast::embeddedCursor, &session);
    ASSERT_TRUE(started.ok()) << "response " << started.response << " " << started.error.toStdString() << "\n"
                              << logTail("xdg-desktop-portal-wlr") << logTail("wayland-proxy");
    const auto streams = Portal::streams(started);
    ASSERT_EQ(streams.size(), 1u);
    // (xdg-desktop-portal-wlr 0.7 names a monitor's stream source type 2, a
    // window's: not to be relied on.)
    EXPECT_EQ(streams[0].size, screen);
    EXPECT_EQ(streams[0].position, QPoint(0, 0));
    QString error;
    const int fd = portal.openPipeWireRemote(session, &error);
    ASSERT_GE(fd, 0) << error.toStdString();

    std::mutex mutex;
    std::set<int> counters;  // the window's frame numbers seen in the stream
    PipeWireFrames frames(fd, streams[0].node, 12, [&](const PipeWireFrames::Frame& frame) {
        std::lock_guard lock(mutex);
        counters.insert(counterOf(frame.image));
    });
    ASSERT_TRUE(frames.waitForFrames(10, 20s))
        << frames.frameCount() << " frames; " << frames.error() << "\n" << logTail("xdg-desktop-portal-wlr");
    EXPECT_EQ(frames.format(), "BGRx 1920x1080");
    {
        std::lock_guard lock(mutex);
        EXPECT_GE(counters.size(), 5u) << "the stream's pictures hardly change";
    }

    // Some kept frame shows a marker the window drew, in its colour, where it drew it.
    const auto kept = frames.frames();
    const auto markers = window.markers();
    bool found = false;
    for (const auto& frame : kept)
        for (const auto& marker : markers) found = found || shows(frame.image, marker);
    EXPECT_TRUE(found) << markers.size() << " markers drawn, " << kept.size() << " frames kept";
    if (!kept.empty()) {
        EXPECT_EQ(rgbAt(kept.back().image, QPoint(1900, 1060)), markerschedule::backgroundRgb);
    }
    portal.closeSession(session);
}
