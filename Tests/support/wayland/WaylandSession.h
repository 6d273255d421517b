#pragma once

// The Wayland test session (scripts/desktop-session --wayland) as tests see
// it. Tests labelled wayland run inside it: CTest gives them its variables
// and ONDEXA_WAYLAND_ENV, the path of its environment file ("export NAME=value"
// lines, which a shell can source).

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace waylandsession {

// The environment file's path; empty outside the wayland fixture.
inline std::string envFile()
{
    const char* path = std::getenv("ONDEXA_WAYLAND_ENV");
    return path ? path : "";
}

// The session's variables from its environment file (none when it is not running).
inline std::map<std::string, std::string> variables()
{
    std::map<std::string, std::string> out;
    std::ifstream in(envFile());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("export ", 0) != 0) continue;
        const auto equals = line.find('=');
        if (equals != std::string::npos) out[line.substr(7, equals - 7)] = line.substr(equals + 1);
    }
    return out;
}

// The session's state folder (logs of each daemon: <name>.log).
inline std::string stateFolder()
{
    const std::string file = envFile();
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? "" : file.substr(0, slash);
}

// True when this process runs in the session as a Wayland client would:
// WAYLAND_DISPLAY and XDG_SESSION_TYPE=wayland, and no X display.
inline bool inSession()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return wayland && *wayland && type && std::string(type) == "wayland" && !std::getenv("DISPLAY");
}

} // namespace waylandsession
