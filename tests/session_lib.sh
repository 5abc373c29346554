# shellcheck shell=bash
# Shared by the end-to-end scripts that run a whole desktop session (sway, KDE Plasma, GNOME
# Shell): skipping, a private network namespace, the unprivileged user the session runs as when
# the test runs as root, a bus that lets everyone talk, and the pointer helper driven over a fifo.
# Source it near the top.
# shellcheck disable=SC2034,SC2154 # run_as, uid and gid are set for the sourcing script; tmp,
# pids and orphan_guard are its own

# The session's programs choose their window system as in a real session: a platform set for the
# headless unit tests (QT_QPA_PLATFORM=offscreen, as `make test` runs them) must not reach them.
unset QT_QPA_PLATFORM

# shellcheck source=tests/e2e_base.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_base.sh"

# Re-runs the calling script ($1, with the arguments after it) where a Tide it starts cannot reach
# the one in the user's tray: a network namespace of its own, and a mount namespace with a /tmp of
# its own (see e2e_base.sh). Not as root, the script ends up with the user's own id (sway refuses
# to start as a mapped root): a mapped root makes the mount, and a user namespace inside that one
# maps the user back. Sets TIDE_E2E_REAL_UID: who runs the test, before any namespace maps the
# user to root.
enter_private_namespace() {
    local script=$1
    shift
    export TIDE_E2E_REAL_UID=${TIDE_E2E_REAL_UID:-$(id -u)}
    if [ "$TIDE_E2E_REAL_UID" -ne 0 ] && [ -z "${TIDE_PRIVATE_INSTANCE:-}" ] &&
        unshare --user --map-root-user --net "${NS_MOUNT[@]}" sh -c "mount -t tmpfs tmpfs /tmp &&
            exec unshare --map-user=$(id -u) --map-group=$(id -g) true" 2>/dev/null; then
        export TIDE_PRIVATE_INSTANCE=1 TIDE_PRIVATE_TMP=pending TIDE_E2E_MAP_BACK
        TIDE_E2E_MAP_BACK="$(id -u):$(id -g)"
        exec unshare --user --map-root-user --net "${NS_MOUNT[@]}" bash "$script" "$@"
    elif [ "$TIDE_E2E_REAL_UID" -ne 0 ] && [ -z "${TIDE_PRIVATE_INSTANCE:-}" ] &&
        unshare --net --map-current-user true 2>/dev/null; then
        export TIDE_PRIVATE_INSTANCE=1
        exec unshare --net --map-current-user bash "$script" "$@"
    fi
    # shellcheck source=tests/e2e_base.sh
    source "$(dirname "${BASH_SOURCE[0]}")/e2e_base.sh"
    private_instance "$script" "$@"
}

# As root, the session runs as the unprivileged user $TEST_USER (created when missing; $1 says
# why it is needed when it cannot be): sets run_as to the command prefix that switches to it, and
# uid and gid, and gives it the directory $2. Not as root, run_as is empty.
session_user() {
    run_as=()
    [ "$TIDE_E2E_REAL_UID" -eq 0 ] || return 0
    if ! id "$TEST_USER" >/dev/null 2>&1; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$TEST_USER" 2>/dev/null ||
            skip "$1 and the user $TEST_USER cannot be created"
    fi
    uid=$(id -u "$TEST_USER")
    gid=$(id -g "$TEST_USER")
    run_as=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
    chown "$uid:$gid" "$2"
}

# The configuration of a bus (type $1) listening at $2 where everyone may talk to and own
# anything; services are started from the folder $3 only, where given.
open_bus_config() {
    cat <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$1</type>
  <listen>$2</listen>
  <auth>EXTERNAL</auth>
${3:+  <servicedir>$3</servicedir>
}  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
}

# A session bus of the test's own whose only service is the accessibility bus, started at once:
# at-spi-bus-launcher, which runs the accessibility bus and its registry (all three end when this
# bus does). Sets BUS to its address. Needs $tmp, pids, orphan_guard and wait_for (e2e_lib.sh).
A11Y_SERVICE=/usr/share/dbus-1/services/org.a11y.Bus.service
start_accessibility_bus() {
    [ -r "$A11Y_SERVICE" ] || skip "no accessibility bus service ($A11Y_SERVICE: at-spi2-core)"
    local launcher
    launcher=$(sed -n 's/^Exec=//p' "$A11Y_SERVICE")
    [ -x "${launcher%% *}" ] || skip "the accessibility bus launcher ${launcher%% *} is missing"
    mkdir -p "$tmp/services"
    cp "$A11Y_SERVICE" "$tmp/services/"
    open_bus_config session "unix:dir=$tmp" "$tmp/services" >"$tmp/bus.conf"
    : >"$tmp/bus-address"
    $orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 HOME="$tmp/home" \
        XDG_RUNTIME_DIR="$tmp/runtime" DISPLAY="$DISPLAY" dbus-daemon \
        --config-file="$tmp/bus.conf" --nofork --print-address=3 3>"$tmp/bus-address" \
        >"$tmp/bus.log" 2>&1 &
    pids+=($!)
    wait_for 10 grep -q '^unix:' "$tmp/bus-address" ||
        fail "the session bus did not start: $(cat "$tmp/bus.log")"
    BUS=$(head -n 1 "$tmp/bus-address")
    DBUS_SESSION_BUS_ADDRESS=$BUS dbus-send --session --print-reply --dest=org.a11y.Bus \
        /org/a11y/bus org.a11y.Bus.GetAddress >"$tmp/a11y-bus" 2>&1 ||
        fail "the accessibility bus did not start: $(cat "$tmp/a11y-bus" "$tmp/bus.log")"
}

# A pointer helper (the command given) that reads commands on its standard input and answers
# "ok" to each; `pointer COMMAND...` sends one and returns once it is answered. Needs $tmp, pids
# and wait_for (e2e_lib.sh).
start_pointer() {
    mkfifo "$tmp/pointer.in"
    # The helper's output file exists before the first command: the shell opens it only once the
    # fifo has a writer, and a command sent before then would count answers in no file.
    : >"$tmp/pointer.out"
    $orphan_guard "$@" <"$tmp/pointer.in" >"$tmp/pointer.out" 2>&1 &
    pids+=($!)
    exec 5>"$tmp/pointer.in"
}
pointer() {
    local before
    before=$(grep -c ok "$tmp/pointer.out" || true)
    before=${before:-0}
    echo "$*" >&5
    # shellcheck disable=SC2317 # called through wait_for
    answered() { [ "$(grep -c ok "$tmp/pointer.out" || true)" -gt "$before" ]; }
    wait_for 5 answered || fail "the pointer did not answer: $(cat "$tmp/pointer.out")"
}
