// Calls IsFrequencyNumber a given number of times over short texts. Run twice
// under valgrind with different counts: the difference in heap allocations is
// what the extra calls allocated.
//
// usage: frequency_allocations <calls>

#include "config_file_writer.h"
#include "frequency_texts.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: frequency_allocations <calls>\n", stderr);
        return 2;
    }
    const long calls = std::strtol(argv[1], nullptr, 10);
    const std::vector<std::u16string> texts = typicalFrequencyTexts();
    long accepted = 0;
    for (long call = 0; call < calls; ++call)
        accepted += ornivex::IsFrequencyNumber(texts[static_cast<std::size_t>(call) % texts.size()]);
    // Printing the count keeps the compiler from dropping the calls.
    std::printf("%ld of %ld accepted\n", accepted, calls);
    return 0;
}
