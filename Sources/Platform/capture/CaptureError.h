#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// An error of the screen-capture layer. what() is one Hungarian sentence meant
// for the user, with the X server's own detail in parentheses where there is one.
class CaptureError : public std::runtime_error {
public:
    explicit CaptureError(const std::string& sentence, bool endedByDesktop = false)
        : std::runtime_error(sentence), endedByDesktop_(endedByDesktop)
    {
    }

    // The desktop ended the capture on the user's word (its own
    // screen-sharing control): a stop, not a fault.
    bool endedByDesktop() const { return endedByDesktop_; }

private:
    bool endedByDesktop_;
};

} // namespace platform
