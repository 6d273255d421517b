#pragma once

#include <array>
#include <compare>
#include <cstdint>
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

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace ondexa

template <>
struct std::hash<ondexa::Uuid> {
    std::size_t operator()(const ondexa::Uuid& id) const noexcept;
};
