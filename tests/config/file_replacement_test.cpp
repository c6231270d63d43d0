// WriteConfigFile on a real file system: every case builds a folder on a
// tmpfs of its own (or on a disk image: ext4 without extents, XFS), writes
// from a child process in the role the case names (root, the unprivileged
// user "nobody", root of a user namespace, under a file size limit, on a
// kernel refusing unnamed files, with a failing or crashing sync) and then
// compares every entry of the folder with how it was before: only the files
// the case names may change, each keeps its identity as a plain write would,
// and a failed write says whether it changed them, names its cause in its
// advice and, if it changed nothing, opens no file for writing.

#include "config_file_writer.h"
#include "unicode_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/fs.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
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
    NeedsRoot = 32,      // the folder needs other owners, devices, a small tmpfs or a disk image
    SyncFails = 64,      // fdatasync fails with EIO, as on a failing disk
    NeverWaits = 128,    // killed at a flock that asks for a lock and would wait without limit
    CrashOnChmod = 256,  // killed at its first fchmod
    OwnMounts = 512,     // in a mount namespace of its own, with a tmpfs of its own on the folder's "srv"
};
constexpr uid_t kStranger = 4321; // a user the system has no name for

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
    std::array<std::uint32_t, 4> extendedFlags; // FS_IOC_FSGETXATTR: flags, extent size, project, CoW extent size
    bool operator==(const Entry &) const = default;
};

void PrintTo(const Entry &entry, std::ostream *out)
{
    *out << std::oct << "type 0" << entry.type << " mode 0" << entry.mode << std::dec << " inode " << entry.inode
         << " owner " << entry.owner << ':' << entry.group << " links " << entry.links << " device " << entry.device
         << " flags " << testing::PrintToString(entry.extendedFlags) << " attributes "
         << testing::PrintToString(entry.attributes) << " content "
         << testing::PrintToString(entry.content.substr(0, 40)) << (entry.content.size() > 40 ? "..." : "") << " ("
         << entry.content.size() << " bytes)";
}

std::array<std::uint32_t, 4> extendedFlagsOf(const std::string &path, mode_t type)
{
    fsxattr flags = {};
    const int fd = type == S_IFREG || type == S_IFDIR ? ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    if (fd >= 0)
        ::ioctl(fd, FS_IOC_FSGETXATTR, &flags);
    ::close(fd);
    // Not kept by a plain write either, but how the file is stored: whether
    // it has extended attributes, and XFS's mark that space was reserved.
    constexpr std::uint32_t kStorage = FS_XFLAG_HASATTR | FS_XFLAG_PREALLOC;
    return {flags.fsx_xflags & ~kStorage, flags.fsx_extsize, flags.fsx_projid, flags.fsx_cowextsize};
}

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

std::string contentOf(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Every entry below the folder, by path relative to it.
std::map<std::string, Entry> listTree(const std::string &root)
{
    std::map<std::string, Entry> tree;
    for (const auto &item : std::filesystem::recursive_directory_iterator(root)) {
        const std::string &path = item.path().native();
        struct stat info = {};
        ::lstat(path.c_str(), &info);
        Entry entry{info.st_mode & S_IFMT, info.st_ino,
                    info.st_uid,           info.st_gid,
                    info.st_mode & 07777,  info.st_nlink,
                    info.st_rdev,          {},
                    attributesOf(path),    extendedFlagsOf(path, info.st_mode & S_IFMT)};
        if (S_ISREG(info.st_mode)) // never opens a FIFO, which would wait for a writer
            entry.content = contentOf(path);
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
    std::string scratch;                     // beside root, for disk images
    std::optional<std::string> writeDir{""}; // where the program writes, relative to root; none: no folder
    std::vector<std::string> removed;        // entries the write is to remove
    std::vector<std::string> advice;         // what a failure's advice must name
    bool opensForWriting = false;            // a failure may, to learn it cannot write (it still changes nothing)
    std::vector<int> held;                   // descriptors the test keeps open meanwhile
    int mounts = 0;                          // on root, to unmount at the end
    std::future<std::string> reader;         // what a reader of a FIFO or of the writer's output received
    int output = -1;                         // handed to the writer as its standard output
    int presses = 1;                         // by the writer, one after the other
    std::function<void()> rival;             // done about once a millisecond while the writer presses, and after
    std::string trueReport;                  // against the rival, a failure naming it is true, and presses go on
    std::string namedOnce;                   // a user that a failure's advice names once only

    std::string path(const std::string &relative) const { return relative.empty() ? root : root + "/" + relative; }

    void file(const std::string &relative, const std::string &content, mode_t mode, uid_t owner = 0,
              gid_t group = 0) const
    {
        std::ofstream file(path(relative), std::ios::binary);
        ASSERT_TRUE(file.write(content.data(), static_cast<std::streamsize>(content.size())).flush());
        file.close();
        own(relative, owner, group);
        ASSERT_EQ(::chmod(path(relative).c_str(), mode), 0); // after the owner, which clears set-id bits
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
    // The folder written to, sticky and open to every user, as /tmp is.
    void sticky()
    {
        folder("sticky", 01777);
        writeDir = "sticky";
    }
    // A second name for the file, which a rename would part from it.
    void secondName() const { ASSERT_EQ(::link(path(kName).c_str(), path("second name").c_str()), 0); }
    // Another program's exclusive lock, held until the case ends.
    void holdLock(const std::string &relative)
    {
        held.push_back(::open(path(relative).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
    // A reader that opens the FIFO and never reads.
    void stalledReader(const std::string &relative)
    {
        held.push_back(::open(path(relative).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_GE(held.back(), 0) << std::strerror(errno);
    }
    // Mounts a new file system from a disk image of `size` over the root,
    // made by `mkfs`; skips the case where this system cannot.
    void disk(const std::string &size, const std::string &mkfs)
    {
        const std::string image = scratch + "/disk.img";
        const std::string command = "truncate -s " + size + " " + image + " && " + mkfs + " " + image
            + " >/dev/null 2>&1 && mount -o loop " + image + " " + root + " 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            GTEST_SKIP() << "cannot make and mount a disk image here: " << command;
        ++mounts;
        ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    }
    // Fills the disk but for about `room` bytes.
    void fillDisk(std::size_t room) const
    {
        file("room", std::string(room, 'r'), 0644);
        std::ofstream filler(path("filler"), std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) { }
        ASSERT_EQ(::unlink(path("room").c_str()), 0);
    }
};

// security.capability giving cap_net_raw+ep, as setcap writes it.
std::string netRawCapability()
{
    const std::array<std::uint32_t, 5> data{VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE, 1U << CAP_NET_RAW, 0, 0, 0};
    return {reinterpret_cast<const char *>(data.data()), sizeof data};
}

struct Outcome {
    int error = -1; // 0, or the ConfigWriteError's number
    int signal = 0; // what ended the child, if anything did
    bool fileChanged = false;
    std::string description;
    std::string advice;
    std::string refused; // the role this system would not let the child take
};

bool installFilter(unsigned role)
{
    std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    const auto when = [&filter](bool wanted, long call, std::uint32_t action) {
        if (!wanted)
            return;
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, action));
    };
    // Acts on `call` when bit `flag` of its argument is set (or clear), and
    // allows it otherwise; so these come last.
    const auto whenFlag = [&filter](bool wanted, long call, std::size_t argument, std::uint32_t flag, bool set,
                                    std::uint32_t action) {
        if (!wanted)
            return;
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 4));
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                                  static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * argument)));
        const std::uint8_t acting = set ? 0 : 1; // instructions to skip to the action when the bit is set
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flag, acting, static_cast<std::uint8_t>(1 - acting)));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, action));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    };
    when(role & CrashOnSync, SYS_fdatasync, SECCOMP_RET_KILL_PROCESS);
    when(role & SyncFails, SYS_fdatasync, SECCOMP_RET_ERRNO | EIO);
    when(role & CrashOnChmod, SYS_fchmod, SECCOMP_RET_KILL_PROCESS);
    whenFlag(role & NoUnnamedFiles, SYS_openat, 2, O_TMPFILE & ~O_DIRECTORY, true, SECCOMP_RET_ERRNO | EOPNOTSUPP);
    whenFlag(role & NeverWaits, SYS_flock, 1, LOCK_NB | LOCK_UN, false, SECCOMP_RET_KILL_PROCESS);
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
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
        if ((scene.output >= 0 && ::dup2(scene.output, 1) != 1) || ::dup2(channel[1], kReport) != kReport
            || ::close_range(kReport + 1, ~0U, 0) != 0)
            ::_exit(1);
        ::umask(027);
        ::alarm(60); // a writer that hangs ends, failing its case instead of the whole run
        require(::chdir(scene.root.c_str()) == 0, "entering the folder");
        require(!(role & InUserNamespace) || enterUserNamespace(), "a user namespace");
        require(!(role & AsNobody) || ::geteuid() != 0
                    || (::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0
                        && ::setresuid(kNobody, kNobody, kNobody) == 0),
                "becoming nobody");
        const rlimit oneKilobyte{1024, 1024};
        require(!(role & SizeLimit) || ::setrlimit(RLIMIT_FSIZE, &oneKilobyte) == 0, "a file size limit");
        require(!(role & OwnMounts)
                    || (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                        && ::mount("tmpfs", scene.path("srv").c_str(), "tmpfs", 0, nullptr) == 0),
                "a mount namespace of its own");
        constexpr unsigned kFiltered = CrashOnSync | NoUnnamedFiles | SyncFails | NeverWaits | CrashOnChmod;
        require(!(role & kFiltered) || installFilter(role), "a seccomp filter");
        try {
            for (int press = 0; press < scene.presses; ++press) {
                try {
                    WriteConfigFile(snapshot, scene.writeDir ? scene.path(*scene.writeDir) : std::string());
                } catch (const ConfigWriteError &error) {
                    if (scene.trueReport.empty() || toUtf8(error.advice()).find(scene.trueReport) == std::string::npos)
                        throw;
                }
            }
            report(std::string("0 0\0\0", 5), 0);
        } catch (const ConfigWriteError &error) {
            report(std::to_string(error.number()) + (error.fileChanged() ? " 1" : " 0") + '\0' + error.what() + '\0'
                       + toUtf8(error.advice()),
                   0);
        }
    }
    ::close(channel[1]);
    if (scene.output >= 0)
        ::close(scene.output); // the writer's alone now, so that a reader sees it closed when the writer ends
    std::atomic<bool> pressing = true;
    std::thread rival([&scene, &pressing] {
        try {
            for (bool more = static_cast<bool>(scene.rival); more; ::poll(nullptr, 0, 1)) {
                more = pressing;
                scene.rival();
            }
        } catch (const ConfigWriteError &error) {
            ADD_FAILURE() << "the rival: " << error.what() << ": " << toUtf8(error.advice());
        }
    });
    std::string report;
    std::array<char, 4096> buffer{};
    for (ssize_t got = 0; (got = ::read(channel[0], buffer.data(), buffer.size())) > 0;)
        report.append(buffer.data(), static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    pressing = false;
    rival.join();
    Outcome outcome;
    if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    } else if (WEXITSTATUS(status) == kRefused) {
        outcome.refused = report;
    } else if (WEXITSTATUS(status) == 0) {
        const std::size_t description = report.find('\0') + 1;
        const std::size_t advice = report.find('\0', description) + 1;
        outcome.error = std::stoi(report);
        outcome.fileChanged = report[report.find(' ') + 1] == '1';
        outcome.description = report.substr(description, advice - 1 - description);
        outcome.advice = report.substr(advice);
    }
    return outcome;
}

enum class Reading { Whole, Leaves, Slowly };

// Everything that FIFO gets until its writers close it, or what came within
// 10 s; a reader that leaves closes it as soon as the first bytes arrive, a
// slow one takes 4 KiB every quarter second and holds no more.
std::future<std::string> readFifo(const std::string &path, Reading how = Reading::Whole)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (how == Reading::Slowly)
        ::fcntl(fd, F_SETPIPE_SZ, 4096);
    return std::async(std::launch::async, [fd, how] {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        pollfd wait{fd, POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline && ::poll(&wait, 1, 100) >= 0) {
            if (how == Reading::Leaves && (wait.revents & POLLIN))
                break;
            if (how == Reading::Slowly)
                ::poll(nullptr, 0, 250);
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
// Presses against a rival: enough that a writer losing one race in a thousand
// fails within them.
constexpr int kRacingPresses = 4000;

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
const char *const kExt4WithoutExtents = "mkfs.ext4 -q -F -m 0 -O ^extent,^flex_bg,^64bit"; // cannot reserve space

const Case kCases[] = {
    {"NewFileFollowsTheUmask", AsRoot, 0, "", {kTheFile}, [](Scene &) {}},
    {"ALongerFileIsReplacedWhole", AsRoot, 0, "", {kTheFile},
     [](Scene &s) { s.file(kName, std::string(5000, 'z'), 0604); s.writeDir = "//"; }},
    {"AnotherOwnersFileKeepsItsOwnerAndRootItsSetIdBits", AsRoot | NeedsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 04700, kNobody, kNobody); }},
    {"ALinkStaysAndItsTargetIsWritten", AsRoot, 0, "", {"server/live.txt"},
     [](Scene &s) { s.folder("server", 0755); s.link("server/live.txt", kName); }},
    {"LinkedFolderOnThePath", AsRoot, 0, "", {"real/" + kName},
     [](Scene &s) { s.folder("real", 0755); s.link("real", "via"); s.writeDir = "via/"; }},
    {"HardLinkedFileKeepsItsInode", AsRoot, 0, "", {kName, "second name"},
     [](Scene &s) { s.file(kName, "old", 0644); s.secondName(); }},
    {"AclAndAttributesStay", AsRoot | NeedsRoot, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0600);
         s.attribute(kName, "system.posix_acl_access",
                     acl({{kUserObj, 6, kAny}, {kUser, 4, kNobody}, {kGroupObj, 0, kAny}, {kMask, 4, kAny}, {kOther, 0, kAny}}));
         s.attribute(kName, "user.origin", "server panel");
     }},
    {"AFolderDefaultAclIsNotAddedToTheFile", AsRoot | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("acl", 0755);
         s.writeDir = "acl";
         s.attribute("acl", "system.posix_acl_default",
                     acl({{kUserObj, 6, kAny}, {kUser, 6, kNobody}, {kGroupObj, 4, kAny}, {kMask, 6, kAny}, {kOther, 4, kAny}}));
         s.file("acl/" + kName, "old", 0644);
         ::lremovexattr(s.path("acl/" + kName).c_str(), "system.posix_acl_access"); // made without one
         ::chmod(s.path("acl/" + kName).c_str(), 0644);
     }},
    {"SetIdBitsGoAsAPlainWriteDropsThem", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("own", 0755, kNobody, kNobody);
         s.file("own/" + kName, "old", 06775, kNobody, kNobody);
         s.writeDir = "own";
     }},
    {"FileCapabilitiesGo", AsRoot | NeedsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 0755); s.attribute(kName, "security.capability", netRawCapability()); }},
    {"XfsProjectExtentHintAndFilestreamStay", AsRoot | NeedsRoot, 0, "", {kName}, [](Scene &s) {
         // A project, an extent size hint and the filestream flag, which a new file would not get.
         s.disk("300M", "mkfs.xfs -q -f");
         s.file(kName, "", 0644); // the hint only takes while the file is empty
         ASSERT_EQ(std::system(("xfs_io -c 'chproj 42' -c 'extsize 1m' -c 'chattr +S' " + s.path(kName)).c_str()), 0);
         std::ofstream(s.path(kName), std::ios::app) << "old";
     }},
    {"GroupWritableFileOfAnotherOwnerKeepsIt", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("shared", 0775, 0, kNobody);
         s.file("shared/" + kName, "old", 0664, 0, kNobody);
         s.writeDir = "shared";
     }},
    {"AnotherUsersOpenFileInAStickyFolder", AsNobody | NeedsRoot, 0, "", {kTheFile},
     [](Scene &s) { s.sticky(); s.file("sticky/" + kName, "old", 0666); }},
    {"UnmappedOwnerInAUserNamespace", InUserNamespace | NeedsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 0666, 1234, 1234); }},
    {"LinkOfTheFolderOwnerInAStickyFolderIsFollowed", AsNobody | NeedsRoot, 0, "", {"target.txt"}, [](Scene &s) {
         s.sticky();
         s.file("target.txt", "old", 0644, kNobody, kNobody);
         s.link("../target.txt", "sticky/" + kName);
     }},
    {"FolderPathNearPathMax", AsRoot, 0, "", {kTheFile}, [](Scene &s) { s.writeDir = deepFolderWhoseFileJustFits(s); }},
    {"WithoutReservationAFileGrowsBeforeItsStartChanges", AsRoot | NeedsRoot, 0, "", {kName, "second name"},
     [](Scene &s) { s.disk("4M", kExt4WithoutExtents); s.file(kName, "old", 0644); s.secondName(); }},
    {"CharacterDeviceIsWrittenThrough", AsRoot | NeedsRoot, 0, "", {"null"},
     [](Scene &s) { s.node("null", S_IFCHR, ::makedev(1, 3)); s.link("null", kName); }},
    {"SlowReaderGetsEverything", AsRoot, 0, "", {kName},
     [](Scene &s) { s.node(kName, S_IFIFO); s.reader = readFifo(s.path(kName), Reading::Slowly); }, kMountOptions, 100000},
    {"LinkToAPipeOnStandardOutput", AsRoot, 0, "", {}, [](Scene &s) {
         std::array<int, 2> pipe{};
         ASSERT_EQ(::pipe2(pipe.data(), O_CLOEXEC), 0);
         s.reader = readFifo("/proc/self/fd/" + std::to_string(pipe[0])); // another reading end
         ::close(pipe[0]);
         s.output = pipe[1];
         s.link("/proc/self/fd/1", kName);
     }},
    {"LinkToAFileOnStandardOutputKeepsItsInode", AsRoot, 0, "", {"out.txt"}, [](Scene &s) {
         s.file("out.txt", "old", 0644);
         s.output = ::open(s.path("out.txt").c_str(), O_WRONLY | O_CLOEXEC);
         s.held.push_back(::open(s.path("out.txt").c_str(), O_RDONLY | O_CLOEXEC)); // whatever the name holds later
         s.reader = std::async(std::launch::deferred, [&s] { return contentOf("/proc/self/fd/" + std::to_string(s.held[0])); });
         s.link("/dev/stdout", kName);
     }},
    {"LinkIntoAnotherProcessesMounts", OwnMounts | NeedsRoot, 0, "", {"srv/cfg"}, [](Scene &s) {
         s.folder("srv", 0755);
         s.file("srv/cfg", "old", 0644);
         s.link("/proc/" + std::to_string(::getpid()) + "/root" + s.path("srv/cfg"), kName);
     }},
    {"RoomInPlaceButNotForACopy", AsRoot | NeedsRoot, 0, "", {kName}, [](Scene &s) {
         s.disk("4M", "mkfs.ext4 -q -F -m 0 -b 1024");
         s.file(kName, std::string(50000, 'o'), 0644);
         s.fillDisk(170000);
     }, kMountOptions, 200000},
    {"AppendOnlyFolderGetsNoCopy", AsRoot | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.disk("4M", "mkfs.ext4 -q -F");
         s.folder("log", 0755);
         s.writeDir = "log";
         s.presses = 3; // the first creates it
         ASSERT_EQ(std::system(("chattr +a " + s.path("log")).c_str()), 0);
     }},
    {"TwoWritersByRename", AsRoot, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.presses = kRacingPresses;
         s.rival = [&s] { // presses back to back, as the writer does
             for (int press = 0; press < 100; ++press)
                 WriteConfigFile(ConfigSnapshot::initial(), s.root);
         };
     }},
    {"WriterInPlaceAgainstOneByRename", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("locked", 0755);
         s.file("locked/" + kName, "old", 0666);
         s.writeDir = "locked";
         s.presses = kRacingPresses;
         s.rival = [&s] { WriteConfigFile(ConfigSnapshot::initial(), s.path("locked")); };
     }},
    {"FolderLockOfAnotherProgramStopsNoWrite", AsRoot, 0, "", {kName},
     [](Scene &s) { s.file(kName, "old", 0644); s.holdLock("."); }},
    {"FolderTheWriterMayNotList", AsNobody | NeedsRoot, 0, "", {kTheFile}, [](Scene &s) {
         s.folder("drop", 0333, kNobody, kNobody);
         s.file("drop/" + kName, "old", 0644, kNobody, kNobody);
         s.writeDir = "drop";
     }},
    {"StrangersFileAppearingMeanwhileIsNamed", AsNobody | NeedsRoot, 0, "", {}, [](Scene &s) {
         s.sticky();
         s.presses = kRacingPresses;
         s.trueReport = "a file of user 4321";
         s.rival = [&s] { // puts a stranger's file at the name for a moment
             s.file("stranger", "", 0644, kStranger, kStranger);
             ::rename(s.path("stranger").c_str(), s.path("sticky/" + kName).c_str());
             ::unlink(s.path("sticky/" + kName).c_str());
         };
     }},
    {"CopyACrashLeftBehindGoes", NoUnnamedFiles | NeverWaits, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.removed.push_back("." + kName + ".new");
         ASSERT_EQ(writeInChild(s, NoUnnamedFiles | CrashOnSync, ConfigSnapshot::initial()).signal, SIGSYS);
         ASSERT_EQ(::access(s.path("." + kName + ".new").c_str(), F_OK), 0) << "the crash left no copy behind";
     }},
    {"CopyIsPrivateUntilItHasTheFilesIdentity", NoUnnamedFiles, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.removed.push_back("." + kName + ".new");
         ASSERT_EQ(writeInChild(s, NoUnnamedFiles | CrashOnChmod, ConfigSnapshot::initial()).signal, SIGSYS);
         struct stat copy = {};
         ASSERT_EQ(::stat(s.path("." + kName + ".new").c_str(), &copy), 0) << "the crash left no copy behind";
         EXPECT_EQ(copy.st_mode & 07777, 0600U) << "others could open the copy before it had the file's mode";
     }},
    {"CopyAnotherWriterHoldsStays", NoUnnamedFiles | NeverWaits, 0, "", {kName}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.file("." + kName + ".new", "another writer's copy", 0644);
         s.holdLock("." + kName + ".new"); // as that writer does while it writes
     }},

    {"NoFolderIsNoWorkingDirectory", AsRoot, ENOENT, kName, {},
     [](Scene &s) { s.file(kName, "the working directory's own", 0644); s.writeDir.reset(); }},
    {"MissingFolder", AsRoot, ENOENT, "missing/" + kName, {},
     [](Scene &s) { s.writeDir = "missing"; s.advice = {"missing does not exist"}; }},
    {"ControlCharactersInAFolderNameAreEscaped", AsRoot, ENOENT, "new\\x0Aline\\x1B[31m/" + kName, {},
     [](Scene &s) { s.writeDir = "new\nline\x1b[31m"; s.advice = {"new\\x0Aline\\x1B[31m does not exist"}; }},
    {"FolderInTheWay", AsRoot, EISDIR, kName, {},
     [](Scene &s) { s.folder(kName, 0755); s.advice = {"folder named " + kName}; }},
    {"Socket", AsRoot, ENXIO, kName, {}, [](Scene &s) { s.node(kName, S_IFSOCK); s.advice = {"socket"}; }},
    {"DeviceThatRefusesTheBytes", AsRoot | NeedsRoot, ENOSPC, "full", {}, [](Scene &s) {
         s.node("full", S_IFCHR, ::makedev(1, 7)); // as /dev/full
         s.link("full", kName);
         s.advice = {"device (1:7)"};
     }},
    {"BlockDeviceIsRefused", AsRoot | NeedsRoot, EOPNOTSUPP, kName, {}, [](Scene &s) {
         s.node(kName, S_IFBLK, ::makedev(7, 255)); // never opened: there is no such disk
         s.advice = {"block device"};
     }},
    {"FifoWithoutAReader", AsRoot, ENXIO, kName, {},
     [](Scene &s) { s.node(kName, S_IFIFO); s.advice = {"FIFO", "no program has it open"}; }},
    {"FifoWhoseReaderLeaves", AsRoot, EPIPE, kName, {kName}, [](Scene &s) {
         s.node(kName, S_IFIFO);
         s.reader = readFifo(s.path(kName), Reading::Leaves);
         s.advice = {"FIFO", "closed it after"};
     }, kMountOptions, 200000},
    {"FifoWhoseReaderStopsReading", AsRoot, EAGAIN, kName, {kName}, [](Scene &s) {
         s.node(kName, S_IFIFO);
         s.stalledReader(kName);
         s.advice = {"FIFO", "stopped reading", "written into"};
     }, kMountOptions, 200000},
    {"FileOfAStrangerInAStickyFolder", AsNobody | NeedsRoot, EACCES, "sticky/" + kName, {}, [](Scene &s) {
         s.sticky();
         s.file("sticky/" + kName, "old", 0666, kStranger, kStranger);
         s.advice = {"user 4321", "nobody", "root"};
     }},
    {"FifoOfAStrangerInAStickyFolder", AsNobody | NeedsRoot, EACCES, "sticky/" + kName, {}, [](Scene &s) {
         s.sticky();
         s.node("sticky/" + kName, S_IFIFO);
         s.own("sticky/" + kName, kStranger, kStranger);
         s.stalledReader("sticky/" + kName);
         s.advice = {"FIFO", "user 4321", "nobody", "root"}; // only the owner in the way
     }},
    {"PlantedLinkInAStickyFolderIsNotFollowed", AsRoot | NeedsRoot, EACCES, "sticky/" + kName, {}, [](Scene &s) {
         s.sticky();
         s.file("root-only.txt", "root's own", 0600);
         s.link("/proc/self/cwd/root-only.txt", "sticky/" + kName, kNobody);
         s.advice = {"symbolic link", "nobody", "root"};
         s.namedOnce = "root"; // this program's user and the folder's owner
     }},
    {"HardLinkInAStickyFolder", AsRoot | NeedsRoot, EACCES, "sticky/" + kName, {}, [](Scene &s) {
         s.sticky();
         s.file("root-only.txt", "root's own", 0600);
         s.advice = {"more than one name"};
         ::link(s.path("root-only.txt").c_str(), s.path("sticky/" + kName).c_str());
     }},
    {"ALockAnotherProgramHolds", AsRoot, EWOULDBLOCK, kName, {},
     [](Scene &s) { s.file(kName, "old", 0644); s.secondName(); s.holdLock(kName); s.advice = {"locked"}; }},
    {"FullDisk", AsRoot | NeedsRoot, ENOSPC, kName, {},
     [](Scene &s) { s.file(kName, "[WeaponBan]\r\n", 0644); s.advice = {"full"}; }, "size=64k,mode=755", 100000},
    {"FullDiskWithoutReservation", AsRoot | NeedsRoot, ENOSPC, kName, {}, [](Scene &s) {
         s.disk("4M", kExt4WithoutExtents);
         s.file(kName, "[WeaponBan]\r\n", 0644);
         s.secondName();
         s.fillDisk(20000);
         s.advice = {"full"};
         s.opensForWriting = true; // it grows the file and cuts it back
     }, kMountOptions, 100000},
    {"FailedSyncInPlaceSaysTheFileChanged", SyncFails, EIO, kName, {kName, "second name"},
     [](Scene &s) { s.file(kName, "old", 0644); s.secondName(); s.advice = {"now holds the new settings"}; }},
    {"FileSizeLimit", SizeLimit, EFBIG, kName, {},
     [](Scene &s) { s.file(kName, "[WeaponBan]\r\n", 0644); s.advice = {"1024 bytes"}; }, kMountOptions, 2000},
    {"ReadOnlyFileSystem", AsRoot | NeedsRoot, EROFS, kName, {}, [](Scene &s) {
         s.file(kName, "old", 0644);
         s.advice = {"read-only"};
         ASSERT_EQ(::mount(nullptr, s.root.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
     }},
    {"ReadOnlyFile", AsNobody, EACCES, kName, {},
     [](Scene &s) { s.file(kName, "old", 0444, kNobody, kNobody); s.advice = {"nobody", "read-only"}; }},
    {"NewFileInAFolderWeCannotWrite", AsNobody | NeedsRoot, EACCES, "locked/" + kName, {},
     [](Scene &s) { s.folder("locked", 0755); s.writeDir = "locked"; s.advice = {"nobody", "root"}; }},
    {"NewFileInAnImmutableFolder", AsRoot | NeedsRoot, EPERM, "frozen/" + kName, {}, [](Scene &s) {
         s.disk("4M", "mkfs.ext4 -q -F");
         s.folder("frozen", 0755);
         s.writeDir = "frozen";
         s.advice = {"immutable"};
         ASSERT_EQ(std::system(("chattr +i " + s.path("frozen")).c_str()), 0);
     }},
    {"ErrorNamesTheLinkedFile", AsNobody | NeedsRoot, EACCES, "server/live.txt", {}, [](Scene &s) {
         s.folder("server", 0755);
         s.file("server/live.txt", "old", 0644);
         s.link("server/live.txt", kName);
         s.advice = {"nobody", "root"};
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
            GTEST_SKIP() << "needs root to build this folder (other owners, devices, a small tmpfs, a disk image); "
                            "run as root";
        // Others may pass through, so that a case can write as nobody.
        m_temporary = std::filesystem::temp_directory_path() / "ornivex-test-XXXXXX";
        ASSERT_NE(::mkdtemp(m_temporary.data()), nullptr) << std::strerror(errno);
        ASSERT_EQ(::chmod(m_temporary.c_str(), 0711), 0);
        m_scene.scratch = m_temporary;
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
        for (int mount = 0; mount < m_scene.mounts + (m_mounted ? 1 : 0); ++mount)
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
    if (HasFatalFailure() || IsSkipped())
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
        EXPECT_EQ(outcome.error, row.error) << outcome.description << ": " << outcome.advice;
    }
    if (row.error > 0) {
        const std::string shown = m_scene.writeDir ? m_scene.path(row.shown) : row.shown;
        EXPECT_EQ(outcome.description, "Cannot write " + shown + ": " + std::strerror(row.error));
        EXPECT_TRUE(!m_scene.writeDir || !outcome.advice.empty()) << "the error gives no advice";
        for (const std::string &fact : m_scene.advice)
            EXPECT_NE(outcome.advice.find(fact), std::string::npos) << "no \"" << fact << "\" in: " << outcome.advice;
        const std::string &once = m_scene.namedOnce;
        EXPECT_TRUE(once.empty() || outcome.advice.find(once) == outcome.advice.rfind(once))
            << once << " named more than once: " << outcome.advice;
        EXPECT_EQ(outcome.fileChanged, !row.written.empty()) << "wrong about the file: " << outcome.advice;
        std::array<char, 4096> events{};
        EXPECT_TRUE(!row.written.empty() || m_scene.opensForWriting || ::read(watch, events.data(), events.size()) <= 0)
            << "the earlier file was opened for writing";
    }
    ::close(watch);

    std::vector<std::string> written = row.written;
    std::string folder = m_scene.writeDir.value_or("");
    folder.erase(folder.find_last_not_of('/') + 1);
    std::replace(written.begin(), written.end(), kTheFile, folder.empty() ? kName : folder.append("/").append(kName));
    std::map<std::string, Entry> wanted = before;
    for (const std::string &path : m_scene.removed)
        wanted.erase(path);
    for (const std::string &path : written) {
        ASSERT_TRUE(after.contains(path)) << path;
        Entry &entry = wanted.try_emplace(path, after.at(path)).first->second; // a new file as it came, but:
        EXPECT_TRUE(before.contains(path) || entry.mode == 0640) << path << ": not 0666 less the umask 027";
        if (entry.type == S_IFREG)
            entry.content = expected;
        if (entry.links == 1)
            entry.inode = after.at(path).inode; // a rename may give it a new inode
        // A write drops file capabilities, and set-id bits unless the writer
        // may keep them (CAP_FSETID); set-gid only with group execute.
        entry.attributes.erase("security.capability");
        if (row.role & (AsNobody | InUserNamespace))
            entry.mode &= (entry.mode & S_IXGRP) ? ~mode_t{S_ISUID | S_ISGID} : ~mode_t{S_ISUID};
    }
    EXPECT_EQ(after.size(), wanted.size()) << "entries came or went";
    for (const auto &[path, entry] : wanted) {
        ASSERT_TRUE(after.contains(path)) << path << " is gone";
        EXPECT_EQ(after.at(path), entry) << path << " is not as a plain write leaves it";
    }
    if (m_scene.reader.valid()) {
        const std::string received = m_scene.reader.get();
        EXPECT_TRUE(row.error != 0 || received == expected) << "its reader got other bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, FileReplacementTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &row) { return std::string(row.param.name); });

} // namespace
