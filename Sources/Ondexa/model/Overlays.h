#pragma once

// What is drawn over or into the picture, and the recorded mouse input.

#include "JsonCoding.h"
#include "Uuid.h"

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace ondexa {

// A point in output units, 0 to 1, origin at the top left.
struct NPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const NPoint&, const NPoint&) = default;
};

// A rectangle in output units, 0 to 1, origin at the top left.
struct NRect {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
    friend bool operator==(const NRect&, const NRect&) = default;
};

// A colour in sRGB, components 0 to 1; a is the opacity.
struct RGBA {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;
    friend bool operator==(const RGBA&, const RGBA&) = default;
};

enum class TextAlignment { left, center, right, justified };
std::span<const std::pair<TextAlignment, std::string_view>> rawValues(TextAlignment);

enum class OverlayKind { text, arrow, rectangle, ellipse, zoom, pip };
std::span<const std::pair<OverlayKind, std::string_view>> rawValues(OverlayKind);

// A text, arrow, shape, zoom area or picture-in-picture element. Also a key
// of the compositor's image caches: equality and hashing cover every field.
struct Overlay {
    Uuid id = Uuid::random();
    OverlayKind kind = OverlayKind::text;
    double start = 0;  // seconds
    double end = 0;    // seconds
    NRect rect;        // text box, shape bounds, zoom area or picture area
    NPoint from;       // arrow tail
    NPoint to;         // arrow head
    std::string text;
    double fontSize = 0;  // in units of a 1000-unit-high output
    RGBA color;
    double lineWidth = 0;
    bool background = false;  // dark box behind text
    std::optional<std::string> mediaPath;
    double mediaOffset = 0;
    double aspect = 0;
    std::optional<TextAlignment> alignment;  // none: the renderer's default
    std::optional<std::string> fontFamily;   // none: the renderer's default
    std::optional<bool> bold;                // none: the renderer's default

    friend bool operator==(const Overlay&, const Overlay&) = default;
};

// A mouse click: seconds from the movie's first frame, position normalised to
// the captured picture (origin top left), which button.
struct ClickEvent {
    double t = 0;
    double x = 0;
    double y = 0;
    bool right = false;
    friend bool operator==(const ClickEvent&, const ClickEvent&) = default;
};

// A pointer position, with the meanings of ClickEvent.
struct CursorSample {
    double t = 0;
    double x = 0;
    double y = 0;
    friend bool operator==(const CursorSample&, const CursorSample&) = default;
};

// The look of the redrawn pointer and the click rings. Every key is optional
// in JSON; an empty object is the default style. Every field is written.
struct CursorStyle {
    bool enabled = true;
    double scale = 1.5;
    RGBA fill{0, 0, 0, 1};
    RGBA outline{1, 1, 1, 1};
    double base = 0.024;  // pointer size as a fraction of the picture height
    bool ring = false;
    RGBA ringColor{0.43, 0.92, 0.66, 1};
    RGBA ringRightColor{0.35, 0.6, 1, 1};
    double ringSize = 2.2;
    double ringWidth = 0.22;

    // What the style's controls allow.
    static constexpr double minScale = 0.5, maxScale = 4;
    static constexpr double minRingSize = 1.2, maxRingSize = 5;
    static constexpr double minRingWidth = 0.06, maxRingWidth = 0.6;

    // The style with every size within its control's range and every colour
    // component within 0…1; `base` is the recording's own and stays.
    CursorStyle withinControls() const;

    friend bool operator==(const CursorStyle&, const CursorStyle&) = default;
};

template <> struct JsonCoding<TextAlignment> : EnumJsonCoding<TextAlignment> {};
template <> struct JsonCoding<OverlayKind> : EnumJsonCoding<OverlayKind> {};

template <> struct JsonCoding<NPoint> {
    static NPoint decode(const Json& json, const JsonPath& path);
    static Json encode(const NPoint& value, const JsonPath& path);
};
template <> struct JsonCoding<NRect> {
    static NRect decode(const Json& json, const JsonPath& path);
    static Json encode(const NRect& value, const JsonPath& path);
};
template <> struct JsonCoding<RGBA> {
    static RGBA decode(const Json& json, const JsonPath& path);
    static Json encode(const RGBA& value, const JsonPath& path);
};
template <> struct JsonCoding<Overlay> {
    static Overlay decode(const Json& json, const JsonPath& path);
    static Json encode(const Overlay& value, const JsonPath& path);
};
template <> struct JsonCoding<CursorStyle> {
    static CursorStyle decode(const Json& json, const JsonPath& path);
    static Json encode(const CursorStyle& value, const JsonPath& path);
};

// Hash combining shared by the model's hashable types.
inline void hashCombine(std::size_t& seed, std::size_t value)
{
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
}

// Equal doubles hash equally: 0.0 and -0.0 are folded.
inline std::size_t hashDouble(double value)
{
    return std::hash<double>{}(value == 0 ? 0.0 : value);
}

// An absent optional hashes apart from every present value.
template <class T>
std::size_t hashOptional(const std::optional<T>& value)
{
    return value ? std::hash<T>{}(*value) * 31 + 1 : 0;
}

} // namespace ondexa

template <> struct std::hash<ondexa::NPoint> {
    std::size_t operator()(const ondexa::NPoint& p) const noexcept;
};
template <> struct std::hash<ondexa::NRect> {
    std::size_t operator()(const ondexa::NRect& r) const noexcept;
};
template <> struct std::hash<ondexa::RGBA> {
    std::size_t operator()(const ondexa::RGBA& c) const noexcept;
};
template <> struct std::hash<ondexa::Overlay> {
    std::size_t operator()(const ondexa::Overlay& o) const noexcept;
};
template <> struct std::hash<ondexa::CursorStyle> {
    std::size_t operator()(const ondexa::CursorStyle& s) const noexcept;
};
