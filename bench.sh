#!/usr/bin/env bash
# Builds the program in Release into build-bench/, measures it against floors
# taken in the same run and prints one table. Exits non-zero when a ratio
# misses its target. The machine may be busy with other work, which is why
# every figure is a ratio and every floor is measured alongside.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev libxcb1-dev xvfb xauth valgrind

build='build-bench'
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORNIVEX_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build"
results=$build/results
rm -rf "$results" && mkdir -p "$results"

work=$(mktemp -d)
xvfb_pid=''
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Writing the file and the frequency rule. The files are written under the
# build folder, that is on the disk that holds the checkout, for the program
# and the floor alike: /tmp may be a tmpfs, where flushing to disk costs nothing.
scratch=$build/scratch
rm -rf "$scratch" && mkdir -p "$scratch"
echo "Timing the file writer and the frequency rule; files go to $scratch ($(findmnt -n -o FSTYPE -T "$scratch"))..."
"$build/bench/config_write_bench" "$scratch" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
    --benchmark_format=csv >"$results/config_write_bench.csv" 2>"$results/config_write_bench.log"
# Median of one benchmark: real time (column 3) for the writers, which wait
# for the disk, CPU time (column 4) for the frequency rule.
median() {
    awk -F, -v name="\"$1_median\"" -v column="$2" '$1 == name { printf "%.1f", $column; found = 1 }
        END { if (!found) { print "no median for " name > "/dev/stderr"; exit 1 } }' "$results/config_write_bench.csv"
}
write_program=$(median WriteConfigFile/real_time 3)
write_in_place=$(median WriteConfigFileInPlace/real_time 3)
write_floor=$(median PosixFloor/real_time 3)
frequency_short=$(median benchIsFrequencyNumber/short 4)
frequency_mixed=$(median benchIsFrequencyNumber/mixed 4)

# Heap allocations per call for short texts: the difference between two
# runs under valgrind that differ only in the number of calls.
heap_allocations() {
    valgrind "$build/bench/frequency_allocations" "$1" 2>&1 >/dev/null \
        | awk '/total heap usage:/ { gsub(",", "", $5); print $5; found = 1 } END { exit !found }'
}
allocations_few=$(heap_allocations 10000)
allocations_many=$(heap_allocations 20000)
allocations_per_call=$(awk -v many="$allocations_many" -v few="$allocations_few" \
    'BEGIN { printf "%.2f", (many - few) / 10000 }')

# Start to window, under a private X server without a window manager.
echo "Timing start to window..."
source scripts/private_xvfb.sh
start_private_xvfb "$work"
# A runtime folder of its own spares both programs Qt's warning about a missing one.
mkdir -m 700 "$work/runtime" "$work/cwd"
export XDG_RUNTIME_DIR=$work/runtime
"$build/bench/window_start_bench" 9 "$work/cwd" "$results/window_programs.log" \
    "$build/ui/ornivex-config" "$build/bench/minimal_window" >"$results/window.txt" 2>"$results/window_runs.log"
read -r _ start_program start_floor < <(grep '^start_ms' "$results/window.txt")
read -r _ rss_program rss_floor < <(grep '^rss_kib' "$results/window.txt")

missed=0
table_line() { printf '%-40s | %10s | %10s | %6s | %s\n' "$@"; }
# row <figure> <program> [<floor> <target ratio>]
row() {
    if [ $# -eq 2 ]; then
        table_line "$1" "$2" '' '' ''
        return
    fi
    local ratio
    ratio=$(awk -v program="$2" -v floor="$3" 'BEGIN { printf "%.2f", program / floor }')
    local verdict="<= $4"
    if ! awk -v ratio="$ratio" -v target="$4" 'BEGIN { exit !(ratio <= target) }'; then
        verdict+="  MISSED"
        missed=1
    fi
    table_line "$1" "$2" "$3" "$ratio" "$verdict"
}

echo
table_line figure program floor ratio target
row 'write ORNIVEX_CONFIG.txt (us)' "$write_program" "$write_floor" 1.30
row 'write in place, 2 hard links (us)' "$write_in_place" "$write_floor" 1.30
row 'IsFrequencyNumber, short texts (ns/call)' "$frequency_short"
row 'IsFrequencyNumber, mixed texts (ns/call)' "$frequency_mixed"
row 'IsFrequencyNumber, short: allocs/call' "$allocations_per_call"
row 'start to window mapped (ms)' "$start_program" "$start_floor" 1.10
row 'idle resident memory (KiB)' "$rss_program" "$rss_floor" 1.10
echo "Every run and the raw figures are in $results/."
exit "$missed"
