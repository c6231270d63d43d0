// Failed writes on a real file system: each must raise an error that names the
// file and its reason, keep the earlier file byte for byte and leave no stray file.
#include "config_file_writer.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/mount.h>
#include <unistd.h>

using namespace ornivex;

namespace {

const QByteArray kEarlier = "[WeaponBan]\r\nshotgun=1\r\n";

enum class Obstacle { MissingDirectory, DirectoryInTheWay, FullDisk, ReadOnlyFile, UnwritableDirectory };

struct FaultRow {
    const char *name;
    Obstacle obstacle;
    int expectedNumber;
};

void PrintTo(const FaultRow &row, std::ostream *out)
{
    *out << row.name;
}

class WriterFault : public testing::TestWithParam<FaultRow> {
protected:
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_work).constData(), MNT_DETACH);
        QFile::setPermissions(m_work, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // Puts the obstacle in place; returns the directory to write into.
    QString arrange(Obstacle obstacle)
    {
        const auto earlierFile = [this](QFileDevice::Permissions permissions) {
            QFile file(m_work + "/ORNIVEX_CONFIG.txt");
            EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(kEarlier) == kEarlier.size());
            file.close();
            file.setPermissions(permissions);
        };
        switch (obstacle) {
        case Obstacle::MissingDirectory:
            return m_work + "/missing";
        case Obstacle::DirectoryInTheWay:
            QDir(m_work).mkdir("ORNIVEX_CONFIG.txt");
            break;
        case Obstacle::FullDisk:
            if (::mount("tmpfs", QFile::encodeName(m_work).constData(), "tmpfs", 0, "size=64k") != 0)
                return {};
            m_mounted = true;
            earlierFile(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            m_snapshot.messages[9] = QString(100000, u'x'); // more than the disk holds
            break;
        case Obstacle::ReadOnlyFile:
            earlierFile(QFileDevice::ReadOwner);
            break;
        case Obstacle::UnwritableDirectory:
            earlierFile(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QFile::setPermissions(m_work, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            break;
        }
        return m_work;
    }

    QTemporaryDir m_root;
    QString m_work = m_root.filePath("work");
    bool m_mounted = false;
    ConfigSnapshot m_snapshot = ConfigSnapshot::initial();
};

TEST_P(WriterFault, KeepsTheEarlierFileAndLeavesNoStrayFile)
{
    const FaultRow &row = GetParam();
    const bool permissionCase = row.obstacle == Obstacle::ReadOnlyFile || row.obstacle == Obstacle::UnwritableDirectory;
    if (permissionCase && ::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root; run_as_nobody.sh runs this case unprivileged";
    ASSERT_TRUE(QDir().mkpath(m_work));
    const QString directory = arrange(row.obstacle);
    if (directory.isEmpty())
        GTEST_SKIP() << "cannot mount a small tmpfs (" << qt_error_string(errno).toStdString()
                     << "); run as root to test a full disk";

    const QString target = directory + "/ORNIVEX_CONFIG.txt";
    const auto entries = [&] { return QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
    const QStringList entriesBefore = entries();
    try {
        WriteConfigFile(m_snapshot, directory);
        ADD_FAILURE() << "the write succeeded";
    } catch (const ConfigWriteError &error) {
        EXPECT_EQ(error.number(), row.expectedNumber);
        EXPECT_EQ(error.description(), "Cannot write " + target + ": " + qt_error_string(row.expectedNumber));
    }
    if (QFileInfo(target).isFile()) {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), kEarlier);
    }
    EXPECT_EQ(entries(), entriesBefore);
}

INSTANTIATE_TEST_SUITE_P(Faults, WriterFault,
                         testing::Values(FaultRow{"MissingDirectory", Obstacle::MissingDirectory, ENOENT},
                                         FaultRow{"DirectoryInTheWay", Obstacle::DirectoryInTheWay, EISDIR},
                                         FaultRow{"FullDisk", Obstacle::FullDisk, ENOSPC},
                                         FaultRow{"ReadOnlyFile", Obstacle::ReadOnlyFile, EACCES},
                                         FaultRow{"UnwritableDirectory", Obstacle::UnwritableDirectory, EACCES}),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
