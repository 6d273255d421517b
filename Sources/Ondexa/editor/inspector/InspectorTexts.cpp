#include "Ondexa/editor/inspector/InspectorTexts.h"

#include <array>
#include <charconv>
#include <cmath>

namespace ondexa {

std::optional<long long> roundedInteger(double value)
{
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = std::round(value);  // halves away from zero
    // 2^63 is exact in a double; llround beyond it is undefined.
    constexpr double limit = 9223372036854775808.0;
    if (rounded >= limit || rounded < -limit) return std::nullopt;
    return std::llround(value);
}

QString roundedText(double value)
{
    const auto rounded = roundedInteger(value);
    return rounded ? QString::number(*rounded) : kNoValue;
}

QString roundedPercent(double factor)
{
    const auto rounded = roundedInteger(factor * 100);
    return rounded ? QString::number(*rounded) + QStringLiteral(" %") : kNoValue;
}

QString roundedDegrees(double degrees)
{
    const auto rounded = roundedInteger(degrees);
    return rounded ? QString::number(*rounded) + QStringLiteral("°") : kNoValue;
}

QString fixedText(double value, int decimals)
{
    if (!std::isfinite(value)) return kNoValue;
    // A double's fixed notation has at most 309 integer digits.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return kNoValue;
    return QString::fromLatin1(buffer.data(), int(result.ptr - buffer.data()));
}

QString signedFixedText(double value, int decimals)
{
    const QString text = fixedText(value, decimals);
    if (text == kNoValue || text.startsWith('-')) return text;
    return '+' + text;
}

QString printfPercent(double percent)
{
    const QString text = fixedText(percent, 0);
    return text == kNoValue ? text : text + QStringLiteral(" %");
}

QString secondsText(double seconds)
{
    const QString text = fixedText(seconds, 2);
    return text == kNoValue ? text : text + QStringLiteral(" mp");
}

QString decibelText(double decibels)
{
    const QString text = signedFixedText(decibels, 0);
    return text == kNoValue ? text : text + QStringLiteral(" dB");
}

QString decibelTenthsText(double decibels)
{
    const QString text = signedFixedText(decibels, 1);
    return text == kNoValue ? text : text + QStringLiteral(" dB");
}

} // namespace ondexa
