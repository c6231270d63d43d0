#!/usr/bin/env bash
# Refreshes docs/form1-windows.png from the Windows session test's own
# screenshot: the real program under Wine in Xvfb, as it starts, run from
# /srv/game (Z:\srv\game), a server's folder as an operator has one, made
# for the run and removed after it.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=/srv/game
[ ! -e "$folder" ] || { echo "$folder exists already; the screenshot needs it for itself" >&2; exit 1; }
mkdir -p "$(dirname "$folder")"
trap 'rm -rf "$folder"' EXIT
cmake --build build --target grab_window
cmake --build build-windows-tests --target ornivex-config window_probe win32_window_tests
shots=$PWD/build-windows-tests/screenshots
rm -f "$shots/form1-windows.png"
ORNIVEX_SCREENSHOTS=$shots ORNIVEX_GRAB_WINDOW=$PWD/build/tests/e2e/grab_window ORNIVEX_PROGRAM_FOLDER=$folder \
    scripts/windows_tests.sh build-windows-tests -R '^win32_session$'
cp "$shots/form1-windows.png" docs/form1-windows.png
echo "docs/form1-windows.png refreshed"
