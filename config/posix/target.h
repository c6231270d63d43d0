#pragma once

// Finding ORNIVEX_CONFIG.txt on a POSIX system: the folder that finally holds
// it, held open, and what stands at its name.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace ornivex::posix {

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

bool sameFile(const struct stat &a, const struct stat &b);

// Where the name finally leads: a folder, held open, and a name in it that is
// no symbolic link, or one of /proc's links that the kernel follows to an
// open file or pipe of some process. Everything after is done relative to
// the folder, so no path grows past PATH_MAX and no link is swapped in
// between.
struct Target {
    UniqueFd folder;
    std::string name;
    std::string shownPath; // for messages: the path that failed
    std::optional<struct stat> existing;
    bool throughProcLink = false; // `name` is a link of /proc, `existing` what it leads to

    // The folder's path, for messages.
    std::string shownFolder() const;
    // Opens what the name leads to, never following any other link.
    int open(int flags, mode_t mode = 0) const;
    // Whether the name still holds what the walk found there, or still nothing.
    bool unchanged() const;
};

// Walks `directory` and then `name` one name at a time, following symbolic
// links as the kernel would (those of /proc by the kernel itself), but in a
// sticky folder that anyone may write to (such as /tmp) uses a link, FIFO or
// file only when it belongs to this user or to the folder's owner: another
// user could have put it there to steer the write. Throws ConfigWriteError,
// with advice, when the way is barred.
Target findTarget(const std::string &directory, std::string_view name);

} // namespace ornivex::posix
