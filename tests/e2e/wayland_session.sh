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

# Mapped: after the first acknowledged configure of the toplevel titled
# ORNIVEX_CONFIG, its surface commits with a buffer attached.
mapped() {
    local line surface='' xdg_surface='' toplevel='' acked='' attached=''
    local -A surface_of toplevel_of
    while IFS= read -r line; do
        if [[ $line =~ -\>\ xdg_wm_base@[0-9]+\.get_xdg_surface\(new\ id\ (xdg_surface@[0-9]+),\ (wl_surface@[0-9]+)\) ]]; then
            surface_of[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
        elif [[ $line =~ -\>\ (xdg_surface@[0-9]+)\.get_toplevel\(new\ id\ (xdg_toplevel@[0-9]+)\) ]]; then
            toplevel_of[${BASH_REMATCH[2]}]=${BASH_REMATCH[1]}
        elif [[ $line =~ -\>\ (xdg_toplevel@[0-9]+)\.set_title\(\"ORNIVEX_CONFIG\"\) ]]; then
            toplevel=${BASH_REMATCH[1]} xdg_surface=${toplevel_of[$toplevel]:-}
            surface=${surface_of[$xdg_surface]:-}
        elif [ -n "$surface" ] && [[ $line == *"-> $xdg_surface.ack_configure("* ]]; then
            acked=1
        elif [ -n "$acked" ] && [[ $line == *"-> $surface.attach(wl_buffer@"* ]]; then
            attached=1
        elif [ -n "$attached" ] && [[ $line == *"-> $surface.commit()"* ]]; then
            return 0
        fi
    done <"$work/app.log"
    return 1
}

: >"$work/app.log"
WAYLAND_DISPLAY=ornivex-test QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client "$program" >"$work/app.log" 2>&1 &
app_pid=$!
wait_for 30 mapped || fail "the window did not map: $(grep -v '^\[' "$work/app.log" | head -20)"
echo "ok: the window maps under weston's headless compositor through Qt's Wayland plugin"
