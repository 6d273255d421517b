#pragma once

// Pieces of the tests' log lines, the same whatever the locale.

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ondexa::selftest {

// `value` with `decimals` digits after the point, like printf's "%.Nf" in
// the C locale ("11.0", "0.0926"). Non-finite values give "nan", "inf", "-inf".
std::string fixed(double value, int decimals);

// A text as a debug description shows it: in double quotes, with \" \\ \n
// \r \t \0 escaped and other control characters as \u{XX}.
std::string quotedText(std::string_view text);

// ["a", "b"]: each text quoted, separated by a comma and a blank; [] when empty.
std::string listText(const std::vector<std::string>& texts);

// [0, 1]: the numbers in ascending order, separated by a comma and a blank.
std::string numberList(const std::set<int>& numbers);

// "true" or "false".
inline const char* boolText(bool value) { return value ? "true" : "false"; }

} // namespace ondexa::selftest
