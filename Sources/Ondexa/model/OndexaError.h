#pragma once

#include <exception>
#include <string>
#include <utility>

namespace ondexa {

// The program's own error: one complete Hungarian sentence for the user.
struct OndexaError : std::exception {
    std::string message;

    explicit OndexaError(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }
};

} // namespace ondexa
