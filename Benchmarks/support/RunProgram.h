#pragma once

// Runs another program (the ffmpeg program as the baseline, or a script) and
// measures it: wall time and the child's own CPU time from wait4.

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

struct ProgramCost {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the child
    int exitCode = 0;
};

inline double secondsOf(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Standard input is /dev/null; so are standard output and error when `quiet`.
// Throws when the program can't be started or, with `mustSucceed`, when it
// exits with anything but 0.
inline ProgramCost runProgram(const std::vector<std::string>& argv, bool quiet = true, bool mustSucceed = true)
{
    // The child of a threaded process may not allocate: its arguments are made first.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        if (quiet) {
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ProgramCost cost;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (mustSucceed && cost.exitCode != 0) throw std::runtime_error("program failed: " + argv[0]);
    return cost;
}

} // namespace bench
