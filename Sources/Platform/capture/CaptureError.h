#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// An error of the screen-capture layer. what() is one Hungarian sentence meant
// for the user, with the X server's own detail in parentheses where there is one.
class CaptureError : public std::runtime_error {
public:
    explicit CaptureError(const std::string& sentence) : std::runtime_error(sentence) {}
};

} // namespace platform
