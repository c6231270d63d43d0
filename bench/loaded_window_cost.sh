#!/usr/bin/env bash
# What the idle window costs while message 0 holds a long text: CPU use and
# resident memory with that box keeping the keyboard focus, and with the focus
# on the button. The real program gets the text as an operator would give it,
# by pasting it from the clipboard (typing megabytes would take hours), and
# then writes the file, which proves that the whole text arrived.
#
# Needs DISPLAY set to an X server without a window manager, xdotool and
# xclip. Prints one line per size (characters; 0 keeps the initial text):
#     idle <size> <focused CPU %> <focused peak KiB> <unfocused CPU %> <unfocused peak KiB>
#
# usage: loaded_window_cost.sh <program> <work dir> <size>...
set -euo pipefail
program=$1 work=$2
shift 2

app_pid='' clipboard_pid=''
stop_helpers() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    [ -z "$clipboard_pid" ] || kill "$clipboard_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    app_pid='' clipboard_pid=''
}
trap stop_helpers EXIT

fail() {
    echo "loaded_window_cost: $*" >&2
    exit 1
}

# Polls a command until it succeeds or the deadline (in seconds) passes.
wait_for() {
    local seconds=$1 deadline
    shift
    deadline=$((SECONDS + seconds))
    until "$@" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

now_ns() { date +%s%N; }
# CPU time of every thread of the program so far, in nanoseconds (printed
# with %.0f: mawk's %d stops at 2^31, a little over two seconds).
cpu_ns() { cat /proc/"$app_pid"/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f", sum }'; }
# Share of one core the program used over the given seconds, in percent.
cpu_percent() {
    local seconds=$1 cpu_before time_before
    cpu_before=$(cpu_ns) time_before=$(now_ns)
    sleep "$seconds"
    awk -v cpu="$(($(cpu_ns) - cpu_before))" -v time="$(($(now_ns) - time_before))" \
        'BEGIN { printf "%.1f", 100 * cpu / time }'
}

# The cursor blinks once a second, so each sample covers whole blinks. A new
# state has settled when two samples in a row agree within a point of a
# core or a tenth of their value: the repaints after a focus change are done.
measure() {
    local previous current deadline=$((SECONDS + 60))
    previous=$(cpu_percent 1)
    while :; do
        current=$(cpu_percent 1)
        if awk -v a="$previous" -v b="$current" \
            'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 1 || d <= 0.1 * (a > b ? a : b)) }'; then
            break
        fi
        [ "$SECONDS" -lt "$deadline" ] || fail "the CPU use did not settle ($previous%, then $current%)"
        previous=$current
    done
    # Resets the peak resident size the kernel keeps, so VmHWM covers this sample alone.
    echo 5 >/proc/"$app_pid"/clear_refs
    local percent
    percent=$(cpu_percent 5)
    echo "$percent $(awk '/^VmHWM:/ { print $2 }' /proc/"$app_pid"/status)"
}

windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
press() { xdotool key --delay 20 "$@"; }
repeat() { printf "$1 %.0s" $(seq "$2"); }

# A text of the given length: a sentence an operator might write, repeated.
message_text() {
    awk -v wanted="$1" -v sentence='Welcome to the server, please read the rules at the spawn. ' \
        'BEGIN { text = sentence; while (length(text) < wanted) text = text text; printf "%s", substr(text, 1, wanted) }'
}

# True when the file's message 0 line, "<0>" and the text, has the length.
holds_message() { [ "$(awk 'NR == 37 { sub(/\r$/, ""); print length($0) - 3; exit }' "$1" 2>/dev/null)" = "$2" ]; }

measure_size() {
    local size=$1
    local folder=$work/size-$size
    rm -rf "$folder" && mkdir -p "$folder"
    # The program writes next to itself, so each size gets its own copy.
    cp "$program" "$folder/ornivex-config"
    (cd "$folder" && exec ./ornivex-config >>"$work/programs.log" 2>&1) &
    app_pid=$!
    wait_for 30 windows_named '^ORNIVEX_CONFIG$' >/dev/null || fail "the window did not appear; see $work/programs.log"
    xdotool windowfocus --sync "$(windows_named '^ORNIVEX_CONFIG$')"

    # Focus starts on the first weapon box; message 0 is 19 Tabs away, and
    # Tab selects its text, which the paste replaces.
    press $(repeat Tab 19)
    if [ "$size" -gt 0 ]; then
        message_text "$size" >"$folder/message.txt"
        xclip -quiet -selection clipboard -in "$folder/message.txt" >/dev/null 2>&1 &
        clipboard_pid=$!
        wait_for 10 xclip -selection clipboard -out -target TARGETS >/dev/null || fail "xclip holds no clipboard"
        press ctrl+v
    fi
    # On to "Create Config File" and press it.
    press $(repeat Tab 17) space
    if [ "$size" -gt 0 ]; then
        wait_for 120 holds_message "$folder/ORNIVEX_CONFIG.txt" "$size" \
            || fail "the file does not hold the $size pasted characters; see $work/programs.log"
    else
        wait_for 30 test -s "$folder/ORNIVEX_CONFIG.txt" || fail "the program wrote no file"
    fi
    local unfocused focused
    unfocused=$(measure)
    # Back to message 0; End clears the selection Tab made, as after a paste.
    press $(repeat shift+Tab 17) End
    focused=$(measure)
    echo "idle $size $focused $unfocused"
    stop_helpers
}

for size in "$@"; do
    measure_size "$size"
done
