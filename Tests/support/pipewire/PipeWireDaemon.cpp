#include "support/pipewire/PipeWireDaemon.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

PipeWireDaemon::PipeWireDaemon()
{
    char pattern[] = "/tmp/ondexa-pipewire-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("no folder for the PipeWire daemon");
    folder_ = pattern;
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        setenv("PIPEWIRE_RUNTIME_DIR", folder_.c_str(), 1);
        // Neither the session bus (rtkit, portal) nor an X display (bell) is of use here.
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        unsetenv("DISPLAY");
        unsetenv("PIPEWIRE_REMOTE");
        // The sanitizers of the test program must not reach the daemon.
        unsetenv("LD_PRELOAD");
        const std::string log = (folder_ / "pipewire.log").string();
        freopen(log.c_str(), "w", stderr);
        freopen("/dev/null", "w", stdout);
        execlp("pipewire", "pipewire", static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("PIPEWIRE_RUNTIME_DIR", folder_.c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(folder_ / "pipewire-0")) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the PipeWire daemon ended at start");
        }
        if (std::chrono::steady_clock::now() > until) throw std::runtime_error("the PipeWire daemon did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PipeWireDaemon::~PipeWireDaemon()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

} // namespace testsupport
