#include "support/PrivateBus.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A daemon that has not printed its address by then will not.
constexpr auto kStartDeadline = std::chrono::seconds(10);
// SIGTERM ends dbus-daemon at once; past this it is killed.
constexpr auto kStopDeadline = std::chrono::seconds(5);

// Only its own, empty service folder: no <standard_session_servicedirs/>,
// which would bring in /usr/share/dbus-1/services and XDG_DATA_DIRS.
std::string configuration(const std::string& folder)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir=" + folder + "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <servicedir>" + folder + "/services</servicedir>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

} // namespace

PrivateBus::PrivateBus()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vendalum-bus-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    std::filesystem::create_directory(folder_ + "/services");
    const std::string configFile = folder_ + "/bus.conf";
    std::ofstream(configFile) << configuration(folder_);

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        unsetenv("LD_PRELOAD");
        const std::string option = "--config-file=" + configFile;
        execlp("dbus-daemon", "dbus-daemon", option.c_str(), "--nofork", "--nopidfile", "--print-address=1",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The first line is the address.
    const auto end = std::chrono::steady_clock::now() + kStartDeadline;
    char buffer[512];
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd readable{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, int(left.count())) <= 0) break;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, std::size_t(n));
    }
    close(out[0]);
    const auto newline = line.find('\n');
    if (newline == std::string::npos || newline == 0) {
        stop();
        throw std::runtime_error("dbus-daemon gave no address");
    }
    address_ = line.substr(0, newline);
}

PrivateBus::~PrivateBus() { stop(); }

void PrivateBus::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + kStopDeadline;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

} // namespace testsupport
