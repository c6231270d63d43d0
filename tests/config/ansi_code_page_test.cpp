#include "ansi_code_page.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QString>

using ornivex::toAnsiCodePage;

struct CodePageRow {
    const char16_t *text;
    QByteArray expected;
};

class AnsiCodePage : public testing::TestWithParam<CodePageRow> {};

TEST_P(AnsiCodePage, ConvertsEachCharacterToOneByte)
{
    EXPECT_EQ(toAnsiCodePage(QString::fromUtf16(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnsiCodePage,
    testing::Values(
        CodePageRow{u"plain <name>=1 [x]", "plain <name>=1 [x]"},
        CodePageRow{u"\u00e9\u00fc\u00ff\u00a0\u00a9", "\xe9\xfc\xff\xa0\xa9"},
        CodePageRow{u"\u20ac\u2026\u2122\u0178\u0152", "\x80\x85\x99\x9f\x8c"},
        // Undefined or missing in the code page: one '?' each, never 0x1A.
        CodePageRow{u"\u0081\u008d\u0100\u4e2d\u2028", "?????"},
        CodePageRow{u"a\U0001F600b", "a?b"},                     // outside the BMP
        CodePageRow{u"\xd800x\xdc00", "?x?"},                   // lone surrogates
        CodePageRow{u"tab\tbell\a", QByteArray("tab\tbell\a")})); // control bytes stay
