# Sourced by the scripts that run Windows programs under Wine: one private
# Wine session (prefix, home and wineserver) in a folder of the build.
#
#   wine_session_open <folder>   creates the session's prefix if missing and
#                                starts its wineserver; exports the session
#   wine_session_run <command>   runs a command as the session's user
#   wine_session_user_command    sets the array wine_session_user to what
#                                runs a command so (env, and setpriv as root)
#   windows_path <path>          the Linux path as Wine names it, through Z:
#   wine_session_close           stops the wineserver and waits for its end
#
# Wine runs as the unprivileged user "nobody" when called by root: under
# Wine, root may overwrite read-only files and would hide such failures, and
# Wine refuses a prefix that belongs to another user, so the session folder
# is handed to that user. A caller that is no root runs Wine as itself.

wine_session_open() {
    local folder
    folder=$(realpath -m "$1")
    export ORNIVEX_WINE_SESSION=$folder
    export WINEPREFIX=$folder/prefix
    export WINEDEBUG=-all
    export WINEARCH=win64
    # No Mono or Gecko install prompts: the tests need neither.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine maps Unix file names through the character set of the locale, so
    # without a UTF-8 one (LANG unset, as in containers and fresh systems)
    # no name beyond ASCII can be opened. C.UTF-8 is built into the C
    # library; only the character set is set, so that a caller's language
    # (LANG) still holds.
    if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
        if [ -n "${LC_ALL:-}" ]; then
            export LANG=$LC_ALL
            unset LC_ALL
        fi
        export LC_CTYPE=C.UTF-8
    fi
    mkdir -p "$folder/home" "$WINEPREFIX"
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody:nogroup "$folder" "$folder/home" "$WINEPREFIX"
        chmod 0755 "$folder"
        if ! setpriv --reuid=nobody --regid=nogroup --clear-groups -- test -r "$folder/.." -a -x "$folder/.."; then
            echo "The user nobody, who runs Wine, cannot reach $folder: let others enter the folders above it" >&2
            return 1
        fi
    fi
    # Started first and with every output redirected: a wineserver that a
    # Wine program starts holds that program's outputs, and a reader of
    # them such as ctest would wait for it forever.
    wine_session_run wineserver --persistent </dev/null >"$folder/wineserver.log" 2>&1
    # Wineboot starts Wine's own services (and creates the prefix if it is
    # missing), here with outputs redirected, before any program whose
    # outputs they would otherwise inherit and hold.
    local boot=()
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix $WINEPREFIX"
        boot=(--init)
    fi
    wine_session_run wineboot "${boot[@]}" </dev/null >"$folder/wineboot.log" 2>&1 \
        || { cat "$folder/wineboot.log" >&2; return 1; }
}

wine_session_user_command() {
    [ -n "${ORNIVEX_WINE_SESSION:-}" ] || { echo "no Wine session is open (wine_session_open)" >&2; return 1; }
    wine_session_user=(env HOME="$ORNIVEX_WINE_SESSION/home" WINEPREFIX="$WINEPREFIX")
    if [ "$(id -u)" -eq 0 ]; then
        wine_session_user+=(USER=nobody LOGNAME=nobody setpriv --reuid=nobody --regid=nogroup --clear-groups --)
    fi
}

wine_session_run() {
    wine_session_user_command || return 1
    "${wine_session_user[@]}" "$@"
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

wine_session_close() {
    [ -n "${ORNIVEX_WINE_SESSION:-}" ] || return 0
    wine_session_run wineserver --kill </dev/null >/dev/null 2>&1 || true
    wine_session_run wineserver --wait </dev/null >/dev/null 2>&1 || true
}
