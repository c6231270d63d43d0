#include "ansi_code_page.h"
#include "config_file_writer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages for Qt strings.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << '"' << bytes.toStdString() << '"';
}

using namespace ornivex;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

const QByteArray kInitialFile = readFile(QStringLiteral(ORNIVEX_TEST_DATA "/initial_state.golden"));

TEST(AnsiCodePage, ConvertsEachCharacterToOneByte)
{
    const std::pair<const char16_t *, QByteArray> rows[] = {
        {u"plain <name>=1 [x]", "plain <name>=1 [x]"},
        {u"\u00e9\u00fc\u00ff\u00a0\u00a9", "\xe9\xfc\xff\xa0\xa9"},
        {u"\u20ac\u2026\u2122\u0178\u0152", "\x80\x85\x99\x9f\x8c"},
        {u"\u0081\u008d\u0100\u4e2d\u2028", "?????"}, // one '?' each, never 0x1A
        {u"a\U0001F600b", "a?b"},                     // outside the BMP
        {u"\xd800x\xdc00", "?x?"},                    // lone surrogates
        {u"tab\tbell\a", "tab\tbell\a"},              // control bytes stay
    };
    for (const auto &[text, expected] : rows)
        EXPECT_EQ(toAnsiCodePage(QString::fromUtf16(text)), expected);
}

TEST(FormatConfigFile, GivesTheExactBytes)
{
    const QByteArray longText(100000, 'x');
    struct Row {
        std::function<void(ConfigSnapshot &)> change;
        QByteArray from, to; // what changes against the initial-state file
    };
    const Row rows[] = {
        {[](ConfigSnapshot &) {}, {}, {}},
        {[](ConfigSnapshot &s) { s.flags.fill(true); }, "=0\r\n", "=1\r\n"},
        {[](ConfigSnapshot &s) { s.messages[6] = " [Settings] a=b ]["; }, "<6>\r\n", "<6> [Settings] a=b ][\r\n"},
        {[](ConfigSnapshot &s) { s.messages[7] = QString::fromUtf16(u"caf\u00e9 \u20ac5 \u4e2d\U0001F600!"); },
         "<7>\r\n", "<7>caf\351 \2005 ?\?!\r\n"},
        {[](ConfigSnapshot &s) { s.messages[8] = "a\r\nb\nc\rd\n\n"; }, "<8>\r\n", "<8>a  b c d  \r\n"},
        {[](ConfigSnapshot &s) { s.frequency = "5\r\n"; }, {}, {}}, // a line break is no number
        {[&](ConfigSnapshot &s) { s.messages[9] = QString::fromLatin1(longText); }, "<9>\r\n",
         "<9>" + longText + "\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(&row - rows);
        ConfigSnapshot snapshot = ConfigSnapshot::initial();
        row.change(snapshot);
        const QByteArray file = FormatConfigFile(snapshot);
        EXPECT_EQ(file, row.from.isEmpty() ? kInitialFile : QByteArray(kInitialFile).replace(row.from, row.to));
        EXPECT_EQ(file.count("\r\n"), 46);
        EXPECT_EQ(file.count('\n'), 46);
        EXPECT_EQ(file.count('\r'), 46);
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
            EXPECT_EQ(IsFrequencyNumber(QString::fromLatin1(typed)), isNumber);
            ConfigSnapshot snapshot = ConfigSnapshot::initial();
            snapshot.frequency = QString::fromLatin1(typed);
            const QByteArray line = "\r\nmessagefrequency=" + QByteArray(isNumber ? typed : "2") + "\r\n";
            EXPECT_TRUE(FormatConfigFile(snapshot).contains(line));
        }
    }
}

class WriteConfigFileTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(dir)); }
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    mode_t mode() const
    {
        struct stat info = {};
        return ::stat(QFile::encodeName(target).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    void writeEarlier(const QByteArray &content, QFileDevice::Permissions permissions)
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        file.setPermissions(permissions);
    }

    bool mountSmallDisk()
    {
        m_mounted = ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=64k") == 0;
        return m_mounted;
    }

    // The write must fail with the number and a description that names the
    // file, keep any earlier file byte for byte and leave no stray file.
    void expectFailure(const QString &directory, int number, const ConfigSnapshot &snapshot = ConfigSnapshot::initial())
    {
        const QString path = directory + "/ORNIVEX_CONFIG.txt";
        const QByteArray earlier = readFile(path);
        const auto entries = [this] {
            return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        const QStringList entriesBefore = entries();
        try {
            WriteConfigFile(snapshot, QFile::encodeName(directory).toStdString());
            ADD_FAILURE() << "the write succeeded";
        } catch (const ConfigWriteError &error) {
            EXPECT_EQ(error.number(), number);
            EXPECT_EQ(error.description(), "Cannot write " + path + ": " + qt_error_string(number));
        }
        EXPECT_EQ(readFile(path), earlier);
        EXPECT_EQ(entries(), entriesBefore);
    }

    QTemporaryDir m_root;
    const QString dir = m_root.filePath("work");
    const QString target = dir + "/ORNIVEX_CONFIG.txt";
    bool m_mounted = false;
};

TEST_F(WriteConfigFileTest, ReplacesALongerFileInTheGivenDirectoryOnly)
{
    const QStringList workingDirectory = QDir::current().entryList(QDir::AllEntries | QDir::Hidden);
    writeEarlier(QByteArray(5000, 'z'), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString &directory : {dir, dir + "/", dir + "//"}) {
        WriteConfigFile(ConfigSnapshot::initial(), QFile::encodeName(directory).toStdString());
        EXPECT_EQ(readFile(target), kInitialFile) << directory.toStdString();
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"ORNIVEX_CONFIG.txt"});
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::Hidden), workingDirectory);
}

TEST_F(WriteConfigFileTest, NewFileFollowsTheUmaskAndReplacedFileKeepsModeAndOwner)
{
    const mode_t previous = ::umask(027);
    WriteConfigFile(ConfigSnapshot::initial(), QFile::encodeName(dir).toStdString());
    ::umask(previous);
    EXPECT_EQ(mode(), 0640u);
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0604), 0);
    WriteConfigFile(ConfigSnapshot::initial(), QFile::encodeName(dir).toStdString());
    EXPECT_EQ(mode(), 0604u);

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another owner";
    ASSERT_EQ(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0600), 0);
    WriteConfigFile(ConfigSnapshot::initial(), QFile::encodeName(dir).toStdString());
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(mode(), 0600u);
}

TEST_F(WriteConfigFileTest, ALinkedFileIsReplacedWhereItLivesAndTheLinkStays)
{
    ASSERT_TRUE(QDir(dir).mkdir("server"));
    ASSERT_TRUE(QFile::link("server/live.txt", target)); // relative and dangling at first
    WriteConfigFile(ConfigSnapshot::initial(), QFile::encodeName(dir).toStdString());
    EXPECT_TRUE(QFileInfo(target).isSymLink());
    EXPECT_EQ(readFile(dir + "/server/live.txt"), kInitialFile);
}

TEST_F(WriteConfigFileTest, FailsOnAMissingDirectoryOrADirectoryInTheWay)
{
    expectFailure(dir + "/missing", ENOENT);
    ASSERT_TRUE(QDir(dir).mkdir("ORNIVEX_CONFIG.txt"));
    expectFailure(dir, EISDIR);
}

TEST_F(WriteConfigFileTest, FailsOnAFullDisk)
{
    if (!mountSmallDisk())
        GTEST_SKIP() << "cannot mount a small tmpfs (" << qt_error_string(errno).toStdString()
                     << "); run as root to test a full disk";
    writeEarlier("[WeaponBan]\r\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    snapshot.messages[9] = QString(100000, u'x'); // more than the disk holds
    expectFailure(dir, ENOSPC, snapshot);
}

// Permissions do not bind root: run_as_nobody.sh runs these two unprivileged.
TEST_F(WriteConfigFileTest, FailsOnAReadOnlyFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root; run_as_nobody.sh runs this case unprivileged";
    writeEarlier("[WeaponBan]\r\n", QFileDevice::ReadOwner);
    expectFailure(dir, EACCES);
}

TEST_F(WriteConfigFileTest, FailsOnAnUnwritableDirectory)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root; run_as_nobody.sh runs this case unprivileged";
    writeEarlier("[WeaponBan]\r\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    expectFailure(dir, EACCES);
}

} // namespace
