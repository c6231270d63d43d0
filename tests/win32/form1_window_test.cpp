// The Win32 window in the test's own process, under Wine in an X server:
// what cannot be seen from outside the program. Run by win32_session.sh.

#include "form1.h"
#include "form1_window.h"

#include "unicode_text.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace ornivex;

namespace {

std::string objectNameOf(const win32::Form1Window &window, HWND control)
{
    for (const form::Control &entry : form::controls()) {
        if (window.control(entry.objectName()) == control)
            return entry.objectName();
    }
    return "(not a control of the form)";
}

// Tab and Shift+Tab as the dialog manager takes them, from the first stop
// round to it again.
TEST(Form1Window, TabAndShiftTabVisitTheFormsStopsInOrder)
{
    const win32::Form1Window window(::GetModuleHandleW(nullptr));
    std::vector<std::string> expected;
    for (int position : form::focusOrder())
        expected.push_back(form::controls()[static_cast<std::size_t>(position)].objectName());
    ASSERT_EQ(expected.size(), 37U);

    for (const bool backwards : {false, true}) {
        SCOPED_TRACE(backwards ? "Shift+Tab" : "Tab");
        std::vector<std::string> visited;
        HWND stop = window.control(expected.front());
        for (std::size_t i = 0; i <= expected.size(); ++i) {
            visited.push_back(objectNameOf(window, stop));
            stop = ::GetNextDlgTabItem(window.handle(), stop, backwards ? TRUE : FALSE);
        }
        std::vector<std::string> want = expected;
        if (backwards)
            std::reverse(want.begin() + 1, want.end());
        want.push_back(expected.front()); // and round again
        EXPECT_EQ(visited, want);
    }
}

// The controls' z-order, which nothing moves once they are created: the
// frames at the bottom, so that they paint first and what they hold over
// them.
TEST(Form1Window, FramesPaintFirst)
{
    const win32::Form1Window window(::GetModuleHandleW(nullptr));
    std::vector<std::string> order;
    for (HWND child = ::GetWindow(::GetParent(window.control("Command1")), GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT))
        order.push_back(objectNameOf(window, child));
    ASSERT_EQ(order.size(), form::controls().size());
    EXPECT_EQ(std::vector<std::string>(order.end() - 4, order.end()),
              (std::vector<std::string>{"Frame1", "Frame2", "Frame3", "Frame4"}));
}

// A text box takes text beyond the 32767 characters an edit control takes
// by default, and the snapshot holds all of it.
TEST(Form1Window, TextBoxesHaveNoLengthLimit)
{
    const win32::Form1Window window(::GetModuleHandleW(nullptr));
    HWND message = window.control("txtMessage_9");
    const std::wstring typed(40000, L'x');
    ::SendMessageW(message, EM_SETSEL, 0, 0);
    ::SendMessageW(message, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
    ::SendMessageW(window.control("txtFrequency"), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
    const ConfigSnapshot snapshot = window.gatherSnapshot();
    EXPECT_EQ(snapshot.messages[9].size(), typed.size());
    EXPECT_EQ(snapshot.frequency.size(), typed.size() + 1);
}

// What a screen reader hears for each control that takes the focus, asked
// as it asks: the form's name. Under Wine a box's name comes from the static
// text just before it (Label1 for the frequency box, a hidden one for each
// message), as on Windows without the annotation, which Wine lacks.
TEST(Form1Window, ScreenReadersHearTheFormsNames)
{
    const win32::Form1Window window(::GetModuleHandleW(nullptr));
    for (const form::Control &entry : form::controls()) {
        if (!entry.takesFocus())
            continue;
        SCOPED_TRACE(entry.objectName());
        IAccessible *accessible = nullptr;
        ASSERT_EQ(::AccessibleObjectFromWindow(window.control(entry.objectName()), static_cast<DWORD>(OBJID_CLIENT),
                                               __uuidof(IAccessible), reinterpret_cast<void **>(&accessible)),
                  S_OK);
        VARIANT self{}; // CHILDID_SELF
        self.vt = VT_I4;
        BSTR name = nullptr;
        accessible->get_accName(self, &name);
        EXPECT_EQ(toUtf8(name != nullptr ? reinterpret_cast<const char16_t *>(name) : u""),
                  toUtf8(form::accessibleName(entry)));
        ::SysFreeString(name);
        accessible->Release();
    }
}

// However a paste is asked for, the clipboard's text arrives as one line,
// each line break one space, in the box and in the file.
TEST(Form1Window, APastedLineBreakBecomesOneSpaceInTheBoxAndTheFile)
{
    win32::Form1Window window(::GetModuleHandleW(nullptr));
    HWND box = window.control("txtMessage_7");
    const auto withShift = [](BYTE state) {
        BYTE keys[256] = {};
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = state;
        ::SetKeyboardState(keys);
    };
    const std::pair<const char *, std::function<void()>> ways[] = {
        {"WM_PASTE (the context menu)", [box] { ::SendMessageW(box, WM_PASTE, 0, 0); }},
        {"Ctrl+V", [box] { ::SendMessageW(box, WM_CHAR, 0x16, 0); }},
        {"Shift+Insert",
         [box, withShift] { withShift(0x80), ::SendMessageW(box, WM_KEYDOWN, VK_INSERT, 0), withShift(0); }},
    };
    const auto folder = std::filesystem::temp_directory_path() / "ornivex paste";
    std::filesystem::create_directories(folder);
    window.setOutputDirectory(folder);
    HWND button = window.control("Command1");
    for (const auto &[way, paste] : ways) {
        SCOPED_TRACE(way);
        const std::wstring copied = L"line one\nline two\r\nthree";
        HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, (copied.size() + 1) * sizeof(wchar_t));
        std::copy_n(copied.c_str(), copied.size() + 1, static_cast<wchar_t *>(::GlobalLock(data)));
        ::GlobalUnlock(data);
        ASSERT_TRUE(::OpenClipboard(window.handle()) && ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, data));
        ::CloseClipboard();
        ::SetWindowTextW(box, L"");
        paste();
        wchar_t text[64] = {};
        ::GetWindowTextW(box, text, 64);
        EXPECT_STREQ(text, L"line one line two three");
        ::SendMessageW(window.handle(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
        std::ifstream file(folder / "ORNIVEX_CONFIG.txt");
        std::string line;
        while (std::getline(file, line) && line.rfind("<7>", 0) != 0) { }
        EXPECT_EQ(line, "<7>line one line two three"); // the CR LF read as a line end
    }
    std::filesystem::remove_all(folder);
}

// The window as it starts (0), laid out before it exists, and after the
// monitor's DPI changes (the window moved to another monitor, or its scale
// was changed), when it takes the message font at the new DPI and lays
// itself out anew: every caption fits in its control's own font, and the
// window stays within the work area.
class Form1WindowAtDpi : public testing::TestWithParam<UINT> { };

TEST_P(Form1WindowAtDpi, LaysItselfOutAnewAndEveryCaptionFits)
{
    win32::Form1Window window(::GetModuleHandleW(nullptr));
    const UINT dpi = GetParam() == 0 ? ::GetDpiForWindow(window.handle()) : GetParam();
    if (GetParam() != 0) {
        RECT suggested{};
        ::GetWindowRect(window.handle(), &suggested);
        ::SendMessageW(window.handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    }
    ASSERT_EQ(window.dpi(), dpi);
    EXPECT_GE(window.pixelsPerTwip(), dpi / 1440.0);

    HDC dc = ::GetDC(window.handle());
    for (const form::Control &entry : form::controls()) {
        if (entry.caption.empty() || entry.kind == form::Kind::TextBox)
            continue;
        SCOPED_TRACE(entry.objectName());
        HWND control = window.control(entry.objectName());
        auto *const font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        const HGDIOBJ previous = ::SelectObject(dc, font);
        SIZE text{};
        ::GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t *>(entry.caption.data()),
                                static_cast<int>(entry.caption.size()), &text);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, previous);
        // The font is the one for this DPI: its height grows with it.
        EXPECT_GE(metrics.tmHeight * 96, static_cast<LONG>(10 * dpi));
        if (entry.kind == form::Kind::CheckBox)
            text.cx += ::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
        RECT client{};
        ::GetClientRect(control, &client);
        EXPECT_LE(text.cx, client.right);
        EXPECT_LE(text.cy, client.bottom);
    }
    ::ReleaseDC(window.handle(), dc);

    // The program's icons in the title bar and the taskbar, at this DPI's sizes.
    for (const auto &[which, size] :
         {std::pair{WPARAM{ICON_SMALL}, SM_CXSMICON}, std::pair{WPARAM{ICON_BIG}, SM_CXICON}}) {
        ICONINFO icon{};
        BITMAP bitmap{};
        ASSERT_TRUE(
            ::GetIconInfo(reinterpret_cast<HICON>(::SendMessageW(window.handle(), WM_GETICON, which, 0)), &icon));
        ::GetObjectW(icon.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetricsForDpi(size, dpi));
        ::DeleteObject(icon.hbmColor);
        ::DeleteObject(icon.hbmMask);
    }

    RECT frame{};
    ::GetWindowRect(window.handle(), &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window.handle(), MONITOR_DEFAULTTONEAREST), &monitor);
    EXPECT_TRUE(frame.left >= monitor.rcWork.left && frame.top >= monitor.rcWork.top
                && frame.right <= monitor.rcWork.right && frame.bottom <= monitor.rcWork.bottom);
    // A scroll bar exactly where the client area is smaller than the form,
    // and only where the window fills the work area that way. (Under Wine,
    // whose windows keep the frame of the system's DPI, a window sized for
    // a higher DPI has more client area than it needs.)
    RECT client{};
    RECT canvas{};
    ::GetClientRect(window.handle(), &client);
    ::GetClientRect(::GetParent(window.control("Command1")), &canvas);
    const auto style = ::GetWindowLongPtrW(window.handle(), GWL_STYLE);
    EXPECT_EQ((style & WS_HSCROLL) != 0, client.right < canvas.right);
    EXPECT_EQ((style & WS_VSCROLL) != 0, client.bottom < canvas.bottom);
    EXPECT_TRUE(!(style & WS_HSCROLL) || frame.right - frame.left == monitor.rcWork.right - monitor.rcWork.left);
    EXPECT_TRUE(!(style & WS_VSCROLL) || frame.bottom - frame.top == monitor.rcWork.bottom - monitor.rcWork.top);
}

INSTANTIATE_TEST_SUITE_P(Dpi, Form1WindowAtDpi, testing::Values(0U, 96U, 120U, 144U, 192U, 288U));

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    ::CoInitialize(nullptr); // for asking the controls' names as a screen reader does
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&classes);
    return RUN_ALL_TESTS();
}
