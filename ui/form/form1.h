#pragma once

// The one description of the window Form1 that both windows, Qt and Win32,
// realise: every control with its kind, container, caption, place in twips
// (1/1440 inch) and tab index, and the rule that turns twips into pixels.
// A window only creates its native controls from this table, measures them
// in its own font and puts them where layOut() says.

#include "config_file_writer.h"
#include "option_catalogue.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ornivex::form {

inline constexpr std::u16string_view kWindowTitle = u"ORNIVEX_CONFIG";
inline constexpr std::u16string_view kReportTitle = u"ORNIVEX_CONFIG - Error";

// A rectangle in twips or pixels, measured from the top left of the client
// area of its container: a frame, or the window for frames and the button.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int right() const { return left + width; }  // one past the last column
    int bottom() const { return top + height; } // one past the last row
    bool operator==(const Rect &) const = default;
};

// The window's client area, in twips.
inline constexpr Rect kClientArea{0, 0, 8265, 6510};

enum class Kind { Frame, CheckBox, TextBox, Label, Button };

// What a control holds for the configuration file.
enum class Holds { Nothing, Flag, Frequency, Message };

struct Control {
    std::string_view name; // the control's own name, or its array's: "chkWeapon"
    int index;             // its index in that array; -1 for a control of its own
    Kind kind;
    int container; // the position in controls() of its frame; -1 for the window
    Rect twips;
    int tabIndex;
    std::u16string caption; // a caption, or a text box's initial text
    bool initiallyChecked;
    Holds holds;
    FlagGroup group; // for a flag: its group; its entry is `index`

    // "chkWeapon_3" for an array's member, else the name itself.
    std::string objectName() const;
    bool takesFocus() const { return kind != Kind::Frame && kind != Kind::Label; }
};

// Every control, in tab-index order: Frame1 and the weapons, Frame2 and the
// grenades, Frame3 and the messages, Frame4, the settings, the frequency box
// and its label, and Command1. A frame comes before what it contains.
std::span<const Control> controls();

// The position in controls() of the control with that object name, or -1.
int find(std::string_view objectName);

// The controls that take the keyboard focus, in the order Tab visits them.
std::vector<int> focusOrder();

// Puts what a control shows into the snapshot: a check box's state or a
// text box's text. Controls that hold nothing are ignored.
void store(ConfigSnapshot &snapshot, const Control &control, bool checked);
void store(ConfigSnapshot &snapshot, const Control &control, std::u16string text);

// What a window measured of one control in its own font, in pixels: the
// least size that shows the caption uncut. 0 where a side has no minimum
// (a text box's width; a frame's height).
struct Needed {
    int width = 0;
    int height = 0;
};

struct Layout {
    double pixelsPerTwip = 0;
    std::vector<Rect> places; // one per control, in pixels, left to right
    int clientWidth = 0;
    int clientHeight = 0;
};

// The scale rule: one scale for every control, the least that is at least
// `basePixelsPerTwip` (the screen's dots per inch / 1440) and lets every
// control have its needed size and the frequency box `frequencyWidth`
// pixels (its widest text, "-32768") beside its label's needed width.
// Every edge is scaled alike, so controls that touch in twips touch in
// pixels; then the frequency box keeps its right edge and grows to the left
// to its widest text, and the label gives up the width it does not need.
// `needed` holds one entry per control.
Layout layOut(double basePixelsPerTwip, std::span<const Needed> needed, int frequencyWidth);

// A place mirrored in a container of the given width, for right to left.
Rect mirrored(const Rect &place, int containerWidth);

// What a screen reader calls a control that takes the focus, the same in
// every window: a check box or the button by its caption, a message box
// "Message 0" to "Message 9" after its line in the file, the frequency box by
// its label.
std::u16string accessibleName(const Control &control);

// A text pasted into a one-line box as the box should hold it: every line
// break (CR LF, CR or LF) becomes one space, and nothing after it is lost.
std::u16string pastedText(std::u16string_view text);

// What the button's tooltip says it writes: the file's full path, or, where
// the program's folder cannot be found, that it is unknown.
std::u16string commandDescription(std::optional<std::u16string_view> filePath);

} // namespace ornivex::form
