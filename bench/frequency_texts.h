#pragma once

#include <QString>

#include <vector>

// What an operator may type into the frequency box, valid or not; all short.
inline std::vector<QString> typicalFrequencyTexts()
{
    return {
        QStringLiteral("2"),
        QStringLiteral("0"),
        QStringLiteral(" 150 "),
        QStringLiteral("-32768"),
        QStringLiteral("32767"),
        QStringLiteral("32768"),
        QStringLiteral("32767.5"),
        QStringLiteral("-32768.5"),
        QStringLiteral("1e4"),
        QStringLiteral("+12"),
        QStringLiteral("3.14159"),
        QStringLiteral("-0.5E1"),
        QStringLiteral("0.0000000000000000001e19"),
        QStringLiteral("abc"),
        QStringLiteral("12a"),
        QStringLiteral(""),
        QStringLiteral("   "),
        QStringLiteral("1e99999999999999999999"),
    };
}

// Texts that make a number parser work hard: thousands of digits in the
// number, in its fraction or in its exponent.
inline std::vector<QString> hostileFrequencyTexts()
{
    constexpr qsizetype kLength = 10000;
    return {
        QString(kLength, u'9'),
        QStringLiteral("0.") + QString(kLength, u'0') + u'1',
        QStringLiteral("1e") + QString(kLength, u'9'),
        QStringLiteral("1e-") + QString(kLength, u'9'),
        QString(kLength, u'1') + QStringLiteral("e-9996"),
        QString(kLength, u' ') + u'7' + QString(kLength, u' '),
    };
}
