#pragma once
// Blank stripping at the ends of a text; each reader names its own blanks.

#include <string_view>

namespace text {

inline constexpr std::string_view kBlanks = " \t\r\n";

constexpr std::string_view trimLeft(std::string_view s, std::string_view blanks = kBlanks) {
    const auto first = s.find_first_not_of(blanks);
    return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

constexpr std::string_view trim(std::string_view s, std::string_view blanks = kBlanks) {
    s = trimLeft(s, blanks);
    const auto last = s.find_last_not_of(blanks);
    return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

} // namespace text
