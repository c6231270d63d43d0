#include "config_file_writer.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

using namespace ornivex;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray initialStateFile()
{
    return readFile(QStringLiteral(ORNIVEX_TEST_DATA "/initial_state.golden"));
}

// The initial-state file with one whole line replaced.
QByteArray withLine(const QByteArray &before, const QByteArray &after)
{
    QByteArray file = initialStateFile();
    const QByteArray needle = "\r\n" + before + "\r\n";
    EXPECT_EQ(file.count(needle), 1) << before.constData();
    return file.replace(needle, "\r\n" + after + "\r\n");
}

struct FileRow {
    const char *name;
    std::function<void(ConfigSnapshot &)> change;
    std::function<QByteArray()> expected;
};

void PrintTo(const FileRow &row, std::ostream *out)
{
    *out << '"' << row.name << '"';
}

class FormatRows : public testing::TestWithParam<FileRow> {};

TEST_P(FormatRows, GivesTheExactBytes)
{
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    GetParam().change(snapshot);
    const QByteArray file = FormatConfigFile(snapshot);
    EXPECT_EQ(file, GetParam().expected());
    EXPECT_EQ(file.count("\r\n"), 46);
    EXPECT_EQ(file.count('\n'), 46);
    EXPECT_EQ(file.count('\r'), 46);
}

const QByteArray kLongText(100000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Snapshots, FormatRows,
    testing::Values(
        FileRow{"InitialState", [](ConfigSnapshot &) {}, initialStateFile},
        FileRow{"AllFlagsSet", [](ConfigSnapshot &s) { s.flags.fill(true); },
                [] { return initialStateFile().replace("=0\r\n", "=1\r\n"); }},
        FileRow{"NoFlagsSet", [](ConfigSnapshot &s) { s.flags.fill(false); },
                [] { return initialStateFile().replace("=1\r\n", "=0\r\n"); }},
        FileRow{"IniCharactersStayAsTyped",
                [](ConfigSnapshot &s) { s.messages[6] = " [Settings] a=b ]["; },
                [] { return withLine("<6>", "<6> [Settings] a=b ]["); }},
        FileRow{"CharactersOutsideTheCodePage",
                [](ConfigSnapshot &s) { s.messages[7] = QString::fromUtf16(u"caf\u00e9 \u20ac5 \u4e2d\U0001F600!"); },
                [] { return withLine("<7>", "<7>caf\xe9 \x80" "5 ?" "?!"); }},
        FileRow{"LineBreaksBecomeSpaces",
                [](ConfigSnapshot &s) { s.messages[8] = "a\r\nb\nc\rd\n\n"; },
                [] { return withLine("<8>", "<8>a  b c d  "); }},
        FileRow{"FrequencyWithLineBreakFallsBack",
                [](ConfigSnapshot &s) { s.frequency = "5\r\n"; },
                [] { return initialStateFile(); }},
        FileRow{"HundredThousandCharacters",
                [](ConfigSnapshot &s) { s.messages[9] = QString::fromLatin1(kLongText); },
                [] { return withLine("<9>", "<9>" + kLongText); }}),
    [](const auto &row) { return std::string(row.param.name); });

struct FrequencyRow {
    const char *text;
    bool isNumber;
};

void PrintTo(const FrequencyRow &row, std::ostream *out)
{
    *out << '"' << row.text << '"';
}

class Frequency : public testing::TestWithParam<FrequencyRow> {};

TEST_P(Frequency, DecidesTheWrittenValue)
{
    const QString text = QString::fromLatin1(GetParam().text);
    EXPECT_EQ(IsFrequencyNumber(text), GetParam().isNumber);

    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    snapshot.frequency = text;
    const QByteArray expectedLine = "messagefrequency=" + (GetParam().isNumber ? text.toLatin1() : "2");
    EXPECT_TRUE(FormatConfigFile(snapshot).contains("\r\n" + expectedLine + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Frequency,
    testing::Values(
        // The range and rounding half to even at both borders.
        FrequencyRow{"32767", true}, FrequencyRow{"32768", false}, FrequencyRow{"32767.5", false},
        FrequencyRow{"32766.5", true}, FrequencyRow{"32767.4999999999", true},
        FrequencyRow{"-32768", true}, FrequencyRow{"-32768.5", true}, FrequencyRow{"-32768.51", false},
        FrequencyRow{"-32769", false}, FrequencyRow{"99999", false}, FrequencyRow{"100000", false},
        FrequencyRow{"0.5", true}, FrequencyRow{"-0.5", true}, FrequencyRow{"0", true},
        FrequencyRow{"000000000000032767", true}, FrequencyRow{"7", true}, FrequencyRow{"-3", true},
        FrequencyRow{"2.75", true}, FrequencyRow{".5", true}, FrequencyRow{"5.", true},
        FrequencyRow{"+12", true},
        // Spaces around stay in the file; other blanks do not count.
        FrequencyRow{" 5", true}, FrequencyRow{"5  ", true}, FrequencyRow{"  -4.0  ", true},
        FrequencyRow{"\t5", false}, FrequencyRow{"5\t", false}, FrequencyRow{"5 5", false},
        // Exponents, including ones far beyond any range.
        FrequencyRow{"3.2767e4", true}, FrequencyRow{"3.2768E4", false}, FrequencyRow{"1e+3", true},
        FrequencyRow{"12E-1", true}, FrequencyRow{"1e5", false}, FrequencyRow{"1e", false},
        FrequencyRow{"1e+", false}, FrequencyRow{"e5", false}, FrequencyRow{"1e5.0", false},
        FrequencyRow{"1e999999", false}, FrequencyRow{"-1e-999999", true},
        FrequencyRow{"0e99999999999999999999999", true}, FrequencyRow{"1e-99999999999999999999", true},
        // Lone signs and points, and empty texts.
        FrequencyRow{"", false}, FrequencyRow{"   ", false}, FrequencyRow{"+", false},
        FrequencyRow{"-", false}, FrequencyRow{".", false}, FrequencyRow{"-.", false},
        FrequencyRow{"1.2.3", false}, FrequencyRow{"+-1", false},
        // Notations that are deliberately not numbers here.
        FrequencyRow{"abc", false}, FrequencyRow{"12a", false}, FrequencyRow{"1,000", false},
        FrequencyRow{"1,5", false}, FrequencyRow{"&H10", false}, FrequencyRow{"&O7", false},
        FrequencyRow{"0x10", false}, FrequencyRow{"1D2", false}, FrequencyRow{"5-", false},
        FrequencyRow{"(5)", false}, FrequencyRow{"$5", false}));

TEST(Frequency, SurvivesVeryLongDigitStrings)
{
    const QString digits(400, u'9');
    EXPECT_FALSE(IsFrequencyNumber(digits));
    EXPECT_TRUE(IsFrequencyNumber("0." + digits));
    EXPECT_TRUE(IsFrequencyNumber("0." + QString(400, u'0') + "1"));
    EXPECT_TRUE(IsFrequencyNumber(digits + "e-396"));  // 9999.999... rounds to 10000
    EXPECT_FALSE(IsFrequencyNumber(digits + "e-395")); // 99999.99...
    EXPECT_TRUE(IsFrequencyNumber("32766." + QString(400, u'0') + "1"));
    EXPECT_FALSE(IsFrequencyNumber("32767.5" + QString(400, u'0')));
    EXPECT_TRUE(IsFrequencyNumber("32767.4" + QString(400, u'9')));
    EXPECT_FALSE(IsFrequencyNumber("32767.5" + QString(400, u'0') + "1"));
}

class WriteConfigFileTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString target() const { return dir.filePath("ORNIVEX_CONFIG.txt"); }
};

TEST_F(WriteConfigFileTest, WritesIntoTheGivenDirectoryNotTheWorkingOne)
{
    const QStringList before = QDir::current().entryList(QDir::AllEntries | QDir::Hidden);
    for (const QString &directory : {dir.path(), dir.path() + "/", dir.path() + "//"}) {
        QFile::remove(target());
        WriteConfigFile(ConfigSnapshot::initial(), directory);
        EXPECT_EQ(readFile(target()), initialStateFile()) << directory.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"ORNIVEX_CONFIG.txt"});
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::Hidden), before);
}

TEST_F(WriteConfigFileTest, ReplacesALongerFileCompletelyAndRepeatsExactly)
{
    QFile earlier(target());
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write(QByteArray(5000, 'z'));
    earlier.close();
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    EXPECT_EQ(readFile(target()), initialStateFile());
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    EXPECT_EQ(readFile(target()), initialStateFile());
}

TEST_F(WriteConfigFileTest, NewFileFollowsTheUmaskAndReplacedFileKeepsItsMode)
{
    const mode_t previous = ::umask(027);
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(target()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    ASSERT_EQ(::chmod(QFile::encodeName(target()).constData(), 0604), 0);
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    ASSERT_EQ(::stat(QFile::encodeName(target()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
}

TEST_F(WriteConfigFileTest, ALinkedFileIsReplacedWhereItLivesAndTheLinkStays)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("server"));
    const QString real = dir.filePath("server/live.txt");
    ASSERT_TRUE(QFile::link("server/live.txt", target())); // relative and dangling at first
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    EXPECT_TRUE(QFileInfo(target()).isSymLink());
    EXPECT_EQ(readFile(real), initialStateFile());
}

} // namespace
