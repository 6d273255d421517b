#pragma once

// The playback streams this process has on the test desktop's sound server,
// seen and ended from outside through pactl and pacmd (which never touch
// our own connection to the server).

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace testsupport {

// What a shell command prints.
inline std::string commandOutput(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string text;
    if (!pipe) return text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) text.append(buffer, n);
    return text;
}

// The indexes of this process's playback streams.
inline std::vector<int> ownSoundOutputs()
{
    const std::string ours = "application.process.id = \"" + std::to_string(::getpid()) + "\"";
    std::vector<int> found;
    int current = -1;
    std::istringstream lines(commandOutput("pactl list sink-inputs 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Sink Input #", 0) == 0) current = std::stoi(line.substr(12));
        else if (current >= 0 && line.find(ours) != std::string::npos) found.push_back(current);
    }
    return found;
}

// Ends every playback stream of this process from the server's side, as it
// does when it drops a stream; true when there was one. (The server moves
// the streams of a sink that goes away to another, so a pulled-out device
// ends nothing here.)
inline bool killOwnSoundOutputs()
{
    const std::vector<int> streams = ownSoundOutputs();
    for (int index : streams)
        if (std::system(("pacmd kill-sink-input " + std::to_string(index) + " >/dev/null").c_str()) != 0) return false;
    return !streams.empty();
}

} // namespace testsupport
