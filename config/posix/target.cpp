#include "target.h"

#include "advice.h"
#include "unicode_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/statfs.h>
#include <sys/syscall.h>

namespace ornivex::posix {
namespace {

std::string joinPath(const std::string &directory, std::string_view name)
{
    if (directory.empty())
        return std::string(name);
    return directory + (directory.back() == '/' ? "" : "/") + std::string(name);
}

// The folder's own details when it is sticky and every user may write to it,
// as /tmp is: there anyone may put a link, FIFO or file under our name.
std::optional<struct stat> sharedFolder(int folder)
{
    struct stat info = {};
    if (::fstat(folder, &info) != 0)
        return info; // unknown: treated as shared, so nothing in it is trusted
    if ((info.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH))
        return std::nullopt;
    return info;
}

// The rules the kernel applies with fs.protected_symlinks, protected_fifos
// and protected_regular, applied whatever those settings: in a shared folder
// a link is followed, and a FIFO or file written, only when it belongs to us
// or to the folder's owner, so that another user can neither point our write
// at a file of ours nor have it land in a file that user controls. Nor is a
// file with more than one name written there: where fs.protected_hardlinks
// is off, it may be another user's hard link to a file of ours.
void refuseStranger(int folder, const struct stat &entry, const std::string &part, const std::string &shownFolder,
                    const std::string &shownPath)
{
    const std::optional<struct stat> shared = sharedFolder(folder);
    if (!shared)
        return;
    if (entry.st_uid != ::geteuid() && entry.st_uid != shared->st_uid) {
        const char16_t *kind = S_ISLNK(entry.st_mode) ? u"a symbolic link"
            : S_ISFIFO(entry.st_mode)                 ? u"a FIFO"
                                                      : u"a file";
        fail(EACCES, shownPath, adviceStranger(pathForDisplay(part), kind, entry.st_uid, *shared, shownFolder));
    }
    if (S_ISREG(entry.st_mode) && entry.st_nlink > 1)
        fail(EACCES, shownPath, adviceManyNamesInASharedFolder(pathForDisplay(part), shownFolder));
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

// The links of /proc (a process's root, its working folder, its open files)
// lead where the kernel says, which their text need not name: a root in
// another mount namespace, a pipe, a file since deleted. So the kernel
// follows them, as it does for a plain write.
bool onProc(int folder)
{
    struct statfs info = {};
    return ::fstatfs(folder, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

UniqueFd openFolder(int at, const char *path, const std::string &shownPath)
{
    UniqueFd folder(::openat(at, path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        fail(errno, shownPath);
    return folder;
}

} // namespace

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string Target::shownFolder() const
{
    const std::size_t slash = shownPath.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : shownPath.substr(0, slash);
}

int Target::open(int flags, mode_t mode) const
{
    return ::openat(folder.get(), name.c_str(), flags | O_CLOEXEC | (throughProcLink ? 0 : O_NOFOLLOW), mode);
}

bool Target::unchanged() const
{
    struct stat now = {};
    if (::fstatat(folder.get(), name.c_str(), &now, throughProcLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT && !existing;
    return existing && sameFile(now, *existing);
}

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
            const int error = errno;
            fail(error, shownHere(), adviceWalk(error, folder.get(), shown, joinPath(shown, part)));
        }
        const bool procLink = S_ISLNK(info.st_mode) && onProc(folder.get());
        if (S_ISLNK(info.st_mode)) {
            if (++links > kMaxLinks)
                fail(ELOOP, shownHere(), adviceWalk(ELOOP, folder.get(), shown, joinPath(shown, part)));
            refuseStranger(folder.get(), info, part, shown, shownHere());
        }
        if (S_ISLNK(info.st_mode) && !procLink) {
            std::string target(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(folder.get(), part.c_str(), target.data(), target.size());
            if (length < 0 || length == static_cast<ssize_t>(target.size())) {
                const int error = length < 0 ? errno : ENAMETOOLONG;
                fail(error, shownHere());
            }
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
            if (procLink && ::fstatat(folder.get(), part.c_str(), &info, 0) != 0) {
                const int error = errno;
                fail(error, shownHere(), adviceWalk(error, folder.get(), shown, joinPath(shown, part)));
            }
            if (part == "." || part == ".." || S_ISDIR(info.st_mode))
                fail(EISDIR, shownHere(), adviceFolderInTheWay(pathForDisplay(part)));
            if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))
                refuseStranger(folder.get(), info, part, shown, shownHere());
            return {std::move(folder), part, shownHere(), info, procLink};
        }
        UniqueFd next(
            ::openat(folder.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (procLink ? 0 : O_NOFOLLOW)));
        if (!next) {
            const int error = errno;
            fail(error, shownHere(), adviceWalk(error, folder.get(), shown, joinPath(shown, part)));
        }
        folder = std::move(next);
        shown = joinPath(shown, part);
    }
}

} // namespace ornivex::posix
