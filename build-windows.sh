#!/usr/bin/env bash
# Builds ORNIVEX Config for Windows with the MinGW-w64 cross compiler,
# installing it first when it is missing, and prints the program's path:
# build-windows/ornivex-config.exe, one statically linked, stripped Release
# program that needs no DLL beyond those every Windows has. Copy it into the
# server's folder and start it there; it writes ORNIVEX_CONFIG.txt beside
# itself.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure_packages.sh
ensure_packages "${WINDOWS_BUILD_PACKAGES[@]}"

build=build-windows
log=$build/build.log
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DORNIVEX_WERROR=ON >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
cmake --build "$build" --target ornivex-config >>"$log" 2>&1 || { cat "$log" >&2; exit 1; }
program=$build/ornivex-config.exe

# A DLL of the compiler's (libstdc++, libgcc, winpthread) would not be on
# the operator's machine: only the system's own may be imported.
system_dlls='^(KERNEL32|USER32|GDI32|COMCTL32|ADVAPI32|msvcrt)\.dll$'
unexpected=$(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ { print $3 }' | grep -Eiv "$system_dlls" || true)
if [ -n "$unexpected" ]; then
    echo "$program imports DLLs that are not part of Windows: $unexpected" >&2
    exit 1
fi
realpath "$program"
