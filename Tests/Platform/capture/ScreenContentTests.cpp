#include "Platform/capture/ScreenContent.h"

#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

using platform::ScreenAccess;
using platform::ScreenContent;
using platform::ScreenWindow;

namespace {

class ScreenContentTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)"; }
};

const ScreenWindow* findWindow(const ScreenContent& content, std::uint32_t id)
{
    auto it = std::find_if(content.windows.begin(), content.windows.end(),
                           [&](const ScreenWindow& w) { return w.id == id; });
    return it == content.windows.end() ? nullptr : &*it;
}

// Restores an environment variable when the test ends.
class EnvironmentOverride {
public:
    explicit EnvironmentOverride(const char* name) : name_(name)
    {
        if (const char* value = std::getenv(name)) saved_ = value;
    }
    ~EnvironmentOverride()
    {
        if (saved_)
            setenv(name_, saved_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace

TEST_F(ScreenContentTest, TheTestDesktopIsOnePrimaryFullHdDisplayWithAStableId)
{
    const ScreenContent content = ScreenContent::fetch();
    ASSERT_EQ(content.displays.size(), 1u);
    const auto& display = content.displays[0];
    EXPECT_EQ(display.frame, QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(display.primary);
    EXPECT_FALSE(display.name.empty());
    EXPECT_NE(display.id, 0u);
    EXPECT_EQ(display.id, ScreenContent::displayId(display.name));
    EXPECT_EQ(ScreenContent::fetch().displays[0].id, display.id);
}

TEST(ScreenContentIds, DisplayIdsDependOnlyOnTheNameAndAreNeverZero)
{
    EXPECT_EQ(ScreenContent::displayId("DP-1"), ScreenContent::displayId("DP-1"));
    EXPECT_NE(ScreenContent::displayId("DP-1"), ScreenContent::displayId("DP-2"));
    EXPECT_NE(ScreenContent::displayId(""), 0u);
}

// No window manager runs on the test desktop: the root's mapped children are
// the windows.
TEST_F(ScreenContentTest, ListsMappedTopLevelsWithTitleApplicationPidAndFrame)
{
    testdesktop::Client client;
    testdesktop::Window named(client, QRect(101, 122, 300, 200), 0x336699);
    named.setString("_NET_WM_NAME", "UTF8_STRING", "Próba – ablak");
    named.setString("WM_NAME", "STRING", "ignored");
    named.setString("WM_CLASS", "STRING", std::string("proba\0Proba\0", 12));
    named.setLongs("_NET_WM_PID", XCB_ATOM_CARDINAL, {4242});
    testdesktop::Window latin(client, QRect(10, 10, 90, 70), 0x000000);
    latin.setString("WM_NAME", "STRING", "K\xE9p");  // "Kép" in Latin-1
    testdesktop::Window hidden(client, QRect(20, 20, 90, 70), 0x000000, /*map=*/false);

    const ScreenContent content = ScreenContent::fetch();
    const ScreenWindow* window = findWindow(content, named.id());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->title, "Próba – ablak");
    EXPECT_EQ(window->application, "Proba");
    EXPECT_EQ(window->pid, 4242);
    EXPECT_EQ(window->frame, QRect(101, 122, 300, 200));
    EXPECT_TRUE(window->onScreen);
    EXPECT_TRUE(window->normal);

    const ScreenWindow* second = findWindow(content, latin.id());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->title, "Kép");
    EXPECT_EQ(second->application, "");
    EXPECT_EQ(second->pid, 0);
    // The newest window is on top: listed first.
    EXPECT_LT(second - content.windows.data(), window - content.windows.data());

    EXPECT_EQ(findWindow(content, hidden.id()), nullptr);
}

TEST_F(ScreenContentTest, OwnWindowsAreLeftOutOnlyWhenAsked)
{
    testdesktop::Client client;
    testdesktop::Window own(client, QRect(50, 50, 120, 90), 0x112233);
    own.setLongs("_NET_WM_PID", XCB_ATOM_CARDINAL, {std::uint32_t(getpid())});

    EXPECT_EQ(findWindow(ScreenContent::fetch(), own.id()), nullptr);
    EXPECT_NE(findWindow(ScreenContent::fetch({.excludeOwnProcess = false}), own.id()), nullptr);
}

// With a window manager the EWMH lists decide; this test plays the manager by
// writing them onto the root itself.
TEST_F(ScreenContentTest, FollowsTheManagersStackingListFrameExtentsAndStates)
{
    testdesktop::Client client;
    testdesktop::Window bottom(client, QRect(300, 300, 200, 100), 0x445566);
    testdesktop::Window top(client, QRect(400, 320, 200, 100), 0x778899);
    testdesktop::Window dock(client, QRect(0, 0, 1920, 30), 0x000000);
    testdesktop::Window unlisted(client, QRect(10, 500, 200, 100), 0x000000);
    top.setLongs("_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {2, 3, 24, 4});
    bottom.setLongs("_NET_WM_STATE", XCB_ATOM_ATOM, {client.atom("_NET_WM_STATE_HIDDEN")});
    bottom.setLongs("_GTK_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {10, 10, 8, 12});  // its own drawn shadow
    dock.setLongs("_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {client.atom("_NET_WM_WINDOW_TYPE_DOCK")});

    struct ManagerLists {
        testdesktop::Client& client;
        ~ManagerLists() { client.deleteRootProperty("_NET_CLIENT_LIST_STACKING"); }
    } restore{client};
    client.setRootLongs("_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, {bottom.id(), dock.id(), top.id()});

    const ScreenContent content = ScreenContent::fetch();
    ASSERT_EQ(content.windows.size(), 3u);  // only listed windows
    EXPECT_EQ(content.windows[0].id, top.id());
    EXPECT_EQ(content.windows[1].id, dock.id());
    EXPECT_EQ(content.windows[2].id, bottom.id());

    EXPECT_EQ(content.windows[0].frame, QRect(398, 296, 205, 128));
    EXPECT_TRUE(content.windows[0].onScreen);
    EXPECT_FALSE(content.windows[1].normal);
    EXPECT_FALSE(content.windows[2].onScreen);  // minimised
    EXPECT_EQ(content.windows[2].frame, QRect(310, 308, 180, 80));
    EXPECT_TRUE(content.windows[2].normal);
}

TEST_F(ScreenContentTest, AccessNeedsAnXDisplayThatAnswersAGrab)
{
    EXPECT_TRUE(ScreenAccess::check().granted);
    EXPECT_TRUE(ScreenAccess::check().reason.empty());

    EnvironmentOverride display("DISPLAY");
    EnvironmentOverride wayland("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ScreenAccess none = ScreenAccess::check();
    EXPECT_FALSE(none.granted);
    EXPECT_NE(none.reason.find("DISPLAY"), std::string::npos) << none.reason;

    setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    ScreenAccess onWayland = ScreenAccess::check();
    EXPECT_FALSE(onWayland.granted);
    EXPECT_NE(onWayland.reason.find("Wayland"), std::string::npos) << onWayland.reason;

    setenv("DISPLAY", ":97531", 1);  // nobody listens there
    ScreenAccess unreachable = ScreenAccess::check();
    EXPECT_FALSE(unreachable.granted);
    EXPECT_NE(unreachable.reason.find(":97531"), std::string::npos) << unreachable.reason;

    EXPECT_THROW(ScreenContent::fetch(), platform::CaptureError);
}
