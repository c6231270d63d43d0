#!/usr/bin/env bash
# Runs a Windows program under Wine in the session that the caller opened
# (see wine_session.sh); the cross build uses it to run its tests.
set -euo pipefail
source "$(dirname "$0")/wine_session.sh"
if [ -z "${ORNIVEX_WINE_SESSION:-}" ]; then
    echo "No Wine session is open: run the Windows tests with scripts/windows_tests.sh <build folder>" >&2
    exit 1
fi
wine_session_run wine "$@"
