#!/usr/bin/env bash
# An operator's session with the real program in a real X server: it starts
# from a fresh folder whose name is not UTF-8 (or the new folder given), with
# the working directory in another server's folder, is driven from the
# keyboard only, meets a failed write, and on retry writes the operator's
# choices byte for byte next to the executable. Enter presses the button and
# nothing else; the write that worked leaves every pixel of the window as it
# was before the press. Started without XDG_RUNTIME_DIR, it makes itself a
# private runtime folder and prints nothing. Then a copy started from a
# program file that was already deleted reports that it cannot find its
# folder and writes nowhere.
#
# usage: operator_session.sh <program> <grab_window> <operator_edits.golden> <screenshot dir> [<new folder>]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1 grab=$2 expected=$3 shots=$4

source "$here/session.sh"
skip_without Xvfb xdotool

windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
one_window_named() { [ "$(windows_named "$1" | wc -l)" -eq 1 ]; }
press() { xdotool key --clearmodifiers --delay 30 "$@"; }
tabs() { press $(printf 'Tab %.0s' $(seq "$1")); }

source "$here/../../scripts/private_xvfb.sh"
start_private_xvfb "$work" || fail "no X server"

app=${5:-$work/$'server\xff'}
mkdir "$app" "$work/elsewhere" "$work/gone" "$work/tmp"
echo "another server's own file" >"$work/elsewhere/ORNIVEX_CONFIG.txt"
cp "$work/elsewhere/ORNIVEX_CONFIG.txt" "$work/elsewhere.expected"
cp "$program" "$app/ornivex-config"
cp "$program" "$work/gone/ornivex-config"
# Something stands where the file goes from the start. An Enter that wrongly
# pressed the button would open a report, which takes the keys that follow,
# and the file written at the end would differ from the operator's choices.
mkdir "$app/ORNIVEX_CONFIG.txt"
cd "$work/elsewhere"
env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" "$app/ornivex-config" 2>"$work/app.log" &
app_pid=$!

wait_for 30 one_window_named '^ORNIVEX_CONFIG$' || fail "the window did not appear: $(cat "$work/app.log")"
window=$(windows_named '^ORNIVEX_CONFIG$')
mkdir -p "$shots"
"$grab" "$window" "$shots/form1.png" || fail "could not take a screenshot of the window"
xdotool windowfocus --sync "$window"

# Focus starts on the first weapon box.
press space                                   # shotgun: ban
tabs 4; press space                           # smartgun: allow
tabs 13; press space                          # EMP grenades: ban
press Return KP_Enter                         # Enter on a check box does nothing
tabs 8; xdotool type --delay 20 'restart at'  # message 6
press Return KP_Enter                         # Enter in a text box does nothing
xdotool type --delay 20 ' 6pm'
tabs 4; press space                           # use IP banner
tabs 6; xdotool type --delay 20 ' 12'         # frequency (Tab selected the old text)
tabs 1                                        # on to "Create Config File"

# Enter presses the button; the write fails: the report appears, the program stays.
press Return
wait_for 20 one_window_named '^ORNIVEX_CONFIG - Error$' || fail "Enter on the button opened no error report"
report=$(windows_named '^ORNIVEX_CONFIG - Error$')
wait_for 10 "$grab" "$report" "$shots/error_report.png" || fail "could not take a screenshot of the report"
xdotool windowfocus --sync "$report"
press Return
wait_for 20 bash -c "! xdotool search --onlyvisible --name '^ORNIVEX_CONFIG - Error\$' >/dev/null" \
    || fail "the report did not close"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the report"

# The way is clear again: keypad Enter retries and writes the operator's
# earlier choices, and shows nothing: once the button is up again, the
# window is pixel for pixel what it was before the press.
# The pointer rests outside the window, where no hover look or tooltip can
# come and go, and the window has settled once two screenshots agree.
rmdir "$app/ORNIVEX_CONFIG.txt"
xdotool windowfocus --sync "$window"
eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')"
xdotool mousemove $((X + WIDTH + 20)) $((Y + HEIGHT + 20))
settled() { "$grab" "$window" "$work/before.png" && "$grab" "$window" "$work/again.png" && cmp -s "$work/before.png" "$work/again.png"; }
wait_for 10 settled || fail "the window did not settle before the press"
press KP_Enter
wait_for 20 test -s "$app/ORNIVEX_CONFIG.txt" || fail "no file was written on retry"
unchanged() { "$grab" "$window" "$work/after.png" && cmp -s "$work/before.png" "$work/after.png"; }
wait_for 10 unchanged || { cp "$work/before.png" "$work/after.png" "$shots/"; fail "the window changed after a press that worked (see $shots)"; }

cmp "$expected" "$app/ORNIVEX_CONFIG.txt" || {
    diff <(cat -A "$expected") <(cat -A "$app/ORNIVEX_CONFIG.txt") || true
    fail "the file differs from the operator's choices"
}
[ "$(ls -A "$app" | LC_ALL=C sort | tr '\n' ' ')" = "ORNIVEX_CONFIG.txt ornivex-config " ] \
    || fail "stray files next to the program: $(ls -A "$app")"

kill "$app_pid"
wait_for 20 bash -c "! xdotool search --onlyvisible --name '^ORNIVEX_CONFIG\$' >/dev/null" || fail "the window stayed"
[ ! -s "$work/app.log" ] || fail "the program printed: $(cat "$work/app.log")"
[ "$(stat -c '%a %U' "$work/tmp/runtime-$(id -un)")" = "700 $(id -un)" ] || fail "no private runtime folder"

# Started from a program file that was deleted first (as fexecve can): its folder is unknown.
(exec 3<"$work/gone/ornivex-config" && rm "$work/gone/ornivex-config" && exec /proc/self/fd/3) 2>"$work/gone.log" &
app_pid=$!
wait_for 30 one_window_named '^ORNIVEX_CONFIG$' || fail "the second window did not appear: $(cat "$work/gone.log")"
xdotool windowfocus --sync "$(windows_named '^ORNIVEX_CONFIG$')"
tabs 36; press space                          # on to "Create Config File" and press it
wait_for 20 one_window_named '^ORNIVEX_CONFIG - Error$' || fail "no report for an unknown folder"
[ -z "$(ls -A "$work/gone")" ] || fail "a file appeared beside the deleted program: $(ls -A "$work/gone")"
cmp "$work/elsewhere.expected" "$work/elsewhere/ORNIVEX_CONFIG.txt" || fail "the working directory's file changed"
[ "$(ls -A "$work/elsewhere")" = ORNIVEX_CONFIG.txt ] || fail "files appeared in the working directory"
echo "ok: file written as typed; screenshots in $shots"
