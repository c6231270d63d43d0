#include "advice.h"

#include "config_write_error.h"
#include "target.h"
#include "unicode_text.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>

namespace ornivex::posix {
namespace {

std::u16string number(unsigned long long value)
{
    return fromAscii(std::to_string(value));
}

std::u16string kilobytes(std::size_t bytes)
{
    return number((bytes + 1023) / 1024) + u" KB";
}

// The system's text for an error, in the language of the user's locale.
std::u16string systemText(int error)
{
    std::array<char, 256> buffer{};
    return fromUtf8(::strerror_r(error, buffer.data(), buffer.size()));
}

// The file's name for the operator. Reached through a link of /proc, its
// own name there (a descriptor's number) says nothing, so the path is shown.
std::u16string nameOf(const Target &target)
{
    return pathForDisplay(target.throughProcLink ? target.shownPath : target.name);
}

std::u16string thisUser()
{
    return userName(::geteuid()) + u", the user this program runs as";
}

// "<owner> or an administrator", or only "an administrator" where the owner
// is the administrator.
std::u16string whoCanChange(uid_t owner)
{
    return owner == 0 ? u"an administrator" : userName(owner) + u" or an administrator";
}

std::u16string kindOf(const struct stat &info)
{
    if (S_ISFIFO(info.st_mode))
        return u"a FIFO (a named pipe)";
    if (S_ISCHR(info.st_mode))
        return u"a device (" + number(major(info.st_rdev)) + u":" + number(minor(info.st_rdev)) + u")";
    return u"a file";
}

std::u16string notWritable(const Target &target)
{
    const std::u16string name = nameOf(target);
    const std::u16string what = S_ISREG(target.existing->st_mode) ? u"The earlier " + name
                                                                  : name + u", " + kindOf(*target.existing) + u",";
    const uid_t owner = target.existing->st_uid;
    if (owner == ::geteuid())
        return what + u" belongs to " + userName(owner)
            + u", the user this program runs as, but its mode makes it read-only. Make it writable (for example "
              u"with chmod u+w).";
    return what + u" belongs to " + userName(owner) + u" and is read-only for " + thisUser() + u". Have "
        + whoCanChange(owner) + u" make it writable for " + userName(::geteuid())
        + u" (for example with chown or chmod), or delete it.";
}

// An immutable or append-only file refuses every user, root included.
std::u16string markedFile(const Target &target)
{
    const UniqueFd file(target.open(O_RDONLY | O_NOCTTY | O_NONBLOCK));
    long flags = 0;
    if (!file || ::ioctl(file.get(), FS_IOC_GETFLAGS, &flags) != 0 || (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) == 0)
        return {};
    const bool immutable = (flags & FS_IMMUTABLE_FL) != 0;
    return nameOf(target) + (immutable ? u" is marked immutable" : u" is marked append-only")
        + u", so that no user may change it. Have an administrator remove the mark (chattr "
        + (immutable ? u"-i" : u"-a") + u").";
}

std::u16string folderRefusesFiles(const Target &target)
{
    struct statx folder = {};
    if (::statx(target.folder.get(), "", AT_EMPTY_PATH, STATX_UID, &folder) != 0)
        return {};
    const std::u16string shownFolder = pathForDisplay(target.shownFolder());
    // A folder marked immutable refuses every user, root included.
    if ((folder.stx_attributes & STATX_ATTR_IMMUTABLE) != 0)
        return u"The folder " + shownFolder + u" is marked immutable, so that no user may create a file in it. Have "
            + u"an administrator remove the mark (chattr -i).";
    if (folder.stx_uid == ::geteuid())
        return u"The folder " + shownFolder + u" belongs to " + userName(folder.stx_uid)
            + u", the user this program runs as, but does not let it create files. Make it writable (for example "
              u"with chmod u+w).";
    return u"The folder " + shownFolder + u" belongs to " + userName(folder.stx_uid) + u" and does not let "
        + thisUser() + u", create files in it. Have " + whoCanChange(folder.stx_uid) + u" make it writable for "
        + userName(::geteuid()) + u", or install the program into a folder that user may write to.";
}

std::u16string sizeLimit(const Target &target, std::size_t size)
{
    rlimit limit = {};
    // A limit the file fits under was not the cause: the file system was.
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(size) > limit.rlim_cur)
        return u"A file size limit of " + number(limit.rlim_cur) + u" bytes applies to this program (ulimit -f), and "
            + u"the file needs " + number(size) + u" bytes. Start the program without that limit.";
    return u"The file system that holds " + pathForDisplay(target.shownFolder()) + u" cannot hold a file of "
        + number(size) + u" bytes. Shorten the messages, or install the program on another disk.";
}

} // namespace

std::u16string userName(uid_t user)
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
    passwd entry = {};
    passwd *found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    if (error == 0 && found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0')
        return pathForDisplay(found->pw_name); // escapes what could break a line
    return u"user " + number(user);
}

void fail(int error, const std::string &shownPath, std::u16string advice, bool fileChanged)
{
    throw ConfigWriteError(error, pathForDisplay(shownPath), systemText(error), std::move(advice), fileChanged);
}

void fail(int error, const Target &target, std::u16string advice, bool fileChanged)
{
    fail(error, target.shownPath, std::move(advice), fileChanged);
}

std::u16string adviceFor(int error, const Target &target, std::size_t size)
{
    const bool regular = target.existing && S_ISREG(target.existing->st_mode);
    const std::u16string shownFolder = pathForDisplay(target.shownFolder());
    switch (error) {
    case EACCES:
        return target.existing ? notWritable(target) : folderRefusesFiles(target);
    case EPERM:
        return regular ? markedFile(target) : target.existing ? std::u16string() : folderRefusesFiles(target);
    case ENXIO:
        if (target.existing && S_ISFIFO(target.existing->st_mode))
            return nameOf(target)
                + u" is a FIFO (a named pipe), not a plain file, and no program has it open for reading. Start "
                  u"the program that reads it, or delete the FIFO so that a plain file can be written.";
        return {};
    case ENOSPC:
        return u"The disk that holds " + shownFolder + u" is full; the file needs " + kilobytes(size)
            + u". Free some space on it.";
    case EDQUOT:
        return u"The disk quota of " + userName(::geteuid()) + u" on the disk that holds " + shownFolder
            + u" is used up; the file needs " + kilobytes(size) + u". Delete some files of that user there, or "
            + u"have an administrator raise the quota.";
    case EFBIG:
        return sizeLimit(target, size);
    case EROFS:
        return u"The folder " + shownFolder + u" lies on a file system that is mounted read-only. Have it mounted "
            + u"read-write, or install the program on a disk that can be written.";
    case EIO:
        return u"The disk that holds " + shownFolder + u" reported a fault. Check the disk (the system log names "
            + u"the fault).";
    default:
        return {};
    }
}

std::u16string adviceStranger(const std::u16string &name, const char16_t *kind, uid_t owner, const struct stat &folder,
                              const std::string &shownFolder)
{
    const uid_t self = ::geteuid();
    const std::u16string notTrusted = folder.st_uid == self
        ? u"not of " + userName(self) + u", the user this program runs as and the folder's owner"
        : u"who is neither " + userName(self) + u" (the user this program runs as) nor " + userName(folder.st_uid)
            + u" (the folder's owner)";
    return name + u" in " + pathForDisplay(shownFolder) + u", a folder every user may write to, is " + kind + u" of "
        + userName(owner) + u", " + notTrusted
        + u". It is not used, since another user may have put it there to catch or steer the settings. Have "
        + whoCanChange(owner) + u" delete it, or install the program into a folder of its own.";
}

std::u16string adviceHeld(const Target &target, int seconds)
{
    return u"Another program held " + nameOf(target) + u" locked for more than "
        + number(static_cast<unsigned>(seconds))
        + u" seconds: another copy of this program writing it, or a program that locked it and stopped. Close that "
          u"program.";
}

std::u16string adviceStalled(int error, const Target &target, std::size_t sent, std::size_t size, int seconds)
{
    const std::u16string start = nameOf(target) + u" is " + kindOf(*target.existing) + u", not a plain "
        + u"file, and ";
    const std::u16string count = number(sent) + u" of " + number(size) + u" bytes";
    const std::u16string remedy = u" Delete it, or the link that leads to it, so that a plain file can be written.";
    const bool fifo = S_ISFIFO(target.existing->st_mode);
    if (fifo && error == EAGAIN)
        return start + u"the program reading it stopped reading: it took nothing for "
            + number(static_cast<unsigned>(seconds)) + u" seconds, with " + count
            + u" written into the FIFO. Make sure that program reads on, or restart it." + remedy;
    if (fifo && error == EPIPE)
        return start + u"the program reading it closed it after " + count
            + u" had been written into the FIFO. Restart that program." + remedy;
    return start + u"it took " + count + u" before it " + (error == EAGAIN ? u"stopped taking more." : u"failed.")
        + remedy;
}

std::u16string adviceBlockDevice(const Target &target)
{
    return nameOf(target)
        + u" is a block device, a disk or a partition: writing the settings onto it would destroy the data it holds, "
          u"so this program never does. Delete it, or the link that leads to it, so that a plain file can be "
          u"written.";
}

std::u16string adviceSocket(const Target &target)
{
    return nameOf(target)
        + u" is a socket, through which programs talk to each other, not a file. Delete it so that a plain file can "
          u"be written.";
}

std::u16string adviceWalk(int error, int folder, const std::string &shownFolder, const std::string &shownEntry)
{
    struct stat info = {};
    switch (error) {
    case ENOENT:
        return pathForDisplay(shownEntry)
            + u" does not exist. Create that folder, or correct the symbolic link that leads there.";
    case EACCES:
        if (::fstat(folder, &info) != 0)
            return {};
        return thisUser() + u", may not look into the folder " + pathForDisplay(shownFolder) + u", which belongs to "
            + userName(info.st_uid) + u". Have " + whoCanChange(info.st_uid)
            + u" let that user in (chmod o+x, or a group or ACL that allows it).";
    case ELOOP:
        return u"The symbolic links on the way to the file lead in a circle, or more than 40 deep. Correct them.";
    case ENOTDIR:
        return pathForDisplay(shownEntry)
            + u" is a file where a folder is needed on the way to the file. Move it away.";
    default:
        return {};
    }
}

std::u16string adviceManyNamesInASharedFolder(const std::u16string &name, const std::string &shownFolder)
{
    return name + u" in " + pathForDisplay(shownFolder)
        + u", a folder every user may write to, has more than one name: another user may have linked it to a file "
          u"of yours, which writing it would overwrite. Delete it, or install the program into a folder of its own.";
}

std::u16string adviceFolderInTheWay(const std::u16string &name)
{
    return u"A folder named " + name + u" stands where the file belongs. Move or rename that folder.";
}

std::u16string adviceReplacedMeanwhile(const Target &target)
{
    return nameOf(target)
        + u" was changed by another program each time this one was about to write it, so nothing was written: "
          u"another copy of this program writing it, or a program that replaces it again and again. Close that "
          u"program, or press again.";
}

std::u16string adviceLeftBehind(const Target &target, LeftBehind state)
{
    const std::u16string name = nameOf(target);
    switch (state) {
    case LeftBehind::NewThenOld:
        return name + u" now begins with the new settings, but old lines follow them, which the server may misread "
            + u"until the file is written whole.";
    case LeftBehind::OldThenPartOfNew:
        return name + u" still begins with the old settings, but part of the new ones follows them, which the "
            + u"server may misread until the file is written whole.";
    case LeftBehind::NewThenOldEnd:
        return name + u" now holds the new settings followed by the end of the old file, which the server may "
            + u"misread until the file is written whole.";
    case LeftBehind::NewPerhapsUnsaved:
        return name + u" now holds the new settings, but the disk failed to save them, so after a crash or power "
            + u"cut it may hold old or mixed lines.";
    }
    return {};
}

} // namespace ornivex::posix
