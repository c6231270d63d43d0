#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DBUILD_TESTING=ON -DORNIVEX_WERROR=ON
cmake --build build

# The same sources must build without a warning under clang as well.
cmake -S . -B build-clang -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DORNIVEX_WERROR=ON
cmake --build build-clang

ctest --test-dir build --output-on-failure --parallel 2
