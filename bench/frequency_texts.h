#pragma once

#include <string>
#include <vector>

// What an operator may type into the frequency box, valid or not; all short.
inline std::vector<std::u16string> typicalFrequencyTexts()
{
    return {
        u"2",
        u"0",
        u" 150 ",
        u"-32768",
        u"32767",
        u"32768",
        u"32767.5",
        u"-32768.5",
        u"1e4",
        u"+12",
        u"3.14159",
        u"-0.5E1",
        u"0.0000000000000000001e19",
        u"abc",
        u"12a",
        u"",
        u"   ",
        u"1e99999999999999999999",
    };
}

// Texts that make a number parser work hard: thousands of digits in the
// number, in its fraction or in its exponent.
inline std::vector<std::u16string> hostileFrequencyTexts()
{
    constexpr std::size_t kLength = 10000;
    return {
        std::u16string(kLength, u'9'),
        u"0." + std::u16string(kLength, u'0') + u'1',
        u"1e" + std::u16string(kLength, u'9'),
        u"1e-" + std::u16string(kLength, u'9'),
        std::u16string(kLength, u'1') + u"e-9996",
        std::u16string(kLength, u' ') + u'7' + std::u16string(kLength, u' '),
    };
}
