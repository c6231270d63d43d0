#!/usr/bin/env bash
# Runs the cross build's tests under Wine: windows_tests.sh <build folder>
# [ctest arguments]. Opens the build's own Wine session (<build>/wine) and,
# as root, mounts a 64 KiB tmpfs for the full-disk case, handed to the
# session's user and passed as ORNIVEX_SMALL_DISK in Wine's Z: form; closes
# both again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
sources=$(pwd -P)
build=$(realpath "$1")
shift
source scripts/wine_session.sh

# As root, Wine runs as the user nobody, who must reach the sources and the
# build at their own paths: ctest and the test programs name them. Where a
# folder above them is closed to others (a clone in /root, or under any
# folder of mode 0700), the script runs again in a private mount namespace.
# There each such folder is covered by a tmpfs that holds only the way down
# to the sources and the build, which are bound back at their paths; no one
# outside the namespace sees a change, and it ends with the script.
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
# closed_above <path>: the first folder on the way to <path> that nobody
# cannot enter, <path> itself left out.
closed_above() {
    local part='' name names
    IFS=/ read -ra names <<<"${1#/}"
    for name in "${names[@]:0:${#names[@]}-1}"; do
        part+=/$name
        as_nobody test -x "$part" || { echo "$part"; return; }
    done
}
if [ "$(id -u)" -eq 0 ] && [ -z "${ORNIVEX_REACHABLE:-}" ] \
    && [ -n "$(closed_above "$sources")$(closed_above "$build")" ] && unshare --mount true 2>/dev/null; then
    exec unshare --mount --propagation private env ORNIVEX_REACHABLE=1 "$sources/scripts/windows_tests.sh" \
        "$build" "$@"
fi
if [ -n "${ORNIVEX_REACHABLE:-}" ]; then
    held=$(mktemp -d)
    kept=("$sources" "$build")
    closed=()
    for i in "${!kept[@]}"; do
        closed[i]=$(closed_above "${kept[i]}")
        mkdir "$held/$i"
        mount --bind "${kept[i]}" "$held/$i"
    done
    covered=' '
    for i in "${!kept[@]}"; do
        [ -n "${closed[i]}" ] || continue
        if [[ $covered != *" ${closed[i]} "* ]]; then
            mount -t tmpfs -o mode=0755 tmpfs "${closed[i]}"
            covered+="${closed[i]} "
        fi
        mkdir -p "${kept[i]}"
        mount --bind "$held/$i" "${kept[i]}"
    done
    for i in "${!kept[@]}"; do umount "$held/$i"; done
    rm -r "$held"
    cd "$sources"
fi

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
