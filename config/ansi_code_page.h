#pragma once

#include <string>
#include <string_view>

namespace ornivex {

// Converts text to the 8-bit code page the server reads: Windows-1252.
// Every character the code page cannot hold, including one outside the Basic
// Multilingual Plane or a lone surrogate, becomes a single '?'; so do NUL and
// SUB, which would end the file early for its reader. Other control
// characters stay, as they may be meant (colour codes, say).
std::string toAnsiCodePage(std::u16string_view text);

} // namespace ornivex
