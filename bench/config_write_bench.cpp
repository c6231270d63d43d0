// Writing ORNIVEX_CONFIG.txt, timed against the least an atomic replacement
// of the same bytes can cost, and the frequency rule over typical and
// hostile texts.
//
// usage: config_write_bench <scratch directory> [--benchmark_... options]

#include "config_file_writer.h"
#include "frequency_texts.h"

#include <benchmark/benchmark.h>

#include <cerrno>
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

// Each writer gets a directory of its own, so neither meets the other's files.
std::string makeDirectory(const std::string &path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "config_write_bench: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return path;
}

// The floor: write a temporary file beside the target, flush its data to the
// disk, close it and rename it over the target. No replacement that survives
// a crash can do less.
bool writeWithPosixCalls(const std::string &directory, const QByteArray &bytes)
{
    const std::string temporary = directory + "/." + ornivex::kConfigFileName + ".new";
    const std::string target = directory + '/' + ornivex::kConfigFileName;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const char *next = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ::close(fd);
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    const bool synced = ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && synced && ::rename(temporary.c_str(), target.c_str()) == 0;
}

// Every timed press replaces an existing file, as every press after the first
// does. A file with a second name is written in place, the other way the
// writer can go; otherwise it is replaced by rename.
void benchWriteConfigFile(benchmark::State &state, bool secondName)
{
    const std::string directory = makeDirectory(scratchDirectory + (secondName ? "/in-place" : "/program"));
    const ornivex::ConfigSnapshot snapshot = ornivex::ConfigSnapshot::initial();
    try {
        ornivex::WriteConfigFile(snapshot, directory);
        const std::string file = directory + '/' + ornivex::kConfigFileName;
        if (secondName && ::link(file.c_str(), (directory + "/second name").c_str()) != 0 && errno != EEXIST) {
            state.SkipWithError(std::strerror(errno));
            return;
        }
        for ([[maybe_unused]] auto _ : state)
            ornivex::WriteConfigFile(snapshot, directory);
    } catch (const ornivex::ConfigWriteError &error) {
        state.SkipWithError(error.what());
    }
}

void benchPosixFloor(benchmark::State &state)
{
    const std::string directory = makeDirectory(scratchDirectory + "/floor");
    const QByteArray bytes = ornivex::FormatConfigFile(ornivex::ConfigSnapshot::initial());
    if (!writeWithPosixCalls(directory, bytes)) {
        state.SkipWithError(std::strerror(errno));
        return;
    }
    for ([[maybe_unused]] auto _ : state) {
        if (!writeWithPosixCalls(directory, bytes)) {
            state.SkipWithError(std::strerror(errno));
            break;
        }
    }
}

// One call per iteration, going round the texts, so the time is per call.
void benchIsFrequencyNumber(benchmark::State &state, const std::vector<QString> &texts)
{
    std::size_t next = 0;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(ornivex::IsFrequencyNumber(texts[next]));
        if (++next == texts.size())
            next = 0;
    }
}

std::vector<QString> mixedFrequencyTexts()
{
    std::vector<QString> texts = typicalFrequencyTexts();
    for (const QString &text : hostileFrequencyTexts())
        texts.push_back(text);
    return texts;
}

} // namespace

BENCHMARK_CAPTURE(benchWriteConfigFile, rename, false)
    ->Name("WriteConfigFile")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(benchWriteConfigFile, inPlace, true)
    ->Name("WriteConfigFileInPlace")
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(benchPosixFloor)->Name("PosixFloor")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(benchIsFrequencyNumber, short, typicalFrequencyTexts());
BENCHMARK_CAPTURE(benchIsFrequencyNumber, mixed, mixedFrequencyTexts());

int main(int argc, char **argv)
{
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
