#include "support/PrivateBus.h"

#include <cstdio>
#include <stdexcept>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

PrivateBus::PrivateBus()
{
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        unsetenv("LD_PRELOAD");
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The first line is the address.
    char buffer[512];
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, std::size_t(n));
    }
    close(out[0]);
    const auto end = line.find('\n');
    if (end == std::string::npos || end == 0) throw std::runtime_error("dbus-daemon gave no address");
    address_ = line.substr(0, end);
}

PrivateBus::~PrivateBus()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

} // namespace testsupport
