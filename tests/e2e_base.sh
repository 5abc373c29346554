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
# which keeps apart what else listens on abstract sockets (an X server, say), and in a mount
# namespace with a /tmp of its own (private_tmp). Where no namespace can be had (a container
# without the privilege), it goes on as it is; where only the network one can, with that alone.
NS_MOUNT=(--mount --propagation private)
private_instance() {
    local script=$1
    shift
    if [ "${TIDE_PRIVATE_TMP:-}" = pending ]; then
        TIDE_PRIVATE_TMP=1
        private_tmp "$script" "$@" || fail "no /tmp of the test's own in its mount namespace"
        # Set by enter_private_namespace: the user's own ids, back from the mapped root that made
        # the mount.
        if [ -n "${TIDE_E2E_MAP_BACK:-}" ]; then
            local ids=$TIDE_E2E_MAP_BACK
            unset TIDE_E2E_MAP_BACK
            exec unshare --map-user="${ids%:*}" --map-group="${ids#*:}" bash "$script" "$@"
        fi
    fi
    [ -z "${TIDE_PRIVATE_INSTANCE:-}" ] || return 0
    export TIDE_PRIVATE_INSTANCE=1
    local way ns
    for way in root mapped-root; do
        ns=(--net)
        if [ "$way" = mapped-root ]; then
            ns=(--user --map-root-user --net)
        elif [ "$(id -u)" -ne 0 ]; then
            continue
        fi
        if unshare "${ns[@]}" "${NS_MOUNT[@]}" mount -t tmpfs tmpfs /tmp 2>/dev/null; then
            export TIDE_PRIVATE_TMP=pending
            exec unshare "${ns[@]}" "${NS_MOUNT[@]}" bash "$script" "$@"
        elif unshare "${ns[@]}" true 2>/dev/null; then
            exec unshare "${ns[@]}" bash "$script" "$@"
        fi
    done
}

# In the mount namespace private_instance made: a /tmp of the test's own (a tmpfs, mode 1777, with
# the X servers' socket folder as a booted system has it). An X server's socket file is at a fixed
# path there (/tmp/.X11-unix/X<n>, and so is its lock file where it takes one, /tmp/.X<n>-lock).
# With a display number free in its own network namespace, a server in a /tmp shared with the
# tests running beside it replaces another's socket file, or removes it on its way out; the other
# server makes its listening sockets anew when it next resets (after its last client), and a
# client that comes meanwhile finds no server. What the test needs of the machine's /tmp (the
# script, the paths among its arguments, the working directory, TMPDIR, TIDE_E2E_SHOTS: whichever
# lie under /tmp) is mounted back at its place, each by the folder it lies in right under /tmp.
private_tmp() {
    local path entry host keep=()
    [ -z "${TIDE_E2E_SHOTS:-}" ] || mkdir -p "$TIDE_E2E_SHOTS"
    for path in "$@" "$PWD" "${TMPDIR:-}" "${TIDE_E2E_SHOTS:-}"; do
        [ -e "$path" ] || continue
        path=$(realpath -- "$path")
        [[ $path == /tmp/?* ]] || continue
        entry=${path#/tmp/}
        keep+=("${entry%%/*}")
    done
    exec {host}</tmp
    mount -t tmpfs -o mode=1777 tmpfs /tmp || return 1
    mkdir -m 1777 /tmp/.X11-unix
    for entry in "${keep[@]}"; do
        path=/proc/$$/fd/$host/$entry
        [ ! -e "/tmp/$entry" ] || continue # mounted back already
        if [ -d "$path" ]; then mkdir "/tmp/$entry"; else : >"/tmp/$entry"; fi
        mount --no-canonicalize --rbind "$path" "/tmp/$entry" || return 1
    done
    exec {host}<&-
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
