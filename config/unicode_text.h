#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ornivex {

// The catalogue's texts are ASCII; the windows and the file want UTF-16.
std::u16string fromAscii(std::string_view text);

// UTF-8 for messages and logs; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);

// Text from UTF-8; a byte that starts no valid sequence becomes U+FFFD.
std::u16string fromUtf8(std::string_view text);

// A path as an operator should read it in a report or a tooltip: decoded
// from the system's own form, with every control character (a newline or an
// escape in a folder name, say) and every byte that is not UTF-8 shown as
// \xHH, and the invisible marks that break a line or turn the direction of
// writing (U+2028, U+202E, ...) as \uHHHH, so that nothing in a name can
// break or fake a line of the report.
std::u16string pathForDisplay(const std::filesystem::path &path);

} // namespace ornivex
