#pragma once

// Helpers shared by the fuzz targets: turning fuzz bytes into text and
// printing a text so that a failing input can be read and replayed.

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace ornivex::fuzz {

// UTF-16 reaches every 16-bit unit, lone surrogates included; UTF-8 reaches
// the replacement character that Qt puts in for broken sequences.
inline QString textFromBytes(std::span<const std::uint8_t> bytes, bool utf16)
{
    if (!utf16)
        return QString::fromUtf8(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QString text(static_cast<qsizetype>(bytes.size() / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto at = static_cast<std::size_t>(2 * i);
        text[i] = QChar(static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8)); // little-endian
    }
    return text;
}

// The same UTF-16 units as a QString. QString::fromStdU16String would take
// a leading U+FEFF for a byte-order mark and drop it.
inline QString qtText(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar *>(text.data()), static_cast<qsizetype>(text.size()));
}

// Printable ASCII as it is, everything else as \uXXXX.
inline std::string escaped(QStringView text)
{
    std::string out = "\"";
    for (const QChar c : text) {
        char buffer[8];
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'\\' && c != u'"')
            out += static_cast<char>(c.unicode());
        else if (std::snprintf(buffer, sizeof buffer, "\\u%04X", c.unicode()) > 0)
            out += buffer;
    }
    return out + '"';
}

[[noreturn]] inline void failOn(QStringView text, const std::string &what)
{
    std::fprintf(stderr, "\n*** %s\n*** text: %s\n", what.c_str(), escaped(text).c_str());
    std::abort();
}

} // namespace ornivex::fuzz
