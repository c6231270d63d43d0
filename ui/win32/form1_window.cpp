#include "form1_window.h"

#include "error_report.h"
#include "form1.h"
#include "program_folder.h"
#include "unicode_text.h"
#include "windows_error.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace ornivex::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");

constexpr wchar_t kWindowClass[] = L"OrnivexConfigForm1";
constexpr wchar_t kCanvasClass[] = L"OrnivexConfigCanvas";
// Control IDs start past IDOK and IDCANCEL, which the dialog manager sends
// for Enter and Escape in a control that does not take them; the window
// ignores both.
constexpr int kFirstControlId = 1000;
// The program's icon group, resource 1 of ornivex-config.rc.
constexpr WORD kIconResource = 1;

const wchar_t *wide(std::u16string_view text)
{
    return reinterpret_cast<const wchar_t *>(text.data());
}

std::u16string fromWide(std::wstring_view text)
{
    return {reinterpret_cast<const char16_t *>(text.data()), text.size()};
}

HMENU controlId(std::size_t position)
{
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(position)));
}

[[noreturn]] void throwLastError(const char *what)
{
    const DWORD error = ::GetLastError();
    throw std::runtime_error(std::string(what) + " failed with Windows error " + std::to_string(error) + ": "
                             + toUtf8(WindowsErrorText(error)));
}

void registerClasses(HINSTANCE instance, WNDPROC window, WNDPROC canvas)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = window;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throwLastError("RegisterClassExW");
    windowClass.lpfnWndProc = canvas;
    windowClass.lpszClassName = kCanvasClass;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throwLastError("RegisterClassExW");
}

struct NativeKind {
    const wchar_t *className;
    DWORD style;
    DWORD exStyle;
};

// Every control that takes the focus is a tab stop and a group of its own:
// Tab and Shift+Tab move through them, the arrow keys move nowhere. The
// label shows '&' as it is.
NativeKind nativeKind(form::Kind kind)
{
    constexpr DWORD stop = WS_TABSTOP | WS_GROUP;
    switch (kind) {
    case form::Kind::Frame:
        return {WC_BUTTONW, BS_GROUPBOX, 0};
    case form::Kind::CheckBox:
        return {WC_BUTTONW, BS_AUTOCHECKBOX | BS_NOTIFY | stop, 0};
    case form::Kind::TextBox:
        return {WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | stop, WS_EX_CLIENTEDGE};
    case form::Kind::Label:
        return {WC_STATICW, SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX, 0};
    case form::Kind::Button:
        return {WC_BUTTONW, BS_PUSHBUTTON | BS_NOTIFY | stop, 0};
    }
    throw std::logic_error("unknown kind of control");
}

// The system's message font, the one dialogs use, at the given DPI.
HFONT createMessageFont(UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi) == 0) {
        // Before Windows 10 1607: the font at the system's DPI, scaled.
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0) == 0)
            throwLastError("SystemParametersInfoW");
        metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                                  static_cast<int>(::GetDpiForSystem()));
    }
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    if (font == nullptr)
        throwLastError("CreateFontIndirectW");
    return font;
}

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Measures controls in one font on one device context: the screen's, whose
// text metrics every window on it shares, so that the layout can be known
// before the window exists.
class Measure {
public:
    Measure(HFONT font, UINT dpi)
        : m_dc(::GetDC(nullptr))
        // Asked once: each call can cost tens of microseconds (under Wine,
        // for a window aware of per-monitor DPI).
        , m_edge{::GetSystemMetricsForDpi(SM_CXEDGE, dpi), ::GetSystemMetricsForDpi(SM_CYEDGE, dpi)}
        , m_border(::GetSystemMetricsForDpi(SM_CXBORDER, dpi))
        , m_focusBorder(::GetSystemMetricsForDpi(SM_CXFOCUSBORDER, dpi))
        // The check box's square: the classic size, the menu check mark's,
        // which is a little larger than the themed square at every DPI.
        , m_checkBox(::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi))
    {
        if (m_dc == nullptr)
            throwLastError("GetDC");
        m_previousFont = ::SelectObject(m_dc, font);
        ::GetTextMetricsW(m_dc, &m_metrics);
    }
    Measure(const Measure &) = delete;
    Measure &operator=(const Measure &) = delete;
    ~Measure()
    {
        ::SelectObject(m_dc, m_previousFont);
        ::ReleaseDC(nullptr, m_dc);
    }

    int textWidth(std::wstring_view text) const
    {
        SIZE size{};
        ::GetTextExtentPoint32W(m_dc, text.data(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    int textHeight() const { return m_metrics.tmHeight; }
    int averageCharWidth() const { return m_metrics.tmAveCharWidth; }

    // The least size that shows a control's caption or text uncut.
    form::Needed needed(form::Kind kind, std::wstring_view caption) const
    {
        // A text box's width does not depend on its text.
        const int text = kind != form::Kind::TextBox ? textWidth(caption) : 0;
        switch (kind) {
        case form::Kind::Frame: // the caption stands in the top line, indented
            return {text + 2 * averageCharWidth() + 2 * m_edge.cx, 0};
        case form::Kind::CheckBox: // the square, a gap, the caption and room for the focus rectangle
            return {m_checkBox + averageCharWidth() + text + 2 * m_focusBorder, std::max(m_checkBox, textHeight())};
        case form::Kind::TextBox: // a line of text inside the sunken edge; no width of its own
            return {0, textHeight() + 2 * m_edge.cy};
        case form::Kind::Label:
            return {text, textHeight()};
        case form::Kind::Button:
            return {text + 2 * averageCharWidth() + 2 * m_edge.cx, textHeight() + 2 * m_edge.cy};
        }
        return {};
    }

    // The frequency box's width for its widest text: a minus sign and five
    // digits, the edit's own margins, the sunken edge and the caret.
    int frequencyWidth(HWND box) const
    {
        int digit = 0;
        for (wchar_t c = L'0'; c <= L'9'; ++c)
            digit = std::max(digit, textWidth({&c, 1}));
        const auto margins = static_cast<DWORD>(::SendMessageW(box, EM_GETMARGINS, 0, 0));
        return textWidth(L"-") + 5 * digit + LOWORD(margins) + HIWORD(margins) + 2 * m_edge.cx + 2 * m_border;
    }

private:
    HDC m_dc;
    SIZE m_edge;
    int m_border;
    int m_focusBorder;
    int m_checkBox;
    HGDIOBJ m_previousFont = nullptr;
    TEXTMETRICW m_metrics{};
};

// Pastes the clipboard's text into a one-line box as it will be written,
// every line break one space: the edit by itself keeps only what comes
// before the first line break. False where the clipboard holds no text or
// cannot be opened (another program holds it open), so that the edit does
// what it does by itself.
bool pasteAsOneLine(HWND box)
{
    if (::IsClipboardFormatAvailable(CF_UNICODETEXT) == 0 || ::OpenClipboard(box) == 0)
        return false;
    std::u16string line;
    bool read = false;
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const auto *text = data != nullptr ? static_cast<const wchar_t *>(::GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        try { // within the block even where the text lacks its terminating zero
            line = form::pastedText(fromWide({text, ::wcsnlen(text, ::GlobalSize(data) / sizeof(wchar_t))}));
            read = true;
        } catch (const std::bad_alloc &) {
        }
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    if (read)
        ::SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(wide(line))); // TRUE: can be undone
    return read;
}

// COM's two functions, from ole32 loaded when first needed: importing it
// would load it and the libraries it needs at every start.
template <typename Function>
Function comFunction(const char *name)
{
    HMODULE ole32 = ::LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    FARPROC found = ole32 != nullptr ? ::GetProcAddress(ole32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

} // namespace

bool userLanguageReadsRightToLeft()
{
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    if (::LCIDToLocaleName(MAKELCID(::GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return false;
    DWORD layout = 0;
    if (::GetLocaleInfoEx(name, LOCALE_IREADINGLAYOUT | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&layout),
                          sizeof layout / sizeof(wchar_t))
        == 0)
        return false;
    return layout == 1; // 1: right to left, as Arabic and Hebrew
}

Form1Window::Form1Window(HINSTANCE instance)
    : m_rightToLeft(userLanguageReadsRightToLeft())
{
    registerClasses(instance, windowProcedure, canvasProcedure);
    // Laid out before the window exists, for the DPI it will most likely
    // have, so that it is created at its final size with every control in
    // place: each window the system moves or sizes afterwards costs time
    // (under Wine a round trip to its server). Checked once it exists.
    const UINT expectedDpi = ::GetDpiForSystem();
    m_font = createMessageFont(expectedDpi);
    try {
        layOut(expectedDpi, m_font);
        const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
        // Mirrored, the window lays out every child from its right edge, the
        // canvas and its controls included; check boxes put their square right.
        const DWORD exStyle = WS_EX_CONTROLPARENT | (m_rightToLeft ? WS_EX_LAYOUTRTL : 0);
        RECT frame{0, 0, m_canvasSize.cx, m_canvasSize.cy};
        ::AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, expectedDpi);
        m_window = ::CreateWindowExW(exStyle, kWindowClass, wide(form::kWindowTitle), style, CW_USEDEFAULT,
                                     CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                     nullptr, instance, this);
        if (m_window == nullptr)
            throwLastError("CreateWindowExW");
        setIcons();
        // Not WS_CLIPCHILDREN: a group box paints only its line and caption,
        // and the canvas must paint the background inside it.
        m_canvas = ::CreateWindowExW(WS_EX_CONTROLPARENT, kCanvasClass, nullptr, WS_CHILD | WS_VISIBLE, 0, 0,
                                     m_canvasSize.cx, m_canvasSize.cy, m_window, nullptr, instance, this);
        if (m_canvas == nullptr)
            throwLastError("CreateWindowExW");
        createControls(m_font);
        // Another DPI where the system placed it (another monitor, or a
        // scale changed since the session began): laid out anew.
        if (const UINT dpi = ::GetDpiForWindow(m_window); dpi != expectedDpi)
            applyDpi(dpi, nullptr);
        else
            fitWindow(nullptr);
        m_focus = m_controls.at(static_cast<std::size_t>(form::focusOrder().front()));
        ::SetFocus(m_focus);
    } catch (...) {
        if (m_window != nullptr)
            ::DestroyWindow(m_window);
        ::DeleteObject(std::exchange(m_font, nullptr));
        throw;
    }
}

Form1Window::~Form1Window()
{
    if (m_window != nullptr)
        ::DestroyWindow(m_window);
    if (m_font != nullptr)
        ::DeleteObject(m_font);
    for (HICON icon : m_icons) {
        if (icon != nullptr)
            ::DestroyIcon(icon);
    }
    if (m_comStarted) {
        using CoUninitializeFunction = void(WINAPI *)();
        if (const auto end = comFunction<CoUninitializeFunction>("CoUninitialize"); end != nullptr)
            end();
    }
}

namespace {

// The order the controls are created in. Each new child goes below its
// siblings, the dialog manager's Tab walks them from top to bottom, and a
// screen reader names an edit after the static just above it; so that
// nothing needs moving afterwards: the table's order, which is the tab
// order, but Label1 just before the frequency box, and the frames last, at
// the bottom, so that they paint first and their contents over them.
// Neither labels nor frames take the focus, so the tab order stays.
std::vector<std::size_t> creationOrder()
{
    const auto controls = form::controls();
    const auto label = static_cast<std::size_t>(form::find("Label1"));
    const auto box = static_cast<std::size_t>(form::find("txtFrequency"));
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (i == box)
            order.push_back(label);
        if (i != label && controls[i].kind != form::Kind::Frame)
            order.push_back(i);
    }
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind == form::Kind::Frame)
            order.push_back(i);
    }
    return order;
}

} // namespace

// Each control is created in its place and font, which spares moving it.
void Form1Window::createControls(HFONT font)
{
    auto *const instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(m_window, GWLP_HINSTANCE));
    const auto controls = form::controls();
    std::vector<HWND> created(controls.size());
    for (const std::size_t i : creationOrder()) {
        const form::Control &entry = controls[i];
        const NativeKind native = nativeKind(entry.kind);
        const RECT &place = m_places[i];
        HWND control = ::CreateWindowExW(native.exStyle, native.className, wide(entry.caption),
                                         WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | native.style, place.left, place.top,
                                         place.right - place.left, place.bottom - place.top, m_canvas, controlId(i),
                                         instance, nullptr);
        if (control == nullptr)
            throwLastError("CreateWindowExW");
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (entry.kind == form::Kind::CheckBox)
            ::SendMessageW(control, BM_SETCHECK, entry.initiallyChecked ? BST_CHECKED : BST_UNCHECKED, 0);
        if (entry.kind == form::Kind::TextBox) {
            ::SendMessageW(control, EM_SETLIMITTEXT, 0, 0); // 0: as long as the system allows, not 32767
            ::SetWindowSubclass(control, textBoxProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
        }
        created[i] = control;
    }
    m_controls = std::move(created);
    m_button = control("Command1");
}

// The button's tooltip names the file it writes.
void Form1Window::createTooltip()
{
    auto *const instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(m_window, GWLP_HINSTANCE));
    m_tooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr,
                                  instance, nullptr);
    if (m_tooltip == nullptr)
        return; // the window works without it
    const std::u16string text = commandDescription();
    m_tooltipText.assign(wide(text), text.size());
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS | (m_rightToLeft ? TTF_RTLREADING : 0);
    tool.hwnd = m_canvas;
    tool.uId = reinterpret_cast<UINT_PTR>(m_button);
    tool.lpszText = m_tooltipText.data();
    ::SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The program's icon in the title bar and the taskbar, at the sizes the
// window's DPI asks for; none where the program holds no icon (the tests).
void Form1Window::setIcons()
{
    auto *const instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(m_window, GWLP_HINSTANCE));
    for (const int which : {ICON_SMALL, ICON_BIG}) {
        const int size = ::GetSystemMetricsForDpi(which == ICON_BIG ? SM_CXICON : SM_CXSMICON, m_dpi);
        auto *const icon = static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        if (icon == nullptr)
            continue;
        ::SendMessageW(m_window, WM_SETICON, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(icon));
        if (HICON previous = std::exchange(m_icons[which], icon); previous != nullptr)
            ::DestroyIcon(previous);
    }
}

// What a screen reader calls each text box is form::accessibleName. Windows'
// documented way to say it is a dynamic annotation of the box's name
// (IAccPropServices::SetHwndPropStr, PROPID_ACC_NAME), which Wine does not
// implement. Without one the system names an edit after the static text
// just before it among its siblings; so each box that has no such label
// with its name (all but the frequency box, which follows Label1) gets a
// hidden one just before it. Both happen at the first question of an
// assistive technology, not at start: under Wine each window costs a round
// trip to its server, and COM loads several libraries.
void Form1Window::nameTextBoxes()
{
    if (std::exchange(m_textBoxesNamed, true))
        return;
    auto *const instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(m_window, GWLP_HINSTANCE));
    using CoInitializeExFunction = HRESULT(WINAPI *)(void *, DWORD);
    using CoCreateInstanceFunction = HRESULT(WINAPI *)(REFCLSID, IUnknown *, DWORD, REFIID, void **);
    if (const auto start = comFunction<CoInitializeExFunction>("CoInitializeEx"); start != nullptr) {
        // S_FALSE: started already on this thread, and still to be ended once.
        m_comStarted = SUCCEEDED(start(nullptr, COINIT_APARTMENTTHREADED));
        const auto create = comFunction<CoCreateInstanceFunction>("CoCreateInstance");
        if (create == nullptr
            || FAILED(create(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                             reinterpret_cast<void **>(&m_annotations))))
            m_annotations = nullptr;
    }
    const auto controls = form::controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind != form::Kind::TextBox)
            continue;
        const std::u16string name = form::accessibleName(controls[i]);
        HWND box = m_controls[i];
        if (m_annotations != nullptr) // E_NOTIMPL under Wine
            m_annotations->SetHwndPropStr(box, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                          wide(name));
        HWND previous = ::GetWindow(box, GW_HWNDPREV);
        const auto before = std::find(m_controls.begin(), m_controls.end(), previous);
        if (before != m_controls.end()) {
            const form::Control &neighbour = controls[static_cast<std::size_t>(before - m_controls.begin())];
            if (neighbour.kind == form::Kind::Label && neighbour.caption == name)
                continue;
        }
        HWND label = ::CreateWindowExW(0, WC_STATICW, wide(name), WS_CHILD | SS_NOPREFIX, 0, 0, 0, 0, m_canvas, nullptr,
                                       instance, nullptr);
        if (label != nullptr) // just below the box's predecessor, so just above the box
            ::SetWindowPos(label, previous != nullptr ? previous : HWND_TOP, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

// The annotations go with the boxes: the service keeps them by window. No
// question while the window is destroyed names them anew.
void Form1Window::clearTextBoxNames()
{
    m_textBoxesNamed = true;
    if (m_annotations != nullptr) {
        const auto controls = form::controls();
        for (std::size_t i = 0; i < controls.size(); ++i) {
            if (controls[i].kind == form::Kind::TextBox)
                m_annotations->ClearHwndProps(m_controls[i], static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                              &PROPID_ACC_NAME, 1);
        }
        std::exchange(m_annotations, nullptr)->Release();
    }
}

// Lays the form out for a DPI in the message font at that DPI: every
// control measured in it, the form's scale rule, and where each control
// stands on the canvas.
void Form1Window::layOut(UINT dpi, HFONT font)
{
    const auto controls = form::controls();
    std::vector<form::Needed> needed;
    int frequencyWidth = 0;
    {
        const Measure measure(font, dpi);
        for (const form::Control &entry : controls)
            needed.push_back(measure.needed(entry.kind, wide(entry.caption)));
        // The edit's margins depend on its font; before the controls exist,
        // an edit of the same kind is asked, as a message-only window, which
        // needs no parent and is never shown.
        HWND box = m_controls.empty() ? ::CreateWindowExW(nativeKind(form::Kind::TextBox).exStyle, WC_EDITW, nullptr,
                                                          WS_CHILD, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)
                                      : control("txtFrequency");
        if (box == nullptr)
            throwLastError("CreateWindowExW");
        ::SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        frequencyWidth = measure.frequencyWidth(box);
        if (m_controls.empty())
            ::DestroyWindow(box);
    }
    const form::Layout layout = form::layOut(dpi / 1440.0, needed, frequencyWidth);
    m_pixelsPerTwip = layout.pixelsPerTwip;
    m_canvasSize = {layout.clientWidth, layout.clientHeight};
    m_dpi = dpi;

    // Frames hold no windows here: what the form places inside a frame is a
    // sibling on the canvas, offset by the frame's place. Mirroring needs no
    // help, since the system mirrors the whole canvas.
    m_places.clear();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        form::Rect place = layout.places[i];
        if (controls[i].container >= 0) {
            const form::Rect &frame = layout.places[static_cast<std::size_t>(controls[i].container)];
            place.left += frame.left;
            place.top += frame.top;
        }
        m_places.push_back({place.left, place.top, place.right(), place.bottom()});
    }
}

// Lays the window out anew for a DPI, or for the same DPI when the message
// font changed: the font at that DPI, the layout, every control moved into
// its new place and font, then the window's size.
void Form1Window::applyDpi(UINT dpi, const RECT *suggested)
{
    HFONT font = createMessageFont(dpi);
    try {
        layOut(dpi, font);
    } catch (...) {
        ::DeleteObject(font);
        throw;
    }
    ::SetWindowPos(m_canvas, nullptr, 0, 0, m_canvasSize.cx, m_canvasSize.cy,
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    HFONT previousFont = std::exchange(m_font, font);
    const auto controls = form::controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const RECT &place = m_places[i];
        ::SendMessageW(m_controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::SetWindowPos(m_controls[i], nullptr, place.left, place.top, place.right - place.left,
                       place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (previousFont != nullptr)
        ::DeleteObject(previousFont);
    setIcons();
    fitWindow(suggested);
    ::InvalidateRect(m_window, nullptr, TRUE);
}

// The window takes the canvas's size, but no more than the work area of its
// monitor (the screen less the taskbar); what does not fit scrolls. A scroll
// bar takes room from the client area, so the window grows by its width or
// height where the work area allows: a window too high for the work area
// still shows the whole width, with a vertical bar beside it.
void Form1Window::fitWindow(const RECT *suggested)
{
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(m_window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    RECT frame{0, 0, m_canvasSize.cx, m_canvasSize.cy};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, m_dpi);

    RECT current{};
    if (suggested != nullptr)
        current = *suggested;
    else
        ::GetWindowRect(m_window, &current);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromRect(&current, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT &work = monitor.rcWork;
    const auto workWidth = static_cast<int>(work.right - work.left);
    const auto workHeight = static_cast<int>(work.bottom - work.top);

    auto width = static_cast<int>(frame.right - frame.left);
    auto height = static_cast<int>(frame.bottom - frame.top);
    if (height > workHeight)
        width += ::GetSystemMetricsForDpi(SM_CXVSCROLL, m_dpi);
    if (width > workWidth)
        height += ::GetSystemMetricsForDpi(SM_CYHSCROLL, m_dpi);
    width = std::min(width, workWidth);
    height = std::min(height, workHeight);
    const int left = std::clamp(static_cast<int>(current.left), static_cast<int>(work.left),
                                static_cast<int>(work.right) - width);
    const int top = std::clamp(static_cast<int>(current.top), static_cast<int>(work.top),
                               static_cast<int>(work.bottom) - height);
    RECT now{};
    ::GetWindowRect(m_window, &now);
    if (now.left != left || now.top != top || now.right - now.left != width || now.bottom - now.top != height)
        ::SetWindowPos(m_window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    updateScrollBars();
}

// Each scroll bar's page is the client area; showing one bar narrows the
// client area for the other, so this settles in at most a few rounds.
void Form1Window::updateScrollBars()
{
    if (m_updatingScrollBars)
        return;
    m_updatingScrollBars = true;
    RECT client{};
    for (int round = 0; round < 3; ++round) {
        ::GetClientRect(m_window, &client);
        const SIZE page{client.right, client.bottom};
        const auto set = [this](int bar, int size, int pageSize, LONG &position) {
            position = std::clamp(static_cast<int>(position), 0, std::max(0, size - pageSize));
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            info.nMax = size - 1;
            info.nPage = static_cast<UINT>(std::max(0, pageSize));
            info.nPos = position;
            ::SetScrollInfo(m_window, bar, &info, TRUE);
        };
        set(SB_HORZ, m_canvasSize.cx, page.cx, m_scrolled.x);
        set(SB_VERT, m_canvasSize.cy, page.cy, m_scrolled.y);
        RECT after{};
        ::GetClientRect(m_window, &after);
        if (after.right == client.right && after.bottom == client.bottom)
            break;
    }
    m_updatingScrollBars = false;
    // Not yet while the window is being created, and only when it moved.
    if (m_canvas != nullptr && (m_canvasAt.x != -m_scrolled.x || m_canvasAt.y != -m_scrolled.y)) {
        m_canvasAt = {-m_scrolled.x, -m_scrolled.y};
        ::SetWindowPos(m_canvas, nullptr, m_canvasAt.x, m_canvasAt.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void Form1Window::scroll(int bar, int request)
{
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(m_window, bar, &info);
    const int line = static_cast<int>(300 * m_pixelsPerTwip); // a row of check boxes
    int position = info.nPos;
    switch (request) {
    case SB_LINEUP:
        position -= line;
        break;
    case SB_LINEDOWN:
        position += line;
        break;
    case SB_PAGEUP:
        position -= static_cast<int>(info.nPage);
        break;
    case SB_PAGEDOWN:
        position += static_cast<int>(info.nPage);
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        position = info.nTrackPos;
        break;
    case SB_TOP:
        position = info.nMin;
        break;
    case SB_BOTTOM:
        position = info.nMax;
        break;
    default:
        return;
    }
    (bar == SB_HORZ ? m_scrolled.x : m_scrolled.y) = position;
    updateScrollBars();
}

// A control that takes the focus while out of sight is scrolled into view.
void Form1Window::scrollIntoView(HWND control)
{
    const auto found = std::find(m_controls.begin(), m_controls.end(), control);
    if (found == m_controls.end())
        return;
    const RECT &place = m_places[static_cast<std::size_t>(found - m_controls.begin())];
    RECT client{};
    ::GetClientRect(m_window, &client);
    const auto reveal = [](LONG &scrolled, LONG first, LONG last, LONG page) {
        if (last - scrolled > page)
            scrolled = last - page;
        if (first < scrolled)
            scrolled = first;
    };
    const POINT before = m_scrolled;
    reveal(m_scrolled.x, place.left, place.right, client.right);
    reveal(m_scrolled.y, place.top, place.bottom, client.bottom);
    if (before.x != m_scrolled.x || before.y != m_scrolled.y)
        updateScrollBars();
}

HWND Form1Window::control(std::string_view objectName) const
{
    const int position = form::find(objectName);
    if (position < 0)
        throw std::invalid_argument("no control named " + std::string(objectName));
    return m_controls.at(static_cast<std::size_t>(position));
}

ConfigSnapshot Form1Window::gatherSnapshot() const
{
    ConfigSnapshot snapshot;
    const auto controls = form::controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].kind == form::Kind::CheckBox)
            form::store(snapshot, controls[i], ::SendMessageW(m_controls[i], BM_GETCHECK, 0, 0) == BST_CHECKED);
        else if (controls[i].kind == form::Kind::TextBox)
            form::store(snapshot, controls[i], fromWide(windowText(m_controls[i])));
    }
    return snapshot;
}

void Form1Window::setOutputDirectory(std::filesystem::path directory)
{
    m_outputDirectory = std::move(directory);
}

std::filesystem::path Form1Window::outputDirectory() const
{
    return m_outputDirectory.empty() ? ProgramFolder() : m_outputDirectory;
}

std::u16string Form1Window::commandDescription() const
{
    try {
        return form::commandDescription(pathForDisplay(outputDirectory() / kConfigFileName));
    } catch (const ConfigWriteError &) {
        return form::commandDescription(std::nullopt);
    }
}

// The command handles no error itself beyond showing it: the report names
// the failure, and the window keeps every edit for the retry. Success shows
// nothing.
void Form1Window::createConfigFile()
{
    runCommand(m_window, m_rightToLeft, [this] { WriteConfigFile(gatherSnapshot(), outputDirectory()); });
}

bool Form1Window::handleDialogMessage(MSG &message)
{
    if (m_window == nullptr)
        return false;
    // The dialog manager would send Enter to a default button, and this
    // window has none: Enter presses the button only when it has the focus.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && message.hwnd == m_button
        && m_button != nullptr) {
        createConfigFile();
        return true;
    }
    return ::IsDialogMessageW(m_window, &message) != FALSE;
}

LRESULT Form1Window::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        // A window that is not a dialog keeps no focus of its own: without
        // this, the focus would land on the window itself after a message
        // box or another program, and keys would go nowhere.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(m_window, focus))
                m_focus = focus;
        } else if (m_focus != nullptr && ::IsWindow(m_focus)) {
            ::SetFocus(m_focus);
        }
        return 0;
    case WM_COMMAND: {
        const auto position = static_cast<std::size_t>(LOWORD(wParam)) - kFirstControlId;
        if (position >= m_controls.size())
            return 0; // IDOK and IDCANCEL from Enter and Escape
        const int notification = HIWORD(wParam);
        if (notification == BN_SETFOCUS || notification == EN_SETFOCUS)
            scrollIntoView(m_controls[position]);
        else if (notification == BN_CLICKED && form::controls()[position].kind == form::Kind::Button)
            createConfigFile();
        return 0;
    }
    case WM_DPICHANGED:
        applyDpi(LOWORD(wParam), reinterpret_cast<const RECT *>(lParam));
        return 0;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETNONCLIENTMETRICS)
            applyDpi(m_dpi, nullptr); // the message font changed
        break;
    case WM_SIZE:
        updateScrollBars();
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        scroll(message == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL: {
        // Touchpads and smooth wheels send parts of a notch: they add up.
        m_wheelDelta += GET_WHEEL_DELTA_WPARAM(wParam);
        const int lines = m_wheelDelta / WHEEL_DELTA;
        m_wheelDelta %= WHEEL_DELTA;
        for (int i = 0; i < std::abs(lines); ++i)
            scroll(SB_VERT, lines > 0 ? SB_LINEUP : SB_LINEDOWN);
        return 0;
    }
    case WM_DESTROY:
        clearTextBoxNames();
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        m_window = nullptr;
        break;
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

LRESULT CALLBACK Form1Window::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *self = static_cast<Form1Window *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
        self->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<Form1Window *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // Nothing may be thrown into the system's code that called us.
    try {
        return self->handleMessage(message, wParam, lParam);
    } catch (const std::exception &error) {
        showUnexpectedError(window, self->m_rightToLeft, error);
    } catch (...) {
        showUnexpectedError(window, self->m_rightToLeft, std::runtime_error("an unknown error occurred"));
    }
    return 0;
}

// The canvas passes what its controls tell their parent on to the window.
// The button's tooltip is made when the pointer first comes over the button:
// a tooltip window costs megabytes under Wine, and most starts never need it.
LRESULT CALLBACK Form1Window::canvasProcedure(HWND canvas, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        ::SetWindowLongPtrW(canvas, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
    }
    if (message == WM_COMMAND)
        return ::SendMessageW(::GetParent(canvas), message, wParam, lParam);
    if (message == WM_SETCURSOR) {
        auto *self = reinterpret_cast<Form1Window *>(::GetWindowLongPtrW(canvas, GWLP_USERDATA));
        if (self != nullptr && self->m_tooltip == nullptr && self->m_button != nullptr
            && reinterpret_cast<HWND>(wParam) == self->m_button) {
            try {
                self->createTooltip();
            } catch (...) { // no room for its text: the button works without it
            }
        }
    }
    return ::DefWindowProcW(canvas, message, wParam, lParam);
}

// A text box: a paste takes the clipboard's text as one line, whether by
// WM_PASTE (Ctrl+V, the context menu, a middle click) or by Shift+Insert,
// which Wine's edit handles without sending WM_PASTE; and the first question
// of an assistive technology (WM_GETOBJECT) has the window name the boxes.
LRESULT CALLBACK Form1Window::textBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                               DWORD_PTR window)
{
    try { // nothing may be thrown into the system's code that called us
        const bool shiftInsert = message == WM_KEYDOWN && wParam == VK_INSERT && ::GetKeyState(VK_SHIFT) < 0;
        if ((message == WM_PASTE || shiftInsert) && pasteAsOneLine(box))
            return 0;
        if (message == WM_GETOBJECT)
            reinterpret_cast<Form1Window *>(window)->nameTextBoxes();
    } catch (...) { // the box works as the system's edit does
    }
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(box, textBoxProcedure, id);
    return ::DefSubclassProc(box, message, wParam, lParam);
}

int runMessageLoop(Form1Window &window)
{
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 1;
        if (window.handleDialogMessage(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace ornivex::win32
