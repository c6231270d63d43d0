# Sourced by the end-to-end tests: a scratch folder $work that goes at exit
# together with every process the test started in the background, and the
# helpers they share.
work=$(mktemp -d)
cleanup() {
    local started
    started=$(jobs -p)
    [ -z "$started" ] || kill $started 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# skip_without <tool>...: ends the test as skipped (77) unless each is installed.
skip_without() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed, so this test cannot run"; exit 77; }
    done
}

# wait_for <seconds> <command>...: polls the command until it succeeds or the
# deadline passes.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
