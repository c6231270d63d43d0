// The scale rule on measurements a window might make: whatever the font and
// the screen, every control keeps its proportions, fits its container, and
// neither overlaps a neighbour nor cuts a caption.

#include "form1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>

using namespace ornivex;

namespace {

struct Row {
    const char *name;
    double base;        // pixels per twip of the screen
    int frequencyWidth; // pixels the frequency box needs for "-32768"
    std::function<void(std::vector<form::Needed> &)> measure;
    double expectedScale;
};

std::vector<form::Needed> nothingNeeded()
{
    return std::vector<form::Needed>(form::controls().size());
}

form::Needed &neededOf(std::vector<form::Needed> &needed, const char *name)
{
    return needed.at(static_cast<std::size_t>(form::find(name)));
}

const Row kRows[] = {
    {"96 dpi, everything fits", 1.0 / 15, 20, [](auto &) {}, 1.0 / 15},
    {"192 dpi, everything fits", 2.0 / 15, 40, [](auto &) {}, 2.0 / 15},
    // "Grenade Launcher" needs 140 pixels of its 1755 twips.
    {"a long caption grows every control", 1.0 / 15, 20,
     [](auto &n) {
         neededOf(n, "chkWeapon_2") = {140, 15};
     },
     140.0 / 1755},
    {"a tall font grows every control", 1.0 / 15, 20,
     [](auto &n) {
         neededOf(n, "txtMessage_0") = {0, 38};
     },
     38.0 / 285},
    // Label and widest frequency text share the row from 120 to 2235 twips, less the 105 between them.
    {"the frequency row decides", 1.0 / 15, 60,
     [](auto &n) {
         neededOf(n, "Label1") = {100, 13};
     },
     (100 + 60 + 2) / 2010.0},
};

class ScaleRule : public testing::TestWithParam<Row> { };

TEST_P(ScaleRule, KeepsProportionsAndFitsEveryCaption)
{
    const Row &row = GetParam();
    std::vector<form::Needed> needed = nothingNeeded();
    row.measure(needed);
    const form::Layout layout = form::layOut(row.base, needed, row.frequencyWidth);
    EXPECT_DOUBLE_EQ(layout.pixelsPerTwip, row.expectedScale);
    EXPECT_EQ(layout.clientWidth, std::lround(form::kClientArea.width * row.expectedScale));

    const auto controls = form::controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const form::Rect &place = layout.places[i];
        SCOPED_TRACE(controls[i].objectName());
        EXPECT_GE(place.width, needed[i].width);
        EXPECT_GE(place.height, needed[i].height);
        const form::Rect container = controls[i].container < 0
            ? form::Rect{0, 0, layout.clientWidth, layout.clientHeight}
            : layout.places[static_cast<std::size_t>(controls[i].container)];
        EXPECT_TRUE(place.left >= 0 && place.top >= 0 && place.right() <= container.width
                    && place.bottom() <= container.height);
        for (std::size_t j = 0; j < i; ++j) {
            const form::Rect &other = layout.places[j];
            const bool overlap = controls[j].container == controls[i].container && place.left < other.right()
                && other.left < place.right() && place.top < other.bottom() && other.top < place.bottom();
            EXPECT_FALSE(overlap) << "overlaps " << controls[j].objectName();
        }
    }
    // The frequency box shows its widest text and keeps its right edge.
    const form::Rect &box = layout.places[static_cast<std::size_t>(form::find("txtFrequency"))];
    EXPECT_GE(box.width, row.frequencyWidth);
    EXPECT_EQ(box.right(), std::lround(2235 * row.expectedScale));
}

INSTANTIATE_TEST_SUITE_P(Measurements, ScaleRule, testing::ValuesIn(kRows), [](const auto &row) {
    std::string name = row.param.name;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

TEST(Form1, FocusVisitsTheControlsThatTakeIt)
{
    const std::vector<int> order = form::focusOrder();
    ASSERT_EQ(order.size(), 37U);
    EXPECT_EQ(form::controls().size(), 42U); // tab indices 0 to 41
    EXPECT_EQ(form::controls()[static_cast<std::size_t>(order.front())].objectName(), "chkWeapon_0");
    EXPECT_EQ(form::controls()[static_cast<std::size_t>(order.back())].objectName(), "Command1");
    EXPECT_THROW(form::layOut(1.0 / 15, {}, 0), std::invalid_argument);
}

// A paste shows in a box what the file will hold: one space per line break.
TEST(Form1, PastedLineBreaksBecomeOneSpaceEach)
{
    const std::pair<std::u16string, std::u16string> kPastes[] = {
        {u"line one\nline two\r\nthree", u"line one line two three"},
        {u"a\rb\n\nc\r\n", u"a b  c "},
        {u"\r\r\n\n", u"   "},
        {u"no break", u"no break"},
    };
    for (const auto &[pasted, shown] : kPastes)
        EXPECT_EQ(form::pastedText(pasted), shown);
}

} // namespace
