#!/usr/bin/env bash
# Runs the window tests given after the program from a copy that is deleted
# once it has started, as when a program file is replaced while it runs.
# usage: from_deleted_program.sh <main_window_tests> <test function>...
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$work/main_window_tests"
exec 3<"$work/main_window_tests"
rm "$work/main_window_tests"
/proc/self/fd/3 "${@:2}"
