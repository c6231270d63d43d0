#include "program_folder.h"

#include "config_file_writer.h"
#include "unicode_text.h"
#include "windows_error.h"

#include <algorithm>
#include <string>

#include <windows.h>

namespace ornivex {

// The loader names the running program; the name is asked for with a buffer
// that grows until the whole of it fits, since a cut name would lead to
// another folder. Paths reach 32767 characters with the \\?\ prefix.
std::filesystem::path ProgramFolder()
{
    constexpr std::size_t kLongestPath = 32768;
    std::wstring program(MAX_PATH, L'\0');
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    for (;;) {
        const auto size = static_cast<DWORD>(program.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, program.data(), size);
        // A cut name fills the whole buffer (and sets no error before Vista).
        if (length > 0 && length < size) {
            program.resize(length);
            std::filesystem::path folder = std::filesystem::path(program).parent_path();
            if (folder.is_absolute())
                return folder;
            error = ERROR_BAD_PATHNAME;
            break;
        }
        if (length == 0) {
            error = ::GetLastError();
            break;
        }
        if (program.size() == kLongestPath)
            break;
        program.resize(std::min(program.size() * 2, kLongestPath));
    }
    throw ConfigWriteError(static_cast<int>(error), fromAscii(kConfigFileName), WindowsErrorText(error),
                           u"This program cannot tell which folder it was started from, so it writes the file nowhere "
                           u"rather than in the wrong place. Close it and start it again from its folder.");
}

} // namespace ornivex
