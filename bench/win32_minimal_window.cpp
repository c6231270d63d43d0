// The floor for starting ORNIVEX Config on Windows: a Win32 window holding
// one control of each kind the program shows, placed by hand, with the same
// manifest, the message font at the window's DPI and the same message loop.

#include <windows.h>

#include <commctrl.h>

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

} // namespace

int WINAPI wWinMain(HINSTANCE hInstance, [[maybe_unused]] HINSTANCE hPrevInstance, [[maybe_unused]] LPWSTR lpCmdLine,
                    int nShowCmd)
{
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
    HWND window = ::CreateWindowExW(WS_EX_CONTROLPARENT, L"MinimalWindow", L"Minimal window", WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 256, 220, nullptr, nullptr, hInstance, nullptr);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, ::GetDpiForWindow(window));
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    const HWND controls[] = {
        addControl(window, WC_BUTTONW, L"Group box", BS_GROUPBOX, 0, {8, 8, 224, 120}),
        addControl(window, WC_BUTTONW, L"Check box", BS_AUTOCHECKBOX | WS_TABSTOP, 0, {16, 32, 208, 20}),
        addControl(window, WC_EDITW, L"Line edit", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, {16, 60, 208, 24}),
        addControl(window, WC_STATICW, L"Label", SS_LEFT, 0, {16, 92, 208, 20}),
        addControl(window, WC_BUTTONW, L"Push button", BS_PUSHBUTTON | WS_TABSTOP, 0, {120, 136, 112, 28}),
    };
    for (HWND control : controls)
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::SetFocus(controls[1]);
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
