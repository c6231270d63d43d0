#include "file_replacement.h"

#include "unicode_text.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ornivex {
namespace {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Closes now and returns 0 or the error close() gave, which for some
    // file systems is the first report of a failed write.
    int close()
    {
        const int result = ::close(std::exchange(m_fd, -1));
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

// The system's text for an error, in the language of the user's locale.
std::u16string systemText(int error)
{
    std::array<char, 256> buffer{};
    return fromUtf8(::strerror_r(error, buffer.data(), buffer.size()));
}

[[noreturn]] void fail(int error, const std::string &path)
{
    throw ConfigWriteError(error, pathForDisplay(path), systemText(error));
}

std::string joinPath(const std::string &directory, std::string_view name)
{
    if (directory.empty())
        return std::string(name);
    return directory + (directory.back() == '/' ? "" : "/") + std::string(name);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

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

// --- Finding the file ----------------------------------------------------

// Where the name finally leads: a folder, held open, and a name in it that is
// no symbolic link. Everything after is done relative to the folder, so no
// path grows past PATH_MAX and no link is swapped in between.
struct Target {
    UniqueFd folder;
    std::string name;
    std::string shownPath; // for messages: the path that failed
    std::optional<struct stat> existing;
};

// The rule the kernel applies with fs.protected_symlinks, applied whatever
// that setting: in a sticky, world-writable folder a link is followed only
// when it belongs to us or to the folder's owner, so another user cannot
// point our write at a file of ours.
bool mayFollow(int folder, const struct stat &link)
{
    struct stat info = {};
    if (::fstat(folder, &info) != 0)
        return false;
    if ((info.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH))
        return true;
    return link.st_uid == ::geteuid() || link.st_uid == info.st_uid;
}

// Puts the names of a path in front of the names still to walk.
void prependParts(std::deque<std::string> &parts, std::string_view path)
{
    std::deque<std::string> split;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start)
            split.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (!path.empty() && path.back() == '/')
        split.emplace_back("."); // "dir/" names the folder itself
    parts.insert(parts.begin(), split.begin(), split.end());
}

UniqueFd openFolder(int at, const char *path, const std::string &shownPath)
{
    UniqueFd folder(::openat(at, path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        fail(errno, shownPath);
    return folder;
}

// Walks the path one name at a time, following symbolic links as the kernel
// would but under the rule above.
Target findTarget(const std::string &directory, std::string_view name)
{
    constexpr int kMaxLinks = 40; // as the kernel allows
    std::deque<std::string> parts{std::string(name)};
    std::string shown = directory.substr(0, std::max<std::size_t>(directory.find_last_not_of('/') + 1, 1));
    // Most folders have no link on their path: then one call opens them and
    // only the name itself needs a look.
    open_how withoutLinks{O_PATH | O_DIRECTORY | O_CLOEXEC, 0, RESOLVE_NO_SYMLINKS};
    UniqueFd folder(
        static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, directory.c_str(), &withoutLinks, sizeof withoutLinks)));
    if (!folder) {
        prependParts(parts, directory);
        const bool absolute = directory.front() == '/';
        shown.assign(absolute ? 1 : 0, '/'); // not = "/": g++ 12 warns wrongly
        folder = openFolder(AT_FDCWD, absolute ? "/" : ".", shown);
    }
    int links = 0;
    while (true) {
        const std::string part = std::move(parts.front());
        parts.pop_front();
        const auto shownHere = [&] {
            std::string path = joinPath(shown, part);
            for (const std::string &rest : parts)
                path = joinPath(path, rest);
            return path;
        };
        const bool last = parts.empty();
        if (part == "." && !last)
            continue;
        struct stat info = {};
        if (::fstatat(folder.get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last)
                return {std::move(folder), part, shownHere(), std::nullopt};
            fail(errno, shownHere());
        }
        if (S_ISLNK(info.st_mode)) {
            if (++links > kMaxLinks)
                fail(ELOOP, shownHere());
            if (!mayFollow(folder.get(), info))
                fail(EACCES, shownHere());
            std::string target(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(folder.get(), part.c_str(), target.data(), target.size());
            if (length < 0 || length == static_cast<ssize_t>(target.size()))
                fail(length < 0 ? errno : ENAMETOOLONG, shownHere());
            target.resize(static_cast<std::size_t>(length));
            if (target.empty())
                fail(ENOENT, shownHere());
            if (target.front() == '/') {
                shown.assign(1, '/');
                folder = openFolder(AT_FDCWD, "/", shown);
            }
            prependParts(parts, target);
            continue;
        }
        if (last) {
            if (part == "." || part == ".." || S_ISDIR(info.st_mode))
                fail(EISDIR, shownHere());
            return {std::move(folder), part, shownHere(), info};
        }
        folder = openFolder(folder.get(), part.c_str(), shownHere());
        shown = joinPath(shown, part);
    }
}

// --- Writing ---------------------------------------------------------------

// 0 or the error of the first failing write.
int writeAll(int fd, std::string_view bytes, bool fromStart)
{
    const char *next = bytes.data();
    auto left = static_cast<std::size_t>(bytes.size());
    off_t offset = 0;
    while (left > 0) {
        const ssize_t written = fromStart ? ::pwrite(fd, next, left, offset) : ::write(fd, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written == 0 ? ENOSPC : errno;
        next += written;
        offset += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

// A file size limit would cut the file short; say so before anything changes.
void checkSizeLimit(std::size_t size, const std::string &shownPath)
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur)
        fail(EFBIG, shownPath);
}

// Writes over the file where it is: for a file the new one could not stand in
// for, and for devices and FIFOs, which are written through as they are.
void writeInPlace(const Target &target, std::string_view content)
{
    // O_NONBLOCK: a FIFO nobody reads fails at once instead of hanging.
    UniqueFd file(
        ::openat(target.folder.get(), target.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat info = {};
    if (!file || ::fstat(file.get(), &info) != 0)
        fail(errno, target.shownPath);
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        fail(errno, target.shownPath);

    if (!S_ISREG(info.st_mode)) {
        if (const int error = writeAll(file.get(), content, false))
            fail(error, target.shownPath);
        if (const int error = file.close())
            fail(error, target.shownPath);
        return;
    }
    // Reserve the blocks first, so that a full disk or quota fails before the
    // first byte changes. Where the file system cannot reserve (EOPNOTSUPP),
    // running out of space mid-write remains possible and leaves the file
    // partly new; so does a copy-on-write file system, which needs fresh
    // blocks even to overwrite.
    const auto size = static_cast<off_t>(content.size());
    if (!content.empty() && ::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP)
        fail(errno, target.shownPath);
    if (const int error = writeAll(file.get(), content, true))
        fail(error, target.shownPath);
    if (::ftruncate(file.get(), size) != 0 || ::fdatasync(file.get()) != 0)
        fail(errno, target.shownPath);
    if (const int error = file.close())
        fail(error, target.shownPath);
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
// cannot be read.
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

// What a replacement must keep of the earlier file.
struct Identity {
    struct stat info;
    Attributes attributes;
    long inodeFlags;
};

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
    return Identity{info, std::move(*attributes), inodeFlagsOf(file.get())};
}

// Gives the new file the earlier one's owner, group, attributes and mode, in
// that order (a change of owner clears set-id bits, an ACL sets group bits).
// Returns 0 when the two can no longer be told apart, else the error.
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
    const bool sameAttributes = *attributes == earlier.attributes;
    if (!sameAttributes) {
        for (const auto &[attribute, value] : *attributes) {
            if (!earlier.attributes.contains(attribute) && ::fremovexattr(fd, attribute.c_str()) != 0)
                return errno;
        }
        for (const auto &[attribute, value] : earlier.attributes) {
            if (::fsetxattr(fd, attribute.c_str(), value.data(), value.size(), 0) != 0)
                return errno;
        }
    }
    if (::fchmod(fd, earlier.info.st_mode & 07777) != 0 || ::fstat(fd, &info) != 0)
        return errno;
    if (info.st_uid != earlier.info.st_uid || info.st_gid != earlier.info.st_gid || info.st_mode != earlier.info.st_mode
        || (!sameAttributes && attributesOf(fd) != earlier.attributes) || inodeFlagsOf(fd) != earlier.inodeFlags)
        return EPERM;
    return 0;
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
// (see removeIfAbandoned); where the file system has no locks, nobody can
// take a copy for abandoned, so a failed lock is no error.
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

    // 0 or the error.
    int create()
    {
        // Linking an unnamed file goes through /proc, so without it use a name.
        static const bool canLinkUnnamed = ::access("/proc/self/fd", X_OK) == 0;
        // 0666 lets the umask decide, as for any newly created file.
        if (canLinkUnnamed) {
            m_fd = UniqueFd(::openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
            if (m_fd) {
                ::flock(m_fd.get(), LOCK_EX);
                return 0;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR)
                return errno;
        }
        return nameCopy([this](const std::string &copy) {
            m_fd = UniqueFd(
                ::openat(m_folder, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!m_fd)
                return errno;
            ::flock(m_fd.get(), LOCK_EX);
            // Still ours: another writer may have taken it for abandoned in
            // the instant before the lock.
            struct stat held = {};
            struct stat named = {};
            const bool ours = ::fstat(m_fd.get(), &held) == 0
                && ::fstatat(m_folder, copy.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named);
            return ours ? 0 : EEXIST;
        });
    }

    int fd() const { return m_fd.get(); }

    // Makes the new file the target: by linking it in where nothing stood,
    // else by renaming a named copy over the target. 0 or the error.
    int publish(bool replacing)
    {
        if (m_copyName.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
            const auto linkAs = [&self, this](const std::string &copy) {
                return ::linkat(AT_FDCWD, self.c_str(), m_folder, copy.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
            };
            if (!replacing) {
                const int error = linkAs(m_name);
                if (error != EEXIST)
                    return error;
            }
            if (const int error = nameCopy(linkAs))
                return error;
        }
        if (::renameat(m_folder, m_copyName.c_str(), m_folder, m_name.c_str()) != 0)
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

// Writes a new file and puts it in the target's place. Returns false, having
// changed nothing, when an earlier file is better written in place.
bool replaceByRename(const Target &target, std::string_view content)
{
    std::optional<Identity> earlier;
    if (target.existing) {
        earlier = identityOf(target);
        if (!earlier || earlier->info.st_nlink != 1)
            return false;
    }
    const auto giveUp = [&](int error) {
        if (earlier && inPlaceMayDoBetter(error)) {
            // Writing in place needs room only beyond what the old file
            // holds; if not even that is free, fail now, before opening it
            // for writing.
            struct statvfs disk = {};
            const auto held = static_cast<unsigned long long>(earlier->info.st_blocks) * 512;
            if (error == ENOSPC && ::fstatvfs(target.folder.get(), &disk) == 0
                && held + (::geteuid() == 0 ? disk.f_bfree : disk.f_bavail) * disk.f_frsize
                    < static_cast<unsigned long long>(content.size()))
                fail(error, target.shownPath);
            return false;
        }
        fail(error, target.shownPath);
    };

    NewFile file(target.folder.get(), target.name);
    if (const int error = file.create())
        return giveUp(error);
    if (const int error = writeAll(file.fd(), content, false))
        return giveUp(error);
    if (earlier) {
        if (const int error = takeOnIdentity(file.fd(), *earlier))
            return giveUp(error);
    }
    // On disk before it gets the name, so that after a crash the name holds
    // the earlier file or the new one, complete. The folder is not synced as
    // well: that would only make the rename itself survive a power cut in
    // the next few seconds, at about half again the cost of the whole write.
    if (::fdatasync(file.fd()) != 0)
        return giveUp(errno);
    if (const int error = file.publish(earlier.has_value()))
        return giveUp(error);
    return true;
}

} // namespace

void ReplaceFileContents(const std::filesystem::path &directory, std::string_view name, std::string_view content)
{
    if (directory.empty())
        fail(ENOENT, std::string(name)); // never the working directory by default
    const QuietSignals quiet;
    const Target target = findTarget(directory.native(), name);
    if (!target.existing) {
        checkSizeLimit(content.size(), target.shownPath);
        replaceByRename(target, content);
        return;
    }
    if (S_ISREG(target.existing->st_mode)) {
        // The earlier file must be one we may write ourselves: a read-only
        // file is an error, never silently replaced. Asked without opening
        // it, so that a program watching it sees no write.
        if (::faccessat(target.folder.get(), target.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
            fail(errno, target.shownPath);
        checkSizeLimit(content.size(), target.shownPath);
        if (replaceByRename(target, content))
            return;
    }
    writeInPlace(target, content);
}

} // namespace ornivex
