// The Win32 window in the test's own process, under Wine in an X server:
// what cannot be seen from outside the program. Run by win32_session.sh.

#include "form1.h"
#include "form1_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
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
// them, and Label1 just above the frequency box, after which a screen
// reader names the box.
TEST(Form1Window, FramesPaintFirstAndTheFrequencyBoxFollowsItsLabel)
{
    const win32::Form1Window window(::GetModuleHandleW(nullptr));
    std::vector<std::string> order;
    for (HWND child = ::GetWindow(::GetParent(window.control("Command1")), GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT))
        order.push_back(objectNameOf(window, child));
    ASSERT_EQ(order.size(), form::controls().size());
    EXPECT_EQ(std::vector<std::string>(order.end() - 4, order.end()),
              (std::vector<std::string>{"Frame1", "Frame2", "Frame3", "Frame4"}));
    const auto box = std::find(order.begin(), order.end(), "txtFrequency");
    ASSERT_TRUE(box != order.begin() && box != order.end());
    EXPECT_EQ(*(box - 1), "Label1");
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

    RECT frame{};
    ::GetWindowRect(window.handle(), &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window.handle(), MONITOR_DEFAULTTONEAREST), &monitor);
    EXPECT_TRUE(frame.left >= monitor.rcWork.left && frame.top >= monitor.rcWork.top
                && frame.right <= monitor.rcWork.right && frame.bottom <= monitor.rcWork.bottom);
    // It shows the whole form, or is as wide or as high as the work area.
    // (Under Wine, whose windows keep the frame of the system's DPI, a
    // window sized for a higher DPI has more client area than it needs.)
    RECT client{};
    RECT canvas{};
    ::GetClientRect(window.handle(), &client);
    ::GetClientRect(::GetParent(window.control("Command1")), &canvas);
    EXPECT_TRUE(client.right >= canvas.right || frame.right - frame.left == monitor.rcWork.right - monitor.rcWork.left);
    EXPECT_TRUE(client.bottom >= canvas.bottom
                || frame.bottom - frame.top == monitor.rcWork.bottom - monitor.rcWork.top);
}

INSTANTIATE_TEST_SUITE_P(Dpi, Form1WindowAtDpi, testing::Values(0U, 96U, 120U, 144U, 192U, 288U));

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&classes);
    return RUN_ALL_TESTS();
}
