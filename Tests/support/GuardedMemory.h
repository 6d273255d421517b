#pragma once

// Memory that ends at a page nobody may touch: a write past its end stops the
// test with SIGSEGV where it happens, even from code the sanitizers can't see
// (FFmpeg's own assembly).

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace ondexa::testing {

class GuardedMemory {
public:
    explicit GuardedMemory(std::size_t capacity)
    {
        const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
        usable_ = (capacity + page - 1) / page * page;
        size_ = usable_ + page;
        void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        base_ = static_cast<std::uint8_t*>(p);
        if (::mprotect(base_ + usable_, page, PROT_NONE) != 0) {
            ::munmap(base_, size_);
            throw std::bad_alloc();
        }
    }
    ~GuardedMemory() { ::munmap(base_, size_); }
    GuardedMemory(const GuardedMemory&) = delete;
    GuardedMemory& operator=(const GuardedMemory&) = delete;

    // The last `bytes` bytes before the guard page, each set to the next of
    // `pattern`'s `patternBytes` bytes in turn (so a pixel-sized pattern
    // lines up with the pixels when `bytes` is a multiple of it).
    std::uint8_t* last(std::size_t bytes, const std::uint8_t* pattern, std::size_t patternBytes)
    {
        if (bytes > usable_) throw std::bad_alloc();
        std::uint8_t* start = base_ + usable_ - bytes;
        for (std::size_t i = 0; i < bytes; ++i) start[i] = pattern[i % patternBytes];
        return start;
    }

private:
    std::uint8_t* base_ = nullptr;
    std::size_t usable_ = 0;
    std::size_t size_ = 0;
};

} // namespace ondexa::testing
