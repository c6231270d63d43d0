#include "ansi_code_page.h"
#include "config_file_writer.h"
#include "unicode_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

using namespace ornivex;

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<unreadable>";
}

const std::string kInitialFile = readFile(ORNIVEX_TEST_DATA "/initial_state.golden");

// The initial-state file with every `from` replaced by `to`.
std::string initialFileWith(const std::string &from, const std::string &to)
{
    std::string file = kInitialFile;
    for (std::size_t at = file.find(from); !from.empty() && at != std::string::npos;
         at = file.find(from, at + to.size()))
        file.replace(at, from.size(), to);
    return file;
}

TEST(AnsiCodePage, ConvertsEachCharacterToOneByte)
{
    using namespace std::literals;
    const std::pair<std::u16string_view, std::string_view> rows[] = {
        {u"plain <name>=1 [x]"sv, "plain <name>=1 [x]"},
        {u"\u00e9\u00fc\u00ff\u00a0\u00a9", "\xe9\xfc\xff\xa0\xa9"},
        {u"\u20ac\u2026\u2122\u0178\u0152", "\x80\x85\x99\x9f\x8c"},
        {u"\u0081\u008d\u0100\u4e2d\u2028", "?????"},  // one '?' each, never 0x1A
        {u"a\U0001F600b", "a?b"},                      // outside the BMP
        {u"\xd800x\xdc00", "?x?"},                     // lone surrogates
        {u"tab\tbell\a\x1b[1m", "tab\tbell\a\x1b[1m"}, // control bytes stay
        {u"a\0b\x1a"
         "c"sv,
         "a?b?c"}, // but NUL and SUB would end the file early
    };
    for (const auto &[text, expected] : rows)
        EXPECT_EQ(toAnsiCodePage(text), expected);
}

TEST(FormatConfigFile, GivesTheExactBytes)
{
    const std::string longText(100000, 'x');
    struct Row {
        std::function<void(ConfigSnapshot &)> change;
        std::string from, to; // what changes against the initial-state file
    };
    const Row rows[] = {
        {[](ConfigSnapshot &) {}, {}, {}},
        {[](ConfigSnapshot &s) { s.flags.fill(true); }, "=0\r\n", "=1\r\n"},
        {[](ConfigSnapshot &s) { s.messages[6] = u" [Settings] a=b ]["; }, "<6>\r\n", "<6> [Settings] a=b ][\r\n"},
        {[](ConfigSnapshot &s) { s.messages[7] = u"caf\u00e9 \u20ac5 \u4e2d\U0001F600!"; }, "<7>\r\n",
         "<7>caf\351 \2005 ?\?!\r\n"},
        {[](ConfigSnapshot &s) { s.messages[8] = u"a\r\nb\nc\rd\n\n"; }, "<8>\r\n", "<8>a  b c d  \r\n"},
        {[](ConfigSnapshot &s) { s.frequency = u"5\r\n"; }, {}, {}}, // a line break is no number
        {[&](ConfigSnapshot &s) { s.messages[9] = fromAscii(longText); }, "<9>\r\n", "<9>" + longText + "\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(&row - rows);
        ConfigSnapshot snapshot = ConfigSnapshot::initial();
        row.change(snapshot);
        const std::string file = FormatConfigFile(snapshot);
        EXPECT_EQ(file, initialFileWith(row.from, row.to));
        EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 46);
        EXPECT_EQ(std::count(file.begin(), file.end(), '\r'), 46);
    }
    EXPECT_THROW(ConfigSnapshot().flag(FlagGroup::Settings, 6), std::out_of_range);
}

// The rows read best grouped as they are.
// clang-format off
// Written as typed: texts that round, half to even, into -32768 to 32767.
const std::vector<const char *> kNumbers{
    "32767", "32766.5", "32767.4999999999", "-32768", "-32768.5", "0", "0.5", "-0.5", "7", "-3",
    "2.75", ".5", "5.", "+12", "000000000000032767", " 5", "5  ", "  -4.0  ", "3.2767e4", "1e+3",
    "12E-1", "-1e-999999", "0e99999999999999999999999", "1e-99999999999999999999",
};
// Written as "2": out of range, not a number, or a notation this tool does not read.
const std::vector<const char *> kNotNumbers{
    "32768", "32767.5", "-32768.51", "-32769", "99999", "100000", "3.2768E4", "1e5", "1e999999",
    "\t5", "5\t", "5 5", "", "   ", "+", "-", ".", "-.", "1.2.3", "+-1", "1e", "1e+", "e5", "1e5.0",
    "abc", "12a", "1,000", "1,5", "&H10", "&O7", "0x10", "1D2", "5-", "(5)", "$5",
};
// clang-format on

TEST(Frequency, DecidesTheWrittenValue)
{
    for (const bool isNumber : {true, false}) {
        for (const char *typed : isNumber ? kNumbers : kNotNumbers) {
            SCOPED_TRACE(typed);
            EXPECT_EQ(IsFrequencyNumber(fromAscii(typed)), isNumber);
            ConfigSnapshot snapshot = ConfigSnapshot::initial();
            snapshot.frequency = fromAscii(typed);
            const std::string line = "\r\nmessagefrequency=" + std::string(isNumber ? typed : "2") + "\r\n";
            EXPECT_NE(FormatConfigFile(snapshot).find(line), std::string::npos);
        }
    }
}

} // namespace
