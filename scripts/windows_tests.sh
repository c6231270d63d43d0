#!/usr/bin/env bash
# Runs the cross build's tests under Wine: windows_tests.sh <build folder>
# [ctest arguments]. Opens the build's own Wine session (<build>/wine) and,
# as root, mounts a 64 KiB tmpfs for the full-disk case, handed to the
# session's user and passed as ORNIVEX_SMALL_DISK in Wine's Z: form; closes
# both again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
shift
source scripts/wine_session.sh

small_disk=$build/wine/small-disk
cleanup() {
    wine_session_close
    if mountpoint -q "$small_disk"; then umount "$small_disk"; fi
}
trap cleanup EXIT
wine_session_open "$build/wine"

if [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$small_disk"
    mountpoint -q "$small_disk" || mount -t tmpfs -o size=64k,mode=0755,uid=nobody,gid=nogroup tmpfs "$small_disk"
    ORNIVEX_SMALL_DISK=$(windows_path "$small_disk")
    export ORNIVEX_SMALL_DISK
else
    echo "Not root: no small disk can be mounted, so the full-disk case of the Windows writer's table is skipped" >&2
fi
ctest --test-dir "$build" --output-on-failure "$@"
