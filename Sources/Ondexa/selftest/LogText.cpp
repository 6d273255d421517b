#include "Ondexa/selftest/LogText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ondexa::selftest {

std::string fixed(double value, int decimals)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // Large enough for any double in fixed notation with a few decimals.
    char buffer[400];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return "nan";
    return std::string(buffer, end);
}

std::string quotedText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char code[12];
                std::snprintf(code, sizeof code, "\\u{%02X}", unsigned(static_cast<unsigned char>(c)));
                out += code;
            } else {
                out += c;  // UTF-8 letters stay as they are
            }
        }
    }
    out += '"';
    return out;
}

std::string listText(const std::vector<std::string>& texts)
{
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i) out += ", ";
        out += quotedText(texts[i]);
    }
    return out + "]";
}

std::string numberList(const std::set<int>& numbers)
{
    std::string out = "[";
    bool first = true;
    for (const int n : numbers) {
        if (!first) out += ", ";
        first = false;
        out += std::to_string(n);
    }
    return out + "]";
}

} // namespace ondexa::selftest
