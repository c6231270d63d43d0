// Holds a file open as another program would, until it is ended:
//   windows_file_holder <path> <share> [copy]
// <share> holds the letters r, w and d for the sharing it allows others
// (read, write, delete), or "-" for none. With "copy" it plays a writer of
// this tool in the middle of its work: it creates the file hidden and
// unshared and writes part of a configuration into it. It prints "ready"
// once the file is open.

#include <cstdio>
#include <string_view>

#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3)
        return 2;
    DWORD share = 0;
    for (const wchar_t letter : std::wstring_view(argv[2]))
        share |= letter == L'r' ? FILE_SHARE_READ
            : letter == L'w'    ? FILE_SHARE_WRITE
            : letter == L'd'    ? FILE_SHARE_DELETE
                                : 0;
    const bool copy = argc > 3 && std::wstring_view(argv[3]) == L"copy";
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
    std::printf("ready\n");
    std::fflush(stdout);
    ::Sleep(INFINITE); // until the test ends it
    return 0;
}
