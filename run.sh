#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts ORNIVEX Config.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF
cmake --build build --target ornivex-config
exec build/ornivex-config
