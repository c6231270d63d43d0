#pragma once

#include <string>

namespace ornivex {

// The system's own text for a Win32 error number, as FormatMessageW gives it
// in the user's language, without the line break and full stop at its end.
std::u16string WindowsErrorText(unsigned long error);

} // namespace ornivex
