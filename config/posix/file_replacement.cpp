#include "file_replacement.h"

#include "advice.h"
#include "in_place.h"
#include "target.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ornivex {
namespace {

using posix::fail;
using posix::sameFile;
using posix::Target;
using posix::UniqueFd;

// Blocks SIGPIPE and SIGXFSZ for the calling thread while it lives, and
// discards any it caused: a reader that goes away or a file size limit must
// end one write with an error, not the program with the operator's edits.
class QuietSignals {
public:
    QuietSignals()
    {
        sigemptyset(&m_quieted);
        sigaddset(&m_quieted, SIGPIPE);
        sigaddset(&m_quieted, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &m_quieted, &m_previous);
        // One the caller already blocked is the caller's to handle.
        for (const int signal : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&m_previous, signal) == 1)
                sigdelset(&m_quieted, signal);
        }
    }
    QuietSignals(const QuietSignals &) = delete;
    QuietSignals &operator=(const QuietSignals &) = delete;
    ~QuietSignals()
    {
        const timespec noWait{};
        while (sigtimedwait(&m_quieted, nullptr, &noWait) > 0) { }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }

private:
    sigset_t m_quieted{};
    sigset_t m_previous{};
};

// A file size limit would cut the file short; say so before anything changes.
void checkSizeLimit(const Target &target, std::size_t size)
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur)
        fail(EFBIG, target, posix::adviceFor(EFBIG, target, size));
}

// Errors that a write in place may not meet: the folder refuses a new file or
// a rename, the new file cannot take the old one's identity, or it needs
// space that the old file already holds.
bool inPlaceMayDoBetter(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOSPC:
    case EDQUOT:
    case EINVAL: // e.g. an owner that a user namespace does not map
    case EOPNOTSUPP:
    case EBUSY: // the name is a mount point
    case EXDEV:
    case EMLINK:
        return true;
    default:
        return false;
    }
}

using Attributes = std::map<std::string, std::string>;

// Every extended attribute of an open file, ACLs included; nullopt when they
// cannot be read. Attributes this user may not see (trusted.* for anyone but
// root) are not listed by the system and so cannot be kept.
std::optional<Attributes> attributesOf(int fd)
{
    Attributes attributes;
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == EOPNOTSUPP ? std::optional(attributes) : std::nullopt;
    std::string names(static_cast<std::size_t>(size), '\0');
    if (::flistxattr(fd, names.data(), names.size()) != size)
        return std::nullopt;
    for (std::size_t start = 0; start < names.size(); start = names.find('\0', start) + 1) {
        const char *attribute = names.c_str() + start;
        const ssize_t length = ::fgetxattr(fd, attribute, nullptr, 0);
        std::string value(static_cast<std::size_t>(std::max<ssize_t>(length, 0)), '\0');
        if (length < 0 || ::fgetxattr(fd, attribute, value.data(), value.size()) != length)
            return std::nullopt;
        attributes.emplace(attribute, std::move(value));
    }
    return attributes;
}

long inodeFlagsOf(int fd)
{
    long flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags : -1;
}

// What FS_IOC_FSGETXATTR tells beyond the inode flags: on XFS the project id,
// the extent size hints and flags such as filestream; on ext4 the project id.
// Nullopt where the file system has none of it.
std::optional<std::array<std::uint32_t, 4>> extendedFlagsOf(int fd)
{
    fsxattr attributes = {};
    if (::ioctl(fd, FS_IOC_FSGETXATTR, &attributes) != 0)
        return std::nullopt;
    // Not what the file is but how it is stored: FS_XFLAG_HASATTR tells that
    // extended attributes exist, FS_XFLAG_PREALLOC that space was reserved.
    constexpr std::uint32_t kStorage = FS_XFLAG_HASATTR | FS_XFLAG_PREALLOC;
    return std::array<std::uint32_t, 4>{attributes.fsx_xflags & ~kStorage, attributes.fsx_extsize,
                                        attributes.fsx_projid, attributes.fsx_cowextsize};
}

// What a replacement must keep of the earlier file.
struct Identity {
    struct stat info;
    Attributes attributes;
    long inodeFlags;
    std::optional<std::array<std::uint32_t, 4>> extendedFlags;
};

// The attribute that gives a program file capabilities; the kernel drops it
// on every write, so new content never has it.
constexpr char kCapabilities[] = "security.capability";

// Reads the earlier file's identity; opening it for reading only, so that a
// program watching it sees no write. Nullopt when it cannot be read in full.
std::optional<Identity> identityOf(const Target &target)
{
    UniqueFd file(
        ::openat(target.folder.get(), target.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat info = {};
    if (!file || ::fstat(file.get(), &info) != 0 || !sameFile(info, *target.existing))
        return std::nullopt;
    std::optional<Attributes> attributes = attributesOf(file.get());
    if (!attributes)
        return std::nullopt;
    attributes->erase(kCapabilities);
    return Identity{info, std::move(*attributes), inodeFlagsOf(file.get()), extendedFlagsOf(file.get())};
}

// Gives the new file, still empty, the earlier one's owner, group,
// attributes and mode, in that order (a change of owner clears set-id bits,
// an ACL sets group bits). The content is written after, so that the kernel
// treats set-id bits as on any write: it drops them unless the writer may
// keep them (CAP_FSETID). 0 or the error.
int takeOnIdentity(int fd, const Identity &earlier)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return errno;
    if ((info.st_uid != earlier.info.st_uid || info.st_gid != earlier.info.st_gid)
        && ::fchown(fd, info.st_uid == earlier.info.st_uid ? static_cast<uid_t>(-1) : earlier.info.st_uid,
                    info.st_gid == earlier.info.st_gid ? static_cast<gid_t>(-1) : earlier.info.st_gid)
            != 0)
        return errno;
    std::optional<Attributes> attributes = attributesOf(fd);
    if (!attributes)
        return EOPNOTSUPP;
    if (*attributes != earlier.attributes) {
        for (const auto &[attribute, value] : *attributes) {
            if (!earlier.attributes.contains(attribute) && ::fremovexattr(fd, attribute.c_str()) != 0)
                return errno;
        }
        for (const auto &[attribute, value] : earlier.attributes) {
            if (::fsetxattr(fd, attribute.c_str(), value.data(), value.size(), 0) != 0)
                return errno;
        }
    }
    return ::fchmod(fd, earlier.info.st_mode & 07777) == 0 ? 0 : errno;
}

// Whether the new file, its content written, can no longer be told apart
// from the earlier one by anything a plain write would have kept. 0 or EPERM.
int checkIdentity(int fd, const Identity &earlier)
{
    constexpr mode_t kSetId = S_ISUID | S_ISGID;
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return errno;
    const bool sameMode = (info.st_mode & ~kSetId) == (earlier.info.st_mode & ~kSetId)
        && (info.st_mode & kSetId & ~earlier.info.st_mode) == 0; // set-id bits only as the write left them
    return info.st_uid == earlier.info.st_uid && info.st_gid == earlier.info.st_gid && sameMode
            && attributesOf(fd) == earlier.attributes && inodeFlagsOf(fd) == earlier.inodeFlags
            && extendedFlagsOf(fd) == earlier.extendedFlags
        ? 0
        : EPERM;
}

// A copy of the new file gets a hidden name beside the target: just before
// it is renamed over the target, or while it is written where the file
// system has no unnamed files. The name is fixed, ".<name>.new", so that a
// copy a crash left behind is found without listing the folder; should
// another writer hold that name right now, a random one is used instead.
std::string copyName(std::string_view name, int attempt)
{
    std::string copy = '.' + std::string(name);
    if (attempt == 0)
        return copy.append(".new");
    static std::mt19937_64 random{std::random_device{}()};
    return copy.append(".").append(std::to_string(random()));
}

// Each writer holds an exclusive lock on its copy for as long as the copy
// exists, so a copy that nobody holds is abandoned and goes, while one that
// another program is still writing stays.
void removeIfAbandoned(int folder, const std::string &copy)
{
    UniqueFd file(::openat(folder, copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat held = {};
    struct stat named = {};
    if (file && ::fstat(file.get(), &held) == 0 && S_ISREG(held.st_mode) && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0
        && ::fstatat(folder, copy.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named))
        ::unlinkat(folder, copy.c_str(), 0);
}

// The new file, written beside the target and invisible until it is complete:
// unnamed where the file system allows, else under a hidden name that is
// removed again unless it replaces the target. It is locked from the start
// (see removeIfAbandoned), never waiting for the lock: a copy that someone
// else holds is left to them and another name taken. Where the file system
// has no locks, nobody can take a copy for abandoned, so a failed lock is no
// error.
class NewFile {
public:
    NewFile(int folder, std::string_view name)
        : m_folder(folder)
        , m_name(name)
    {
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;
    ~NewFile()
    {
        if (!m_copyName.empty())
            ::unlinkat(m_folder, m_copyName.c_str(), 0);
    }

    // `replacing`: an earlier file's identity is given afterwards. 0 or the
    // error.
    int create(bool replacing)
    {
        // Linking an unnamed file goes through /proc, so without it use a name.
        static const bool canLinkUnnamed = ::access("/proc/self/fd", X_OK) == 0;
        // 0666 lets the umask or the folder's default ACL decide, as for any
        // newly created file; no other program can open an unnamed one.
        if (canLinkUnnamed) {
            m_fd = UniqueFd(::openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
            if (m_fd) {
                ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
                return 0;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR)
                return errno;
        }
        // A named copy is seen by others. One that replaces a file starts
        // private, so that no other user can open it before it has the
        // earlier file's identity; a new file's copy starts as the file will
        // be, which shows nothing the file would not.
        const mode_t mode = replacing ? 0600 : 0666;
        return nameCopy([this, mode](const std::string &copy) {
            m_fd = UniqueFd(
                ::openat(m_folder, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (!m_fd)
                return errno;
            const bool heldElsewhere = ::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            // Still ours: another writer may have taken it for abandoned in
            // the instant before the lock.
            struct stat held = {};
            struct stat named = {};
            const bool namedOurs = ::fstat(m_fd.get(), &held) == 0
                && ::fstatat(m_folder, copy.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named);
            if (!heldElsewhere && namedOurs)
                return 0;
            if (namedOurs)
                ::unlinkat(m_folder, copy.c_str(), 0);
            m_fd = UniqueFd();
            return EEXIST;
        });
    }

    int fd() const { return m_fd.get(); }

    // Makes the new file the target: where nothing stood, by giving it the
    // name, which fails with EEXIST should something have taken the name
    // meanwhile; else by renaming a named copy over the target. 0 or the
    // error.
    int publish(bool replacing)
    {
        if (m_copyName.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
            const auto linkAs = [&self, this](const std::string &copy) {
                return ::linkat(AT_FDCWD, self.c_str(), m_folder, copy.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
            };
            if (!replacing)
                return linkAs(m_name);
            if (const int error = nameCopy(linkAs))
                return error;
        }
        const unsigned flags = replacing ? 0 : RENAME_NOREPLACE;
        // A file system that cannot rename only to a free name (EINVAL, as
        // NFS) renames as it can.
        if (::renameat2(m_folder, m_copyName.c_str(), m_folder, m_name.c_str(), flags) != 0
            && (flags == 0 || errno != EINVAL
                || ::renameat(m_folder, m_copyName.c_str(), m_folder, m_name.c_str()) != 0))
            return errno;
        m_copyName.clear();
        return 0;
    }

private:
    // Gives the copy a hidden name with `take`, which returns 0 or the error.
    template <typename Take>
    int nameCopy(const Take &take)
    {
        removeIfAbandoned(m_folder, copyName(m_name, 0));
        constexpr int kAttempts = 100;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const std::string copy = copyName(m_name, attempt);
            const int error = take(copy);
            if (error == 0)
                m_copyName = copy;
            if (error != EEXIST)
                return error;
        }
        return EEXIST;
    }

    int m_folder;
    std::string m_name;
    UniqueFd m_fd;
    std::string m_copyName;
};

// Writes a new file beside the target and puts it in the target's place. 0
// or the error; a new file that did not take the name is gone by then, and
// the space it held free again.
int writeBeside(const Target &target, const std::optional<Identity> &earlier, std::string_view content)
{
    NewFile file(target.folder.get(), target.name);
    if (const int error = file.create(earlier.has_value()))
        return error;
    if (earlier) {
        if (const int error = takeOnIdentity(file.fd(), *earlier))
            return error;
    }
    std::size_t written = 0;
    if (const int error = posix::writeAt(file.fd(), content, 0, written))
        return error;
    if (earlier) {
        if (const int error = checkIdentity(file.fd(), *earlier))
            return error;
    }
    // On disk before it gets the name, so that after a crash the name holds
    // the earlier file or the new one, complete. The folder is not synced as
    // well: that would only make the rename itself survive a power cut in
    // the next few seconds, at about half again the cost of the whole write.
    if (::fdatasync(file.fd()) != 0)
        return errno;
    return file.publish(earlier.has_value());
}

enum class Outcome { Done, WriteInPlace, StartAgain };

// Writes a new file and puts it in the target's place. Changes nothing when
// an earlier file is better written in place, or when another program took
// the name meanwhile.
Outcome replaceByRename(const Target &target, std::string_view content)
{
    std::optional<Identity> earlier;
    if (target.existing) {
        earlier = identityOf(target);
        if (!earlier || earlier->info.st_nlink != 1)
            return Outcome::WriteInPlace;
    }
    const int error = writeBeside(target, earlier, content);
    if (error == 0)
        return Outcome::Done;
    if (!earlier && error == EEXIST)
        return Outcome::StartAgain;
    if (!earlier || !inPlaceMayDoBetter(error))
        fail(error, target, posix::adviceFor(error, target, content.size()));
    // Writing in place needs room only beyond what the old file holds; if
    // not even that is free, fail now, before opening it for writing.
    struct statvfs disk = {};
    const auto held = static_cast<unsigned long long>(earlier->info.st_blocks) * 512;
    if (error == ENOSPC && ::fstatvfs(target.folder.get(), &disk) == 0
        && held + (::geteuid() == 0 ? disk.f_bfree : disk.f_bavail) * disk.f_frsize
            < static_cast<unsigned long long>(content.size()))
        fail(error, target, posix::adviceFor(error, target, content.size()));
    return Outcome::WriteInPlace;
}

// Whether the folder keeps every name it holds (marked append-only or
// immutable): no copy put there could replace the file, nor go again.
bool keepsItsNames(const Target &target)
{
    struct statx folder = {};
    return ::statx(target.folder.get(), "", AT_EMPTY_PATH, STATX_TYPE, &folder) == 0
        && (folder.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
}

// One round of writing what the walk found. False when it has to start
// again from the walk, having changed nothing.
bool writeTo(const Target &target, std::string_view content)
{
    if (!target.existing) {
        checkSizeLimit(target, content.size());
        if (!keepsItsNames(target))
            return replaceByRename(target, content) == Outcome::Done;
        // Where no copy could go again, the file is created as a plain write
        // creates it, and the next round writes it in place.
        const UniqueFd created(target.open(O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0666));
        if (!created && errno != EEXIST) {
            const int error = errno;
            fail(error, target, posix::adviceFor(error, target, content.size()));
        }
        return false;
    }
    const mode_t type = target.existing->st_mode & S_IFMT;
    if (type == S_IFREG) {
        // The earlier file must be one we may write ourselves: a read-only
        // file is an error, never silently replaced. Asked without opening
        // it, so that a program watching it sees no write.
        if (::faccessat(target.folder.get(), target.name.c_str(), W_OK,
                        AT_EACCESS | (target.throughProcLink ? 0 : AT_SYMLINK_NOFOLLOW))
            != 0) {
            const int error = errno;
            fail(error, target, posix::adviceFor(error, target, content.size()));
        }
        checkSizeLimit(target, content.size());
        // A file reached through /proc is the one a process holds open, so it
        // keeps its inode, as under a plain write.
        const Outcome outcome = target.throughProcLink || keepsItsNames(target) ? Outcome::WriteInPlace
                                                                                : replaceByRename(target, content);
        if (outcome == Outcome::WriteInPlace)
            return posix::writeInPlace(target, content);
        return outcome != Outcome::StartAgain;
    }
    if (type == S_IFIFO || type == S_IFCHR)
        return posix::writeThrough(target, content);
    // No configuration file is a disk: never write over one.
    if (type == S_IFBLK)
        fail(EOPNOTSUPP, target, posix::adviceBlockDevice(target));
    fail(ENXIO, target, posix::adviceSocket(target)); // as opening a socket answers
}

} // namespace

void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content)
{
    if (directory.empty())
        fail(ENOENT, std::string(name)); // never the working directory by default
    const QuietSignals quiet;
    // Another program may change the name between the walk and the write:
    // a program replacing the file, another user putting something there,
    // another copy of this one that went on without its turn. A round that
    // finds so before a byte changed starts again from the walk, which then
    // tells what stands there now.
    constexpr int kRounds = 5;
    for (int round = 1;; ++round) {
        Target target = posix::findTarget(directory.native(), name);
        const posix::WritersTurn turn(target.folder.get());
        // Another copy may have written while this one waited for its turn.
        if (!target.unchanged())
            target = posix::findTarget(directory.native(), name);
        try {
            if (writeTo(target, content))
                return;
        } catch (const ConfigWriteError &error) {
            if (error.fileChanged() || target.unchanged())
                throw;
        }
        if (round == kRounds)
            fail(EAGAIN, target, posix::adviceReplacedMeanwhile(target));
    }
}

} // namespace ornivex
