// WriteConfigFile on a real file system: every case builds a folder on a
// tmpfs of its own, writes from a child process in the role the case names
// (root, the unprivileged user "nobody", root of a user namespace, under a
// file size limit, on a kernel refusing unnamed files, crashing before the
// data is synced) and then compares every entry of the folder with how it
// was before: only the files the case names may change, each keeps its
// identity, and a failed write changes nothing and opens no file for writing.

#include "config_file_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <optional>

#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace ornivex;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kName = "ORNIVEX_CONFIG.txt";
const std::string kTheFile = "<the file>"; // ORNIVEX_CONFIG.txt in the folder written to

// How the child process writes.
enum Role : unsigned {
    AsRoot = 0,
    AsNobody = 1,        // setgroups, setresgid and setresuid to nobody, as setpriv does
    InUserNamespace = 2, // root of a new user namespace that maps only root
    SizeLimit = 4,       // ulimit -f 1
    NoUnnamedFiles = 8,  // the kernel refuses O_TMPFILE, as some file systems do
    CrashOnSync = 16,    // killed at its first fdatasync, the data written but not yet in place
    NeedsRoot = 32,      // the folder needs other owners, devices or a small tmpfs
};

struct Entry {
    mode_t type;
    ino_t inode;
    uid_t owner;
    gid_t group;
    mode_t mode;
    nlink_t links;
    dev_t device;
    std::string content; // of a regular file, or a link's target
    std::map<std::string, std::string> attributes;
    bool operator==(const Entry &) const = default;
};

std::map<std::string, std::string> attributesOf(const std::string &path)
{
    std::map<std::string, std::string> attributes;
    std::string names(65536, '\0');
    const ssize_t size = ::llistxattr(path.c_str(), names.data(), names.size());
    for (ssize_t start = 0; start < size; start += static_cast<ssize_t>(std::strlen(names.c_str() + start)) + 1) {
        std::string value(65536, '\0');
        const ssize_t length = ::lgetxattr(path.c_str(), names.c_str() + start, value.data(), value.size());
        attributes[names.c_str() + start] = value.substr(0, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    }
    return attributes;
}

// Every entry below the folder, by path relative to it.
std::map<std::string, Entry> listTree(const std::string &root)
{
    std::map<std::string, Entry> tree;
    for (const auto &item : std::filesystem::recursive_directory_iterator(root)) {
        const std::string &path = item.path().native();
        struct stat info = {};
        ::lstat(path.c_str(), &info);
        Entry entry{info.st_mode & S_IFMT, info.st_ino,  info.st_uid, info.st_gid,       info.st_mode & 07777,
                    info.st_nlink,         info.st_rdev, {},          attributesOf(path)};
        if (S_ISREG(info.st_mode)) { // never opens a FIFO, which would wait for a writer
            std::ifstream file(path, std::ios::binary);
            entry.content.assign(std::istreambuf_iterator<char>(file), {});
        }
        if (S_ISLNK(info.st_mode))
            entry.content = std::filesystem::read_symlink(path).native();
        tree.emplace(path.substr(root.size() + 1), entry);
    }
    return tree;
}

// A POSIX access ACL as the kernel stores it in system.posix_acl_access or
// system.posix_acl_default: version 2, then (tag, permissions, id) per entry.
std::string acl(std::initializer_list<std::array<std::uint32_t, 3>> entries)
{
    std::string bytes("\2\0\0\0", 4);
    for (const auto &[tag, permissions, id] : entries) {
        const std::array<std::uint16_t, 2> head{static_cast<std::uint16_t>(tag),
                                                static_cast<std::uint16_t>(permissions)};
        bytes.append(reinterpret_cast<const char *>(head.data()), 4);
        bytes.append(reinterpret_cast<const char *>(&id), 4);
    }
    return bytes;
}
constexpr std::uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 0x10, kOther = 0x20, kAny = ~0u;

// The folder a case builds and writes in.
struct Scene {
    std::string root;
    std::optional<std::string> writeDir{""}; // where the program writes, relative to root; none: no folder
    std::vector<std::string> removed;        // entries the write is to remove
    std::vector<int> held;                   // descriptors the test keeps open meanwhile
    std::future<std::string> reader;         // what a reader of a FIFO received

    std::string path(const std::string &relative) const { return relative.empty() ? root : root + "/" + relative; }

    void file(const std::string &relative, const std::string &content, mode_t mode, uid_t owner = 0,
              gid_t group = 0) const
    {
        std::ofstream file(path(relative), std::ios::binary);
        ASSERT_TRUE(file.write(content.data(), static_cast<std::streamsize>(content.size())).flush());
        file.close();
        ASSERT_EQ(::chmod(path(relative).c_str(), mode), 0);
        own(relative, owner, group);
    }
    void folder(const std::string &relative, mode_t mode, uid_t owner = 0, gid_t group = 0) const
    {
        ASSERT_EQ(::mkdir(path(relative).c_str(), mode), 0);
        ASSERT_EQ(::chmod(path(relative).c_str(), mode), 0);
        own(relative, owner, group);
    }
    void link(const std::string &target, const std::string &relative, uid_t owner = 0) const
    {
        ASSERT_EQ(::symlink(target.c_str(), path(relative).c_str()), 0);
        own(relative, owner, owner);
    }
    // Only root can give an entry away; the cases that need it skip without root.
    void own(const std::string &relative, uid_t owner, gid_t group) const
    {
        ASSERT_TRUE(::geteuid() != 0 || ::lchown(path(relative).c_str(), owner, group) == 0);
    }
    void attribute(const std::string &relative, const char *name, const std::string &value) const
    {
        ASSERT_EQ(::lsetxattr(path(relative).c_str(), name, value.data(), value.size(), 0), 0) << std::strerror(errno);
    }
    void node(const std::string &relative, mode_t type, dev_t device = 0) const
    {
        ASSERT_EQ(::mknod(path(relative).c_str(), type | 0666, device), 0) << std::strerror(errno);
    }
    // A copy another running writer holds, as it does while it writes.
    void lockedCopy(const std::string &relative)
    {
        file(relative, "another writer's copy", 0644);
        held.push_back(::open(path(relative).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
};

struct Outcome {
    int error = -1; // 0, or the ConfigWriteError's number
    int signal = 0; // what ended the child, if anything did
    std::string description;
    std::string refused; // the role this system would not let the child take
};

bool installFilter(unsigned role)
{
    // clang-format off
    std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    if (role & CrashOnSync) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fdatasync, 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    }
    if (role & NoUnnamedFiles) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3));
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])));
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    // clang-format on
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

bool enterUserNamespace()
{
    const auto put = [](const char *file, const char *text) {
        const int fd = ::open(file, O_WRONLY);
        return fd >= 0 && ::write(fd, text, std::strlen(text)) == ssize_t(std::strlen(text)) && ::close(fd) == 0;
    };
    return ::unshare(CLONE_NEWUSER) == 0 && put("/proc/self/setgroups", "deny") && put("/proc/self/uid_map", "0 0 1")
        && put("/proc/self/gid_map", "0 0 1");
}

// Writes from a child process in the given role, its working directory the
// scene's root.
Outcome writeInChild(const Scene &scene, unsigned role, const ConfigSnapshot &snapshot)
{
    constexpr int kRefused = 100;
    std::array<int, 2> channel{};
    if (::pipe2(channel.data(), O_CLOEXEC) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        // Only the report channel stays open: a FIFO end the test holds must
        // not count as this writer's reader.
        constexpr int kReport = 3;
        const auto report = [](const std::string &text, int status) {
            ::_exit(::write(kReport, text.data(), text.size()) == ssize_t(text.size()) ? status : 1);
        };
        const auto require = [&report](bool done, const char *step) {
            if (!done)
                report(std::string(step) + ": " + std::strerror(errno), kRefused);
        };
        if (::dup2(channel[1], kReport) != kReport || ::close_range(kReport + 1, ~0U, 0) != 0)
            ::_exit(1);
        ::umask(027);
        require(::chdir(scene.root.c_str()) == 0, "entering the folder");
        require(!(role & InUserNamespace) || enterUserNamespace(), "a user namespace");
        require(!(role & AsNobody) || ::geteuid() != 0
                    || (::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0
                        && ::setresuid(kNobody, kNobody, kNobody) == 0),
                "becoming nobody");
        const rlimit oneKilobyte{1024, 1024};
        require(!(role & SizeLimit) || ::setrlimit(RLIMIT_FSIZE, &oneKilobyte) == 0, "a file size limit");
        require(!(role & (CrashOnSync | NoUnnamedFiles)) || installFilter(role), "a seccomp filter");
        try {
            WriteConfigFile(snapshot, scene.writeDir ? scene.path(*scene.writeDir) : std::string());
            report("0 ", 0);
        } catch (const ConfigWriteError &error) {
            report(std::to_string(error.number()) + ' ' + error.what(), 0);
        }
    }
    ::close(channel[1]);
    std::string report(4096, '\0'); // one short line, sent in one write
    report.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(channel[0], report.data(), report.size()), 0)));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    else if (WEXITSTATUS(status) == kRefused)
        outcome.refused = report;
    else if (WEXITSTATUS(status) == 0)
        outcome.error = std::stoi(report), outcome.description = report.substr(report.find(' ') + 1);
    return outcome;
}

// Everything that FIFO gets until its writer closes it, or what came within
// 10 s; a reader that leaves closes it as soon as the first bytes arrive.
std::future<std::string> readFifo(const std::string &path, bool leaves = false)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return std::async(std::launch::async, [fd, leaves] {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        pollfd wait{fd, POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline && ::poll(&wait, 1, 100) >= 0) {
            if (leaves && (wait.revents & POLLIN))
                break;
            std::array<char, 4096> buffer{};
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got > 0)
                received.append(buffer.data(), static_cast<std::size_t>(got));
            else if (got == 0 && (wait.revents & POLLHUP))
                break;
        }
        ::close(fd);
        return received;
    });
}

constexpr const char *kMountOptions = "size=16m,mode=755";

struct Case {
    const char *name;
    unsigned role;
    int error;
    std::string shown;
    std::vector<std::string> written;
    std::function<void(Scene &)> arrange;
    const char *mountOptions = kMountOptions;
    int longMessage = 0; // characters in message 9
};

void PrintTo(const Case &row, std::ostream *out)
{
    *out << row.name;
}

std::string deepFolderWhoseFileJustFits(const Scene &scene)
{
    // PATH_MAX counts the terminating NUL, so the file's path may have 4095 bytes.
    const std::size_t length = PATH_MAX - 1 - kName.size() - 1 - scene.root.size() - 1;
    std::string relative;
    while (length - relative.size() > 201) {
        relative += std::string(200, 'd');
        ::mkdir(scene.path(relative).c_str(), 0755);
        relative += '/';
    }
    relative += std::string(length - relative.size(), 'd');
    ::mkdir(scene.path(relative).c_str(), 0755);
    return relative;
}

// Each case names: who writes, the error (0: success, -n: killed by signal n),
// the path the error names, the entries that end up holding the new file,
// and how the folder is built. All paths are relative to the folder's root.
// clang-format off
const Case kCases[] = {
    {"NewFileFollowsTheUmask", AsRoot, 0, "", {kTheFile}, [](Scene &) {}},
    {"ALongerFileIsReplacedWhole", AsRoot, 0, "", {kTheFile},
     [](Scene &s) { s.file(kName, std::string(5000, 'z'), 0604); s.writeDir = "//"; }},
    {"AnotherOwnersFileKeepsItsOwner", AsRoot | NeedsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 0600, kNobody, kNobody); }},
    {"ALinkStaysAndItsTargetIsWritten", AsRoot, 0, "", {"server/live.txt"},
     [](Scene &s) { s.folder("server", 0755); s.link("server/live.txt", kName); }},
    {"LinkedFolderOnThePath", AsRoot, 0, "", {"real/" + kName},
     [](Scene &s) { s.folder("real", 0755); s.link("real", "via"); s.writeDir = "via/"; }},
    {"HardLinkedFileKeepsItsInode", AsRoot, 0, "", {kName, "second name"},
     [](Scene &s) { s.file(kName, "old", 0644); ::link(s.path(kName).c_str(), s.path("second name").c_str()); }},
    {"AclAndAttributesStay", AsRoot | NeedsRoot, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0600);
         s.attribute(kName, "system.posix_acl_access",
                     acl({{kUserObj, 6, kAny}, {kUser, 4, kNobody}, {kGroupObj, 0, kAny}, {kMask, 4, kAny}, {kOther, 0, kAny}}));
         s.attribute(kName, "user.origin", "server panel");
     }},
    {"AFolderDefaultAclIsNotAddedToTheFile", AsRoot | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("acl", 0755);
         s.attribute("acl", "system.posix_acl_default",
                     acl({{kUserObj, 6, kAny}, {kUser, 6, kNobody}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}}));
         s.file("acl/" + kName, "old", 0644);
         ::lremovexattr(s.path("acl/" + kName).c_str(), "system.posix_acl_access"); // made without one
         ::chmod(s.path("acl/" + kName).c_str(), 0644);
         s.writeDir = "acl";
     }},
    {"GroupWritableFileOfAnotherOwnerKeepsIt", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("shared", 0775, 0, kNobody);
         s.file("shared/" + kName, "old", 0664, 0, kNobody);
         s.writeDir = "shared";
     }},
    {"WritableFileInAFolderWeCannotWrite", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("locked", 0755);
         s.file("locked/" + kName, "old", 0644, kNobody, kNobody);
         s.writeDir = "locked";
     }},
    {"AnotherUsersOpenFileInAStickyFolder", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("sticky", 01777);
         s.file("sticky/" + kName, "old", 0666);
         s.writeDir = "sticky";
     }},
    {"UnmappedOwnerInAUserNamespace", InUserNamespace | NeedsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 0666, 1234, 1234); }},
    {"LinkOfTheFolderOwnerInAStickyFolderIsFollowed", AsNobody | NeedsRoot, 0, "", {"target.txt"}, [](Scene &s) {
         s.folder("sticky", 01777);
         s.file("target.txt", "old", 0644, kNobody, kNobody);
         s.link("../target.txt", "sticky/" + kName);
         s.writeDir = "sticky";
     }},
    {"FolderPathNearPathMax", AsRoot, 0, "", {kTheFile}, [](Scene &s) { s.writeDir = deepFolderWhoseFileJustFits(s); }},
    {"CharacterDeviceIsWrittenThrough", AsRoot | NeedsRoot, 0, "", {},
     [](Scene &s) { s.node("null", S_IFCHR, ::makedev(1, 3)); s.link("null", kName); }},
    {"FifoWithAReaderGetsTheFile", AsRoot, 0, "", {},
     [](Scene &s) { s.node(kName, S_IFIFO); s.reader = readFifo(s.path(kName)); }},
    {"CopyACrashLeftBehindGoes", NoUnnamedFiles, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         ASSERT_EQ(writeInChild(s, NoUnnamedFiles | CrashOnSync, ConfigSnapshot::initial()).signal, SIGSYS);
         ASSERT_EQ(::access(s.path("." + kName + ".new").c_str(), F_OK), 0) << "the crash left no copy behind";
         s.removed.push_back("." + kName + ".new");
     }},
    {"CopyAnotherWriterHoldsStays", NoUnnamedFiles, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.lockedCopy("." + kName + ".new");
     }},

    {"NoFolderIsNoWorkingDirectory", AsRoot, ENOENT, kName, {},
     [](Scene &s) { s.file(kName, "the working directory's own", 0644); s.writeDir.reset(); }},
    {"MissingFolder", AsRoot, ENOENT, "missing/" + kName, {}, [](Scene &s) { s.writeDir = "missing"; }},
    {"FolderInTheWay", AsRoot, EISDIR, kName, {}, [](Scene &s) { s.folder(kName, 0755); }},
    {"Socket", AsRoot, ENXIO, kName, {}, [](Scene &s) { s.node(kName, S_IFSOCK); }},
    {"FifoWithoutAReader", AsRoot, ENXIO, kName, {}, [](Scene &s) { s.node(kName, S_IFIFO); }},
    {"FifoWhoseReaderLeaves", AsRoot, EPIPE, kName, {},
     [](Scene &s) { s.node(kName, S_IFIFO); s.reader = readFifo(s.path(kName), true); }, kMountOptions, 200000},
    {"FullDisk", AsRoot | NeedsRoot, ENOSPC, kName, {}, [](Scene &s) { s.file(kName, "[WeaponBan]\r\n", 0644); },
     "size=64k,mode=755", 100000},
    {"FileSizeLimit", SizeLimit, EFBIG, kName, {}, [](Scene &s) { s.file(kName, "[WeaponBan]\r\n", 0644); },
     kMountOptions, 2000},
    {"ReadOnlyFile", AsNobody, EACCES, kName, {}, [](Scene &s) { s.file(kName, "old", 0444, kNobody, kNobody); }},
    {"NewFileInAFolderWeCannotWrite", AsNobody | NeedsRoot, EACCES, "locked/" + kName, {},
     [](Scene &s) { s.folder("locked", 0755); s.writeDir = "locked"; }},
    {"ErrorNamesTheLinkedFile", AsNobody | NeedsRoot, EACCES, "server/live.txt", {}, [](Scene &s) {
         s.folder("server", 0755);
         s.file("server/live.txt", "old", 0644);
         s.link("server/live.txt", kName);
     }},
    {"PlantedLinkInAStickyFolderIsNotFollowed", AsRoot | NeedsRoot, EACCES, "sticky/" + kName, {}, [](Scene &s) {
         s.folder("sticky", 01777);
         s.file("root-only.txt", "root's own", 0600);
         s.link("../root-only.txt", "sticky/" + kName, kNobody);
         s.writeDir = "sticky";
     }},
    {"CrashBeforeTheFileIsInPlaceLeavesNothing", CrashOnSync, -SIGSYS, "", {},
     [](Scene &s) { s.file(kName, "old", 0644); }},
};
// clang-format on

class FileReplacementTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        const Case &row = GetParam();
        if ((row.role & NeedsRoot) && ::geteuid() != 0)
            GTEST_SKIP() << "needs root to build this folder (other owners, devices, a small tmpfs); run as root";
        // Others may pass through, so that a case can write as nobody.
        m_temporary = std::filesystem::temp_directory_path() / "ornivex-test-XXXXXX";
        ASSERT_NE(::mkdtemp(m_temporary.data()), nullptr) << std::strerror(errno);
        ASSERT_EQ(::chmod(m_temporary.c_str(), 0711), 0);
        m_scene.root = m_temporary + "/scene";
        ASSERT_EQ(::mkdir(m_scene.root.c_str(), 0755), 0);
        m_mounted = ::geteuid() == 0 && ::mount("tmpfs", m_scene.root.c_str(), "tmpfs", 0, row.mountOptions) == 0;
        if (!m_mounted && row.mountOptions != kMountOptions)
            GTEST_SKIP() << "needs a small tmpfs of its own, and mounting one failed: " << std::strerror(errno);
    }
    void TearDown() override
    {
        for (const int fd : m_scene.held)
            ::close(fd);
        if (m_mounted)
            ::umount2(m_scene.root.c_str(), MNT_DETACH);
        if (!m_temporary.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_temporary, ignored);
        }
    }

    std::string m_temporary;
    Scene m_scene;
    bool m_mounted = false;
};

TEST_P(FileReplacementTest, ChangesOnlyWhatAPlainWriteWouldAndNeverHalfway)
{
    const Case &row = GetParam();
    row.arrange(m_scene);
    if (HasFatalFailure())
        return;
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    snapshot.messages[9] = std::u16string(static_cast<std::size_t>(row.longMessage), u'x');
    const std::string expected = FormatConfigFile(snapshot);

    const std::map<std::string, Entry> before = listTree(m_scene.root);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const auto &[path, entry] : before) {
        if (entry.type == S_IFREG)
            ::inotify_add_watch(watch, m_scene.path(path).c_str(), IN_MODIFY | IN_CLOSE_WRITE);
    }
    const Outcome outcome = writeInChild(m_scene, row.role, snapshot);
    if (!outcome.refused.empty())
        GTEST_SKIP() << "this system does not let the writer take its role: " << outcome.refused;
    const std::map<std::string, Entry> after = listTree(m_scene.root);

    if (row.error < 0) {
        EXPECT_EQ(outcome.signal, -row.error) << outcome.description;
    } else {
        EXPECT_EQ(outcome.signal, 0);
        EXPECT_EQ(outcome.error, row.error) << outcome.description;
    }
    if (row.error > 0) {
        const std::string shown = m_scene.writeDir ? m_scene.path(row.shown) : row.shown;
        EXPECT_EQ(outcome.description, "Cannot write " + shown + ": " + std::strerror(row.error));
        std::array<char, 4096> events{};
        EXPECT_LE(::read(watch, events.data(), events.size()), 0) << "the earlier file was opened for writing";
    }
    ::close(watch);

    std::vector<std::string> written = row.written;
    std::string folder = m_scene.writeDir->substr(0, m_scene.writeDir->find_last_not_of('/') + 1);
    std::replace(written.begin(), written.end(), kTheFile, folder.empty() ? kName : folder.append("/").append(kName));
    std::map<std::string, Entry> wanted = before;
    for (const std::string &path : m_scene.removed)
        wanted.erase(path);
    for (const std::string &path : written) {
        ASSERT_TRUE(after.contains(path)) << path;
        Entry &entry = wanted.try_emplace(path, after.at(path)).first->second; // a new file as it came, but:
        EXPECT_TRUE(before.contains(path) || entry.mode == 0640) << path << ": not 0666 less the umask 027";
        entry.content = expected;
        if (entry.links == 1)
            entry.inode = after.at(path).inode; // a rename may give it a new inode
    }
    EXPECT_EQ(after.size(), wanted.size()) << "entries came or went";
    for (const auto &[path, entry] : wanted)
        EXPECT_TRUE(after.contains(path) && after.at(path) == entry) << path << " is not as a plain write leaves it";
    if (m_scene.reader.valid()) {
        const std::string received = m_scene.reader.get();
        EXPECT_TRUE(row.error != 0 || received == expected) << "the FIFO's reader got other bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, FileReplacementTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &row) { return std::string(row.param.name); });

} // namespace
