// Starts two programs in turn under the X server named by DISPLAY and
// measures for each start the time until its window is mapped and, in the
// first runs, its resident memory once it sits idle. Each run starts both,
// one right after the other, and prints the pair:
//     start_ms <program> <floor>
//     rss_kib <program> <floor>       (the first <memory runs> runs only)
// Every single start is also logged on standard error. The resident size
// varies by a few KiB at most, while a start varies by a third, so the
// starts get many more pairs; a start whose memory is not measured ends as
// soon as its window is mapped.
//
// Without a window manager a top-level window is a child of the root window,
// so selecting SubstructureNotify on the root reports its MapNotify the
// moment the server maps it.
//
// usage: window_start_bench <runs> <memory runs> <working directory> <log file> <program> <floor program>

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "window_start_bench: %s\n", message.c_str());
    std::exit(1);
}

// True once the child has ended; leaves it for waitpid to collect.
bool hasEnded(pid_t child)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child;
}

class MapWatcher {
public:
    MapWatcher()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection))
            die("cannot connect to the X server named by DISPLAY");
        xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screen);
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t *error = xcb_request_check(
            m_connection,
            xcb_change_window_attributes_checked(m_connection, screen.data->root, XCB_CW_EVENT_MASK, &mask));
        if (error != nullptr) {
            std::free(error);
            die("cannot watch the root window");
        }
        // The programs we start must not inherit our connection.
        ::fcntl(xcb_get_file_descriptor(m_connection), F_SETFD, FD_CLOEXEC);
    }

    MapWatcher(const MapWatcher &) = delete;
    MapWatcher &operator=(const MapWatcher &) = delete;
    ~MapWatcher() { xcb_disconnect(m_connection); }

    // Drops what earlier programs left queued, such as their windows' destruction.
    void discardPendingEvents()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // The moment a top-level window is mapped; nothing when the child ends
    // first or the deadline passes.
    std::optional<Clock::time_point> waitForTopLevelMap(pid_t child, Clock::time_point deadline)
    {
        for (;;) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const bool topLevelMapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY
                    && reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect == 0;
                std::free(event);
                if (topLevelMapped)
                    return Clock::now();
            }
            if (xcb_connection_has_error(m_connection))
                die("lost the connection to the X server");
            if (hasEnded(child) || Clock::now() >= deadline)
                return std::nullopt;
            // Wakes at once for X events, and now and then to see whether the child died.
            pollfd connection{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&connection, 1, 50);
        }
    }

private:
    xcb_connection_t *m_connection = nullptr;
};

long readResidentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    die("no VmRSS for process " + std::to_string(pid));
}

// Polls until the resident memory has stayed the same for a while: the
// window has painted and the program waits for input. Nothing when it is
// still changing at the deadline.
std::optional<long> settledResidentKib(pid_t pid, Clock::time_point deadline)
{
    constexpr auto kQuietPeriod = 500ms;
    constexpr auto kPollInterval = 20ms;
    long last = readResidentKib(pid);
    auto unchangedSince = Clock::now();
    while (Clock::now() - unchangedSince < kQuietPeriod) {
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
        const long current = readResidentKib(pid);
        if (current != last) {
            last = current;
            unchangedSince = Clock::now();
        }
    }
    return last;
}

// Locks every file the process maps (its program, libraries, plugins, fonts,
// caches) into memory for as long as the benchmark runs. This machine's
// memory manager pages out file pages that were not used for a few seconds
// (DAMON's pageout), so without the lock a start would now and then fault
// some of them back from the disk, and the program, which touches more of
// them than the floor, more often.
void lockFilesMappedBy(pid_t pid)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> files;
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t path = line.find(" /");
        if (path != std::string::npos)
            files.insert(line.substr(path + 1));
    }
    for (const std::string &file : files) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info { };
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        void *pages = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (pages == MAP_FAILED || ::mlock(pages, static_cast<std::size_t>(info.st_size)) != 0)
            std::fprintf(stderr, "window_start_bench: cannot lock %s in memory\n", file.c_str());
    }
}

struct Launch {
    double startMilliseconds = 0;
    long residentKib = 0;
};

// Both programs start the same way: same environment, same working
// directory, output into the same log. Nothing when no window showed.
std::optional<Launch> tryLaunch(MapWatcher &watcher, const std::string &program, const std::string &workingDirectory,
                                const std::string &logPath, bool measureMemory, bool lockItsFiles)
{
    watcher.discardPendingEvents();
    const auto startedAt = Clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        die("cannot fork");
    if (child == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0 || ::chdir(workingDirectory.c_str()) != 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0)
            ::_exit(126);
        ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    const auto mappedAt = watcher.waitForTopLevelMap(child, startedAt + 30s);
    const auto resident = mappedAt && measureMemory ? settledResidentKib(child, *mappedAt + 30s)
                                                    : std::optional<long>(0);
    if (resident && lockItsFiles)
        lockFilesMappedBy(child);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    if (!mappedAt)
        return std::nullopt;
    if (!resident)
        die("the resident memory of " + program + " did not settle");
    return Launch{std::chrono::duration<double, std::milli>(*mappedAt - startedAt).count(), *resident};
}

// A start that shows no window is tried once more, and said so: under Wine
// one start in some thousands here showed none within 30 seconds and left
// nothing in the log, and ended a whole run of bench.sh. A second one in a
// row is an error.
Launch launch(MapWatcher &watcher, const std::string &program, const std::string &workingDirectory,
              const std::string &logPath, bool measureMemory, bool lockItsFiles = false)
{
    if (auto result = tryLaunch(watcher, program, workingDirectory, logPath, measureMemory, lockItsFiles))
        return *result;
    std::fprintf(stderr, "%s showed no window; started once more\n", program.c_str());
    if (auto result = tryLaunch(watcher, program, workingDirectory, logPath, measureMemory, lockItsFiles))
        return *result;
    die(program + " showed no window twice; see " + logPath);
}

std::string absolutePath(const char *path)
{
    char *resolved = ::realpath(path, nullptr);
    if (resolved == nullptr)
        die(std::string("cannot find ") + path);
    std::string result = resolved;
    std::free(resolved);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fputs("usage: window_start_bench <runs> <memory runs> <working directory> <log file> <program> "
                   "<floor program>\n",
                   stderr);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const int memoryRuns = std::atoi(argv[2]);
    const std::string workingDirectory = argv[3];
    const std::string logPath = argv[4];
    if (runs < 1 || memoryRuns < 1 || memoryRuns > runs)
        die("runs must be at least 1, and memory runs from 1 to runs");
    // Absolute paths, since each program starts in the working directory.
    const std::string programs[2] = {absolutePath(argv[5]), absolutePath(argv[6])};

    MapWatcher watcher;
    // One start each that does not count brings libraries and fonts into the
    // page cache, where they are then locked: after a build or a while
    // without use the first start takes several times as long.
    for (const std::string &program : programs) {
        const Launch result = launch(watcher, program, workingDirectory, logPath, true, true);
        std::fprintf(stderr, "%s: mapped after %.1f ms, idle at %ld KiB (warm-up, not counted)\n", program.c_str(),
                     result.startMilliseconds, result.residentKib);
    }

    // Alternating which goes first spreads any drift in machine load evenly.
    for (int run = 0; run < runs; ++run) {
        Launch pair[2];
        for (int turn = 0; turn < 2; ++turn) {
            const int which = run % 2 == 0 ? turn : 1 - turn;
            pair[which] = launch(watcher, programs[which], workingDirectory, logPath, run < memoryRuns);
            std::fprintf(stderr, "%s: mapped after %.1f ms, idle at %ld KiB\n", programs[which].c_str(),
                         pair[which].startMilliseconds, pair[which].residentKib);
        }
        std::printf("start_ms %.2f %.2f\n", pair[0].startMilliseconds, pair[1].startMilliseconds);
        if (run < memoryRuns)
            std::printf("rss_kib %ld %ld\n", pair[0].residentKib, pair[1].residentKib);
    }
    return 0;
}
