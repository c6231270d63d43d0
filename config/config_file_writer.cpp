#include "config_file_writer.h"

#include "ansi_code_page.h"
#include "unicode_text.h"

#include <algorithm>
#include <cstdint>

namespace ornivex {
namespace {

// --- The number rule -------------------------------------------------------

// Scans a decimal number without converting it: keeps the first significant
// digits and where the decimal point falls relative to them, so that no
// exponent or digit string, however long, can overflow.
struct DecimalScan {
    static constexpr int kKeptDigits = 8; // 5 whole digits, a rounding digit, spare
    bool negative = false;
    std::array<int, kKeptDigits> digits{};
    int keptCount = 0;
    bool droppedNonZero = false;    // a non-zero digit beyond the kept ones
    std::int64_t pointPosition = 0; // value = 0.d1d2d3... x 10^pointPosition
};

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool scanDecimal(std::u16string_view text, DecimalScan &scan)
{
    std::size_t pos = 0;
    const std::size_t end = text.size();
    if (pos < end && (text[pos] == u'+' || text[pos] == u'-')) {
        scan.negative = text[pos] == u'-';
        ++pos;
    }
    bool anyDigit = false;
    bool afterPoint = false;
    for (; pos < end; ++pos) {
        const char16_t c = text[pos];
        if (c == u'.') {
            if (afterPoint)
                return false;
            afterPoint = true;
            continue;
        }
        if (!isDigit(c))
            break;
        anyDigit = true;
        const int digit = c - u'0';
        if (digit == 0 && scan.keptCount == 0) {
            if (afterPoint)
                --scan.pointPosition; // a leading zero after the point
            continue;
        }
        if (scan.keptCount < DecimalScan::kKeptDigits)
            scan.digits[static_cast<std::size_t>(scan.keptCount++)] = digit;
        else
            scan.droppedNonZero = scan.droppedNonZero || digit != 0;
        if (!afterPoint)
            ++scan.pointPosition;
    }
    if (!anyDigit)
        return false;
    if (pos < end && (text[pos] == u'e' || text[pos] == u'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < end && (text[pos] == u'+' || text[pos] == u'-')) {
            negativeExponent = text[pos] == u'-';
            ++pos;
        }
        if (pos == end || !isDigit(text[pos]))
            return false;
        // Saturates far beyond any position a text can reach, so it never overflows.
        constexpr std::int64_t kExponentCap = std::int64_t{1} << 52;
        std::int64_t exponent = 0;
        for (; pos < end && isDigit(text[pos]); ++pos)
            exponent = std::min(kExponentCap, exponent * 10 + (text[pos] - u'0'));
        scan.pointPosition += negativeExponent ? -exponent : exponent;
    }
    return pos == end;
}

// --- The file --------------------------------------------------------------

std::string frequencyValue(std::u16string_view text)
{
    if (IsFrequencyNumber(text))
        return toAnsiCodePage(text);
    return std::string(OptionCatalogue::kFrequencyFallback);
}

std::size_t flagSlot(FlagGroup group, int index)
{
    const int slot = OptionCatalogue::group(group).firstFlag + OptionCatalogue::entry(group, index).index;
    return static_cast<std::size_t>(slot);
}

// A message in the code page, on one line: a line break inside it would add
// lines or sections to the file. CR and LF bytes come only from CR and LF, so
// they are replaced after the conversion, in one pass over the bytes.
std::string messageLine(std::u16string_view text)
{
    std::string bytes = toAnsiCodePage(text);
    std::replace_if(
        bytes.begin(), bytes.end(), [](char byte) { return byte == '\r' || byte == '\n'; }, ' ');
    return bytes;
}

} // namespace

bool &ConfigSnapshot::flag(FlagGroup group, int index)
{
    return flags.at(flagSlot(group, index));
}

bool ConfigSnapshot::flag(FlagGroup group, int index) const
{
    return flags.at(flagSlot(group, index));
}

ConfigSnapshot ConfigSnapshot::initial()
{
    ConfigSnapshot snapshot;
    for (const FlagGroupInfo &info : OptionCatalogue::groups()) {
        for (const FlagEntry &entry : info.entries)
            snapshot.flag(info.group, entry.index) = entry.initiallyChecked;
    }
    snapshot.frequency = fromAscii(OptionCatalogue::kFrequencyInitialText);
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i)
        snapshot.messages.at(static_cast<std::size_t>(i)) = fromAscii(OptionCatalogue::messageInitialText(i));
    return snapshot;
}

bool IsFrequencyNumber(std::u16string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;

    DecimalScan scan;
    if (!scanDecimal(text.substr(begin, end - begin), scan))
        return false;
    if (scan.keptCount == 0) // no significant digit: the value is zero
        return true;
    constexpr int kMaxWholeDigits = 5; // 0.1 x 10^6 = 100000 is out of range
    if (scan.pointPosition > kMaxWholeDigits)
        return false;
    if (scan.pointPosition <= 0)
        return true; // below one, so it rounds to 0 or to +-1

    const int wholeDigits = static_cast<int>(scan.pointPosition);
    int whole = 0;
    for (int i = 0; i < wholeDigits; ++i)
        whole = whole * 10 + (i < scan.keptCount ? scan.digits[static_cast<std::size_t>(i)] : 0);
    const int roundingDigit = wholeDigits < scan.keptCount ? scan.digits[static_cast<std::size_t>(wholeDigits)] : 0;
    bool restNonZero = scan.droppedNonZero;
    for (int i = wholeDigits + 1; i < scan.keptCount; ++i)
        restNonZero = restNonZero || scan.digits[static_cast<std::size_t>(i)] != 0;
    // Half to even: exactly .5 rounds up only from an odd whole number.
    if (roundingDigit > 5 || (roundingDigit == 5 && (restNonZero || whole % 2 == 1)))
        ++whole;
    return scan.negative ? whole <= 32768 : whole <= 32767;
}

std::string FormatConfigFile(const ConfigSnapshot &snapshot)
{
    std::string out;
    std::size_t messageLength = 0;
    for (const std::u16string &message : snapshot.messages)
        messageLength += message.size();
    out.reserve(1024 + messageLength);

    const auto line = [&out](std::string_view bytes) {
        out.append(bytes);
        out.append("\r\n");
    };
    const auto sectionHeader = [&out, &line](std::string_view name) {
        if (!out.empty())
            out.append("\r\n\r\n"); // two empty lines between sections
        out += '[';
        out.append(name);
        line("]");
    };

    for (const FlagGroupInfo &info : OptionCatalogue::groups()) {
        sectionHeader(info.sectionName);
        for (const FlagEntry &entry : info.entries) {
            out.append(entry.key);
            line(snapshot.flag(info.group, entry.index) ? "1" : "0");
        }
        if (info.group == FlagGroup::Settings) {
            out.append(OptionCatalogue::kFrequencyKey);
            line(frequencyValue(snapshot.frequency));
        }
    }
    sectionHeader(OptionCatalogue::kMessageSectionName);
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i) {
        out += '<';
        out += static_cast<char>('0' + i);
        out += '>';
        line(messageLine(snapshot.messages.at(static_cast<std::size_t>(i))));
    }
    return out;
}

void WriteConfigFile(const ConfigSnapshot &snapshot, const std::filesystem::path &directory)
{
    ReplaceFileContents(directory, kConfigFileName, FormatConfigFile(snapshot));
}

} // namespace ornivex
