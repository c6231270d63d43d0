#!/usr/bin/env bash
# Installs what is missing, then builds and checks the project four ways:
#   build/       g++, every test (unit, offscreen window, Xvfb end to end)
#   build-asan/  clang with AddressSanitizer, UndefinedBehaviorSanitizer and
#                LeakSanitizer: the unit and offscreen window tests
#   build-fuzz/  clang libFuzzer targets, each run for 20 s with a fixed seed
#   clang-tidy and clang-format over the project's own sources
# Every build treats compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

step() { echo "=== $* ==="; }

step "g++ build and every test"
cmake -S . -B build -G Ninja -DBUILD_TESTING=ON -DORNIVEX_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure --parallel 2

step "clang build with sanitizers"
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DORNIVEX_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --parallel 2 --label-exclude e2e

step "fuzz targets"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF -DORNIVEX_FUZZ=ON \
    -DORNIVEX_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build-fuzz --target frequency_fuzzer config_file_fuzzer
tests/fuzz/run_fuzzers.sh build-fuzz 20

step "clang-tidy and clang-format"
tidy() { # <build folder> <file pattern>
    run-clang-tidy -p "$1" -quiet -j 2 "$2" >"$1/clang-tidy.log" 2>&1 \
        || { grep -E 'warning:|error:' -A3 "$1/clang-tidy.log"; echo "clang-tidy found problems" >&2; exit 1; }
}
tidy build-asan '^(?!.*_autogen).*/(config|ui|tests)/'
tidy build-fuzz '/tests/fuzz/'
find config ui tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror
echo "All checks passed."
