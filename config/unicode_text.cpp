#include "unicode_text.h"

#include <array>
#include <cstdint>

namespace ornivex {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf16(std::u16string &out, char32_t code)
{
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
        return;
    }
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
}

// The code point of the UTF-8 sequence at `pos`, which is advanced past it;
// -1 for a byte that starts no valid sequence (overlong forms, surrogates and
// values past U+10FFFF included), which is passed over alone.
std::int32_t decodeUtf8(std::string_view text, std::size_t &pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    int length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80)
        return text[pos++];
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07, least = 0x10000;
    else {
        ++pos;
        return -1;
    }
    if (pos + static_cast<std::size_t>(length) > text.size()) {
        ++pos;
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return -1;
        }
        code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++pos;
        return -1;
    }
    pos += static_cast<std::size_t>(length);
    return static_cast<std::int32_t>(code);
}

bool isControl(char32_t code)
{
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

// Characters that break or reorder the text around them without showing:
// the line and paragraph separators and the marks that change the direction
// of writing. In a name they could break or disguise a line of a report.
bool isLayoutMark(char32_t code)
{
    return code == 0x061C || code == 0x200E || code == 0x200F || code == 0x2028 || code == 0x2029
        || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// \xHH for a byte or a control character, \uHHHH for a layout mark.
void appendEscaped(std::u16string &out, unsigned value)
{
    constexpr std::string_view kHex = "0123456789ABCDEF";
    out += value > 0xFF ? u"\\u" : u"\\x";
    for (int shift = value > 0xFF ? 12 : 4; shift >= 0; shift -= 4)
        out += static_cast<char16_t>(kHex[(value >> shift) & 0xF]);
}

} // namespace

std::u16string fromAscii(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (isHighSurrogate(code) && i + 1 < text.size() && isLowSurrogate(text[i + 1]))
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (isHighSurrogate(code) || isLowSurrogate(code))
            code = kReplacement;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::u16string fromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::int32_t code = decodeUtf8(text, pos);
        appendUtf16(out, code < 0 ? kReplacement : static_cast<char32_t>(code));
    }
    return out;
}

std::u16string pathForDisplay(const std::filesystem::path &path)
{
    std::u16string out;
#ifdef _WIN32
    std::wstring_view native = path.native();
    // The long-path prefix is the system's business, not the operator's.
    if (native.starts_with(L"\\\\?\\UNC\\")) {
        out.assign(1, u'\\'); // not = u"\\": g++ 12 warns wrongly
        native.remove_prefix(7);
    } else if (native.starts_with(L"\\\\?\\")) {
        native.remove_prefix(4);
    }
    for (const wchar_t unit : native) {
        if (isControl(static_cast<char32_t>(unit)) || isLayoutMark(static_cast<char32_t>(unit)))
            appendEscaped(out, static_cast<unsigned>(unit));
        else
            out += static_cast<char16_t>(unit);
    }
#else
    const std::string_view native = path.native();
    for (std::size_t pos = 0; pos < native.size();) {
        const std::size_t start = pos;
        const std::int32_t code = decodeUtf8(native, pos);
        if (code < 0)
            appendEscaped(out, static_cast<unsigned char>(native[start]));
        else if (isControl(static_cast<char32_t>(code)) || isLayoutMark(static_cast<char32_t>(code)))
            appendEscaped(out, static_cast<unsigned>(code));
        else
            appendUtf16(out, static_cast<char32_t>(code));
    }
#endif
    return out;
}

} // namespace ornivex
