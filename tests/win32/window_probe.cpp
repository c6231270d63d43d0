// Looks at another program's window from outside, as a test under Wine
// needs to: window_probe <command> <window title>
//   text     prints the text of the window's longest static control (a
//            message box's message), in UTF-8
//   focus    prints the class and text of the control that has the
//            keyboard focus in the window's thread
//   fits     checks that every caption fits its control in the system's
//            message font at the system's DPI; prints each caption that
//            does not fit, that DPI and whether the window lays out right
//            to left (its first check box stands right of its last one);
//            fails if a caption does not fit
//   button   prints the centre of the window's push button on the screen
//   tooltip  prints the text of the tooltip on show
//   identity <program file>: prints its version strings and the sizes of
//            its first icon group
// Exits 0 when done, 1 when a check fails, 2 when no such window is shown.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include <shellapi.h>

namespace {

struct Found {
    std::wstring title;
    HWND window = nullptr;
};

std::wstring textOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring classOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

void print(const std::wstring &text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                           nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    bytes += '\n';
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

BOOL CALLBACK findVisible(HWND window, LPARAM found)
{
    auto *wanted = reinterpret_cast<Found *>(found);
    if (::IsWindowVisible(window) && textOf(window) == wanted->title) {
        wanted->window = window;
        return FALSE;
    }
    return TRUE;
}

std::vector<HWND> descendants(HWND window)
{
    std::vector<HWND> all;
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND> *>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

bool isCheckBox(HWND control)
{
    const auto type = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE)) & BS_TYPEMASK;
    return classOf(control) == L"Button" && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX);
}

// Each caption, measured in the system's message font at the window's DPI
// (a font handle of another process means nothing here), against its
// control's client area; a check box's caption stands beside its square.
int checkFits(HWND window)
{
    // The system's DPI: under Wine every monitor has it, and GetDpiForWindow
    // on another process's window answers 96 whatever the window uses.
    const UINT dpi = ::GetDpiForSystem();
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi))
        return 1;
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    int failures = 0;
    int captions = 0;
    std::vector<LONG> boxes; // where each check box starts on the screen
    for (HWND control : descendants(window)) {
        const std::wstring name = classOf(control);
        const std::wstring text = textOf(control);
        if ((name != L"Button" && name != L"Static") || text.empty())
            continue;
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
        if (isCheckBox(control))
            size.cx += ::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
        RECT client{};
        ::GetClientRect(control, &client);
        RECT place{};
        ::GetWindowRect(control, &place);
        if (isCheckBox(control))
            boxes.push_back(place.left);
        ++captions;
        if (size.cx > client.right || size.cy > client.bottom) {
            ++failures;
            print(L"does not fit: \"" + text + L"\" needs " + std::to_wstring(size.cx) + L"x" + std::to_wstring(size.cy)
                  + L", has " + std::to_wstring(client.right) + L"x" + std::to_wstring(client.bottom));
        }
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(font);
    std::printf("captions %d, cut %d\ndpi %u mirrored %d\n", captions, failures, dpi,
                boxes.size() > 1 && boxes.front() > boxes.back() ? 1 : 0);
    return failures == 0 && captions > 0 ? 0 : 1;
}

BOOL CALLBACK findVisibleTooltip(HWND window, LPARAM found)
{
    if (::IsWindowVisible(window) && classOf(window) == TOOLTIPS_CLASSW) {
        *reinterpret_cast<HWND *>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The centre of the window's push button, in screen pixels. While it has
// the focus, the dialog manager shows it as the default button.
int printButtonCentre(HWND window)
{
    for (HWND control : descendants(window)) {
        const auto type = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE)) & BS_TYPEMASK;
        if (classOf(control) == L"Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
            RECT place{};
            ::GetWindowRect(control, &place);
            std::printf("%ld %ld\n", (place.left + place.right) / 2, (place.top + place.bottom) / 2);
            return 0;
        }
    }
    return 1;
}

// A tooltip keeps its text for itself: GetWindowTextW on another process's
// window reads only the title the system holds, so the tooltip is asked.
int printTooltip()
{
    HWND tooltip = nullptr;
    ::EnumWindows(findVisibleTooltip, reinterpret_cast<LPARAM>(&tooltip));
    if (tooltip == nullptr)
        return 1;
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    if (::SendMessageTimeoutW(tooltip, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                              5000, &length)
            == 0
        || length == 0)
        return 1;
    print(text);
    return 0;
}

// The version strings of a program file and the sizes in its first icon
// group, the one Explorer shows: a GRPICONDIR of 6 bytes, the number of
// images at 4, then 14 bytes an image, its width first (0 for 256).
int printIdentity(const wchar_t *path)
{
    DWORD ignored = 0;
    std::vector<char> version(::GetFileVersionInfoSizeW(path, &ignored));
    if (version.empty() || !::GetFileVersionInfoW(path, 0, static_cast<DWORD>(version.size()), version.data()))
        return 1;
    for (const std::wstring field : {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"}) {
        void *value = nullptr;
        UINT characters = 0;
        if (::VerQueryValueW(version.data(), (L"\\StringFileInfo\\040904B0\\" + field).c_str(), &value, &characters))
            print(field + L" " + static_cast<const wchar_t *>(value));
    }
    std::wstring sizes = L"icon groups " + std::to_wstring(::ExtractIconExW(path, -1, nullptr, nullptr, 0)) + L":";
    HMODULE program = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC group = program != nullptr ? ::FindResourceW(program, MAKEINTRESOURCEW(1), RT_GROUP_ICON) : nullptr;
    const auto *bytes = group != nullptr ? static_cast<const BYTE *>(::LockResource(::LoadResource(program, group)))
                                         : nullptr;
    for (int i = 0; bytes != nullptr && i < bytes[4]; ++i)
        sizes += L" " + std::to_wstring(bytes[6 + 14 * i] == 0 ? 256 : bytes[6 + 14 * i]);
    print(sizes);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        std::fputs("usage: window_probe text|focus|fits|button|tooltip <title>, identity <program>\n", stderr);
        return 2;
    }
    // Aware of DPI as the program is, so that its sizes and DPI are seen
    // unscaled.
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::wstring command = argv[1];
    if (command == L"identity")
        return printIdentity(argv[2]);
    Found found{argv[2]};
    ::EnumWindows(findVisible, reinterpret_cast<LPARAM>(&found));
    if (found.window == nullptr)
        return 2;

    if (command == L"text") {
        std::wstring longest;
        for (HWND control : descendants(found.window)) {
            const std::wstring text = textOf(control);
            if (classOf(control) == L"Static" && text.size() > longest.size())
                longest = text;
        }
        print(longest);
        return longest.empty() ? 1 : 0;
    }
    if (command == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(found.window, nullptr), &info) || info.hwndFocus == nullptr)
            return 1;
        print(classOf(info.hwndFocus) + L" " + textOf(info.hwndFocus));
        return 0;
    }
    if (command == L"fits")
        return checkFits(found.window);
    if (command == L"button")
        return printButtonCentre(found.window);
    if (command == L"tooltip")
        return printTooltip();
    return 2;
}
