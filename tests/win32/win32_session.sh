#!/usr/bin/env bash
# The Windows program under Wine in a private X server, driven from the
# keyboard as an operator would, with its own Wine session run by an
# unprivileged user:
#  1. from a fresh folder with a non-ASCII name, the working directory in
#     another server's folder: the first press writes the initial file;
#     the button's tooltip names the file; edits to every kind of control; a
#     folder in the file's place brings the report box, whose text is read
#     and checked, Return closes the box, the focus is back on the button
#     and Space writes the edits; Tab wraps to the
#     first box, typed text beyond ASCII and beyond the code page, a
#     frequency that is no number, Enter on the button; a press that worked
#     leaves every pixel of the window as it was; the program's version and
#     icon group;
#  2. at 192 DPI on a 1366x768 screen, which the window does not fit in
#     height: the window's own test of its start (a vertical scroll bar and
#     no horizontal one), every caption fits, and Tab scrolls the button
#     into reach;
#  3. with a Hebrew user interface: the window is mirrored.
# Each file is compared byte for byte with a golden file.
#
# usage: win32_session.sh <ornivex-config.exe> <window_probe.exe> <golden dir> [<window tests.exe> <version>]
# With ORNIVEX_SCREENSHOTS=<dir> and ORNIVEX_GRAB_WINDOW=<grab_window>, it
# saves the window at its start as <dir>/form1-windows.png; with
# ORNIVEX_PROGRAM_FOLDER=<new folder>, the program runs from there.
set -euo pipefail
program=$1 probe=$2 golden=$3 window_tests=${4:-} version=${5:-}
here=$(dirname "$0")

source "$here/../e2e/session.sh"
skip_without Xvfb xdotool xwd wine wineserver setpriv localedef
source "$here/../../scripts/private_xvfb.sh"
source "$here/../../scripts/wine_session.sh"
trap 'wine_session_close; cleanup' EXIT

windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
one_window_named() { [ "$(windows_named "$1" | wc -l)" -eq 1 ]; }
press() { xdotool key --clearmodifiers --delay 30 "$@"; }
tabs() { press $(printf 'Tab %.0s' $(seq "$1")); }

chmod 755 "$work"
start_private_xvfb "$work" 1366x768 || fail "no X server"
wine_session_open "$work/wine" >/dev/null || fail "no Wine session"
as_user() { wine_session_run "$@"; }
probe() { as_user wine "$work/probe.exe" "$@"; }
cp "$probe" "$work/probe.exe"

if [ -n "$window_tests" ]; then
    echo "--- the window in the test's own process"
    cp "$window_tests" "$work/window_tests.exe"
    as_user wine "$work/window_tests.exe" || fail "the window's tests failed"
fi

# "server é€ Ω", or for a screenshot an operator's folder the caller names
app=${ORNIVEX_PROGRAM_FOLDER:-$work/$'server \xc3\xa9\xe2\x82\xac \xce\xa9'}
file=$app/ORNIVEX_CONFIG.txt
mkdir "$app" "$work/elsewhere"
cp "$program" "$app/ornivex-config.exe"
echo "another server's own file" >"$work/elsewhere/ORNIVEX_CONFIG.txt"
cp "$work/elsewhere/ORNIVEX_CONFIG.txt" "$work/elsewhere.expected"
chown -R nobody:nogroup "$app" "$work/elsewhere" 2>/dev/null || true

app_pid=''
# start_program [<environment>...]: starts the program from the other
# server's folder and waits for its window and its focus.
start_program() {
    (
        cd "$work/elsewhere"
        [ $# -eq 0 ] || export "$@"
        wine_session_run wine "$app/ornivex-config.exe"
    ) >"$work/app.log" 2>&1 &
    app_pid=$!
    wait_for 60 one_window_named '^ORNIVEX_CONFIG$' || fail "the window did not appear: $(cat "$work/app.log")"
    window=$(windows_named '^ORNIVEX_CONFIG$')
    xdotool windowfocus --sync "$window"
    wait_for 20 focus_is 'Button Shotgun' || fail "the focus did not start on the first weapon box"
}
# Closes the window as an operator does, with Alt+F4, and waits until Wine
# has let the program end (it takes a few seconds).
close_program() {
    xdotool windowfocus --sync "$window"
    press alt+F4
    local deadline=$((SECONDS + 30))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the program did not end"
        sleep 0.2
    done
}
focus_is() { [ "$(probe focus ORNIVEX_CONFIG)" = "$1" ]; }
# written_as <golden>: waits for the file to appear and compares it.
written_as() {
    wait_for 20 test -f "$file" || fail "no file was written for $1"
    wait_for 5 cmp -s "$golden/$1" "$file" || {
        diff <(cat -A "$golden/$1") <(cat -A "$file") || true
        fail "the file differs from $1"
    }
}

echo "--- 1. an operator's session"
start_program
if [ -n "${ORNIVEX_SCREENSHOTS:-}" ] && [ -n "${ORNIVEX_GRAB_WINDOW:-}" ]; then
    mkdir -p "$ORNIVEX_SCREENSHOTS"
    "$ORNIVEX_GRAB_WINDOW" "$window" "$ORNIVEX_SCREENSHOTS/form1-windows.png" || fail "no screenshot"
fi
identity=$(probe identity "$(windows_path "$app/ornivex-config.exe")") || fail "the program's identity cannot be read"
[ "$identity" = "ProductName ORNIVEX Config
FileDescription ORNIVEX Config
FileVersion $version
ProductVersion $version
icon groups 1: 16 20 24 32 40 48 64 256" ] || fail "the program's version or icons are wrong: $identity"

# A press that worked shows nothing: with the focus on the button before and
# after, the window's pixels are the same once the button is up again. The
# pointer stays off the window, where it brings up no tooltip.
xdotool mousemove 1365 767
tabs 36                                       # "Create Config File" at once
wait_for 20 focus_is 'Button Create Config File' || fail "Tab did not reach the button"
grab() { xwd -silent -id "$window" -out "$work/$1.xwd"; }
unchanging() { grab "$1" && grab again && cmp -s "$work/$1.xwd" "$work/again.xwd"; }
wait_for 20 unchanging before || fail "the window does not come to rest"
press space
written_as initial_state.golden
as_before() { grab after && cmp -s "$work/before.xwd" "$work/after.xwd"; }
wait_for 10 as_before || fail "a press that worked changed the window's pixels"
focus_is 'Button Create Config File' || fail "a press that worked moved the focus"
read -r button_x button_y < <(probe button ORNIVEX_CONFIG)
# Onto the button and a pixel further, as a hand on a mouse would, then
# still for longer than a tooltip's delay, since each move restarts it.
point_at_button() {
    xdotool mousemove "$button_x" "$button_y" sleep 0.2 mousemove $((button_x + 1)) "$button_y" sleep 1
    probe tooltip ORNIVEX_CONFIG >/dev/null
}
wait_for 20 point_at_button || fail "the button shows no tooltip"
tooltip=$(probe tooltip ORNIVEX_CONFIG)
[ "$tooltip" = "Writes $(windows_path "$file")" ] || fail "the tooltip does not name the file: $tooltip"

tabs 1; press space                           # shotgun: ban (Tab wrapped to the first box)
tabs 4; press space                           # smartgun: allow
tabs 13; press space                          # EMP grenades: ban
tabs 8; xdotool type --delay 20 'restart at 6pm'   # message 6
tabs 4; press space                           # use IP banner
tabs 6; xdotool type --delay 20 ' 12'         # frequency (Tab selected the old text)
tabs 1                                        # on to "Create Config File"

# A folder in the file's place: the report, the window stays with every edit.
rm "$file"
mkdir "$file"
press space
wait_for 20 one_window_named '^ORNIVEX_CONFIG - Error$' || fail "no error report appeared"
report=$(probe text 'ORNIVEX_CONFIG - Error') || fail "the report's text cannot be read"
first_line='^Error [0-9]+: Cannot write '$(windows_path "$file" | sed 's/[\\.]/\\&/g')': .'
head -n1 <<<"$report" | grep -Eq "$first_line" || fail "the report's first line is wrong: $report"
grep -q 'The file was not changed' <<<"$report" || fail "the report does not say the file is unchanged: $report"
xdotool windowfocus --sync "$(windows_named '^ORNIVEX_CONFIG - Error$')"
press Return
wait_for 20 bash -c "! xdotool search --onlyvisible --name '^ORNIVEX_CONFIG - Error\$' >/dev/null" \
    || fail "Return did not close the report"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the report"
wait_for 20 focus_is 'Button Create Config File' || fail "the focus did not come back to the button"

# The way is clear again: Space on the button that kept the focus retries.
rmdir "$file"
press space
written_as operator_edits.golden

tabs 27                                       # Tab wraps to the first box, then message 7
# "café 5€ § Ω": Ω is beyond Windows-1252. xdotool binds a spare key to each
# character the keyboard lacks and unbinds it soon after; Wine turns the key
# into its character only when the program takes it from its queue, so with
# 20 ms between keys a character was now and then lost (é or €, in about
# half the runs on a busy machine).
xdotool type --delay 200 $'caf\xc3\xa9 5\xe2\x82\xac \xc2\xa7 \xce\xa9'
tabs 9; xdotool type --delay 20 'abc'         # a frequency that is no number
tabs 1; rm "$file"; press Return              # Enter on the focused button
written_as typed_text.golden
close_program
cmp -s "$work/elsewhere.expected" "$work/elsewhere/ORNIVEX_CONFIG.txt" || fail "the working directory's file changed"
[ "$(ls -A "$app" | LC_ALL=C sort | tr '\n' ' ')" = "ORNIVEX_CONFIG.txt ornivex-config.exe " ] \
    || fail "stray files next to the program: $(ls -A "$app")"

echo "--- 2. at 192 DPI on a screen too small for the window"
as_user wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null
if [ -n "$window_tests" ]; then # the window as it starts: its scroll bars, its icons
    as_user wine "$work/window_tests.exe" --gtest_filter='Dpi/*/0' || fail "the window's tests failed at 192 DPI"
fi
rm "$file"
start_program
fits=$(probe fits ORNIVEX_CONFIG) || fail "captions are cut at 192 DPI: $fits"
grep -q '^dpi 192 ' <<<"$fits" || fail "the window is not at 192 DPI: $fits"
tabs 36; press space                          # the button, scrolled into reach
written_as initial_state.golden
close_program
as_user wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null

echo "--- 3. a user interface that reads right to left"
# Wine takes the user's interface language from the locale, which needs
# its definition; one of our own spares installing it.
mkdir -p "$work/locale"
localedef -i he_IL -f UTF-8 "$work/locale/he_IL.UTF-8" 2>/dev/null || [ -d "$work/locale/he_IL.UTF-8" ] \
    || fail "cannot define the Hebrew locale"
chmod -R a+rX "$work/locale"
start_program LOCPATH="$work/locale" LANG=he_IL.UTF-8
fits=$(probe fits ORNIVEX_CONFIG) || fail "captions are cut when mirrored: $fits"
grep -q ' mirrored 1' <<<"$fits" || fail "the window is not mirrored for a Hebrew user interface: $fits"
close_program
echo "ok: every file as the golden files, a press leaves the pixels, the report read, 192 DPI fits, right to left mirrors"
