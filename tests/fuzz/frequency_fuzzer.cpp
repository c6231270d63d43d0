// Checks IsFrequencyNumber against an oracle that reads the notation with a
// regular expression and decides the range by exact decimal comparison.
//
// Input: the first byte chooses the encoding of the rest, even for UTF-8 and
// odd for UTF-16 (little-endian units).

#include "config_file_writer.h"
#include "fuzz_text.h"

#include <QRegularExpression>

#include <string>

namespace {

// Spaces (U+0020 only) around a sign, a mantissa with at least one digit and
// at most one point, and an optional exponent. ASCII digits only.
const QRegularExpression kNumberNotation(QRegularExpression::anchoredPattern(
    QStringLiteral(R"( *([+-]?)(?:([0-9]+)\.?([0-9]*)|\.([0-9]+))(?:[eE]([+-]?)([0-9]+))? *)")));

// Exponents are capped at this magnitude. The mantissa moves the decimal point
// by at most the length of the text, far below the cap, so a capped exponent
// still leaves the point more than six places out, on the same side as the
// true one, with the same verdict: far left is 0, far right out of range.
constexpr long long kExponentCap = 1'000'000'000;

bool oracleIsFrequencyNumber(QStringView text)
{
    const QRegularExpressionMatch match = kNumberNotation.match(text);
    if (!match.hasMatch())
        return false;
    const auto part = [&match](int group) { return match.captured(group).toStdString(); };

    // value = 0.digits x 10^point, with digits free of leading and trailing zeros
    const std::string whole = part(2);
    std::string digits = whole + part(3) + part(4);
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos)
        return true; // zero
    digits = digits.substr(firstSignificant, digits.find_last_not_of('0') + 1 - firstSignificant);

    std::string exponentDigits = part(6);
    exponentDigits.erase(0, exponentDigits.find_first_not_of('0'));
    long long exponent = exponentDigits.size() > 9 ? kExponentCap : std::stoll("0" + exponentDigits);
    if (part(5) == "-")
        exponent = -exponent;
    const long long point = static_cast<long long>(whole.size()) - static_cast<long long>(firstSignificant) + exponent;

    // Half to even, a value rounds into [-32768, 32767] exactly when it lies
    // in [-32768.5, 32767.5). The bounds are 0.327685 x 10^5 and 0.327675 x 10^5,
    // so only a point at 5 needs the digits compared.
    if (point != 5)
        return point < 5;
    return part(1) == "-" ? digits <= "327685" : digits < "327675";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString text = ornivex::fuzz::textFromBytes({data + 1, size - 1}, data[0] % 2 == 1);
    const bool actual = ornivex::IsFrequencyNumber(text.toStdU16String());
    if (actual != oracleIsFrequencyNumber(text))
        ornivex::fuzz::failOn(text,
                              actual ? "IsFrequencyNumber accepts what the oracle rejects"
                                     : "IsFrequencyNumber rejects what the oracle accepts");
    return 0;
}
