#pragma once

#include "config_file_writer.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct IAccPropServices;

namespace ornivex::win32 {

// The program's only window, realised with the system's own controls: one
// per entry of the form's table, in the system's message font at the
// window's DPI, placed where the form's scale rule puts them, and the
// "Create Config File" command that writes the file next to the executable.
//
// The controls stand on a canvas, a child window of the client area's size;
// when the window is smaller than the canvas (a small screen, large text),
// scroll bars move the canvas.
class Form1Window {
public:
    // Creates the window, hidden, with every control in its initial state and
    // the focus on the first weapon box. Throws std::system_error.
    explicit Form1Window(HINSTANCE instance);
    ~Form1Window();
    Form1Window(const Form1Window &) = delete;
    Form1Window &operator=(const Form1Window &) = delete;

    HWND handle() const { return m_window; }

    // For the message loop: true when the message was a keyboard message for
    // the window and has been handled (Tab, Shift+Tab and Space through the
    // dialog manager, Enter on the focused button here).
    bool handleDialogMessage(MSG &message);

    // Where the command writes: the program's folder, found anew at each
    // press, unless a folder is set here.
    void setOutputDirectory(std::filesystem::path directory);

    // The native control of a form entry, by its object name ("chkWeapon_2").
    HWND control(std::string_view objectName) const;
    // The DPI the window is laid out for.
    UINT dpi() const { return m_dpi; }
    double pixelsPerTwip() const { return m_pixelsPerTwip; }
    bool rightToLeft() const { return m_rightToLeft; }

    ConfigSnapshot gatherSnapshot() const;

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK canvasProcedure(HWND canvas, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK textBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR window);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void layOut(UINT dpi, HFONT font);
    void createControls(HFONT font);
    void createTooltip();
    void setIcons();
    void nameTextBoxes();
    void clearTextBoxNames();
    void applyDpi(UINT dpi, const RECT *suggested);
    void fitWindow(const RECT *suggested);
    void updateScrollBars();
    void scroll(int bar, int request);
    void scrollIntoView(HWND control);

    // The command: gathers the window's state and writes the file, or shows
    // the error report.
    void createConfigFile();
    std::filesystem::path outputDirectory() const;
    std::u16string commandDescription() const;

    HWND m_window = nullptr;
    HWND m_canvas = nullptr;
    HWND m_tooltip = nullptr;
    HWND m_button = nullptr; // Command1, asked for on every message
    // One native control per entry of form::controls(), in the same order.
    std::vector<HWND> m_controls;
    // Where each control stands on the canvas, in pixels; before mirroring.
    std::vector<RECT> m_places;
    HFONT m_font = nullptr;
    HICON m_icons[2] = {}; // the title bar's and the taskbar's: ICON_SMALL, ICON_BIG
    UINT m_dpi = 0;
    double m_pixelsPerTwip = 0;
    bool m_rightToLeft = false;
    SIZE m_canvasSize{};
    POINT m_scrolled{};   // how far the canvas is scrolled, in pixels
    int m_wheelDelta = 0; // wheel turned but not yet scrolled, in WHEEL_DELTA parts
    POINT m_canvasAt{};   // where the canvas stands in the client area: -m_scrolled once placed
    bool m_updatingScrollBars = false;
    // The control that had the focus when the window was last deactivated.
    HWND m_focus = nullptr;
    std::filesystem::path m_outputDirectory; // empty: the program's folder
    std::wstring m_tooltipText;
    // The text boxes' names for assistive technology, given at its first
    // question: the system's annotation service and whether COM was
    // started for it.
    bool m_textBoxesNamed = false;
    IAccPropServices *m_annotations = nullptr;
    bool m_comStarted = false;
};

// True when the user's UI language reads right to left.
bool userLanguageReadsRightToLeft();

// The message loop of the program's one window; returns the exit code.
int runMessageLoop(Form1Window &window);

} // namespace ornivex::win32
