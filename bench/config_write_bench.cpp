// Writing ORNIVEX_CONFIG.txt both ways the writer can go, each timed against
// the least plain POSIX calls need to put the same bytes on disk, for the
// window's initial state and for one message holding 1 KB to 10 MB.
//
// A write benchmark alternates the program's write and the floor's write and
// reports both as counters, program_us and floor_us (microseconds per write),
// so that both meet the disk in the same state: the time one fdatasync takes
// drifts by a tenth over seconds, more than the difference being measured.
// Every run reports both: the CSV output takes its columns from the first
// run reported, in random order, and aborts at a run with a counter that
// has no column. So a write that fails ends the program with its reason
// instead of being reported without its counters (and the frequency rule
// has a program of its own, frequency_bench).
//
// usage: config_write_bench <scratch directory> [--benchmark_... options]

#include "config_file_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Named on the command line; set before any benchmark runs.
std::string scratchDirectory;

// Each writer gets a directory of its own, so none meets another's files.
std::string makeDirectory(const std::string &path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "config_write_bench: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return path;
}

// Message sizes for the cost curve, in characters (1 KB to 10 MB); 0 stands
// for the window's initial state.
constexpr std::array<int, 6> kMessageSizes{0, 1'000, 10'000, 100'000, 1'000'000, 10'000'000};

// The initial state with message 0 replaced by a text of the given length, made
// of a sentence an operator might write, repeated.
ornivex::ConfigSnapshot snapshotWithMessage(int length)
{
    ornivex::ConfigSnapshot snapshot = ornivex::ConfigSnapshot::initial();
    if (length == 0)
        return snapshot;
    const std::u16string sentence = u"Welcome to the server, please read the rules at the spawn. ";
    std::u16string &message = snapshot.messages.at(0);
    const auto size = static_cast<std::size_t>(length);
    message.reserve(size);
    while (message.size() < size)
        message += sentence;
    message.resize(size);
    return snapshot;
}

bool writeAll(int fd, const std::string &bytes)
{
    const char *next = bytes.data();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// The floor for replacing by rename: write a temporary file beside the
// target, flush its data to the disk, close it and rename it over the target.
// No replacement that survives a crash can do less.
bool replaceWithPosixCalls(const std::string &directory, const std::string &bytes)
{
    const std::string temporary = directory + "/." + ornivex::kConfigFileName + ".new";
    const std::string target = directory + '/' + ornivex::kConfigFileName;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool synced = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && synced && ::rename(temporary.c_str(), target.c_str()) == 0;
}

// The floor for writing in place: overwrite the file from its start, cut it
// to length and flush its data to the disk.
bool overwriteWithPosixCalls(const std::string &directory, const std::string &bytes)
{
    const std::string target = directory + '/' + ornivex::kConfigFileName;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool synced = writeAll(fd, bytes) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0
        && ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

enum class Way { Rename, InPlace };

const char *nameOf(Way way)
{
    return way == Way::Rename ? "rename" : "in-place";
}

using Clock = std::chrono::steady_clock;

[[noreturn]] void writeFailed(const std::string &benchmark, const std::string &reason)
{
    std::fprintf(stderr, "config_write_bench: %s: %s\n", benchmark.c_str(), reason.c_str());
    std::exit(1);
}

// Times the program's write of a snapshot, the way given, against a floor
// writing the same bytes, and alternates which goes first. Every timed press
// replaces an existing file, as every press after the first does; the
// program's file has a second name when it is to be written in place.
void benchWriteAgainstFloor(benchmark::State &state, Way programWay, Way floorWay)
{
    const std::string size = std::to_string(state.range(0));
    const std::string programDirectory = makeDirectory(scratchDirectory + "/program-" + nameOf(programWay) + '-'
                                                       + size);
    const std::string floorDirectory = makeDirectory(scratchDirectory + "/floor-" + nameOf(floorWay) + '-' + size);
    const ornivex::ConfigSnapshot snapshot = snapshotWithMessage(static_cast<int>(state.range(0)));
    const std::string bytes = ornivex::FormatConfigFile(snapshot);
    const std::string name = std::string("WriteConfigFile/") + nameOf(programWay) + "/floor:" + nameOf(floorWay) + '/'
        + size;
    const auto writeFloor = floorWay == Way::Rename ? replaceWithPosixCalls : overwriteWithPosixCalls;
    Clock::duration programTime{};
    Clock::duration floorTime{};
    try {
        ornivex::WriteConfigFile(snapshot, programDirectory);
        const std::string file = programDirectory + '/' + ornivex::kConfigFileName;
        const std::string secondName = programDirectory + "/second name";
        if (programWay == Way::InPlace && ::link(file.c_str(), secondName.c_str()) != 0 && errno != EEXIST)
            writeFailed(name, std::strerror(errno));
        bool floorFirst = false;
        for ([[maybe_unused]] auto _ : state) {
            const auto timeFloor = [&] {
                const auto start = Clock::now();
                if (!writeFloor(floorDirectory, bytes))
                    writeFailed(name, std::string("the floor's write: ") + std::strerror(errno));
                floorTime += Clock::now() - start;
            };
            const auto start = Clock::now();
            if (floorFirst)
                timeFloor();
            const auto programStart = Clock::now();
            ornivex::WriteConfigFile(snapshot, programDirectory);
            programTime += Clock::now() - programStart;
            if (!floorFirst)
                timeFloor();
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
            floorFirst = !floorFirst;
        }
    } catch (const ornivex::ConfigWriteError &error) {
        writeFailed(name, error.what());
    }
    const auto microseconds = [](Clock::duration time) {
        return std::chrono::duration<double, std::micro>(time).count();
    };
    state.counters["program_us"] = benchmark::Counter(microseconds(programTime), benchmark::Counter::kAvgIterations);
    state.counters["floor_us"] = benchmark::Counter(microseconds(floorTime), benchmark::Counter::kAvgIterations);
}

// Named "WriteConfigFile/<way>/floor:<floor's way>/<message size>": each way
// against the floor that writes the same way, for every message size, and
// writing in place for the initial state also against the floor that renames.
// Large files get a fixed number of writes per repetition, so that a run puts
// tens of megabytes on the disk, not gigabytes.
void registerWriteBenchmarks()
{
    constexpr int kBytesPerRepetition = 5'000'000;
    const auto add = [](Way way, Way floorWay, int size) {
        const std::string name = std::string("WriteConfigFile/") + nameOf(way) + "/floor:" + nameOf(floorWay);
        benchmark::internal::Benchmark *benchmark = benchmark::RegisterBenchmark(name.c_str(), benchWriteAgainstFloor,
                                                                                 way, floorWay);
        benchmark->Arg(size)->UseManualTime()->Unit(benchmark::kMicrosecond);
        if (size >= 100'000)
            benchmark->Iterations(std::max(2, kBytesPerRepetition / size));
    };
    for (const int size : kMessageSizes) {
        add(Way::Rename, Way::Rename, size);
        add(Way::InPlace, Way::InPlace, size);
    }
    add(Way::InPlace, Way::Rename, 0);
}

} // namespace

int main(int argc, char **argv)
{
    registerWriteBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (argc != 2) {
        std::fputs("usage: config_write_bench <scratch directory> [--benchmark_... options]\n", stderr);
        return 2;
    }
    scratchDirectory = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
