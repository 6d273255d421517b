#pragma once

// Value texts of the inspector's rows, independent of the locale (a decimal
// point, never a comma). Whatever can't be shown as a number shows "–".

#include <QString>

#include <optional>

namespace ondexa {

inline const QString kNoValue = QStringLiteral("–");

// `value` rounded to the nearest integer, halves away from zero; none when it
// is not finite or lies beyond the range of a 64-bit integer.
std::optional<long long> roundedInteger(double value);

// The rounded integer as text, or "–".
QString roundedText(double value);
// A factor as a rounded percentage: 1.125 → "113 %".
QString roundedPercent(double factor);
// Degrees rounded: -0.5 → "-1°".
QString roundedDegrees(double degrees);

// printf's fixed notation ("%.Nf"), halves to even as printf rounds them.
QString fixedText(double value, int decimals);
// printf's "%+.Nf": a sign always, "-0" for a negative zero.
QString signedFixedText(double value, int decimals);

// "%.0f %%": the percentage as printf rounds it: 12.5 → "12 %".
QString printfPercent(double percent);
// "%.2f mp": seconds.
QString secondsText(double seconds);
// "%+.0f dB" and "%+.1f dB".
QString decibelText(double decibels);
QString decibelTenthsText(double decibels);

} // namespace ondexa
