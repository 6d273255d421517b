#pragma once

// A private D-Bus session bus for one test program (dbus-daemon), so that a
// fake desktop service can be registered without touching the user's bus.
// It starts no service of its own accord: a name nobody on the bus owns is
// unknown at once, even where the machine has that service installed (the
// session configuration would start the real desktop portal, which may
// never answer a test).

#include <string>

#include <sys/types.h>

namespace testsupport {

class PrivateBus {
public:
    // Starts the daemon; throws when it gives no address within a few seconds.
    PrivateBus();
    ~PrivateBus();  // stops it and removes its folder

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    void stop();

    std::string folder_;  // the configuration, the socket and the empty service folder
    std::string address_;
    pid_t pid_ = -1;
};

} // namespace testsupport
