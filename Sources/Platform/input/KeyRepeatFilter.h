#pragma once

#include <cstdint>

namespace platform {

// Tells a real key press from keyboard auto-repeat, so that holding a key
// counts as one press.
//
// An X server repeats a held key in one of two ways: as a release and a press
// sent together with the same time stamp (the classic form), or as presses
// without releases (detectable auto-repeat). Both are recognised. Times are
// the server's millisecond time stamps, which wrap around after 49.7 days.
class KeyRepeatFilter {
public:
    // True when this press is a new one, false when it repeats a held key.
    bool press(std::uint32_t time)
    {
        const bool repeat = down_ || (released_ && std::uint32_t(time - releaseTime_) <= kPairSlackMs);
        down_ = true;
        released_ = false;
        return !repeat;
    }

    // A release may still turn out to be half of a repeat pair; the next
    // press decides.
    void release(std::uint32_t time)
    {
        down_ = false;
        released_ = true;
        releaseTime_ = time;
    }

    // Forget everything (after the grab changed).
    void reset() { *this = KeyRepeatFilter(); }

private:
    // The server stamps the two halves of a repeat pair one after the other;
    // they may straddle a millisecond tick. No hand releases and presses a key
    // again within 1 ms.
    static constexpr std::uint32_t kPairSlackMs = 1;

    bool down_ = false;       // a press was seen and no release since
    bool released_ = false;   // the last event was a release
    std::uint32_t releaseTime_ = 0;
};

} // namespace platform
