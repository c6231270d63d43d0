#!/usr/bin/env bash
# On a Wayland desktop the program runs natively: under weston's headless
# compositor, with Qt's Wayland plugin, its window maps. The client's
# protocol log shows it: the toplevel titled ORNIVEX_CONFIG acknowledges the
# compositor's configure and then commits a buffer to its surface.
#
# usage: wayland_session.sh <program>
set -euo pipefail
program=$1

source "$(dirname "$0")/session.sh"
skip_without weston

mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run
unset DISPLAY QT_QPA_PLATFORM
weston --backend=headless-backend.so --socket=ornivex-test --idle-time=0 --no-config >"$work/weston.log" 2>&1 &
wait_for 20 test -S "$work/run/ornivex-test" || fail "weston did not start: $(cat "$work/weston.log")"

# Mapped: once the toplevel titled ORNIVEX_CONFIG has acknowledged the
# compositor's configure, a surface commits with a buffer attached.
mapped() {
    awk '/-> xdg_toplevel@[0-9]+\.set_title\("ORNIVEX_CONFIG"\)/ { titled = 1 }
         titled && /-> xdg_surface@[0-9]+\.ack_configure\(/ { acked = 1 }
         acked && /-> wl_surface@[0-9]+\.attach\(wl_buffer@/ { attached = 1 }
         attached && /-> wl_surface@[0-9]+\.commit\(\)/ { mapped = 1; exit }
         END { exit !mapped }' "$work/app.log"
}

: >"$work/app.log"
WAYLAND_DISPLAY=ornivex-test QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client "$program" >"$work/app.log" 2>&1 &
wait_for 30 mapped || fail "the window did not map: $(grep -v '^\[' "$work/app.log" | head -20)"
echo "ok: the window maps under weston's headless compositor through Qt's Wayland plugin"
