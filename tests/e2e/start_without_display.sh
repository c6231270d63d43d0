#!/usr/bin/env bash
# With no display at all the program says so in one sentence and exits with 1.
program=$1
status=0
message=$(env -i "$program" 2>&1 >/dev/null) || status=$?
if [ "$status" -ne 1 ] || [[ "$message" != *"needs a desktop session"* ]] || [ "$(printf '%s\n' "$message" | wc -l)" -ne 1 ]; then
    echo "expected exit 1 and one sentence, got exit $status and: $message"
    exit 1
fi
echo "ok: $message"
