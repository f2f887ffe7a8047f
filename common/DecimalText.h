#pragma once
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

// Numbers at the start of a text as C's strtol and strtod read them (leading blanks, a sign,
// "12.7" as 12 for an integer), whatever the process locale; 0 when the text starts with none.
namespace DecimalText {

inline int32_t leadingInt(const std::string &text)
{
    const long v = std::strtol(text.c_str(), nullptr, 10);
    return int32_t(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

inline double leadingDouble(const std::string &text)
{
    const char *p = text.c_str(), *end = p + text.size();
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (p < end && *p == '+')
        ++p;
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    return result.ec == std::errc() ? value : 0.0;
}

} // namespace DecimalText
