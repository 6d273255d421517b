#pragma once

// A session manager of the X session management protocol, as a desktop runs
// one, for the program under test: a program started with address() in
// SESSION_MANAGER registers with it, and the test ends the session the way a
// logout does. Works through the test's event loop (pump it while waiting).
// The X headers stay in the source: their macros clash with Qt's.

#include <memory>
#include <string>

namespace ondexa::testing {

class TestSessionManager {
public:
    // What a save request asks for: the program's data too, or its own state only.
    enum class Save { both, local };

    TestSessionManager();
    ~TestSessionManager();
    TestSessionManager(const TestSessionManager&) = delete;
    TestSessionManager& operator=(const TestSessionManager&) = delete;

    // The value for SESSION_MANAGER; empty when nothing could listen.
    const std::string& address() const;

    bool clientRegistered() const;
    // The save request of a session that ends (`shutdown`) or a checkpoint.
    void saveYourself(Save what, bool shutdown);
    bool saveDone() const;
    // The last word of a logout: the client is to end now.
    void die();

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace ondexa::testing
