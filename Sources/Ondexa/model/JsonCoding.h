#pragma once

// The JSON coding rules shared by every stored type: keys in declaration
// order, optional fields written only when set, lenient decoding (absent or
// null keys take their defaults, unknown keys are ignored) and strict types
// (a present key of the wrong JSON type fails the whole document).

#include "Uuid.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ondexa {

using Json = nlohmann::ordered_json;

// Where in a document a value sits. A chain of stack frames, so that
// decoding builds no strings until something fails.
struct JsonPath {
    const JsonPath* parent = nullptr;
    const char* key = nullptr;  // member name, or null for an array element
    std::size_t index = 0;      // array position when key is null

    JsonPath child(const char* name) const { return JsonPath{this, name, 0}; }
    JsonPath element(std::size_t i) const { return JsonPath{this, nullptr, i}; }
    std::string describe() const;  // e.g. tracks[0].clips[2].start
};

// A document that can't be read as the expected type. what() is a Hungarian
// sentence naming the place in the document.
class DecodingError : public std::runtime_error {
public:
    DecodingError(const JsonPath& path, const std::string& problem);
    explicit DecodingError(const std::string& message) : std::runtime_error(message) {}
};

// A value that can't be written, such as a NaN or an infinite number (the
// JSON library would write null, and the next read would reject the file).
class EncodingError : public std::runtime_error {
public:
    EncodingError(const JsonPath& path, const std::string& problem);
};

// Values nested deeper than this are refused while parsing: our documents
// are about eight levels deep, and an ordered object copies its members
// recursively as it grows, one stack frame per level.
constexpr int largestJsonDepth = 256;

// Parses text, turning the library's parse error into a DecodingError; so
// is nesting deeper than largestJsonDepth.
Json parseJson(std::string_view text);

// The text of a document, compact or indented by `indent` blanks. Bytes of a
// string that are not UTF-8 become U+FFFD rather than failing the write:
// paths never reach here so, they are escaped by PathText first.
std::string dumpJson(const Json& json, int indent = -1);

// Coding of one type. Specialised below for the primitives and by each
// model type for itself.
template <class T>
struct JsonCoding;

template <class T>
T decodeJson(const Json& json, const JsonPath& path = {})
{
    return JsonCoding<T>::decode(json, path);
}

template <class T>
Json encodeJson(const T& value, const JsonPath& path = {})
{
    return JsonCoding<T>::encode(value, path);
}

template <>
struct JsonCoding<bool> {
    static bool decode(const Json& json, const JsonPath& path);
    static Json encode(bool value, const JsonPath&) { return value; }
};

template <>
struct JsonCoding<int> {
    static int decode(const Json& json, const JsonPath& path);
    static Json encode(int value, const JsonPath&) { return value; }
};

template <>
struct JsonCoding<double> {
    static double decode(const Json& json, const JsonPath& path);
    static Json encode(double value, const JsonPath& path);
};

// Floats are written in their shortest form (0.8, not 0.800000011920929).
template <>
struct JsonCoding<float> {
    static float decode(const Json& json, const JsonPath& path);
    static Json encode(float value, const JsonPath& path);
};

template <>
struct JsonCoding<std::string> {
    static std::string decode(const Json& json, const JsonPath& path);
    static Json encode(const std::string& value, const JsonPath&) { return value; }
};

// A file path as stored. A path is bytes and need not be UTF-8 (a name
// from an old archive or a FAT stick); each byte that is not part of UTF-8 is
// stored as NUL and two hex digits ("caf\u0000e9.mov"). No path holds a NUL,
// so the form can't be mistaken for a real name, and UTF-8 paths are stored
// as they are. Any other NUL is refused: the system calls would cut the path
// short there and reach another file.
struct PathText {
    std::string value;
};

template <>
struct JsonCoding<PathText> {
    static PathText decode(const Json& json, const JsonPath& path);
    static Json encode(const PathText& value, const JsonPath&);
};

template <>
struct JsonCoding<Uuid> {
    static Uuid decode(const Json& json, const JsonPath& path);
    static Json encode(const Uuid& value, const JsonPath&) { return value.string(); }
};

template <class T>
struct JsonCoding<std::vector<T>> {
    static std::vector<T> decode(const Json& json, const JsonPath& path)
    {
        if (!json.is_array()) throw DecodingError(path, "tömböt vártunk");
        std::vector<T> result;
        result.reserve(json.size());
        std::size_t i = 0;
        for (const auto& element : json) {
            const JsonPath at = path.element(i++);
            result.push_back(JsonCoding<T>::decode(element, at));
        }
        return result;
    }
    static Json encode(const std::vector<T>& values, const JsonPath& path)
    {
        Json result = Json::array();
        result.get_ref<Json::array_t&>().reserve(values.size());
        std::size_t i = 0;
        for (const auto& value : values) {
            const JsonPath at = path.element(i++);
            result.push_back(JsonCoding<T>::encode(value, at));
        }
        return result;
    }
};

// Enumerations stored as their raw strings. A type opts in with
//   template <> struct JsonCoding<E> : EnumJsonCoding<E> {};
// and a function `std::span<const std::pair<E, std::string_view>> rawValues(E)`
// found by argument-dependent lookup, listing the cases in declaration order.
template <class E>
struct EnumJsonCoding {
    static E decode(const Json& json, const JsonPath& path)
    {
        if (!json.is_string()) throw DecodingError(path, "szöveget vártunk");
        const auto& text = json.get_ref<const std::string&>();
        for (const auto& [value, raw] : rawValues(E{}))
            if (raw == text) return value;
        throw DecodingError(path, "ismeretlen érték: \"" + text + "\"");
    }
    static Json encode(E value, const JsonPath&) { return std::string(rawValue(value)); }
};

template <class E>
std::string_view rawValue(E value)
    requires requires { rawValues(E{}); }
{
    for (const auto& [candidate, raw] : rawValues(E{}))
        if (candidate == value) return raw;
    return {};
}

// Reads the members of one JSON object by the lenient rules.
class ObjectReader {
public:
    ObjectReader(const Json& json, const JsonPath& path);

    // The member's value, or null when it is absent or JSON null.
    const Json* find(const char* key) const;

    template <class T>
    T required(const char* key) const
    {
        const JsonPath at = path_.child(key);
        const auto it = json_.find(key);
        if (it == json_.end()) throw DecodingError(at, "hiányzó kulcs");
        if (it->is_null()) throw DecodingError(at, "hiányzó érték (null)");
        return JsonCoding<T>::decode(*it, at);
    }

    template <class T>
    std::optional<T> optional(const char* key) const
    {
        const Json* member = find(key);
        if (!member) return std::nullopt;
        return JsonCoding<T>::decode(*member, path_.child(key));
    }

    template <class T>
    T value(const char* key, T fallback) const
    {
        const Json* member = find(key);
        if (!member) return fallback;
        return JsonCoding<T>::decode(*member, path_.child(key));
    }

    const JsonPath& path() const { return path_; }

private:
    const Json& json_;
    const JsonPath& path_;
};

// Builds one JSON object, keys in the order they are put.
class ObjectWriter {
public:
    explicit ObjectWriter(const JsonPath& path) : path_(path), json_(Json::object()) {}

    template <class T>
    void put(const char* key, const T& value)
    {
        json_.emplace(key, JsonCoding<T>::encode(value, path_.child(key)));
    }

    template <class T>
    void put(const char* key, const std::optional<T>& value)
    {
        if (value) put(key, *value);
    }

    Json take() { return std::move(json_); }

private:
    const JsonPath& path_;
    Json json_;
};

} // namespace ondexa
