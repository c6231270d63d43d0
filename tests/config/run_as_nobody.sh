#!/bin/sh
# Runs a test program as the unprivileged user "nobody", for the cases that
# root's permission override would hide. A user other than root runs it as is.
set -eu
program=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$program" "$@"
fi
if ! command -v setpriv >/dev/null; then
    echo "SKIP: setpriv is not installed, so nothing can run as an unprivileged user"
    exit 77
fi
# A copy in a folder that nobody can reach, wherever the build lives.
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
chmod 1777 "$sandbox"
cp "$program" "$sandbox/"
cd "$sandbox"
TMPDIR=$sandbox setpriv --reuid=65534 --regid=65534 --clear-groups -- "./$(basename "$program")" "$@"
