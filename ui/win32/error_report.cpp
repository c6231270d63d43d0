#include "error_report.h"

#include "config_file_writer.h"
#include "form1.h"
#include "unicode_text.h"

#include <stdexcept>
#include <string>

namespace ornivex::win32 {
namespace {

// The box shows the whole report: its first line "Error N: Cannot write
// <path>: <text>", then the advice. MB_OK alone makes Return and Escape
// both close it.
void show(HWND window, bool rightToLeft, const ConfigWriteError &error)
{
    const std::u16string report = error.report();
    ::MessageBoxW(window, reinterpret_cast<const wchar_t *>(report.c_str()),
                  reinterpret_cast<const wchar_t *>(std::u16string(form::kReportTitle).c_str()),
                  MB_OK | MB_ICONERROR | (rightToLeft ? MB_RTLREADING | MB_RIGHT : 0));
}

} // namespace

void runCommand(HWND window, bool rightToLeft, const std::function<void()> &command)
{
    try {
        command();
    } catch (const ConfigWriteError &error) {
        show(window, rightToLeft, error);
    } catch (const std::exception &error) {
        showUnexpectedError(window, rightToLeft, error);
    } catch (...) {
        showUnexpectedError(window, rightToLeft, std::runtime_error("an unknown error occurred"));
    }
}

void showUnexpectedError(HWND window, bool rightToLeft, const std::exception &error) noexcept
{
    try {
        show(window, rightToLeft, ConfigWriteError(0, fromAscii(kConfigFileName), fromUtf8(error.what())));
    } catch (...) { // out of memory for the text: a report without details
        // The title's view is of a string literal, so it ends in a null.
        ::MessageBoxW(window, L"Error 0: the file could not be written.",
                      reinterpret_cast<const wchar_t *>(form::kReportTitle.data()), MB_OK | MB_ICONERROR);
    }
}

} // namespace ornivex::win32
