#include "JsonCoding.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace ondexa {

std::string JsonPath::describe() const
{
    std::vector<const JsonPath*> chain;
    for (const JsonPath* p = this; p; p = p->parent)
        if (p->parent || p->key) chain.push_back(p);
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const JsonPath* p = *it;
        if (p->key) {
            if (!text.empty()) text += '.';
            text += p->key;
        } else {
            text += '[' + std::to_string(p->index) + ']';
        }
    }
    return text.empty() ? "a dokumentum gyökere" : text;
}

DecodingError::DecodingError(const JsonPath& path, const std::string& problem)
    : std::runtime_error("A JSON-adat hibás itt: " + path.describe() + " (" + problem + ").")
{
}

EncodingError::EncodingError(const JsonPath& path, const std::string& problem)
    : std::runtime_error("Az adat nem írható JSON-ba itt: " + path.describe() + " (" + problem + ").")
{
}

Json parseJson(std::string_view text)
{
    // Checked as each object or array opens, before the value is built:
    // `depth` counts the values around it.
    const Json::parser_callback_t bounded = [](int depth, Json::parse_event_t event, Json&) {
        if (depth >= largestJsonDepth
            && (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start))
            throw DecodingError("A JSON-szöveg hibás (" + std::to_string(largestJsonDepth)
                                + " szintnél mélyebben egymásba ágyazott értékek).");
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), bounded);
    } catch (const Json::exception& e) {
        throw DecodingError(std::string("A JSON-szöveg hibás (") + e.what() + ").");
    }
}

std::string dumpJson(const Json& json, int indent)
{
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t utf8SequenceAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead == 0xE0) length = 3, low = 0xA0;
    else if (lead == 0xED) length = 3, high = 0x9F;
    else if (lead >= 0xE1 && lead <= 0xEF) length = 3;
    else if (lead == 0xF0) length = 4, low = 0x90;
    else if (lead == 0xF4) length = 4, high = 0x8F;
    else if (lead >= 0xF1 && lead <= 0xF3) length = 4;
    else return 0;
    if (text.size() - at < length) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool JsonCoding<bool>::decode(const Json& json, const JsonPath& path)
{
    if (!json.is_boolean()) throw DecodingError(path, "logikai értéket vártunk");
    return json.get<bool>();
}

int JsonCoding<int>::decode(const Json& json, const JsonPath& path)
{
    if (json.is_number_integer()) {
        if (json.is_number_unsigned()) {
            const auto value = json.get<std::uint64_t>();
            if (value <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return static_cast<int>(value);
        } else {
            const auto value = json.get<std::int64_t>();
            if (value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max())
                return static_cast<int>(value);
        }
        throw DecodingError(path, "az egész szám túl nagy");
    }
    if (json.is_number_float()) {
        // 4.0 is a whole number; 4.5 is not.
        const double value = json.get<double>();
        if (std::trunc(value) == value && value >= std::numeric_limits<int>::min()
            && value <= std::numeric_limits<int>::max())
            return static_cast<int>(value);
    }
    throw DecodingError(path, "egész számot vártunk");
}

double JsonCoding<double>::decode(const Json& json, const JsonPath& path)
{
    if (!json.is_number()) throw DecodingError(path, "számot vártunk");
    return json.get<double>();
}

Json JsonCoding<double>::encode(double value, const JsonPath& path)
{
    if (!std::isfinite(value)) throw EncodingError(path, "nem véges szám");
    return value;
}

float JsonCoding<float>::decode(const Json& json, const JsonPath& path)
{
    if (!json.is_number()) throw DecodingError(path, "számot vártunk");
    const double value = json.get<double>();
    const auto narrowed = static_cast<float>(value);
    if (!std::isfinite(narrowed)) throw DecodingError(path, "a szám túl nagy");
    return narrowed;
}

Json JsonCoding<float>::encode(float value, const JsonPath& path)
{
    if (!std::isfinite(value)) throw EncodingError(path, "nem véges szám");
    // The shortest text that reads back as this float, as a double, so that
    // the file says 0.8 rather than the float's exact binary value.
    // from_chars, unlike strtod, ignores the locale's decimal separator.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double widened = value;
    std::from_chars(buffer, written.ptr, widened);
    return widened;
}

std::string JsonCoding<std::string>::decode(const Json& json, const JsonPath& path)
{
    if (!json.is_string()) throw DecodingError(path, "szöveget vártunk");
    return json.get<std::string>();
}

PathText JsonCoding<PathText>::decode(const Json& json, const JsonPath& path)
{
    const std::string stored = JsonCoding<std::string>::decode(json, path);
    if (stored.find('\0') == std::string::npos) return {stored};
    PathText text;
    text.value.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] != '\0') {
            text.value += stored[i];
            continue;
        }
        // Only bytes above 0x7F are ever escaped.
        const int high = i + 2 < stored.size() ? hexDigit(stored[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(stored[i + 2]) : -1;
        if (high < 8 || low < 0) throw DecodingError(path, "az útvonalban NUL karakter áll");
        text.value += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return text;
}

Json JsonCoding<PathText>::encode(const PathText& value, const JsonPath&)
{
    const std::string_view path = value.value;
    std::string stored;
    for (std::size_t i = 0; i < path.size();) {
        if (const std::size_t length = utf8SequenceAt(path, i)) {
            stored.append(path.substr(i, length));
            i += length;
            continue;
        }
        static constexpr char digits[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(path[i++]);
        stored += '\0';
        stored += digits[byte >> 4];
        stored += digits[byte & 0xF];
    }
    return stored;
}

Uuid JsonCoding<Uuid>::decode(const Json& json, const JsonPath& path)
{
    if (!json.is_string()) throw DecodingError(path, "azonosítót vártunk");
    if (auto id = Uuid::parse(json.get_ref<const std::string&>())) return *id;
    throw DecodingError(path, "érvénytelen azonosító: \"" + json.get<std::string>() + "\"");
}

ObjectReader::ObjectReader(const Json& json, const JsonPath& path) : json_(json), path_(path)
{
    if (!json_.is_object()) throw DecodingError(path, "objektumot vártunk");
}

const Json* ObjectReader::find(const char* key) const
{
    const auto it = json_.find(key);
    if (it == json_.end() || it->is_null()) return nullptr;
    return &*it;
}

} // namespace ondexa
