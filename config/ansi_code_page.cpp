#include "ansi_code_page.h"

#include <array>

namespace ornivex {
namespace {

// Unicode code points for the bytes 0x80 to 0x9F of Windows-1252; zero marks
// the five bytes that the code page leaves undefined. Eight to a row, as in
// a code chart.
// clang-format off
constexpr std::array<char16_t, 32> kHighControlRange{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};
// clang-format on

// NUL ends the line for a reader of C strings and SUB (0x1A) ends a text-mode
// read on Windows, so either would hide the rest of the file from the server.
constexpr char16_t kNul = 0x00;
constexpr char16_t kSubstitute = 0x1A;

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

char toWindows1252(char16_t unit)
{
    if (unit == kNul || unit == kSubstitute)
        return '?';
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (std::size_t i = 0; i < kHighControlRange.size(); ++i) {
        if (kHighControlRange[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

std::string toAnsiCodePage(std::u16string_view text)
{
    // One byte per character at most: fill a buffer of that size and cut it
    // to what was written, rather than appending byte by byte.
    std::string bytes(text.size(), '\0');
    char *out = bytes.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        // A surrogate pair is one character and so becomes one '?'.
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
            *out++ = '?';
            continue;
        }
        *out++ = toWindows1252(unit);
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

} // namespace ornivex
