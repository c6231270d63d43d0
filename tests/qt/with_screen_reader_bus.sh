#!/usr/bin/env bash
# Runs the window tests given after the program on a real X server with an
# AT-SPI accessibility bus of their own, as when a screen reader runs, so
# that Qt passes accessibility events on (offscreen, it has no bridge).
# usage: with_screen_reader_bus.sh <main_window_tests> <test function>...
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
source "$scripts/private_session_bus.sh"
rerun_on_private_session_bus "$0" "$@"
for tool in Xvfb dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed, so this test cannot run"; exit 77; }
done
work=$(mktemp -d)
trap 'kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$scripts/private_xvfb.sh"
start_private_xvfb "$work"
start_accessibility_bus
QT_QPA_PLATFORM=xcb "$@"
