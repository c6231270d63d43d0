#!/usr/bin/env bash
# Refreshes docs/form1-windows.png from the Windows session test's own
# screenshot: the real program under Wine in Xvfb, as it starts.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target grab_window
cmake --build build-windows-tests --target ornivex-config window_probe win32_window_tests
shots=$PWD/build-windows-tests/screenshots
rm -f "$shots/form1-windows.png"
ORNIVEX_SCREENSHOTS=$shots ORNIVEX_GRAB_WINDOW=$PWD/build/tests/e2e/grab_window \
    scripts/windows_tests.sh build-windows-tests -R '^win32_session$'
cp "$shots/form1-windows.png" docs/form1-windows.png
echo "docs/form1-windows.png refreshed"
