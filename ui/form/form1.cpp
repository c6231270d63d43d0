#include "form1.h"

#include "unicode_text.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace ornivex::form {
namespace {

constexpr int kRowPitch = 300;
constexpr Rect kFrequencyBox{1860, 2100, 375, 285};
constexpr Rect kFrequencyLabel{120, 2160, 1635, 255};

// Weapons fill two columns of seven; two captions are longer than the rest.
Rect weaponPlace(int index)
{
    const bool rightColumn = index >= 7;
    const int row = rightColumn ? index - 7 : index;
    const int width = index == 2 ? 1755 : index == 10 ? 1575 : 1335;
    return {rightColumn ? 1980 : 120, 300 + kRowPitch * row, width, 255};
}

Rect grenadePlace(int index)
{
    return {120, 300 + kRowPitch * index, index == 1 || index == 4 ? 1575 : 1455, 255};
}

Rect settingsPlace(int index)
{
    return {120, 300 + kRowPitch * index, index == 5 ? 1995 : 2055, 255};
}

Rect messagePlace(int index)
{
    return {60, 240 + kRowPitch * index, 7935, 285};
}

// The table, built once from the catalogue in tab-index order.
std::vector<Control> buildControls()
{
    std::vector<Control> table;
    const auto add = [&table](Control control) {
        control.tabIndex = static_cast<int>(table.size());
        table.push_back(std::move(control));
        return static_cast<int>(table.size()) - 1;
    };
    // A control of its own, not one of an array.
    const auto single = [&add](std::string_view name, Kind kind, int container, Rect twips, std::u16string caption,
                               Holds holds = Holds::Nothing) {
        return add({name, -1, kind, container, twips, 0, std::move(caption), false, holds, FlagGroup{}});
    };
    const auto frame = [&single](std::string_view name, std::string_view caption, Rect twips) {
        return single(name, Kind::Frame, -1, twips, fromAscii(caption));
    };
    const auto flags = [&add](FlagGroup group, int container, Rect (*place)(int)) {
        const FlagGroupInfo &info = OptionCatalogue::group(group);
        for (const FlagEntry &entry : info.entries) {
            add({info.checkBoxArrayName, entry.index, Kind::CheckBox, container, place(entry.index), 0,
                 fromAscii(entry.caption), entry.initiallyChecked, Holds::Flag, group});
        }
    };

    const int frame1 = frame("Frame1", OptionCatalogue::group(FlagGroup::WeaponBan).frameCaption, {60, 60, 3795, 2535});
    flags(FlagGroup::WeaponBan, frame1, weaponPlace);
    const int frame2 = frame("Frame2", OptionCatalogue::group(FlagGroup::GrenadeBan).frameCaption,
                             {3960, 60, 1755, 2535});
    flags(FlagGroup::GrenadeBan, frame2, grenadePlace);
    const int frame3 = frame("Frame3", OptionCatalogue::kMessageFrameCaption, {60, 2640, 8115, 3375});
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i) {
        add({OptionCatalogue::kMessageArrayName, i, Kind::TextBox, frame3, messagePlace(i), 0,
             fromAscii(OptionCatalogue::messageInitialText(i)), false, Holds::Message, FlagGroup{}});
    }
    const int frame4 = frame("Frame4", OptionCatalogue::group(FlagGroup::Settings).frameCaption,
                             {5820, 60, 2355, 2535});
    flags(FlagGroup::Settings, frame4, settingsPlace);
    single("txtFrequency", Kind::TextBox, frame4, kFrequencyBox, fromAscii(OptionCatalogue::kFrequencyInitialText),
           Holds::Frequency);
    single("Label1", Kind::Label, frame4, kFrequencyLabel, fromAscii(OptionCatalogue::kFrequencyLabel));
    single("Command1", Kind::Button, -1, {6660, 6120, 1515, 315}, u"Create Config File");
    return table;
}

const std::vector<Control> &table()
{
    static const std::vector<Control> kControls = buildControls();
    return kControls;
}

} // namespace

std::string Control::objectName() const
{
    return index < 0 ? std::string(name) : std::string(name) + '_' + std::to_string(index);
}

std::span<const Control> controls()
{
    return table();
}

int find(std::string_view objectName)
{
    const auto &all = table();
    const auto found = std::find_if(
        all.begin(), all.end(), [objectName](const Control &control) { return control.objectName() == objectName; });
    return found == all.end() ? -1 : static_cast<int>(found - all.begin());
}

std::vector<int> focusOrder()
{
    std::vector<int> order;
    for (const Control &control : table()) {
        if (control.takesFocus())
            order.push_back(control.tabIndex);
    }
    return order;
}

void store(ConfigSnapshot &snapshot, const Control &control, bool checked)
{
    if (control.holds == Holds::Flag)
        snapshot.flag(control.group, control.index) = checked;
}

void store(ConfigSnapshot &snapshot, const Control &control, std::u16string text)
{
    if (control.holds == Holds::Frequency)
        snapshot.frequency = std::move(text);
    else if (control.holds == Holds::Message)
        snapshot.messages.at(static_cast<std::size_t>(control.index)) = std::move(text);
}

Layout layOut(double basePixelsPerTwip, std::span<const Needed> needed, int frequencyWidth)
{
    const auto &all = table();
    if (needed.size() != all.size())
        throw std::invalid_argument("layOut needs one measurement per control");
    const int boxIndex = find("txtFrequency");
    const int labelIndex = find("Label1");

    double scale = basePixelsPerTwip;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Rect &twips = all[i].twips;
        scale = std::max({scale, needed[i].width / double(twips.width), needed[i].height / double(twips.height)});
    }
    // The label's text, the gap between label and box, and the box's widest
    // text share the row (a pixel more for rounding).
    const int labelGap = kFrequencyBox.left - kFrequencyLabel.right();
    const int rowTwips = kFrequencyBox.right() - kFrequencyLabel.left - labelGap;
    const int labelNeeded = needed[static_cast<std::size_t>(labelIndex)].width;
    scale = std::max(scale, (labelNeeded + frequencyWidth + 2) / double(rowTwips));

    // Scaling both edges keeps neighbours that touch in twips touching in pixels.
    const auto px = [scale](int twips) { return static_cast<int>(std::lround(twips * scale)); };
    const auto scaled = [&px](const Rect &twips) {
        return Rect{px(twips.left), px(twips.top), px(twips.right()) - px(twips.left),
                    px(twips.bottom()) - px(twips.top)};
    };
    Layout layout{scale, {}, px(kClientArea.width), px(kClientArea.height)};
    for (const Control &control : all)
        layout.places.push_back(scaled(control.twips));

    Rect &box = layout.places[static_cast<std::size_t>(boxIndex)];
    if (box.width < frequencyWidth) {
        const int right = box.right();
        box.left = right - frequencyWidth;
        box.width = frequencyWidth;
        Rect &label = layout.places[static_cast<std::size_t>(labelIndex)];
        const int gap = px(kFrequencyBox.left) - px(kFrequencyLabel.right());
        label.width = box.left - gap - label.left;
    }
    return layout;
}

Rect mirrored(const Rect &place, int containerWidth)
{
    return {containerWidth - place.right(), place.top, place.width, place.height};
}

std::u16string accessibleName(const Control &control)
{
    if (control.holds == Holds::Message)
        return u"Message " + fromAscii(std::to_string(control.index));
    if (control.holds == Holds::Frequency)
        return table()[static_cast<std::size_t>(find("Label1"))].caption;
    return control.caption;
}

std::u16string pastedText(std::u16string_view text)
{
    std::u16string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        line += text[i] == u'\r' || text[i] == u'\n' ? u' ' : text[i];
    }
    return line;
}

std::u16string commandDescription(std::optional<std::u16string_view> filePath)
{
    if (filePath)
        return u"Writes " + std::u16string(*filePath);
    return u"Writes " + fromAscii(kConfigFileName) + u" into this program's folder, which is unknown";
}

} // namespace ornivex::form
