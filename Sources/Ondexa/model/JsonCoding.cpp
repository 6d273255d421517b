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
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        throw DecodingError(std::string("A JSON-szöveg hibás (") + e.what() + ").");
    }
}

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
    PathText text{JsonCoding<std::string>::decode(json, path)};
    if (text.value.find('\0') != std::string::npos) throw DecodingError(path, "az útvonalban NUL karakter áll");
    return text;
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
