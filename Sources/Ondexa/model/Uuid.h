#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ondexa {

// A 128-bit identifier. Written upper-case and hyphenated
// (8-4-4-4-12 hexadecimal digits); read in either case.
class Uuid {
public:
    // The nil identifier (all zero). Model types never keep it: their
    // identities come from random() or from a file.
    constexpr Uuid() = default;
    explicit constexpr Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A random version-4 identifier.
    static Uuid random();
    // None when the text is not 36 characters of the hyphenated form.
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool isNil() const;

    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;
    // As two words: the byte-wise comparison is a call of memcmp, and clips
    // and actions are compared by the thousand when undo snapshots are taken.
    friend bool operator==(const Uuid& a, const Uuid& b)
    {
        std::uint64_t x[2], y[2];
        std::memcpy(x, a.bytes_.data(), sizeof x);
        std::memcpy(y, b.bytes_.data(), sizeof y);
        return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
    }

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace ondexa

template <>
struct std::hash<ondexa::Uuid> {
    std::size_t operator()(const ondexa::Uuid& id) const noexcept;
};
