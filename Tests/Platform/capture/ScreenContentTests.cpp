#include "Platform/capture/ScreenContent.h"

#include "TestDesktop.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

using platform::ScreenContent;
using platform::ScreenWindow;

namespace {

// Index in the front-to-back list, -1 when the window is not listed.
long indexOf(const ScreenContent& content, std::uint32_t id)
{
    auto it = std::find_if(content.windows.begin(), content.windows.end(),
                           [&](const ScreenWindow& w) { return w.id == id; });
    return it == content.windows.end() ? -1 : it - content.windows.begin();
}

} // namespace

TEST(ScreenContent, TheTestDesktopIsOnePrimaryFullHdDisplayWithAStableId)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    const ScreenContent content = ScreenContent::fetch();
    ASSERT_EQ(content.displays.size(), 1u);
    const auto& display = content.displays[0];
    EXPECT_EQ(display.frame, QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(display.primary);
    EXPECT_NE(display.id, 0u);
    EXPECT_EQ(display.id, ScreenContent::displayId(display.name));
}

// Without a window manager the root's mapped children are the windows,
// newest on top, each where it asked to be.
TEST(ScreenContent, ListsMappedTopLevelsWithTitlePidAndFrameLeavingOutOurOwn)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    testdesktop::BareDesktop bare;
    testdesktop::Client client;
    const auto setText = [&](testdesktop::Window& w, const char* property, xcb_atom_t type, std::string_view text) {
        w.setProperty(property, type, 8, std::uint32_t(text.size()), text.data());
    };
    testdesktop::Window named(client, QRect(101, 122, 300, 200), 0x336699);
    setText(named, "_NET_WM_NAME", client.atom("UTF8_STRING"), "Próba – ablak");
    setText(named, "WM_NAME", XCB_ATOM_STRING, "ignored");
    setText(named, "WM_CLASS", XCB_ATOM_STRING, std::string_view("proba\0Proba\0", 12));
    const std::uint32_t pids[] = {4242, std::uint32_t(getpid())};
    named.setProperty("_NET_WM_PID", XCB_ATOM_CARDINAL, 32, 1, &pids[0]);
    testdesktop::Window hidden(client, QRect(20, 20, 90, 70), 0x000000, /*map=*/false);
    testdesktop::Window own(client, QRect(50, 50, 120, 90), 0x112233);
    own.setProperty("_NET_WM_PID", XCB_ATOM_CARDINAL, 32, 1, &pids[1]);

    const ScreenContent content = ScreenContent::fetch();
    const long at = indexOf(content, named.id());
    ASSERT_GE(at, 0);
    const ScreenWindow& window = content.windows[std::size_t(at)];
    EXPECT_EQ(window.title, "Próba – ablak");
    EXPECT_EQ(window.application, "Proba");
    EXPECT_EQ(window.pid, 4242);
    EXPECT_EQ(window.frame, QRect(101, 122, 300, 200));
    EXPECT_TRUE(window.onScreen);
    EXPECT_EQ(indexOf(content, hidden.id()), -1);
    EXPECT_EQ(indexOf(content, own.id()), -1);

    const ScreenContent all = ScreenContent::fetch({.excludeOwnProcess = false});
    EXPECT_GE(indexOf(all, own.id()), 0);
    EXPECT_LT(indexOf(all, own.id()), indexOf(all, named.id()));
}

using testsupport::ScopedEnv;

// The test desktop's X display answers as XWayland would in a Wayland
// session: the session itself decides.
TEST(ScreenAccess, AWaylandSessionIsRefusedEvenWhereAnXDisplayAnswers)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    struct Case {
        const char* name;
        std::optional<std::string> sessionType;
        std::optional<std::string> waylandDisplay;
        bool wayland;
        bool portal = false;  // both say Wayland: the portal's path, never X
    };
    const Case cases[] = {
        {"X11 session", "x11", std::nullopt, false},
        {"no session type", std::nullopt, std::nullopt, false},
        {"Wayland session type", "wayland", std::nullopt, true},
        {"Wayland display set", "tty", "wayland-0", true},
        {"Wayland display empty", "x11", "", false},
        {"Wayland session with its display", "wayland", "wayland-0", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv type("XDG_SESSION_TYPE", c.sessionType);
        ScopedEnv display("WAYLAND_DISPLAY", c.waylandDisplay);
        const platform::ScreenAccess access = platform::ScreenAccess::check();
        EXPECT_EQ(platform::ScreenAccess::isWaylandSession(), c.wayland);
        EXPECT_EQ(platform::ScreenAccess::usesScreenCastPortal(), c.portal);
        const bool refused = c.wayland && !c.portal;
        EXPECT_EQ(access.refusal, refused ? platform::ScreenAccess::Refusal::waylandOnly
                                          : platform::ScreenAccess::Refusal::none);
        EXPECT_EQ(access.granted, !refused) << access.reason;
        EXPECT_EQ(access.reason.empty(), !refused);
    }
}

TEST(ScreenAccess, TellsWhyTheScreenCannotBeAskedForAPicture)
{
    ASSERT_TRUE(testdesktop::haveDisplay()) << "needs the test desktop (DISPLAY)";
    using Refusal = platform::ScreenAccess::Refusal;
    // An X11 session; each case below changes the environment for itself.
    ScopedEnv session("XDG_SESSION_TYPE", "x11");
    ScopedEnv noWayland("WAYLAND_DISPLAY", std::nullopt);
    const platform::ScreenAccess granted = platform::ScreenAccess::check();
    EXPECT_TRUE(granted.granted) << granted.reason;
    EXPECT_EQ(granted.refusal, Refusal::none);

    platform::ScreenAccess waylandOnly, none, unreachable;
    {
        ScopedEnv noDisplay("DISPLAY", std::nullopt);
        {
            ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
            waylandOnly = platform::ScreenAccess::check();
        }
        none = platform::ScreenAccess::check();
        ScopedEnv nobody("DISPLAY", ":9999");  // no server there
        unreachable = platform::ScreenAccess::check();
    }

    EXPECT_FALSE(waylandOnly.granted);
    EXPECT_EQ(waylandOnly.refusal, Refusal::waylandOnly);
    EXPECT_FALSE(none.granted);
    EXPECT_EQ(none.refusal, Refusal::noDisplay);
    EXPECT_FALSE(unreachable.granted);
    EXPECT_EQ(unreachable.refusal, Refusal::noDisplay);
    EXPECT_FALSE(unreachable.reason.empty());
}
