#pragma once

// A client of the desktop's session manager (X session management). It says
// whether a save request is for the session's end or only a checkpoint,
// which Qt's own client keeps to itself. Runs on the thread that created it:
// the owner watches fd() and calls process() when it is readable.

#include <functional>
#include <memory>
#include <string>

namespace platform {

class SessionClient {
public:
    struct Handlers {
        // A save request; `shutdown` when the session ends after it. The
        // request is answered once this returns.
        std::function<void(bool shutdown)> save;
        // The session's last word: the program is to end now.
        std::function<void()> die;
    };

    // Registers `program` with the session manager at `address` (the value of
    // SESSION_MANAGER); null, with the reason in `why`, where none answers.
    static std::unique_ptr<SessionClient> connect(const std::string& address, const std::string& program,
                                                  Handlers handlers, std::string* why = nullptr);
    ~SessionClient();
    SessionClient(const SessionClient&) = delete;
    SessionClient& operator=(const SessionClient&) = delete;

    // The connection's socket; -1 once the manager has gone.
    int fd() const;
    // Handles what has arrived on fd(). A connection the manager closed is
    // closed here too (fd() then gives -1).
    void process();

    struct Connection;

private:
    SessionClient() = default;
    std::unique_ptr<Connection> connection_;
};

} // namespace platform
