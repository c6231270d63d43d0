#include "in_place.h"

#include "advice.h"
#include "target.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>

namespace ornivex::posix {
namespace {

using Clock = std::chrono::steady_clock;

// How long a write waits for another program: a FIFO's reader, a device, a
// lock or a lease held on the file. Ample for a program that is working, and
// short enough that the window, which cannot repaint meanwhile, is soon back.
constexpr int kPatienceSeconds = 5;

Clock::time_point deadlineFromNow()
{
    return Clock::now() + std::chrono::seconds(kPatienceSeconds);
}

// Waits until `fd` can take bytes, or for `retryMilliseconds` where there is
// nothing to wait on (locks and leases give no event), but not past the
// deadline. False once the deadline has passed.
bool waitUntil(Clock::time_point deadline, int fd = -1, long long retryMilliseconds = 10)
{
    const long long left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd writable{fd, POLLOUT, 0};
    ::poll(&writable, fd < 0 ? 0 : 1, static_cast<int>(fd < 0 ? std::min(left, retryMilliseconds) : left));
    return true;
}

UniqueFd openForWriting(const Target &target, Clock::time_point deadline, std::size_t size)
{
    while (true) {
        UniqueFd file(target.open(O_WRONLY | O_NOCTTY | O_NONBLOCK));
        if (file)
            return file;
        const int error = errno;
        // EWOULDBLOCK: another program holds a lease on the file, as file
        // servers do, and is being asked to give it up.
        if (error == EINTR || (error == EWOULDBLOCK && waitUntil(deadline)))
            continue;
        fail(error, target,
             error == EWOULDBLOCK ? adviceHeld(target, kPatienceSeconds) : adviceFor(error, target, size));
    }
}

// Whether `fd`, opened by the name, is the file the walk found there. False
// means another program replaced it meanwhile: the press starts again from
// the walk. That is decided here, where the replacement is seen, and never
// by looking at the name once more, since a file system may give a new file
// the inode number of the one it replaced (ext4 does so at once), and two
// writers taking turns then leave the name looking unchanged.
bool stillTheTarget(const Target &target, int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        fail(errno, target, {});
    return sameFile(info, *target.existing);
}

// Takes an exclusive lock on the file through `fd`, waiting for another
// holder until the deadline. False where it cannot be had this way: a file
// system without such locks, or one that wants a descriptor open for writing.
bool lockFile(const Target &target, int fd, Clock::time_point deadline)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK && !waitUntil(deadline))
            fail(EWOULDBLOCK, target, adviceHeld(target, kPatienceSeconds));
        if (error != EINTR && error != EWOULDBLOCK)
            return false;
    }
    return true;
}

// Writes `content` over the regular file `fd`, which holds `oldSize` bytes,
// and syncs it. The space is reserved first, so that a full disk or quota
// fails before a byte changes. Where the file system cannot reserve (ext4
// without extents, many FUSE file systems), the file first grows by the part
// beyond its old end, synced, which takes every block the new content needs
// and is cut off again if that fails; only then are the old bytes
// overwritten, which needs no new block where a file system overwrites in
// place. A copy-on-write one needs fresh blocks even to overwrite, so there
// a full disk can still stop the write partway: the error then says what the
// file holds.
void overwrite(const Target &target, int fd, off_t oldSize, std::string_view content)
{
    const std::size_t size = content.size();
    const auto failWith = [&](int error, std::optional<LeftBehind> state) {
        std::u16string advice = adviceFor(error, target, size);
        if (state) {
            // In two steps: u" " + a temporary draws a false -Wrestrict
            // warning from g++ 12 at -O3.
            if (!advice.empty())
                advice += u' ';
            advice += adviceLeftBehind(target, *state);
        }
        fail(error, target, std::move(advice), state.has_value());
    };
    const bool reserved = size == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0;
    if (const int error = errno; !reserved && error != EOPNOTSUPP)
        failWith(error, std::nullopt);
    const auto old = static_cast<std::size_t>(oldSize);
    std::size_t head = size;
    std::size_t written = 0;
    if (!reserved && size > old) {
        head = old;
        int error = writeAt(fd, content.substr(old), oldSize, written);
        if (error == 0 && ::fdatasync(fd) != 0)
            error = errno;
        if (error != 0)
            failWith(error, ::ftruncate(fd, oldSize) == 0 ? std::nullopt : std::optional(LeftBehind::OldThenPartOfNew));
    }
    if (const int error = writeAt(fd, content.substr(0, head), 0, written)) {
        if (written > 0)
            failWith(error, LeftBehind::NewThenOld);
        const bool untouched = head == size || ::ftruncate(fd, oldSize) == 0;
        failWith(error, untouched ? std::nullopt : std::optional(LeftBehind::OldThenPartOfNew));
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        failWith(errno, LeftBehind::NewThenOldEnd);
    if (::fdatasync(fd) != 0)
        failWith(errno, LeftBehind::NewPerhapsUnsaved);
}

} // namespace

WritersTurn::WritersTurn(int folder)
    : m_folder(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    // A writer holds its turn for well under a millisecond unless a FIFO's
    // reader or a lock holds it up, so the lock is asked for that often.
    const Clock::time_point deadline = deadlineFromNow();
    while (m_folder && ::flock(m_folder.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EINTR && (error != EWOULDBLOCK || !waitUntil(deadline, -1, 1)))
            m_folder = UniqueFd();
    }
}

WritersTurn::~WritersTurn()
{
    // Released at once, even should a child process share the descriptor.
    if (m_folder)
        ::flock(m_folder.get(), LOCK_UN);
}

int writeAt(int fd, std::string_view bytes, off_t offset, std::size_t &written)
{
    written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                                       offset + static_cast<off_t>(written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0 ? ENOSPC : errno;
        written += static_cast<std::size_t>(count);
    }
    return 0;
}

bool writeInPlace(const Target &target, std::string_view content)
{
    const Clock::time_point deadline = deadlineFromNow();
    // Two writers in place must take turns: one's ftruncate could otherwise
    // extend the file after the other's shorter write, leaving NUL bytes. So
    // each holds an exclusive lock from its first write until the data is
    // synced. It is taken through a descriptor open only for reading where
    // the file allows, so that a press that finds it held never opens the
    // file for writing.
    const UniqueFd reader(target.open(O_RDONLY | O_NOCTTY | O_NONBLOCK));
    if (reader && !stillTheTarget(target, reader.get()))
        return false;
    const bool locked = reader && lockFile(target, reader.get(), deadline);
    UniqueFd file = openForWriting(target, deadline, content.size());
    if (!stillTheTarget(target, file.get()))
        return false;
    if (!locked)
        lockFile(target, file.get(), deadline);
    struct stat info = {};
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (::fstat(file.get(), &info) != 0 || flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        fail(errno, target, {});
    overwrite(target, file.get(), info.st_size, content);
    if (const int error = file.close())
        fail(error, target, adviceLeftBehind(target, LeftBehind::NewPerhapsUnsaved), true);
    return true;
}

bool writeThrough(const Target &target, std::string_view content)
{
    Clock::time_point deadline = deadlineFromNow();
    UniqueFd file = openForWriting(target, deadline, content.size());
    if (!stillTheTarget(target, file.get()))
        return false;
    std::size_t sent = 0;
    while (sent < content.size()) {
        const ssize_t count = ::write(file.get(), content.data() + sent, content.size() - sent);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            // A reader that keeps reading gets everything, however slowly, as
            // from a plain write; only one that takes nothing for the whole
            // patience has stopped.
            deadline = deadlineFromNow();
            continue;
        }
        const int error = count == 0 ? ENOSPC : errno;
        // EAGAIN: the FIFO's buffer is full, or the device busy.
        if (error == EINTR || (error == EAGAIN && waitUntil(deadline, file.get())))
            continue;
        fail(error, target, adviceStalled(error, target, sent, content.size(), kPatienceSeconds), sent > 0);
    }
    if (const int error = file.close())
        fail(error, target, adviceStalled(error, target, sent, content.size(), kPatienceSeconds), true);
    return true;
}

} // namespace ornivex::posix
