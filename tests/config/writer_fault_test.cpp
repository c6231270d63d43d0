// Failed writes on a real file system: each must raise an error that names the
// file and its reason, keep the earlier file byte for byte and leave no stray file.
#include "config_file_writer.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>

#include <sys/mount.h>
#include <unistd.h>

using namespace ornivex;

namespace {

constexpr uid_t kNobody = 65534;
const QByteArray kEarlier = "[WeaponBan]\r\nshotgun=1\r\n"; // any earlier content

struct Outcome {
    int number = 0;
    QString description; // empty on success
};

struct FaultRow {
    const char *name;
    int expectedNumber;
    bool unprivileged; // needs a user whom permissions bind, unlike root
    // Prepares the obstacle in the test directory; returns the directory to
    // write into, or an empty string with a reason in *skip.
    std::function<QString(const QString &dir, QString *skip)> arrange;
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
};

void PrintTo(const FaultRow &row, std::ostream *out)
{
    *out << '"' << row.name << '"';
}

void writeEarlier(const QString &path, QFileDevice::Permissions permissions)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kEarlier);
    file.close();
    file.setPermissions(permissions);
}

void chownTo(const QString &path, uid_t owner)
{
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), owner, owner), 0) << path.toStdString();
}

Outcome writeInProcess(const ConfigSnapshot &snapshot, const QString &directory)
{
    try {
        WriteConfigFile(snapshot, directory);
        return {};
    } catch (const ConfigWriteError &error) {
        return {error.number(), error.description()};
    }
}

// Runs the write as "nobody" so that file permissions apply; as a user other
// than root they apply already.
Outcome writeUnprivileged(const QString &directory, QString *skip)
{
    QProcess probe;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty()) {
            *skip = "setpriv is not installed, so the write cannot run as an unprivileged user";
            return {};
        }
        probe.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                              WRITE_CONFIG_PROBE, directory});
    } else {
        probe.start(WRITE_CONFIG_PROBE, {directory});
    }
    if (!probe.waitForFinished(60000) || probe.exitCode() != 0) {
        *skip = "could not run the probe as an unprivileged user: " + probe.readAllStandardError();
        return {};
    }
    const QString out = QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
    if (out == "ok")
        return {};
    return {out.section('\t', 0, 0).toInt(), out.section('\t', 1)};
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

class WriterFault : public testing::TestWithParam<FaultRow> {
protected:
    void TearDown() override
    {
        if (!m_mountPoint.isEmpty())
            ::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH);
    }
    QTemporaryDir m_root;
    QString m_mountPoint;
};

TEST_P(WriterFault, KeepsTheEarlierFileAndLeavesNoStrayFile)
{
    const FaultRow &row = GetParam();
    ASSERT_TRUE(m_root.isValid());
    ASSERT_TRUE(QFile::setPermissions(m_root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner | QFileDevice::ExeOther));
    const QString work = m_root.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));

    QString skip;
    const QString directory = row.arrange(work, &skip);
    if (directory.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    if (directory.startsWith(work + "/tmpfs"))
        m_mountPoint = work + "/tmpfs";

    const QString target = directory + "/ORNIVEX_CONFIG.txt";
    const bool hadEarlierFile = QFileInfo(target).isFile();
    const QStringList entriesBefore = entriesOf(QFileInfo(target).path());

    const Outcome outcome = row.unprivileged ? writeUnprivileged(directory, &skip)
                                             : writeInProcess(row.snapshot, directory);
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();

    EXPECT_EQ(outcome.number, row.expectedNumber);
    EXPECT_EQ(outcome.description.toStdString(),
              ("Cannot write " + target + ": " + qt_error_string(row.expectedNumber)).toStdString());
    if (hadEarlierFile) {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), kEarlier);
    }
    EXPECT_EQ(entriesOf(QFileInfo(target).path()), entriesBefore);
}

QString mountTmpfs(const QString &work, QString *skip)
{
    const QString mountPoint = work + "/tmpfs";
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0) {
        *skip = QString("cannot mount a small tmpfs here (%1); run as root to test a full disk")
                    .arg(qt_error_string(errno));
        return {};
    }
    writeEarlier(mountPoint + "/ORNIVEX_CONFIG.txt", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return mountPoint;
}

ConfigSnapshot snapshotLargerThan64k()
{
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    snapshot.messages[9] = QString(100000, u'x');
    return snapshot;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriterFault,
    testing::Values(
        FaultRow{"DirectoryMissing", ENOENT, false,
                 [](const QString &work, QString *) { return work + "/missing"; }},
        FaultRow{"DirectoryWhereTheFileGoes", EISDIR, false,
                 [](const QString &work, QString *) {
                     QDir(work).mkdir("ORNIVEX_CONFIG.txt");
                     return work;
                 }},
        FaultRow{"DiskFull", ENOSPC, false, mountTmpfs, snapshotLargerThan64k()},
        FaultRow{"ReadOnlyFile", EACCES, true,
                 [](const QString &work, QString *) {
                     writeEarlier(work + "/ORNIVEX_CONFIG.txt", QFileDevice::ReadOwner | QFileDevice::ReadOther);
                     if (::geteuid() == 0) {
                         chownTo(work, kNobody);
                         chownTo(work + "/ORNIVEX_CONFIG.txt", kNobody);
                     }
                     return work;
                 }},
        FaultRow{"UnwritableDirectory", EACCES, true,
                 [](const QString &work, QString *) {
                     const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                         | QFileDevice::ReadOther | QFileDevice::WriteOther;
                     writeEarlier(work + "/ORNIVEX_CONFIG.txt", everyone);
                     QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                     | QFileDevice::ReadOther | QFileDevice::ExeOther);
                     return work;
                 }}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
