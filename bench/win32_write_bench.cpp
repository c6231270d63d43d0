// Writing ORNIVEX_CONFIG.txt on Windows, timed against the least Win32
// calls that replace a file so that a crash leaves the old one or the new
// one whole: CreateFileW on a new file beside it, WriteFile,
// FlushFileBuffers, CloseHandle, MoveFileExW over the old name. The floor
// writes bytes formatted beforehand; the program formats them too.
//
// Program and floor alternate, write by write, which goes first, so both
// meet the disk in the same state. Prints one pair a line:
//     write_us <program> <floor>
//
// usage: win32_write_bench <scratch folder> <pairs>

#include "config_file_writer.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "win32_write_bench: %s failed with Windows error %lu\n", what, ::GetLastError());
    std::exit(1);
}

bool replaceWithWin32Calls(const std::wstring &folder, const std::string &bytes)
{
    const std::wstring temporary = folder + L"\\ORNIVEX_CONFIG.txt.new";
    const std::wstring target = folder + L"\\ORNIVEX_CONFIG.txt";
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool flushed = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0
        && written == bytes.size() && ::FlushFileBuffers(file) != 0;
    return ::CloseHandle(file) != 0 && flushed
        && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

double microsecondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        std::fputs("usage: win32_write_bench <scratch folder> <pairs>\n", stderr);
        return 2;
    }
    const std::wstring scratch = argv[1];
    const int pairs = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const std::wstring programFolder = scratch + L"\\program";
    const std::wstring floorFolder = scratch + L"\\floor";
    if ((!::CreateDirectoryW(programFolder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        || (!::CreateDirectoryW(floorFolder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS))
        die("CreateDirectoryW");

    const ornivex::ConfigSnapshot snapshot = ornivex::ConfigSnapshot::initial();
    const std::string bytes = ornivex::FormatConfigFile(snapshot);
    try {
        // Every timed write replaces a file, as every press after the first does.
        ornivex::WriteConfigFile(snapshot, programFolder);
        if (!replaceWithWin32Calls(floorFolder, bytes))
            die("the floor's write");
        for (int pair = 0; pair < pairs; ++pair) {
            double times[2] = {};
            for (int turn = 0; turn < 2; ++turn) {
                const int which = pair % 2 == 0 ? turn : 1 - turn;
                LARGE_INTEGER start{};
                ::QueryPerformanceCounter(&start);
                if (which == 0)
                    ornivex::WriteConfigFile(snapshot, programFolder);
                else if (!replaceWithWin32Calls(floorFolder, bytes))
                    die("the floor's write");
                times[which] = microsecondsSince(start);
            }
            std::printf("write_us %.1f %.1f\n", times[0], times[1]);
        }
    } catch (const ornivex::ConfigWriteError &error) {
        std::fprintf(stderr, "win32_write_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
