#pragma once

#include <windows.h>

#include <exception>
#include <functional>

namespace ornivex::win32 {

// Runs a command from the window; whatever it throws is shown in the
// program's one error report, a modal message box owned by the window, and
// goes no further. The window carries on unchanged, so the operator can fix
// the cause and retry.
void runCommand(HWND window, bool rightToLeft, const std::function<void()> &command);

// The report for an error outside a command, which the window procedure
// must not let escape into the system's code. Throws nothing.
void showUnexpectedError(HWND window, bool rightToLeft, const std::exception &error) noexcept;

} // namespace ornivex::win32
