# Sourced by tests that read the window as a screen reader does.
#
# rerun_on_private_session_bus "$0" "$@": unless already done, runs the
# calling script again on a D-Bus session bus of its own, with a runtime
# folder of its own for the accessibility bus's socket, so that neither a
# desktop's session nor a test running beside it is touched; then exits
# with that run's status. Returns at once when dbus-run-session is missing,
# for the caller to skip.
rerun_on_private_session_bus() {
    [ -z "${ORNIVEX_PRIVATE_BUS:-}" ] && command -v dbus-run-session >/dev/null || return 0
    local runtime status=0
    runtime=$(mktemp -d)
    XDG_RUNTIME_DIR=$runtime ORNIVEX_PRIVATE_BUS=1 dbus-run-session -- bash "$@" || status=$?
    rm -rf "$runtime"
    exit "$status"
}

# start_accessibility_bus: starts the AT-SPI bus, as a desktop session does;
# Qt joins one that is already there and would not start it.
start_accessibility_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}
