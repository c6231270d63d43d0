#!/usr/bin/env bash
# Runs the window tests given after the program on a real X server with an
# AT-SPI accessibility bus of their own, as when a screen reader runs, so
# that Qt passes accessibility events on (offscreen, it has no bridge).
# usage: with_screen_reader_bus.sh <main_window_tests> <test function>...
set -euo pipefail
for tool in Xvfb dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed, so this test cannot run"; exit 77; }
done
if [ -z "${ORNIVEX_PRIVATE_BUS:-}" ]; then
    ORNIVEX_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
work=$(mktemp -d)
trap 'kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "$0")/../../scripts/private_xvfb.sh"
start_private_xvfb "$work"
# Qt joins an accessibility bus that is already there, as on a desktop.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
