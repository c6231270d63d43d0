#include "config_file_writer.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

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

// Written as typed: texts that round, half to even, into -32768 to 32767.
const char *const kNumbers[] = {
    "32767", "32766.5", "32767.4999999999", "-32768", "-32768.5", "0", "0.5", "-0.5", "7", "-3",
    "2.75", ".5", "5.", "+12", "000000000000032767", " 5", "5  ", "  -4.0  ", "3.2767e4", "1e+3",
    "12E-1", "-1e-999999", "0e99999999999999999999999", "1e-99999999999999999999",
};
// Written as "2": out of range, not a number, or a notation this tool does not read.
const char *const kNotNumbers[] = {
    "32768", "32767.5", "-32768.51", "-32769", "99999", "100000", "3.2768E4", "1e5", "1e999999",
    "\t5", "5\t", "5 5", "", "   ", "+", "-", ".", "-.", "1.2.3", "+-1", "1e", "1e+", "e5", "1e5.0",
    "abc", "12a", "1,000", "1,5", "&H10", "&O7", "0x10", "1D2", "5-", "(5)", "$5",
};

std::vector<FrequencyRow> frequencyRows()
{
    std::vector<FrequencyRow> rows;
    for (const char *text : kNumbers)
        rows.push_back({text, true});
    for (const char *text : kNotNumbers)
        rows.push_back({text, false});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, Frequency, testing::ValuesIn(frequencyRows()));

TEST(Frequency, SurvivesVeryLongDigitStrings)
{
    const QString nines(400, u'9');
    const QString zeros(400, u'0');
    EXPECT_FALSE(IsFrequencyNumber(nines));
    EXPECT_TRUE(IsFrequencyNumber("0." + zeros + "1"));
    EXPECT_TRUE(IsFrequencyNumber(nines + "e-396"));  // 9999.99... rounds to 10000
    EXPECT_FALSE(IsFrequencyNumber(nines + "e-395")); // 99999.9...
    EXPECT_FALSE(IsFrequencyNumber("32767.5" + zeros));
    EXPECT_TRUE(IsFrequencyNumber("32767.4" + nines));
    EXPECT_FALSE(IsFrequencyNumber("-32768.5" + zeros + "1"));
}

class WriteConfigFileTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString target() const { return dir.filePath("ORNIVEX_CONFIG.txt"); }
    mode_t mode() const
    {
        struct stat info {};
        return ::stat(QFile::encodeName(target()).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
};

TEST_F(WriteConfigFileTest, ReplacesALongerFileInTheGivenDirectoryOnly)
{
    const QStringList workingDirectory = QDir::current().entryList(QDir::AllEntries | QDir::Hidden);
    QFile earlier(target());
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly) && earlier.write(QByteArray(5000, 'z')) == 5000);
    earlier.close();
    for (const QString &directory : {dir.path(), dir.path() + "/", dir.path() + "//"}) {
        WriteConfigFile(ConfigSnapshot::initial(), directory);
        EXPECT_EQ(readFile(target()), initialStateFile()) << directory.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"ORNIVEX_CONFIG.txt"});
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::Hidden), workingDirectory);
}

TEST_F(WriteConfigFileTest, NewFileFollowsTheUmaskAndReplacedFileKeepsItsMode)
{
    const mode_t previous = ::umask(027);
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    ::umask(previous);
    EXPECT_EQ(mode(), 0640u);
    ASSERT_EQ(::chmod(QFile::encodeName(target()).constData(), 0604), 0);
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    EXPECT_EQ(mode(), 0604u);
}

TEST_F(WriteConfigFileTest, ReplacedFileKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another owner";
    const QByteArray path = QFile::encodeName(target());
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.constData(), 0600), 0);
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    struct stat info {};
    ASSERT_EQ(::stat(path.constData(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(mode(), 0600u);
}

TEST_F(WriteConfigFileTest, ALinkedFileIsReplacedWhereItLivesAndTheLinkStays)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("server"));
    ASSERT_TRUE(QFile::link("server/live.txt", target())); // relative and dangling at first
    WriteConfigFile(ConfigSnapshot::initial(), dir.path());
    EXPECT_TRUE(QFileInfo(target()).isSymLink());
    EXPECT_EQ(readFile(dir.filePath("server/live.txt")), initialStateFile());
}

} // namespace
