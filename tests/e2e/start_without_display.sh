#!/usr/bin/env bash
# Wherever no display can be opened, the program says why in one sentence and
# exits with 1: no abort, no core dump, none of Qt's own diagnostics. Without
# XDG_RUNTIME_DIR it takes <temp>/runtime-<user> as its runtime folder only
# where that is a folder of this user that nobody else may enter: a link,
# another user's folder or one open to all is left to Qt, which warns.
#
# usage: start_without_display.sh <program> <Qt's plugin folder>
set -uo pipefail
program=$1 qt_plugins=$2

source "$(dirname "$0")/session.sh"
mkdir -m 700 "$work/run"

# A copy whose qt.conf points at Qt's plugins less the Wayland ones, as where
# qt6-wayland is not installed.
mkdir -p "$work/no-wayland/app" "$work/no-wayland/plugins/platforms"
cp "$program" "$work/no-wayland/app/"
printf '[Paths]\nPlugins = %s\n' "$work/no-wayland/plugins" >"$work/no-wayland/app/qt.conf"
for plugin in "$qt_plugins"/platforms/*.so; do
    [[ $(basename "$plugin") == libqwayland* ]] || ln -s "$plugin" "$work/no-wayland/plugins/platforms/"
done

# An X display number nobody uses: no socket, no lock.
stale=99
while [ -e "/tmp/.X11-unix/X$stale" ] || [ -e "/tmp/.X$stale-lock" ]; do stale=$((stale + 1)); done

# An X server that lets in only holders of its cookie, as after sudo.
refused=''
if command -v Xvfb >/dev/null && command -v xauth >/dev/null; then
    xauth -q -f "$work/cookie" add :0 . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')" 2>/dev/null
    Xvfb -displayfd 3 -auth "$work/cookie" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    wait_for 20 test -s "$work/display" && refused=":$(head -n1 "$work/display")"
fi

failures=0 skipped=0
# row <name> <expected part of the sentence> <program> <VAR=value>...
row() {
    local name=$1 expected=$2 binary=$3 message status=0
    shift 3
    message=$(env -i XDG_RUNTIME_DIR="$work/run" "$@" "$binary" 2>&1 >/dev/null) || status=$?
    if [ "$status" -eq 1 ] && [ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] \
        && [[ "$message" == "ORNIVEX Config cannot show its window: "*"$expected"*. ]]; then
        echo "ok   $name: $message"
    else
        echo "FAIL $name: expected exit 1 and one sentence with '$expected', got exit $status and:"
        printf '%s\n' "$message" | sed 's/^/     /'
        failures=$((failures + 1))
    fi
}

row "nothing set" "no display is set" "$program"
row "blank DISPLAY" "no display is set" "$program" DISPLAY= QT_QPA_PLATFORM=xcb
row "DISPLAY naming no server" "the X display \":$stale\" cannot be opened" "$program" DISPLAY=":$stale"
if [ -n "$refused" ]; then
    row "DISPLAY refusing this user" "the X display \"$refused\" cannot be opened" "$program" \
        DISPLAY="$refused" XAUTHORITY="$work/none"
else
    echo "SKIP DISPLAY refusing this user: Xvfb or xauth is not installed"
    skipped=1
fi
row "WAYLAND_DISPLAY with no compositor" "no Wayland compositor answers at \"ornivex-none\"" "$program" \
    WAYLAND_DISPLAY=ornivex-none
row "WAYLAND_DISPLAY without the Wayland plugin" "Qt's Wayland plugin is not installed" \
    "$work/no-wayland/app/$(basename "$program")" WAYLAND_DISPLAY=ornivex-none
row "QT_QPA_PLATFORM naming a missing plugin" "Qt has no platform plugin named \"nosuch\"" "$program" \
    QT_QPA_PLATFORM=nosuch

# Where the display opens, what Qt said meanwhile still reaches the error stream.
env -i XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen "$program" -style nosuch 2>"$work/started.log" &
started=$!
if wait_for 20 grep -q "invalid style override 'nosuch'" "$work/started.log" && kill "$started" 2>/dev/null; then
    echo "ok   display opened: Qt's warnings still reach the error stream"
else
    echo "FAIL display opened: the program ended, or Qt's warning was lost: $(cat "$work/started.log")"
    failures=$((failures + 1))
fi

taken=$work/taken/runtime-$(id -un)
mkdir -p "$work/link/target" "$taken" && chmod 755 "$taken" && ln -s "$work/link/target" "$work/link/${taken##*/}"
chown nobody "$taken" 2>/dev/null || true # as root; for others it stays open to all
for temp in link taken; do
    env -i TMPDIR="$work/$temp" QT_QPA_PLATFORM=offscreen "$program" 2>"$work/$temp.log" &
    wait_for 20 grep -q "XDG_RUNTIME_DIR not set" "$work/$temp.log" && kill $! && [ "$(stat -c %a "$work/link/target")" = 755 ] \
        && echo "ok   $temp runtime folder: left to Qt" \
        || { echo "FAIL $temp runtime folder: taken, or the program ended: $(cat "$work/$temp.log")"; failures=$((failures + 1)); }
done

[ "$failures" -eq 0 ] || exit 1
[ "$skipped" -eq 0 ] || exit 77
