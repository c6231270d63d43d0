#!/usr/bin/env bash
# Refreshes the README's screenshots from the end-to-end test's own, so that
# the pictures always show the real program under Xvfb: the window at its
# start and the report of a press that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target ornivex-config grab_window
ctest --test-dir build -R '^operator_session$' --output-on-failure
cp build/screenshots/form1.png docs/form1.png
cp build/screenshots/error_report.png docs/error-report.png
echo "docs/form1.png and docs/error-report.png refreshed"
