#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from the committed seeds.
# Usage: tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_TARGET=20]
# New inputs go to a scratch corpus given first, so the committed seeds never
# change; crash inputs and logs land in BUILD_DIR/fuzz-runs/. Exits non-zero
# when a target crashes, leaks, times out or is missing.
set -uo pipefail

build_dir=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS_PER_TARGET]}")
[[ -d $build_dir ]] || { echo "no build folder $build_dir" >&2; exit 1; }
seconds=${2:-20}
seeds=$(dirname "$(realpath "$0")")/corpus
out=$build_dir/fuzz-runs
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
for target_and_len in frequency:4096 config_file:8192; do
    name=${target_and_len%%:*}
    binary=$build_dir/tests/fuzz/${name}_fuzzer
    log=$out/$name.log
    if [[ ! -x $binary ]]; then
        echo "$name: FAILED, $binary is missing (configure as tests/fuzz/CMakeLists.txt says)"
        status=1
        continue
    fi
    mkdir -p "$scratch/$name"
    "$binary" -seed=1 -max_total_time="$seconds" -max_len="${target_and_len#*:}" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$out/$name-" "$scratch/$name" "$seeds/$name" >"$log" 2>&1
    code=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    if [[ $code -eq 0 ]]; then
        echo "$name: ok, ${runs:-?} runs in ${seconds} s, ${speed:-?} exec/s, ${coverage:-cov: ?}, $(ls "$scratch/$name" | wc -l) new inputs"
    else
        echo "$name: FAILED with exit code $code after ${runs:-?} runs; see $log and $out/$name-*"
        status=1
    fi
done
exit $status
