#pragma once

// Work handed to another thread through Qt (its event queue, its thread
// pool, its semaphores) is ordered by locks inside Qt's libraries, which are
// not built with ThreadSanitizer: it would take everything such work reads
// for a race. In a ThreadSanitizer build the hand-over is marked here, so
// that it sees the order Qt keeps; in every other build all of this is
// nothing.

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

// What this thread wrote so far is seen by a thread that takes `token` after
// this (handOffTake with the same address).
inline void handOffGive([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void handOffTake([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(token));
#endif
}

#if defined(__SANITIZE_THREAD__)
// `work` with a mark after it that gives, each time the pair is copied or
// moved into place (last, once the work is there), to whoever calls it; and
// gives back once it has run, to whichever thread lets go of it last (Qt
// counts the references of a queued call in its own code).
template <class Work>
class HandedOver {
public:
    explicit HandedOver(Work work) : work_(std::move(work)) {}
    HandedOver(const HandedOver&) = default;
    HandedOver(HandedOver&&) = default;
    ~HandedOver() { mark_.take(); }

    void operator()()
    {
        mark_.take();
        work_();
        handOffGive(&mark_);
    }

private:
    class Mark {
    public:
        Mark() { handOffGive(this); }
        Mark(const Mark&) { handOffGive(this); }
        Mark(Mark&&) noexcept { handOffGive(this); }
        Mark& operator=(const Mark&)
        {
            handOffGive(this);
            return *this;
        }
        Mark& operator=(Mark&&) noexcept
        {
            handOffGive(this);
            return *this;
        }
        void take() const { handOffTake(this); }
    };

    Work work_;
    Mark mark_;  // after the work: constructed once it is in place
};
#endif

// `work`, to be run on another thread through Qt's event queue or thread pool.
template <class Work>
auto handedOver(Work work)
{
#if defined(__SANITIZE_THREAD__)
    return HandedOver<Work>(std::move(work));
#else
    return work;
#endif
}

} // namespace platform
