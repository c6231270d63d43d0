#include "windows_error.h"

#include "unicode_text.h"

#include <windows.h>

namespace ornivex {

std::u16string WindowsErrorText(unsigned long error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::u16string text(buffer, buffer + length);
    ::LocalFree(buffer);
    // The report puts the text after a colon, mid-sentence.
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    if (!text.empty() && text.back() == u'.')
        text.pop_back();
    return text.empty() ? u"system error " + fromAscii(std::to_string(error)) : text;
}

} // namespace ornivex
