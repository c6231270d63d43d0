// The floors for starting ORNIVEX Config on Windows: a Win32 window with the
// same manifest, the message font at the window's DPI and the same message
// loop as the program, holding
// - without arguments, one control of each kind the program shows, placed by
//   hand;
// - with the argument "form1", as many controls of each kind as Form1 has (4
//   group boxes, 25 check boxes, 11 edits, 1 static, 1 button), in a plain
//   grid and a window as large as the grid, without measuring or layout. It
//   tells how much of the program's start is the number of its controls,
//   which under Wine cost a round trip to the wineserver each.

#include <windows.h>

#include <commctrl.h>

#include <cwchar>
#include <vector>

namespace {

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND addControl(HWND parent, const wchar_t *className, const wchar_t *text, DWORD style, DWORD exStyle, RECT place)
{
    return ::CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                             place.right, place.bottom, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

struct Kind {
    const wchar_t *className;
    const wchar_t *text;
    DWORD style;
    DWORD exStyle;
    int count; // in Form1
};

const Kind kForm1Kinds[] = {
    {WC_BUTTONW, L"Group box", BS_GROUPBOX, 0, 4},
    {WC_BUTTONW, L"Check box", BS_AUTOCHECKBOX | WS_TABSTOP, 0, 25},
    {WC_EDITW, L"Line edit", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 11},
    {WC_STATICW, L"Label", SS_LEFT, 0, 1},
    {WC_BUTTONW, L"Push button", BS_PUSHBUTTON | WS_TABSTOP, 0, 1},
};

// Form1's controls go into a grid of cells, column by column.
constexpr int kRows = 15;
constexpr int kCellWidth = 180;
constexpr int kCellHeight = 28;

SIZE form1WindowSize()
{
    int count = 0;
    for (const Kind &kind : kForm1Kinds)
        count += kind.count;
    const int columns = (count + kRows - 1) / kRows;
    RECT frame{0, 0, 8 + columns * kCellWidth, 8 + kRows * kCellHeight + 4};
    ::AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT, ::GetDpiForSystem());
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// Returns the first control that takes the focus.
HWND addForm1Controls(HWND window, std::vector<HWND> &controls)
{
    HWND focus = nullptr;
    int cell = 0;
    for (const Kind &kind : kForm1Kinds) {
        for (int i = 0; i < kind.count; ++i, ++cell) {
            const RECT place{8 + cell / kRows * kCellWidth, 8 + cell % kRows * kCellHeight, kCellWidth - 8,
                             kCellHeight - 4};
            controls.push_back(addControl(window, kind.className, kind.text, kind.style, kind.exStyle, place));
            if (focus == nullptr && (kind.style & WS_TABSTOP))
                focus = controls.back();
        }
    }
    return focus;
}

} // namespace

int WINAPI wWinMain(HINSTANCE hInstance, [[maybe_unused]] HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd)
{
    const bool asManyAsForm1 = std::wcscmp(lpCmdLine, L"form1") == 0;
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&classes);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = hInstance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"MinimalWindow";
    ::RegisterClassExW(&windowClass);
    const SIZE size = asManyAsForm1 ? form1WindowSize() : SIZE{256, 220};
    HWND window = ::CreateWindowExW(WS_EX_CONTROLPARENT, L"MinimalWindow", L"Minimal window", WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, hInstance,
                                    nullptr);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, ::GetDpiForWindow(window));
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    std::vector<HWND> controls;
    HWND focus = nullptr;
    if (asManyAsForm1) {
        focus = addForm1Controls(window, controls);
    } else {
        controls = {
            addControl(window, WC_BUTTONW, L"Group box", BS_GROUPBOX, 0, {8, 8, 224, 120}),
            addControl(window, WC_BUTTONW, L"Check box", BS_AUTOCHECKBOX | WS_TABSTOP, 0, {16, 32, 208, 20}),
            addControl(window, WC_EDITW, L"Line edit", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,
                       {16, 60, 208, 24}),
            addControl(window, WC_STATICW, L"Label", SS_LEFT, 0, {16, 92, 208, 20}),
            addControl(window, WC_BUTTONW, L"Push button", BS_PUSHBUTTON | WS_TABSTOP, 0, {120, 136, 112, 28}),
        };
        focus = controls[1];
    }
    for (HWND control : controls)
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SetFocus(focus);
    ::ShowWindow(window, nShowCmd);

    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(window, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::DeleteObject(font);
    return 0;
}
