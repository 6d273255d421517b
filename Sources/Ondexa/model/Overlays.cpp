#include "Overlays.h"

#include <algorithm>

namespace ondexa {

namespace {
constexpr std::array<std::pair<TextAlignment, std::string_view>, 4> textAlignmentNames{{
    {TextAlignment::left, "left"},
    {TextAlignment::center, "center"},
    {TextAlignment::right, "right"},
    {TextAlignment::justified, "justified"},
}};

constexpr std::array<std::pair<OverlayKind, std::string_view>, 6> overlayKindNames{{
    {OverlayKind::text, "text"},
    {OverlayKind::arrow, "arrow"},
    {OverlayKind::rectangle, "rectangle"},
    {OverlayKind::ellipse, "ellipse"},
    {OverlayKind::zoom, "zoom"},
    {OverlayKind::pip, "pip"},
}};
} // namespace

std::span<const std::pair<TextAlignment, std::string_view>> rawValues(TextAlignment)
{
    return textAlignmentNames;
}

std::span<const std::pair<OverlayKind, std::string_view>> rawValues(OverlayKind)
{
    return overlayKindNames;
}

NPoint JsonCoding<NPoint>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    return NPoint{in.required<double>("x"), in.required<double>("y")};
}

Json JsonCoding<NPoint>::encode(const NPoint& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("x", value.x);
    out.put("y", value.y);
    return out.take();
}

NRect JsonCoding<NRect>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    return NRect{in.required<double>("x"), in.required<double>("y"), in.required<double>("w"),
                 in.required<double>("h")};
}

Json JsonCoding<NRect>::encode(const NRect& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("x", value.x);
    out.put("y", value.y);
    out.put("w", value.w);
    out.put("h", value.h);
    return out.take();
}

RGBA JsonCoding<RGBA>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    return RGBA{in.required<double>("r"), in.required<double>("g"), in.required<double>("b"),
                in.required<double>("a")};
}

Json JsonCoding<RGBA>::encode(const RGBA& value, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("r", value.r);
    out.put("g", value.g);
    out.put("b", value.b);
    out.put("a", value.a);
    return out.take();
}

Overlay JsonCoding<Overlay>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    Overlay o;
    o.id = in.required<Uuid>("id");
    o.kind = in.required<OverlayKind>("kind");
    o.start = in.required<double>("start");
    o.end = in.required<double>("end");
    o.rect = in.required<NRect>("rect");
    o.from = in.required<NPoint>("from");
    o.to = in.required<NPoint>("to");
    o.text = in.required<std::string>("text");
    o.fontSize = in.required<double>("fontSize");
    o.color = in.required<RGBA>("color");
    o.lineWidth = in.required<double>("lineWidth");
    o.background = in.required<bool>("background");
    if (auto mediaPath = in.optional<PathText>("mediaPath")) o.mediaPath = std::move(mediaPath->value);
    o.mediaOffset = in.required<double>("mediaOffset");
    o.aspect = in.required<double>("aspect");
    o.alignment = in.optional<TextAlignment>("alignment");
    o.fontFamily = in.optional<std::string>("fontFamily");
    o.bold = in.optional<bool>("bold");
    return o;
}

Json JsonCoding<Overlay>::encode(const Overlay& o, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("id", o.id);
    out.put("kind", o.kind);
    out.put("start", o.start);
    out.put("end", o.end);
    out.put("rect", o.rect);
    out.put("from", o.from);
    out.put("to", o.to);
    out.put("text", o.text);
    out.put("fontSize", o.fontSize);
    out.put("color", o.color);
    out.put("lineWidth", o.lineWidth);
    out.put("background", o.background);
    if (o.mediaPath) out.put("mediaPath", PathText{*o.mediaPath});
    out.put("mediaOffset", o.mediaOffset);
    out.put("aspect", o.aspect);
    out.put("alignment", o.alignment);
    out.put("fontFamily", o.fontFamily);
    out.put("bold", o.bold);
    return out.take();
}

CursorStyle CursorStyle::withinControls() const
{
    const auto component = [](double c) { return std::clamp(c, 0.0, 1.0); };
    const auto colour = [&](RGBA c) { return RGBA{component(c.r), component(c.g), component(c.b), component(c.a)}; };
    CursorStyle s = *this;
    s.scale = std::clamp(scale, minScale, maxScale);
    s.ringSize = std::clamp(ringSize, minRingSize, maxRingSize);
    s.ringWidth = std::clamp(ringWidth, minRingWidth, maxRingWidth);
    s.fill = colour(fill);
    s.outline = colour(outline);
    s.ringColor = colour(ringColor);
    s.ringRightColor = colour(ringRightColor);
    return s;
}

CursorStyle JsonCoding<CursorStyle>::decode(const Json& json, const JsonPath& path)
{
    const ObjectReader in(json, path);
    const CursorStyle d;
    CursorStyle s;
    s.enabled = in.value("enabled", d.enabled);
    s.scale = in.value("scale", d.scale);
    s.fill = in.value("fill", d.fill);
    s.outline = in.value("outline", d.outline);
    s.base = in.value("base", d.base);
    s.ring = in.value("ring", d.ring);
    s.ringColor = in.value("ringColor", d.ringColor);
    s.ringRightColor = in.value("ringRightColor", d.ringRightColor);
    s.ringSize = in.value("ringSize", d.ringSize);
    s.ringWidth = in.value("ringWidth", d.ringWidth);
    return s;
}

Json JsonCoding<CursorStyle>::encode(const CursorStyle& s, const JsonPath& path)
{
    ObjectWriter out(path);
    out.put("enabled", s.enabled);
    out.put("scale", s.scale);
    out.put("fill", s.fill);
    out.put("outline", s.outline);
    out.put("base", s.base);
    out.put("ring", s.ring);
    out.put("ringColor", s.ringColor);
    out.put("ringRightColor", s.ringRightColor);
    out.put("ringSize", s.ringSize);
    out.put("ringWidth", s.ringWidth);
    return out.take();
}

} // namespace ondexa

using ondexa::hashCombine;
using ondexa::hashDouble;
using ondexa::hashOptional;

std::size_t std::hash<ondexa::NPoint>::operator()(const ondexa::NPoint& p) const noexcept
{
    std::size_t seed = hashDouble(p.x);
    hashCombine(seed, hashDouble(p.y));
    return seed;
}

std::size_t std::hash<ondexa::NRect>::operator()(const ondexa::NRect& r) const noexcept
{
    std::size_t seed = hashDouble(r.x);
    hashCombine(seed, hashDouble(r.y));
    hashCombine(seed, hashDouble(r.w));
    hashCombine(seed, hashDouble(r.h));
    return seed;
}

std::size_t std::hash<ondexa::RGBA>::operator()(const ondexa::RGBA& c) const noexcept
{
    std::size_t seed = hashDouble(c.r);
    hashCombine(seed, hashDouble(c.g));
    hashCombine(seed, hashDouble(c.b));
    hashCombine(seed, hashDouble(c.a));
    return seed;
}

std::size_t std::hash<ondexa::Overlay>::operator()(const ondexa::Overlay& o) const noexcept
{
    std::size_t seed = std::hash<ondexa::Uuid>{}(o.id);
    hashCombine(seed, std::hash<ondexa::OverlayKind>{}(o.kind));
    hashCombine(seed, hashDouble(o.start));
    hashCombine(seed, hashDouble(o.end));
    hashCombine(seed, std::hash<ondexa::NRect>{}(o.rect));
    hashCombine(seed, std::hash<ondexa::NPoint>{}(o.from));
    hashCombine(seed, std::hash<ondexa::NPoint>{}(o.to));
    hashCombine(seed, std::hash<std::string>{}(o.text));
    hashCombine(seed, hashDouble(o.fontSize));
    hashCombine(seed, std::hash<ondexa::RGBA>{}(o.color));
    hashCombine(seed, hashDouble(o.lineWidth));
    hashCombine(seed, std::hash<bool>{}(o.background));
    hashCombine(seed, hashOptional(o.mediaPath));
    hashCombine(seed, hashDouble(o.mediaOffset));
    hashCombine(seed, hashDouble(o.aspect));
    hashCombine(seed, hashOptional(o.alignment));
    hashCombine(seed, hashOptional(o.fontFamily));
    hashCombine(seed, hashOptional(o.bold));
    return seed;
}

std::size_t std::hash<ondexa::CursorStyle>::operator()(const ondexa::CursorStyle& s) const noexcept
{
    std::size_t seed = std::hash<bool>{}(s.enabled);
    hashCombine(seed, hashDouble(s.scale));
    hashCombine(seed, std::hash<ondexa::RGBA>{}(s.fill));
    hashCombine(seed, std::hash<ondexa::RGBA>{}(s.outline));
    hashCombine(seed, hashDouble(s.base));
    hashCombine(seed, std::hash<bool>{}(s.ring));
    hashCombine(seed, std::hash<ondexa::RGBA>{}(s.ringColor));
    hashCombine(seed, std::hash<ondexa::RGBA>{}(s.ringRightColor));
    hashCombine(seed, hashDouble(s.ringSize));
    hashCombine(seed, hashDouble(s.ringWidth));
    return seed;
}
