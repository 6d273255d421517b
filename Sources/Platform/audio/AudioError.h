#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// An error of the sound layer. what() is one Hungarian sentence meant for the
// user, with PulseAudio's own detail in parentheses where there is one.
class AudioError : public std::runtime_error {
public:
    explicit AudioError(const std::string& sentence, int pulseCode = 0);

    // PulseAudio's error code (PA_ERR_…), 0 when the error is our own.
    int code() const { return code_; }

private:
    int code_ = 0;
};

} // namespace platform
