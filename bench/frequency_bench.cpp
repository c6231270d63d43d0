// The frequency rule per call, over typical texts and over a mix with hostile
// ones. A program of its own: Google Benchmark's CSV output takes its columns
// from the first run it reports, so every run of one program must report the
// same counters, and the writer's runs report theirs.

#include "config_file_writer.h"
#include "frequency_texts.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// One call per iteration, going round the texts, so the time is per call.
void benchIsFrequencyNumber(benchmark::State &state, const std::vector<std::u16string> &texts)
{
    std::size_t next = 0;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(ornivex::IsFrequencyNumber(texts[next]));
        if (++next == texts.size())
            next = 0;
    }
}

std::vector<std::u16string> mixedFrequencyTexts()
{
    std::vector<std::u16string> texts = typicalFrequencyTexts();
    for (const std::u16string &text : hostileFrequencyTexts())
        texts.push_back(text);
    return texts;
}

} // namespace

BENCHMARK_CAPTURE(benchIsFrequencyNumber, short, typicalFrequencyTexts());
BENCHMARK_CAPTURE(benchIsFrequencyNumber, mixed, mixedFrequencyTexts());

BENCHMARK_MAIN();
