#!/usr/bin/env bash
# The program installed into a server folder, on a 1366x768 laptop screen:
# - with text at 200% (QT_FONT_DPI=192) the window fits the screen, and the
#   mouse scrolls to "Create Config File" with the wheel and presses it;
# - the file lands in the folder that `cmake --install --prefix` put the
#   program into.
#
# usage: small_screen.sh <build dir> <initial_state.golden>
set -euo pipefail
build=$1 expected=$2

source "$(dirname "$0")/session.sh"
skip_without Xvfb xdotool

source "$(dirname "$0")/../../scripts/private_xvfb.sh"
start_private_xvfb "$work" 1366x768 || fail "no X server"

cmake --install "$build" --prefix "$work/server" >"$work/install.log" || fail "$(cat "$work/install.log")"
program=$work/server/ornivex-config
[ -x "$program" ] || fail "cmake --install put no program into the server folder: $(ls -A "$work/server")"
mkdir "$work/elsewhere"
cd "$work/elsewhere"

# start <VAR=value>...: starts the program and waits for its window; sets
# window, x, y, width and height.
start() {
    env "$@" "$program" 2>"$work/app.log" &
    app_pid=$!
    wait_for 30 eval 'window=$(xdotool search --onlyvisible --pid "$app_pid" --name "^ORNIVEX_CONFIG\$")' \
        || fail "the window did not appear: $(cat "$work/app.log")"
    eval "$(xdotool getwindowgeometry --shell "$window" | tr 'A-Z' 'a-z' | grep -E '^(x|y|width|height)=[0-9]+$')"
}
stop() { kill "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=''; }

start
width_at_100=$width
stop

start QT_FONT_DPI=192
((x + width <= 1366 && y + height <= 768)) || fail "at 200% the window (${width}x$height at $x,$y) overflows the screen"
echo "ok: at 200% the window fits the screen (${width}x$height)"
# Pixels per twip at 200%, from the window's width at 100%, which is the
# client area's 8265 twips.
scale=$(awk -v width="$width_at_100" 'BEGIN { print 2 * width / 8265 }')
# Scrolled to the far end, the button's centre stands 848 by 232 twips from
# the client area's bottom right corner, and the scroll bars (about 28 pixels
# at 200%) stand between that corner and the window's. The button is some
# 60 pixels high and 290 wide, so the click need not be exact.
xdotool mousemove --window "$window" $((width / 2)) $((height / 2))
xdotool click --repeat 40 --delay 10 5 click --repeat 40 --delay 10 7
read -r x y < <(awk -v w="$width" -v h="$height" -v s="$scale" \
    'BEGIN { printf "%d %d\n", w - 848 * s - 28, h - 232 * s - 28 }')
xdotool mousemove --window "$window" "$x" "$y" click 1
wait_for 10 test -s "$work/server/ORNIVEX_CONFIG.txt" || fail "the mouse did not reach \"Create Config File\" at $x,$y"
stop
cmp "$expected" "$work/server/ORNIVEX_CONFIG.txt" || fail "the file differs from the initial state"
echo "ok: the mouse pressed \"Create Config File\" at $x,$y; the file is in the server folder"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "files appeared in the working directory: $(ls -A "$work/elsewhere")"
