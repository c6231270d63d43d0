#!/usr/bin/env bash
# Refreshes the README's screenshot from the end-to-end test's own screenshot,
# so that the picture always shows the real program under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target ornivex-config grab_window
ctest --test-dir build -R '^operator_session$' --output-on-failure
cp build/screenshots/form1.png docs/form1.png
echo "docs/form1.png refreshed"
