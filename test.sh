#!/usr/bin/env bash
# Installs what is missing, then builds and checks the project five ways:
#   build/       g++, every test (unit, offscreen window, Xvfb end to end)
#   build-asan/  clang with AddressSanitizer, UndefinedBehaviorSanitizer and
#                LeakSanitizer: the unit and offscreen window tests
#   build-fuzz/  clang libFuzzer targets, each run for 20 s with a fixed seed
#   build-windows-tests/  MinGW-w64 cross build for Windows, its tests run
#                under Wine as an unprivileged user (scripts/windows_tests.sh)
#   clang-tidy and clang-format over the project's own sources
# Every build treats compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

step() { echo "=== $* ==="; }
# ctest names the tests it skipped but not why; each says why in its output,
# which ctest keeps in its log: gtest on the line after "Skipped", QtTest and
# the scripts on a line of its own that starts with SKIP.
say_why_skipped() { # <build folder>
    awk '/^[0-9]+\/[0-9]+ Test: / { test = $0; sub(/^[^:]*: /, "", test); sub(/  #.*/, "", test) }
         reason { print "skipped " test ": " $0; reason = 0 }
         /: Skipped$/ { reason = 1 }
         /^SKIP/ { print "skipped " test ": " $0 }' "$1/Testing/Temporary/LastTest.log"
}

step "g++ build and every test"
cmake -S . -B build -G Ninja -DBUILD_TESTING=ON -DORNIVEX_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure --parallel 2
say_why_skipped build

step "clang build with sanitizers"
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DORNIVEX_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --parallel 2 --label-exclude e2e
say_why_skipped build-asan

step "fuzz targets"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF -DORNIVEX_FUZZ=ON \
    -DORNIVEX_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build-fuzz --target frequency_fuzzer config_file_fuzzer
tests/fuzz/run_fuzzers.sh build-fuzz 20

step "cross build for Windows and its tests under Wine"
cmake -S . -B build-windows-tests -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DBUILD_TESTING=ON -DORNIVEX_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build-windows-tests
scripts/windows_tests.sh build-windows-tests

step "clang-tidy and clang-format"
tidy() { # <build folder> <file pattern> [run-clang-tidy arguments]
    run-clang-tidy -p "$1" -quiet -j 2 "${@:3}" "$2" >"$1/clang-tidy.log" 2>&1 \
        || { grep -E 'warning:|error:' -A3 "$1/clang-tidy.log"; echo "clang-tidy found problems" >&2; exit 1; }
}
tidy build-asan '^(?!.*_autogen).*/(config|ui|tests)/'
tidy build-fuzz '/tests/fuzz/'
# The sources only the Windows build compiles, or compiles otherwise, seen
# by clang as MinGW-w64's g++ sees them.
windows_tidy=(-extra-arg=--target=x86_64-w64-mingw32)
for include in $(x86_64-w64-mingw32-g++-posix -E -x c++ -v - </dev/null 2>&1 \
                 | sed -n '/search starts here/,/End of search/p' | grep '/c++'); do
    windows_tidy+=("-extra-arg=-isystem$include")
done
tidy build-windows-tests '/(config/.*windows|config/unicode_text|tests/config/.*windows)' "${windows_tidy[@]}"
# The Win32 window, its tests and the program's entry point.
tidy build-windows-tests '/(ui|tests)/win32/.*\.cpp$' "${windows_tidy[@]}"
find config ui tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror
echo "All checks passed."
