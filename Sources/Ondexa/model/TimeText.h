#pragma once

#include <string>

namespace ondexa {

// "05:07" under an hour, "1:02:03" from an hour; with fraction the hundredths
// follow, "05:07.25". Negative and non-finite values show as zero.
std::string formatTime(double seconds, bool fraction = false);

} // namespace ondexa
