// Holds a file open as another program would, until it is ended:
//   windows_file_holder <path> <share> [copy | lock | write <times>]
// <share> holds the letters r, w and d for the sharing it allows others
// (read, write, delete), or "-" for none. With "copy" it plays a writer of
// this tool in the middle of its work: it creates the file hidden and
// unshared and writes part of a configuration into it. With "lock" it plays
// one writing the file in place: it holds the writers' lock on it. It prints
// "ready" once it holds the file. With "write" it is a writer of this tool:
// it prints "ready", writes a configuration with every flag set and a long
// message <times> times into the file's folder, and ends with 0 when every
// write succeeded.

#include "config_file_writer.h"
#include "windows_writer_lock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <windows.h>

namespace {

int writeRepeatedly(const std::filesystem::path &file, int times)
{
    ornivex::ConfigSnapshot snapshot = ornivex::ConfigSnapshot::initial();
    snapshot.flags.fill(true);
    snapshot.messages[9] = std::u16string(3000, u'w');
    std::printf("ready\n");
    std::fflush(stdout);
    try {
        for (int i = 0; i < times; ++i)
            ornivex::WriteConfigFile(snapshot, file.parent_path());
    } catch (const ornivex::ConfigWriteError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3)
        return 2;
    const std::wstring_view mode = argc > 3 ? argv[3] : L"";
    if (mode == L"write")
        return writeRepeatedly(argv[1], argc > 4 ? std::wcstol(argv[4], nullptr, 10) : 1);
    DWORD share = 0;
    for (const wchar_t letter : std::wstring_view(argv[2]))
        share |= letter == L'r' ? FILE_SHARE_READ
            : letter == L'w'    ? FILE_SHARE_WRITE
            : letter == L'd'    ? FILE_SHARE_DELETE
                                : 0;
    const bool copy = mode == L"copy";
    const HANDLE file = ::CreateFileW(argv[1], copy ? GENERIC_WRITE | DELETE : GENERIC_READ, share, nullptr,
                                      copy ? CREATE_NEW : OPEN_EXISTING,
                                      copy ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open: error %lu\n", ::GetLastError());
        return 1;
    }
    constexpr std::string_view kPart = "[WeaponBan]\r\nsmartgun=1\r\n";
    DWORD written = 0;
    if (copy && !::WriteFile(file, kPart.data(), static_cast<DWORD>(kPart.size()), &written, nullptr))
        return 1;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(ornivex::kWindowsWriterLockOffset);
    at.OffsetHigh = static_cast<DWORD>(ornivex::kWindowsWriterLockOffset >> 32);
    if (mode == L"lock"
        && !::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                         static_cast<DWORD>(ornivex::kWindowsWriterLockLength),
                         static_cast<DWORD>(ornivex::kWindowsWriterLockLength >> 32), &at)) {
        std::printf("cannot lock: error %lu\n", ::GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    ::Sleep(INFINITE); // until the test ends it
    return 0;
}
