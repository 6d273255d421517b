#pragma once

// A Unix socket where a sound server would listen, which takes every
// connection and never says a word: the sound server that hangs.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testsupport {

class SilentSoundServer {
public:
    SilentSoundServer()
    {
        char folder[] = "/tmp/ondexa-silent-XXXXXX";  // short: sun_path holds 108 bytes
        if (!mkdtemp(folder)) return;
        folder_ = folder;
        path_ = folder_ + "/native";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        // The kernel completes each connection from the backlog: the client
        // is connected and may write, and no answer ever comes.
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::listen(fd_, 64) != 0)
            path_.clear();
    }
    ~SilentSoundServer()
    {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
        if (!folder_.empty()) ::rmdir(folder_.c_str());
    }
    SilentSoundServer(const SilentSoundServer&) = delete;
    SilentSoundServer& operator=(const SilentSoundServer&) = delete;

    bool listening() const { return !path_.empty(); }
    // The value of PULSE_SERVER that leads to it.
    std::string address() const { return "unix:" + path_; }

private:
    std::string folder_;
    std::string path_;
    int fd_ = -1;
};

} // namespace testsupport
