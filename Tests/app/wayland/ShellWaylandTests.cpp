// The program on the Wayland test session: a later launch hands its
// activation token to the running program, whose window that came forward
// for it asks the compositor for the focus with it. What the program asks
// is read from its own protocol log (WAYLAND_DEBUG).

#include "app/shell/ProgramRun.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

namespace ondexa::testing {
namespace {

// The title of the window each xdg_activation_v1.activate with `token` was
// for, in the order asked; "?" where the log doesn't say.
std::vector<std::string> activationsWith(const std::filesystem::path& protocolLog, const std::string& token)
{
    static const std::regex xdgSurface(
        R"re(-> xdg_wm_base@\d+\.get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\))re");
    static const std::regex toplevel(R"re(-> xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\))re");
    static const std::regex title(R"re(-> xdg_toplevel@(\d+)\.set_title\("(.*)"\))re");
    static const std::regex activate(R"re(-> xdg_activation_v1@\d+\.activate\("(.*)", wl_surface@(\d+)\))re");
    // Object ids are used again once freed: each map holds the latest.
    std::map<std::string, std::string> surfaceOfXdg, xdgOfToplevel, titleOfToplevel;
    std::vector<std::string> titles;
    std::ifstream in(protocolLog);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, m, xdgSurface)) {
            surfaceOfXdg[m[1]] = m[2];
        } else if (std::regex_search(line, m, toplevel)) {
            xdgOfToplevel[m[2]] = m[1];
        } else if (std::regex_search(line, m, title)) {
            titleOfToplevel[m[1]] = m[2];
        } else if (std::regex_search(line, m, activate) && m[1] == token) {
            std::string found = "?";
            for (const auto& [top, xdg] : xdgOfToplevel)
                if (surfaceOfXdg[xdg] == m[2] && titleOfToplevel.count(top)) found = titleOfToplevel[top];
            titles.push_back(found);
        }
    }
    return titles;
}

bool waitFor(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + programDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(ShellWayland, ALaterLaunchsTokenActivatesTheWindowThatCameForwardForIt)
{
    ProgramHome home;
    const auto protocol = home.temp.path / "wayland.log";
    // The session's runtime folder: its compositor's socket is there.
    const auto session = [](QProcessEnvironment& env) {
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
    };
    QProcess first;
    QProcessEnvironment env = home.environment();
    session(env);
    env.insert("WAYLAND_DEBUG", "client");
    first.setProcessEnvironment(env);
    first.setStandardErrorFile(QString::fromStdString(protocol.string()));
    first.start(QStringLiteral(VENDALUM_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted(30000));
    ASSERT_TRUE(waitFor([&] { return readFile(protocol).find(R"(.set_title("Vendalum"))") != std::string::npos; }));

    struct Case {
        QStringList arguments;
        std::string token, window;
    };
    for (const Case& c : {Case{{}, "vendalum-teszt-1", "Vendalum"},
                          Case{{(home.temp.path / "harmadik.mov").c_str()}, "vendalum-teszt-2", "harmadik"}}) {
        SCOPED_TRACE(c.token);
        QProcess second;
        home.start(second, c.arguments, [&](QProcessEnvironment& env) {
            session(env);
            env.insert("XDG_ACTIVATION_TOKEN", QString::fromStdString(c.token));
        });
        ASSERT_TRUE(second.waitForFinished(int(std::chrono::milliseconds(programDeadline).count())));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_TRUE(waitFor([&] { return !activationsWith(protocol, c.token).empty(); }));
        EXPECT_EQ(activationsWith(protocol, c.token), std::vector<std::string>{c.window});
    }
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(int(std::chrono::milliseconds(programDeadline).count())));
    EXPECT_EQ(first.exitCode(), 0);
}

} // namespace
} // namespace ondexa::testing
