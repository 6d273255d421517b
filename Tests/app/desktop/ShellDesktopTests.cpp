// The program on the test desktop (a window manager and a panel with a tray):
// files given at launch, a later launch handing over its file and its
// startup id (the running program's window comes forward with it, then the
// launch's notice ends), a recording ended by a signal or by the end of the
// desktop session, and the last window closed where the desktop has no tray
// or gets one late; the icon and the dark hint on the windows.

#include "support/WidgetTestApplication.h"
#include "app/desktop/TestSessionManager.h"
#include "app/shell/ProgramRun.h"

#include "Ondexa/app/LaunchActivation.h"
#include "Ondexa/model/RecordingInfo.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace ondexa::testing {
namespace {

// What a command prints, run off the event loop's thread.
std::string output(const std::string& command)
{
    std::string text;
    std::optional<int> status;
    std::thread runner([&] {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
        std::array<char, 512> buffer;
        while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get())) text += buffer.data();
        status = 0;
    });
    pumpUntil([&] { return status.has_value(); }, std::chrono::seconds(30));
    runner.join();
    return text;
}

// The names of the visible windows whose name matches, bottom to top.
std::vector<std::string> windows(const std::string& pattern)
{
    std::vector<std::string> names;
    std::istringstream ids(output("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null"));
    for (std::string id; std::getline(ids, id);) {
        std::string name = output("xdotool getwindowname " + id + " 2>/dev/null");
        while (!name.empty() && name.back() == '\n') name.pop_back();
        names.push_back(name);
    }
    return names;
}

bool waitForWindows(const std::string& pattern, std::size_t count)
{
    return pumpUntil([&] { return windows(pattern).size() == count; }, programDeadline);
}

// What a window manager sends when the user clicks a window's close button.
void sendClose(const std::string& pattern)
{
    const std::string id = output("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null | head -n1");
    if (id.empty()) return;  // gone already
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const auto atom = [&](const char* name) {
        auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, strlen(name), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    };
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(std::stoul(id));
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    // Answered before we hang up: a message sent on a connection closed at
    // once was sometimes never delivered on a busy machine.
    free(xcb_request_check(connection, xcb_send_event_checked(connection, 0, message.window, XCB_EVENT_MASK_NO_EVENT,
                                                               reinterpret_cast<const char*>(&message))));
    xcb_disconnect(connection);
}

// A property of the first visible window whose name matches: its type's
// name and its bytes (empty when the window or the property is missing).
struct WindowProperty {
    std::string type;
    std::string bytes;
};
WindowProperty windowProperty(const std::string& pattern, const char* name)
{
    const std::string id = output("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null | head -n1");
    if (id.empty()) return {};
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    auto* atomReply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, strlen(name), name), nullptr);
    WindowProperty property;
    if (atomReply && atomReply->atom != XCB_ATOM_NONE) {
        auto* reply = xcb_get_property_reply(connection,
                                             xcb_get_property(connection, 0, xcb_window_t(std::stoul(id)),
                                                              atomReply->atom, XCB_ATOM_ANY, 0, 1 << 20),
                                             nullptr);
        if (reply && reply->type != XCB_ATOM_NONE) {
            const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
            // The length is in bytes already.
            property.bytes.assign(data, data + xcb_get_property_value_length(reply));
            auto* typeName = xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, reply->type), nullptr);
            if (typeName)
                property.type.assign(xcb_get_atom_name_name(typeName), xcb_get_atom_name_name_length(typeName));
            free(typeName);
        }
        free(reply);
    }
    free(atomReply);
    xcb_disconnect(connection);
    return property;
}

// Closes the window as a user would: clicks again while it stays (a click
// may come before the program listens).
bool closeWindow(const std::string& pattern)
{
    return pumpUntil([&] {
        sendClose(pattern);
        return pumpUntil([&] { return windows(pattern).empty(); }, std::chrono::seconds(3));
    }, programDeadline);
}

// The program started, and its recording by the hot key: our windows leave the screen.
// The hot key starts the recording; our windows leave the screen.
void beginRecording(const ProgramHome& home)
{
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    output("xdotool key ctrl+alt+a");
    ASSERT_TRUE(waitForWindows("^Vendalum$", 0)) << home.logText();
}

void startRecording(const ProgramHome& home, QProcess& program)
{
    home.start(program, {});
    ASSERT_NO_FATAL_FAILURE(beginRecording(home));
}

bool ended(QProcess& program)
{
    return pumpUntil([&] { return program.state() == QProcess::NotRunning; }, programDeadline);
}

TEST(ShellDesktop, FilesGivenAtLaunchOpenInOrder)
{
    ProgramHome home;
    QProcess program;
    home.start(program, {(home.temp.path / "első.mov").c_str(), (home.temp.path / "második.mov").c_str()});
    ASSERT_TRUE(waitForWindows("^(első|második)$", 2));
    EXPECT_EQ(windows("^(első|második)$"), (std::vector<std::string>{"első", "második"}));
    EXPECT_EQ(windows("^Vendalum$").size(), 1u);
    EXPECT_EQ(terminate(program), 0);
}

TEST(ShellDesktop, EveryWindowHasTheIconAndAsksForDarkTitleBars)
{
    ProgramHome home;
    // A KDE desktop's dark colour scheme, where the program looks for data.
    const auto scheme = home.temp.path / "data" / "color-schemes" / "BreezeDark.colors";
    std::filesystem::create_directories(scheme.parent_path());
    std::ofstream(scheme) << "[General]\nName=Breeze Dark\n";
    QProcess program;
    home.start(program, {(home.temp.path / "harmadik.mov").c_str()});
    ASSERT_TRUE(waitForWindows("^harmadik$", 1));
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    for (const char* window : {"^Vendalum$", "^harmadik$"}) {
        const WindowProperty kde = windowProperty(window, "_KDE_NET_WM_COLOR_SCHEME");
        EXPECT_EQ(kde.type, "STRING") << window;
        EXPECT_EQ(kde.bytes, scheme.string()) << window;
        // Width, height, then that many pixels, for each size given.
        const WindowProperty icon = windowProperty(window, "_NET_WM_ICON");
        EXPECT_EQ(icon.type, "CARDINAL") << window;
        EXPECT_GT(icon.bytes.size(), 16u * 16u * 4u) << window;
        const WindowProperty variant = windowProperty(window, "_GTK_THEME_VARIANT");
        EXPECT_EQ(variant.type, "UTF8_STRING") << window;
        EXPECT_EQ(variant.bytes, "dark") << window;
    }
    EXPECT_EQ(terminate(program), 0);
}

TEST(ShellDesktop, ASecondLaunchOpensItsFileInTheRunningProgram)
{
    ProgramHome home;
    QProcess first;
    home.start(first, {});
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    QProcess second;
    home.start(second, {(home.temp.path / "harmadik.mov").c_str()});
    ASSERT_TRUE(ended(second));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitForWindows("^harmadik$", 1));
    EXPECT_EQ(windows("^Vendalum$").size(), 1u);  // no second record window
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(terminate(first), 0);
}

// What programs tell the window manager and the launchers through the root
// window, in the order sent: activation requests and startup-notification
// messages.
class RootWatch {
public:
    struct Message {
        std::string text;       // the startup message, or "activate"
        xcb_window_t window;    // activated
        std::uint32_t time;     // of the activation
    };

    RootWatch() : connection_(xcb_connect(nullptr, nullptr))
    {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        free(xcb_request_check(connection_, xcb_change_window_attributes_checked(connection_, root_,
                                                                                 XCB_CW_EVENT_MASK, &mask)));
        activate_ = atom("_NET_ACTIVE_WINDOW");
        begin_ = atom("_NET_STARTUP_INFO_BEGIN");
        more_ = atom("_NET_STARTUP_INFO");
    }
    ~RootWatch() { xcb_disconnect(connection_); }

    const std::vector<Message>& messages()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE)
                take(*reinterpret_cast<xcb_client_message_event_t*>(event));
            free(event);
        }
        return messages_;
    }
    // Where `text` was sent, or -1.
    int indexOf(const std::string& text)
    {
        const auto& all = messages();
        const auto found = std::find_if(all.begin(), all.end(), [&](const Message& m) { return m.text == text; });
        return found == all.end() ? -1 : int(found - all.begin());
    }

private:
    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, strlen(name), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }
    void take(const xcb_client_message_event_t& message)
    {
        if (message.type == activate_ && message.format == 32) {
            messages_.push_back({"activate", message.window, message.data.data32[1]});
            return;
        }
        if ((message.type != begin_ && message.type != more_) || message.format != 8) return;
        // 20 bytes at a time, from one sender, up to a NUL.
        std::string& text = partial_[message.window];
        if (message.type == begin_) text.clear();
        const auto* bytes = reinterpret_cast<const char*>(message.data.data8);
        const std::size_t length = strnlen(bytes, 20);
        text.append(bytes, length);
        if (length < 20) {
            messages_.push_back({text, message.window, 0});
            partial_.erase(message.window);
        }
    }

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t activate_, begin_, more_;
    std::map<xcb_window_t, std::string> partial_;
    std::vector<Message> messages_;
};

TEST(ShellDesktop, ASecondLaunchEndsItsStartupNoticeOnceTheRunningProgramCameForwardWithIt)
{
    ProgramHome home;
    RootWatch watch;
    QProcess first;
    home.start(first, {});
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    struct Case {
        QStringList arguments;
        std::string id, window, removal;
    };
    for (const Case& c : {Case{{}, "vendalum-teszt-1_TIME4242", "^Vendalum$", "remove: ID=vendalum-teszt-1_TIME4242"},
                          Case{{(home.temp.path / "harmadik.mov").c_str()}, "vendalum teszt-2_TIME4343", "^harmadik$",
                               "remove: ID=\"vendalum teszt-2_TIME4343\""}}) {
        SCOPED_TRACE(c.id);
        QProcess second;
        home.start(second, c.arguments,
                   [&](QProcessEnvironment& env) { env.insert("DESKTOP_STARTUP_ID", QString::fromStdString(c.id)); });
        ASSERT_TRUE(ended(second));
        EXPECT_EQ(second.exitCode(), 0);
        ASSERT_TRUE(waitForWindows(c.window, 1));
        // The window that came forward carries the launch's id, and asked to
        // be activated at the launch's time; then the launch's notice ended.
        EXPECT_TRUE(pumpUntil([&] { return watch.indexOf(c.removal) >= 0; }, programDeadline));
        const std::uint32_t time = LaunchActivation::startupTime(c.id);
        const auto& sent = watch.messages();
        const auto activation = std::find_if(sent.begin(), sent.end(), [&](const RootWatch::Message& m) {
            return m.text == "activate" && m.time == time;
        });
        ASSERT_NE(activation, sent.end());
        EXPECT_LT(activation - sent.begin(), watch.indexOf(c.removal));
        const std::string window = output("xdotool search --onlyvisible --name '" + c.window + "' | head -n1");
        EXPECT_EQ(activation->window, xcb_window_t(std::stoul(window)));
        EXPECT_EQ(windowProperty(c.window, "_NET_STARTUP_ID").bytes, c.id);
    }
    EXPECT_EQ(terminate(first), 0);
}

// Starts a recording with the hot key, moves the pointer and clicks twice
// during it, then `end`s it from outside: the program ends by itself with
// the movie finished and its side file whole.
void recordThenEnd(const ProgramHome& home, QProcess& program, const std::function<void()>& end)
{
    ASSERT_NO_FATAL_FAILURE(beginRecording(home));
    std::filesystem::path movie;
    ASSERT_TRUE(pumpUntil([&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(home.recordings(), error))
            if (entry.path().extension() == ".mov" && entry.file_size() > 0) movie = entry.path();
        return !movie.empty();
    }, programDeadline));
    output("xdotool mousemove 200 150");
    pumpFor(std::chrono::milliseconds(300));
    output("xdotool mousemove 600 400 click 1");
    pumpFor(std::chrono::milliseconds(300));
    output("xdotool mousemove 900 700 click 3");
    pumpFor(std::chrono::milliseconds(900));

    end();
    ASSERT_TRUE(ended(program)) << home.logText();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_NE(home.logText().find("Felvétel mentve: "), std::string::npos) << home.logText();
    const std::string duration =
        output("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + movie.string() + "'");
    EXPECT_GT(std::atof(duration.c_str()), 0.0) << duration;
    const auto info = RecordingInfo::load(movie);
    ASSERT_TRUE(info);
    ASSERT_TRUE(info->clicks);
    EXPECT_EQ(info->clicks->size(), 2u);
    ASSERT_TRUE(info->cursor);
    EXPECT_GE(info->cursor->size(), 2u);
    EXPECT_TRUE(info->cursorStyle);
    // The quit road finishes the movie without opening an editor for it.
    EXPECT_EQ(home.logText().find("HIBA"), std::string::npos) << home.logText();
}

TEST(ShellDesktop, SigtermDuringARecordingKeepsTheMovie)
{
    ProgramHome home;
    QProcess program;
    home.start(program, {});
    recordThenEnd(home, program, [&] { program.terminate(); });
}

TEST(ShellDesktop, SighupDuringARecordingKeepsTheMovie)
{
    // The terminal the program was started from has been closed.
    ProgramHome home;
    QProcess program;
    home.start(program, {});
    recordThenEnd(home, program, [&] { ::kill(pid_t(program.processId()), SIGHUP); });
}

class SessionEndDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(manager.address().empty());
        home.start(program, {}, [&](QProcessEnvironment& env) {
            env.insert("SESSION_MANAGER", QString::fromStdString(manager.address()));
        });
        ASSERT_TRUE(pumpUntil([&] { return manager.clientRegistered(); }, programDeadline));
    }

    // The end of a session: the save request, its answer, then the last word.
    std::function<void()> logOut(TestSessionManager::Save what)
    {
        return [this, what] {
            manager.saveYourself(what, true);
            ASSERT_TRUE(pumpUntil([&] { return manager.saveDone(); }, programDeadline));
            manager.die();
        };
    }

    TestSessionManager manager;
    ProgramHome home;
    QProcess program;
};

TEST_F(SessionEndDesktop, LoggingOutDuringARecordingKeepsTheMovie)
{
    // A logout: everyone saves, then everyone is told to end at once.
    recordThenEnd(home, program, logOut(TestSessionManager::Save::both));
}

TEST_F(SessionEndDesktop, TheRequestToSaveBeforeTheSessionEndsFinishesTheRecording)
{
    // A session manager that ends the display soon after the save request
    // leaves no time to wait for its last word.
    recordThenEnd(home, program, [&] { manager.saveYourself(TestSessionManager::Save::both, true); });
}

TEST_F(SessionEndDesktop, TheLastWordAloneStillFinishesTheRecording)
{
    // Only the program's own state saved, then the end: Qt's quit alone.
    recordThenEnd(home, program, logOut(TestSessionManager::Save::local));
}

TEST_F(SessionEndDesktop, ACheckpointLeavesTheRecordingRunning)
{
    // "Save the session now": everyone saves, nobody ends.
    ASSERT_NO_FATAL_FAILURE(beginRecording(home));
    manager.saveYourself(TestSessionManager::Save::both, false);
    ASSERT_TRUE(pumpUntil([&] { return manager.saveDone(); }, programDeadline));
    pumpFor(std::chrono::milliseconds(1500));
    EXPECT_EQ(program.state(), QProcess::Running);
    EXPECT_TRUE(windows("^Vendalum$").empty()) << "the recording ended";
    EXPECT_EQ(home.logText().find("Felvétel mentve: "), std::string::npos);
    output("xdotool key ctrl+alt+a");
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1)) << home.logText();
    EXPECT_TRUE(home.logHas("Felvétel mentve: "));
    EXPECT_EQ(terminate(program), 0);
}

TEST(ShellDesktop, ASecondLaunchDuringARecordingBringsTheRecordWindowBack)
{
    ProgramHome home;
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(startRecording(home, first));
    // A launch without a file asks the running program for its window.
    QProcess second;
    home.start(second, {});
    ASSERT_TRUE(ended(second));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitForWindows("^Vendalum$", 1)) << home.logText();
    EXPECT_EQ(terminate(first), 0);
    EXPECT_NE(home.logText().find("Felvétel mentve: "), std::string::npos) << home.logText();
}

// The desktop's panel, taken away for a test and always brought back.
class Panel {
public:
    ~Panel() { start(); }
    static bool stop() { return script("stop"); }
    static bool start() { return script("start"); }

private:
    static bool script(const char* action)
    {
        const char* path = std::getenv("ONDEXA_DESKTOP_SCRIPT");
        if (!path) return false;
        const std::string command = std::string("'") + path + "' panel " + action + " >/dev/null 2>&1; echo $?";
        return output(command) == "0\n";
    }
};

TEST(ShellDesktop, WithoutATrayClosingTheLastWindowEndsTheProgram)
{
    Panel panel;
    ASSERT_TRUE(Panel::stop()) << "needs the test desktop's panel script";
    ProgramHome home;
    QProcess program;
    home.start(program, {(home.temp.path / "negyedik.mov").c_str()});
    ASSERT_TRUE(waitForWindows("^negyedik$", 1));
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    ASSERT_TRUE(closeWindow("^Vendalum$")) << home.logText();
    pumpFor(std::chrono::milliseconds(500));
    EXPECT_EQ(program.state(), QProcess::Running);  // an editor window is still open
    ASSERT_TRUE(closeWindow("^negyedik$"));
    ASSERT_TRUE(ended(program));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// The windows of a process that look like a tray icon (small and square),
// each with whether it shows: an icon docked in the panel shows with it.
std::map<std::string, bool> trayIcons(qint64 pid)
{
    std::map<std::string, bool> icons;
    std::istringstream ids(output("xdotool search --pid " + std::to_string(pid) + " 2>/dev/null"));
    for (std::string id; std::getline(ids, id);) {
        const std::string info = output("xwininfo -id " + id + " 2>/dev/null");
        const auto number = [&](const char* label) {
            const auto at = info.find(label);
            return at == std::string::npos ? 0 : std::atoi(info.c_str() + at + std::strlen(label));
        };
        const int width = number("Width: "), height = number("Height: ");
        if (width == height && width >= 8 && width <= 64) icons[id] = info.find("IsViewable") != std::string::npos;
    }
    return icons;
}

bool anyShown(const std::map<std::string, bool>& icons)
{
    return std::any_of(icons.begin(), icons.end(), [](const auto& icon) { return icon.second; });
}

// The program started before the panel, as at login, and its icon docked
// once the panel came.
void startBeforeThePanel(const ProgramHome& home, QProcess& program)
{
    ASSERT_TRUE(Panel::stop()) << "needs the test desktop's panel script";
    home.start(program, {});
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    pumpFor(std::chrono::milliseconds(500));
    ASSERT_FALSE(anyShown(trayIcons(program.processId())));
    ASSERT_TRUE(Panel::start());
    ASSERT_TRUE(pumpUntil([&] { return anyShown(trayIcons(program.processId())); }, programDeadline))
        << home.logText();
}

TEST(ShellDesktop, APanelThatAppearsLaterTakesTheIconAndKeepsTheProgram)
{
    Panel panel;
    ProgramHome home;
    QProcess program;
    ASSERT_NO_FATAL_FAILURE(startBeforeThePanel(home, program));
    ASSERT_TRUE(closeWindow("^Vendalum$")) << home.logText();
    pumpFor(std::chrono::milliseconds(1500));
    EXPECT_EQ(program.state(), QProcess::Running) << "closing the last window ended a program with a tray";
    EXPECT_EQ(terminate(program), 0);
}

TEST(ShellDesktop, TheTrayIconStaysInTheLatePanelThroughARecording)
{
    Panel panel;
    ProgramHome home;
    QProcess program;
    ASSERT_NO_FATAL_FAILURE(startBeforeThePanel(home, program));
    // The recording takes our windows away, not the icon its stop is on.
    ASSERT_NO_FATAL_FAILURE(beginRecording(home));
    pumpFor(std::chrono::milliseconds(500));
    EXPECT_TRUE(anyShown(trayIcons(program.processId())));
    output("xdotool key ctrl+alt+a");
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1)) << home.logText();
    pumpFor(std::chrono::milliseconds(500));
    EXPECT_TRUE(anyShown(trayIcons(program.processId())));
    EXPECT_EQ(terminate(program), 0);
}

// Another program holding Ctrl+Alt+A on the whole screen while this lives.
class HeldChord {
public:
    HeldChord()
    {
        const auto symbols = output("xmodmap -pke 2>/dev/null | grep -m1 ' = a A'");
        const int code = std::atoi(symbols.c_str() + std::strlen("keycode "));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        // Each with and without Caps Lock and Num Lock, as a grabber does.
        for (int locks : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2})
            held_ &= !xcb_request_check(connection_,
                                       xcb_grab_key_checked(connection_, 1, root,
                                                            std::uint16_t(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | locks),
                                                            xcb_keycode_t(code), XCB_GRAB_MODE_ASYNC,
                                                            XCB_GRAB_MODE_ASYNC));
        held_ &= code > 0;
    }
    ~HeldChord() { xcb_disconnect(connection_); }
    bool held() const { return held_; }

private:
    xcb_connection_t* connection_ = xcb_connect(nullptr, nullptr);
    bool held_ = true;
};

// WM_STATE of the first window whose name matches, visible or not: 1 shown,
// 3 iconified (in the task bar), 0 withdrawn or missing.
int wmState(const std::string& pattern)
{
    const std::string id = output("xdotool search --name '" + pattern + "' 2>/dev/null | tail -n1");
    if (id.empty()) return 0;
    const std::string state = output("xprop -id " + id + " WM_STATE 2>/dev/null");
    if (state.find("Iconic") != std::string::npos) return 3;
    if (state.find("Normal") != std::string::npos) return 1;
    return 0;
}

// Clicks the record window's main button ("Felvétel indítása" / "Leállítás"),
// at the left of its action bar.
void clickMainButton()
{
    const std::string id = output("xdotool search --onlyvisible --name '^Vendalum$' 2>/dev/null | head -n1");
    const std::string geometry = output("xdotool getwindowgeometry --shell " + id.substr(0, id.find('\n')));
    const auto at = geometry.find("HEIGHT=");
    const int height = at == std::string::npos ? 0 : std::atoi(geometry.c_str() + at + 7);
    output("xdotool mousemove --window " + id.substr(0, id.find('\n')) + " 60 " + std::to_string(height - 29) +
           " click 1");
}

TEST(ShellDesktop, WithNeitherATrayNorTheHotKeyTheWindowsWaitInTheTaskBarAndTheStopWorks)
{
    Panel panel;
    ASSERT_TRUE(Panel::stop()) << "needs the test desktop's panel script";
    HeldChord chord;
    ASSERT_TRUE(chord.held());
    ProgramHome home;
    QProcess program;
    home.start(program, {});
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    // The program says the chord is taken; the user reads it and closes it.
    ASSERT_TRUE(waitForWindows("^Hiba$", 1)) << home.logText();
    ASSERT_TRUE(closeWindow("^Hiba$"));
    pumpFor(std::chrono::milliseconds(500));
    clickMainButton();
    ASSERT_TRUE(waitForWindows("^Vendalum$", 0)) << home.logText();
    // Off the screen, but in the task bar, not gone.
    ASSERT_TRUE(pumpUntil([&] { return wmState("^Vendalum$") == 3; }, programDeadline)) << home.logText();
    // Brought back as a task bar does, then stopped.
    output("xdotool search --name '^Vendalum$' | tail -n1 | xargs -r xdotool windowactivate --sync");
    ASSERT_TRUE(waitForWindows("^Vendalum$", 1));
    pumpFor(std::chrono::milliseconds(500));
    clickMainButton();
    EXPECT_TRUE(pumpUntil([&] { return home.logText().find("Felvétel mentve: ") != std::string::npos; },
                          programDeadline))
        << home.logText();
    EXPECT_EQ(terminate(program), 0);
}

// A second desktop of a 1366×768 laptop, with the same window manager and
// panel, for as long as this lives.
class LaptopDesktop {
public:
    LaptopDesktop()
    {
        const char* script = std::getenv("ONDEXA_DESKTOP_SCRIPT");
        const char* ours = std::getenv("ONDEXA_DESKTOP_DISPLAY");
        if (!script || !ours) return;
        script_ = script;
        number_ = std::to_string(std::atoi(ours) + 4000);
        started_ = run("restart") == "0\n";
    }
    ~LaptopDesktop()
    {
        if (!script_.empty()) run("stop");
    }
    bool started() const { return started_; }
    std::string display() const { return ":" + number_; }
    // A command run against this desktop.
    std::string on(const std::string& command) const { return output("DISPLAY=" + display() + " " + command); }

private:
    std::string run(const std::string& action) const
    {
        return output("ONDEXA_DESKTOP_DISPLAY=" + number_ + " ONDEXA_DESKTOP_SIZE=1366x768 '" + script_ + "' " + action +
                      " >/dev/null 2>&1; echo $?");
    }
    std::string script_, number_;
    bool started_ = false;
};

std::vector<int> numbers(const std::string& text)
{
    std::vector<int> found;
    for (std::size_t at = 0; at < text.size();) {
        const auto digit = text.find_first_of("0123456789", at);
        if (digit == std::string::npos) break;
        std::size_t end = digit;
        found.push_back(std::stoi(text.substr(digit), &end));
        at = digit + end;
    }
    return found;
}

TEST(ShellDesktop, OnALaptopScreenWithAPanelTheEditorsFooterStaysInTheWorkArea)
{
    LaptopDesktop laptop;
    ASSERT_TRUE(laptop.started()) << "needs the test desktop's script";
    ProgramHome home;
    QProcess program;
    home.start(program, {(home.temp.path / "laptop.mov").c_str()},
               [&](QProcessEnvironment& env) { env.insert("DISPLAY", QString::fromStdString(laptop.display())); });
    std::string id;
    ASSERT_TRUE(pumpUntil([&] {
        id = laptop.on("xdotool search --onlyvisible --name '^laptop$' 2>/dev/null | head -n1");
        return !id.empty();
    }, programDeadline)) << home.logText();
    id.pop_back();
    pumpFor(std::chrono::seconds(1));  // placed and sized by the window manager
    // The frame, borders and title bar included, lies within the work area.
    const auto client = numbers(laptop.on("xwininfo -id " + id + " | grep -E 'Absolute|Width|Height'"));
    const auto extents = numbers(laptop.on("xprop -id " + id + " -notype _NET_FRAME_EXTENTS"));
    const auto area = numbers(laptop.on("xprop -root -notype _NET_WORKAREA"));
    ASSERT_EQ(client.size(), 4u);
    ASSERT_GE(extents.size(), 4u);
    ASSERT_GE(area.size(), 4u);
    EXPECT_EQ(area[3], 768 - 29) << "the panel's strut";
    const int top = client[1] - extents[2], bottom = client[1] + client[3] + extents[3];
    EXPECT_GE(top, area[1]);
    EXPECT_LE(bottom, area[1] + area[3]) << "the footer runs under the panel";
    EXPECT_LE(client[0] + client[2] + extents[1], area[0] + area[2]);
#ifdef ONDEXA_SCREENSHOTS
    std::filesystem::create_directories(ONDEXA_SCREENSHOTS);
    laptop.on(std::string("ffmpeg -v error -y -f x11grab -video_size 1366x768 -i ") + laptop.display() +
              " -frames:v 1 '" ONDEXA_SCREENSHOTS "/laptop-editor-with-panel.png'");
#endif
    EXPECT_EQ(terminate(program), 0);
}

} // namespace
} // namespace ondexa::testing
