#!/usr/bin/env bash
# Builds the program in Release into build-bench/, measures it and prints three
# tables: the figures with targets, each against a floor taken in the same
# run; the time to write the file against the size of one message, both ways
# the writer can go; and what the idle window costs while it holds such a
# message. Exits non-zero when a ratio misses its target.
#
# Every ratio is taken pair by pair, program and floor measured side by side,
# and given as the median of the pairs with their interquartile range (IQR).
# The figures are meant for an otherwise idle machine; the load at the start
# and at the end is printed with them.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev libxcb1-dev xvfb xauth valgrind xdotool xclip util-linux \
    "${WINDOWS_PACKAGES[@]}"

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

load_average() { cut -d' ' -f1-3 /proc/loadavg; }
echo "Load average at the start: $(load_average)"

# Writing the file and the frequency rule. The files are written under the
# build folder, that is on the disk that holds the checkout, for the program
# and the floors alike: /tmp may be a tmpfs, where flushing to disk costs
# nothing. Each write benchmark alternates the program and its floor write by
# write; random interleaving runs every benchmark once per round, in a new
# order each round.
scratch=$build/scratch
rm -rf "$scratch" && mkdir -p "$scratch"
echo "Timing the file writer and the frequency rule; files go to $scratch ($(findmnt -n -o FSTYPE -T "$scratch"))..."
writer_csv=$results/config_write_bench.csv
frequency_csv=$results/frequency_bench.csv
run_benchmark() { # <program> <csv> [arguments]: a failed run shows its log
    local program=$1 csv=$2
    shift 2
    "$build/bench/$program" "$@" --benchmark_repetitions=15 --benchmark_min_time=0.2 \
        --benchmark_enable_random_interleaving=true --benchmark_format=csv >"$csv" 2>"$results/$program.log" \
        || { echo "$program failed:" >&2; tail -n 5 "$results/$program.log" >&2; exit 1; }
    if grep -q ',true,' "$csv"; then
        echo "A benchmark failed:" >&2
        grep ',true,' "$csv" >&2
        exit 1
    fi
}
run_benchmark config_write_bench "$writer_csv" "$scratch"
run_benchmark frequency_bench "$frequency_csv"
rm -rf "$scratch"

# write_pairs <way>/floor:<floor's way>/<message size>: the program's and the
# floor's microseconds per write, one repetition a line, in the order they
# ran. The first round only warms up the disk and the folders.
write_pairs() {
    awk -F, -v prefix="\"WriteConfigFile/$1/" '
        NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
        index($1, prefix) == 1 && $1 !~ /_(mean|median|stddev|cv)"$/ {
            print $column["\"program_us\""], $column["\"floor_us\""]; found = 1
        }
        END { if (!found) { print "no repetitions of " prefix > "/dev/stderr"; exit 1 } }' "$writer_csv" | tail -n +2
}
paired() { awk -f bench/paired_ratio.awk; }
# Median CPU time (column 4) of a frequency benchmark, which does not wait for the disk.
median_cpu_time() {
    awk -F, -v name="\"$1_median\"" '$1 == name { printf "%.1f", $4; found = 1 }
        END { if (!found) { print "no median for " name > "/dev/stderr"; exit 1 } }' "$frequency_csv"
}
write_by_rename=$(write_pairs rename/floor:rename/0 | paired)
write_in_place=$(write_pairs in-place/floor:rename/0 | paired)
frequency_short=$(median_cpu_time benchIsFrequencyNumber/short)
frequency_mixed=$(median_cpu_time benchIsFrequencyNumber/mixed)

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

# The window, under a private X server without a window manager. On two
# cores, a start of the program keeps three threads busy (its own two and the
# X server's), and the scheduler moving them between the cores made single
# starts vary by a third. So the X server gets the first core, and the
# programs, and the tools that drive and time them, the second.
source scripts/private_xvfb.sh
start_private_xvfb "$work"
on_program_core=()
if [ "$(nproc)" -ge 2 ]; then
    taskset -p -c 0 "$xvfb_pid" >/dev/null
    on_program_core=(taskset -c 1)
fi
# A runtime folder of its own spares the programs Qt's warning about a missing one.
mkdir -m 700 "$work/runtime" "$work/cwd"
export XDG_RUNTIME_DIR=$work/runtime

# Even so, about half the starts of either program take a third longer, at
# random (the virtual machine's scheduling); 201 pairs hold the median of
# their ratios within about 0.01. Memory varies by a few KiB, so 9 pairs
# measure it, and the other starts end as soon as the window is mapped.
echo "Timing start to window..."
"${on_program_core[@]}" "$build/bench/window_start_bench" 201 9 "$work/cwd" "$results/window_programs.log" \
    "$build/ornivex-config" "$build/bench/minimal_window" >"$results/window.txt" 2>"$results/window_runs.log"
start_to_window=$(awk '$1 == "start_ms" { print $2, $3 }' "$results/window.txt" | paired)
idle_memory=$(awk '$1 == "rss_kib" { print $2, $3 }' "$results/window.txt" | paired)

message_sizes=(1000 10000 100000 1000000 10000000)
echo "Measuring the idle window holding messages of up to 10 MB..."
"${on_program_core[@]}" bench/loaded_window_cost.sh "$build/ornivex-config" "$work/loaded" 0 "${message_sizes[@]}" \
    >"$results/loaded_window.txt"

missed=0
table_line() { printf '%-40s | %10s | %10s | %6s | %5s | %s\n' "$@"; }
# row <figure> <format> [<program> <floor> <ratio> <IQR> <target ratio>]
# or row <figure> <value>
row() {
    if [ $# -eq 2 ]; then
        table_line "$1" "$2" '' '' '' ''
        return
    fi
    local verdict="<= $7"
    if ! awk -v ratio="$5" -v target="$7" 'BEGIN { exit !(ratio <= target) }'; then
        verdict+="  MISSED"
        missed=1
    fi
    table_line "$1" "$(printf "$2" "$3")" "$(printf "$2" "$4")" "$(printf '%.2f' "$5")" "$(printf '%.2f' "$6")" "$verdict"
}

echo
echo "Load average at the end: $(load_average)"
echo
table_line figure program floor ratio IQR target
# shellcheck disable=SC2046 # each figure is four words: program, floor, ratio, IQR
{
    row 'write ORNIVEX_CONFIG.txt (us)' '%.1f' $write_by_rename 1.30
    row 'write in place, 2 hard links (us)' '%.1f' $write_in_place 1.30
    row 'IsFrequencyNumber, short texts (ns/call)' "$frequency_short"
    row 'IsFrequencyNumber, mixed texts (ns/call)' "$frequency_mixed"
    row 'IsFrequencyNumber, short: allocs/call' "$allocations_per_call"
    row 'start to window mapped (ms)' '%.1f' $start_to_window 1.10
    row 'idle resident memory (KiB)' '%.0f' $idle_memory 1.10
}

size_label() {
    awk -v size="$1" 'BEGIN { if (size >= 1000000) printf "%d MB", size / 1000000; else printf "%d KB", size / 1000 }'
}

echo
echo "Writing the file with message 0 holding the text (times in us; each way against the floor that writes"
echo "the same bytes the same way: a new file renamed over the old one, or the old one overwritten)"
printf '%-8s | %10s %10s %6s %5s | %10s %10s %6s %5s\n' message 'by rename' floor ratio IQR 'in place' floor ratio IQR
for size in "${message_sizes[@]}"; do
    read -r rename rename_floor rename_ratio rename_spread < <(write_pairs rename/floor:rename/"$size" | paired)
    read -r in_place in_place_floor in_place_ratio in_place_spread < <(write_pairs in-place/floor:in-place/"$size" | paired)
    printf '%-8s | %10.1f %10.1f %6.2f %5.2f | %10.1f %10.1f %6.2f %5.2f\n' "$(size_label "$size")" \
        "$rename" "$rename_floor" "$rename_ratio" "$rename_spread" \
        "$in_place" "$in_place_floor" "$in_place_ratio" "$in_place_spread"
done

echo
echo "The idle window with message 0 holding the text, its box focused (the cursor blinking) or not"
printf '%-13s | %15s %14s | %15s %14s\n' message 'focused CPU %' 'peak RSS MiB' 'unfocused CPU %' 'peak RSS MiB'
while read -r _ size focused_cpu focused_peak unfocused_cpu unfocused_peak; do
    label=$([ "$size" -eq 0 ] && echo 'initial texts' || size_label "$size")
    printf '%-13s | %15.1f %14d | %15.1f %14d\n' "$label" "$focused_cpu" "$((focused_peak / 1024))" \
        "$unfocused_cpu" "$((unfocused_peak / 1024))"
done <"$results/loaded_window.txt"

# --- The Windows program under Wine -------------------------------------
# Cross-built in Release into build-windows-bench/ and run under Wine, in a
# Wine session of its own as the unprivileged user, on the same X server:
# its start and idle memory against a plain Win32 window with as many
# controls of each kind as Form1 has, the same work without measuring or
# layout, and its write against the least Win32 calls. Wine stands between
# both and the machine, so only the ratios mean something. Under Wine every
# child window costs a round trip to the wineserver, so a floor with fewer
# controls would measure Wine; the window with one control of each kind is
# kept as information beside them.
source scripts/wine_session.sh
trap 'wine_session_close; cleanup' EXIT
windows_build=build-windows-bench
cmake -S . -B "$windows_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DORNIVEX_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$windows_build" --target ornivex-config win32_minimal_window win32_write_bench
wine_session_open "$windows_build/wine" >/dev/null
windows_programs=$PWD/$windows_build/wine/programs
rm -rf "$windows_programs" && mkdir -p "$windows_programs/scratch"
cp "$windows_build/ornivex-config.exe" "$windows_build"/bench/win32_*.exe "$windows_programs/"
chmod -R a+rwX "$windows_programs"
# window_start_bench starts a program without arguments and measures the
# process it started: a script per program that becomes Wine, which
# becomes the Windows program, in the same process.
# wine_script <name> <program> [argument]
wine_script() {
    wine_session_user_command
    {
        echo '#!/bin/sh'
        printf 'exec'
        printf ' %q' "${wine_session_user[@]}" wine "$windows_programs/$2.exe" ${3:+"$3"}
        echo
    } >"$windows_programs/$1.sh"
    chmod +x "$windows_programs/$1.sh"
}
wine_script ornivex-config ornivex-config
wine_script win32_minimal_window win32_minimal_window
wine_script win32_form1_floor win32_minimal_window form1

echo "Timing the Windows program under Wine: start to window and write..."
# wine_starts <name> <program> <floor>: start and memory pairs into <name>.txt
wine_starts() {
    "${on_program_core[@]}" "$build/bench/window_start_bench" 101 9 "$work/cwd" "$results/$1_programs.log" \
        "$windows_programs/$2.sh" "$windows_programs/$3.sh" >"$results/$1.txt" 2>"$results/$1_runs.log" \
        || { tail -n 5 "$results/$1_runs.log" >&2; exit 1; }
}
wine_starts wine_window ornivex-config win32_minimal_window
wine_starts wine_window_form1_floor ornivex-config win32_form1_floor
wine_starts wine_floors win32_form1_floor win32_minimal_window
figure_pairs() { awk -v figure="$1" '$1 == figure { print $2, $3 }' "$results/$2.txt" | paired; }
wine_start=$(figure_pairs start_ms wine_window)
wine_memory=$(figure_pairs rss_kib wine_window)
wine_start_form1_floor=$(figure_pairs start_ms wine_window_form1_floor)
wine_memory_form1_floor=$(figure_pairs rss_kib wine_window_form1_floor)
floors_start=$(figure_pairs start_ms wine_floors)
floors_memory=$(figure_pairs rss_kib wine_floors)
# The scratch folder lies under the build folder, on the checkout's disk.
wine_session_run wine "$windows_programs/win32_write_bench.exe" "$(windows_path "$windows_programs/scratch")" 201 \
    >"$results/wine_write.txt" 2>"$results/wine_write.log" || { cat "$results/wine_write.log" >&2; exit 1; }
wine_write=$(awk '$1 == "write_us" { print $2, $3 }' "$results/wine_write.txt" | tail -n +2 | paired)

# ratio_row <figure> <program> <floor> <ratio> <IQR> <target ratio>: the ratio only.
ratio_row() {
    local verdict="<= $6"
    if ! awk -v ratio="$4" -v target="$6" 'BEGIN { exit !(ratio <= target) }'; then
        verdict+="  MISSED"
        missed=1
    fi
    printf '%-40s | %6.2f | %5.2f | %s\n' "$1" "$4" "$5" "$verdict"
}
echo
echo "The Windows program under Wine against its Win32 floors, a window with Form1's 42 controls in a grid and"
echo "the least calls that write the file (ratios only: Wine stands between both and the machine)"
printf '%-40s | %6s | %5s | %s\n' figure ratio IQR target
# shellcheck disable=SC2086 # each figure is four words: program, floor, ratio, IQR
{
    ratio_row 'start to window mapped' $wine_start_form1_floor 1.10
    ratio_row 'idle resident memory' $wine_memory_form1_floor 1.10
    ratio_row 'write ORNIVEX_CONFIG.txt' $wine_write 1.30
}
# info_row <figure> <program> <floor> <ratio> <IQR>: information, no target.
info_row() { printf '%-40s | %6.2f | %5.2f |\n' "$1" "$4" "$5"; }
echo
echo "For information, against a window with one control of each kind (5): how much is the number of"
echo "controls, how much the program"
printf '%-40s | %6s | %5s |\n' figure ratio IQR
# shellcheck disable=SC2086 # each figure is four words: program, floor, ratio, IQR
{
    info_row 'start: program against 5 controls' $wine_start
    info_row 'start: 42 controls against 5' $floors_start
    info_row 'memory: program against 5 controls' $wine_memory
    info_row 'memory: 42 controls against 5' $floors_memory
}
echo
echo "Every run and the raw figures are in $results/."
exit "$missed"
