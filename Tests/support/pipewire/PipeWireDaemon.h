#pragma once

// A private PipeWire daemon for one test program: its own runtime folder, no
// session bus, no session manager (streams are linked by hand). The
// program's own connections find it through PIPEWIRE_RUNTIME_DIR.

#include <filesystem>
#include <string>

#include <sys/types.h>

namespace testsupport {

class PipeWireDaemon {
public:
    // Starts the daemon and waits for its socket; throws when it does not come.
    PipeWireDaemon();
    ~PipeWireDaemon();  // stops it and removes the folder

    PipeWireDaemon(const PipeWireDaemon&) = delete;
    PipeWireDaemon& operator=(const PipeWireDaemon&) = delete;

    const std::filesystem::path& runtimeDir() const { return folder_; }

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
};

} // namespace testsupport
