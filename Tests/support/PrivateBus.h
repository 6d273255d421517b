#pragma once

// A private D-Bus session bus for one test program (dbus-daemon), so that a
// fake desktop service can be registered without touching the user's bus.

#include <string>

#include <sys/types.h>

namespace testsupport {

class PrivateBus {
public:
    // Starts the daemon; throws when it gives no address.
    PrivateBus();
    ~PrivateBus();  // stops it

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = -1;
};

} // namespace testsupport
