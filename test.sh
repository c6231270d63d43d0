#!/usr/bin/env bash
# Installs what is missing, then builds and checks the project four ways:
#   build/       g++, every test (unit, offscreen window, Xvfb end to end)
#   build-asan/  clang with AddressSanitizer, UndefinedBehaviorSanitizer and
#                LeakSanitizer: the unit and offscreen window tests
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

step "clang-tidy and clang-format"
run-clang-tidy -p build-asan -quiet -j 2 '^(?!.*_autogen).*/(config|ui|tests)/' >build-asan/clang-tidy.log 2>&1 \
    || { grep -E 'warning:|error:' -A3 build-asan/clang-tidy.log; echo "clang-tidy found problems" >&2; exit 1; }
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "All checks passed."
