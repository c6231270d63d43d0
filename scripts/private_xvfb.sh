# Sourced by the end-to-end tests and bench.sh: start_private_xvfb <work dir>
# [<width>x<height>] starts an X server on a free display with one screen of
# that size (1280x1024 unless given), without a window manager, waits until
# it accepts clients and exports DISPLAY. Sets xvfb_pid for the caller's cleanup.
# -noreset: by default the server resets when its last client leaves and
# refuses connections meanwhile, so a program started just after another
# ended could not open the display.
start_private_xvfb() {
    local work=$1 size=${2:-1280x1024} deadline=$((SECONDS + 20))
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    until [ -s "$work/display" ]; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$work/display")"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}
