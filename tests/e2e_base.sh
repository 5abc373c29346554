# shellcheck shell=bash
# The base of every end-to-end script, sourced first (e2e_lib.sh and session_lib.sh source it
# too): failing, skipping and waiting, and a Tide of the test's own (`private_instance "$0" "$@"`
# near the top).

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() { # where CI asks that nothing be skipped (TIDE_E2E_NO_SKIP=1), a skip is a failure
    if [ -n "${TIDE_E2E_NO_SKIP:-}" ]; then
        echo "FAIL (would skip, but TIDE_E2E_NO_SKIP is set): $*" >&2
        exit 1
    fi
    echo "SKIP: $*" >&2
    exit 77
}

# Waits up to $1 seconds for the command to succeed.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}
#
# Only one Tide runs per user, and every start asks the running one to quit: a test run must not
# end the Tide in the user's tray. Tide's socket is a file in $XDG_RUNTIME_DIR, and where that
# directory serves Tide looks nowhere else, so every test gives tide a temporary XDG_RUNTIME_DIR of
# its own (mode 0700). The calling script also re-runs itself in a network namespace of its own,
# which keeps apart what else listens on abstract sockets (an X server, say). Where no namespace
# can be had (a container without the privilege), it goes on as it is.
private_instance() {
    local script=$1
    shift
    [ -z "${TIDE_PRIVATE_INSTANCE:-}" ] || return 0
    export TIDE_PRIVATE_INSTANCE=1
    if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
        exec unshare --net bash "$script" "$@"
    elif unshare --user --map-root-user --net true 2>/dev/null; then
        exec unshare --user --map-root-user --net bash "$script" "$@"
    fi
}

# Re-runs the calling script ($1, with the arguments after it) on a session bus of its own, so that
# the Tide it starts reaches neither the user's session bus nor desktop. Call it after
# private_instance.
private_session_bus() {
    local script=$1
    shift
    [ -z "${TIDE_E2E_PRIVATE_BUS:-}" ] || return 0
    export TIDE_E2E_PRIVATE_BUS=1
    exec dbus-run-session -- bash "$script" "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
}
