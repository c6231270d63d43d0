// ORNIVEX Config for Windows: the window Form1 and its message loop.
#include "form1.h"
#include "form1_window.h"
#include "unicode_text.h"

#include <commctrl.h>

#include <exception>
#include <string>

int WINAPI wWinMain(HINSTANCE hInstance, [[maybe_unused]] HINSTANCE hPrevInstance, [[maybe_unused]] LPWSTR lpCmdLine,
                    int nShowCmd)
{
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES; // buttons, edits, statics; tooltips
    ::InitCommonControlsEx(&classes);
    try {
        ornivex::win32::Form1Window window(hInstance);
        ::ShowWindow(window.handle(), nShowCmd);
        return ornivex::win32::runMessageLoop(window);
    } catch (const std::exception &error) {
        const std::u16string text = u"ORNIVEX Config cannot show its window: " + ornivex::fromUtf8(error.what());
        ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.c_str()),
                      reinterpret_cast<const wchar_t *>(std::u16string(ornivex::form::kReportTitle).c_str()),
                      MB_OK | MB_ICONERROR);
        return 1;
    }
}
