#!/usr/bin/env bash
# Refreshes the README's screenshots from the end-to-end test's own, so that
# the pictures always show the real program under Xvfb: the window at its
# start and the report of a press that failed. The program runs from
# /srv/game, where an operator would install it: a tmpfs mounted over /srv in
# a mount namespace of this script's own, so the host's /srv stays untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target ornivex-config grab_window
[ -d /srv ] || { echo "/srv is missing, so there is nothing to mount the server folder over" >&2; exit 1; }
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace+=(--map-root-user)
"${namespace[@]}" bash -c 'mount -t tmpfs -o mode=755 tmpfs /srv && exec bash "$@"' refresh \
    tests/e2e/operator_session.sh "$PWD/build/ornivex-config" "$PWD/build/tests/e2e/grab_window" \
    "$PWD/tests/data/operator_edits.golden" "$PWD/build/screenshots" /srv/game
cp build/screenshots/form1.png docs/form1.png
cp build/screenshots/error_report.png docs/error-report.png
echo "docs/form1.png and docs/error-report.png refreshed"
