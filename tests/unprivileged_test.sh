#!/usr/bin/env bash
# Runs the real tide as an ordinary user meets it when something around it is wrong: its own
# X server (Xvfb), session bus and tray host (lxqt-panel), all as the unprivileged user tide-e2e
# when the test runs as root (as root every file is readable, which hides what users meet). Each
# case starts tide, makes a setting change through the settings menu the item exports, and checks
# what the user is told and what reaches the disk:
#   - ~/.config read-only: told once that the settings cannot be saved, and tide stays idle
#     (no loop of failed saves heard back by its own file watch);
#   - a preference file the user cannot read (root's, or mode 000): told once, never written over;
#   - no HOME: told once, nothing written anywhere;
#   - another user has taken Tide's names first (the abstract socket name and /tmp/tide-UID, each
#     with a listener that answers every request): `tide`, `tide --toggle`, `tide` still leave
#     exactly one Tide, which the second start reached (run offscreen, without the session).
#
# Needs Xvfb, lxqt-panel, dbus-run-session, dbus-send, setpriv and xdotool (scripts/install-deps
# --test installs them).
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"
TEST_USER="tide-e2e"
[ -x "$BIN" ] || { echo "FAIL: $BIN is not built" >&2; exit 1; }
for tool in Xvfb lxqt-panel dbus-run-session dbus-send setpriv xdotool; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps --test)" >&2; exit 1; }
done

# --- as root, in a mount namespace with a /tmp of its own: another user's listeners at the names
# Tide could have used, then three starts as the user
if [ "${TIDE_UNPRIVILEGED_PHASE:-}" = squat ]; then
    uid=$(id -u "$TEST_USER")
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    # The user may not reach the build (a clone under /root): a copy of the program it can run.
    cp "$BIN" /tmp/tide-program && chmod 755 /tmp/tide-program
    BIN=/tmp/tide-program
    home=/tmp/home
    mkdir -m 700 "/tmp/tide-$uid" "$home"
    chown "$TEST_USER:" "$home"
    python3 - "$uid" >/tmp/squatter.out 2>&1 <<'PY' &
import socket, sys, threading
def serve(address):
    s = socket.socket(socket.AF_UNIX)
    s.bind(address)
    s.listen(8)
    while True:
        c, _ = s.accept()
        try:
            c.recv(256)
            c.sendall(b"ok\n")
        except OSError:
            pass
        c.close()
for address in ("\0dev.tide.monitor." + sys.argv[1], "/tmp/tide-%s/dev.tide.monitor.socket" % sys.argv[1]):
    threading.Thread(target=serve, args=(address,), daemon=True).start()
print("ready", flush=True)
threading.Event().wait()
PY
    squatter=$!
    starts=()
    trap 'kill "${starts[@]}" "$squatter" 2>/dev/null || true' EXIT
    fail() { echo "FAIL: squatted names: $*" >&2; cat /tmp/tide.log >&2; exit 1; }
    for _ in $(seq 50); do grep -q ready /tmp/squatter.out && break; sleep 0.1; done
    grep -q ready /tmp/squatter.out || fail "the squatter did not start: $(cat /tmp/squatter.out)"
    as_user=(setpriv --reuid="$uid" --regid="$(id -g "$TEST_USER")" --clear-groups env -i
        PATH="$PATH" HOME="$home" QT_QPA_PLATFORM=offscreen)
    listening() { compgen -G "$home/.cache/tide-*/dev.tide.monitor.socket" >/dev/null; }
    "${as_user[@]}" "$BIN" >>/tmp/tide.log 2>&1 &
    starts+=($!)
    for _ in $(seq 100); do listening && break; sleep 0.1; done
    listening || fail "the first start does not listen in its cache directory"
    "${as_user[@]}" timeout 10 "$BIN" --toggle >>/tmp/tide.log 2>&1 ||
        fail "tide --toggle did not hand its request over ($?)"
    "${as_user[@]}" "$BIN" >>/tmp/tide.log 2>&1 &
    starts+=($!)
    for _ in $(seq 100); do kill -0 "${starts[0]}" 2>/dev/null || break; sleep 0.1; done
    sleep 1
    kill -0 "${starts[0]}" 2>/dev/null && fail "the first Tide still runs beside the third"
    kill -0 "${starts[1]}" 2>/dev/null || fail "the third Tide is not running"
    listening || fail "the third Tide does not listen"
    grep -q "not put in /tmp/tide-$uid: owned by another user" /tmp/tide.log ||
        fail "nothing told of /tmp/tide-$uid"
    echo "squatted names: tide, tide --toggle, tide leave one Tide, listening in its cache directory"
    exit 0
fi

# --- as root: a namespace of the test's own, the user, the files only root could make; then the
# cases as that user
if [ -z "${TIDE_UNPRIVILEGED_PHASE:-}" ]; then
    # A network namespace and a /tmp of the test's own (the user's own id kept, not mapped to
    # root): the user's X server and session bus below, and the squatted names, all in it.
    # shellcheck source=tests/session_lib.sh
    source "$(dirname "$0")/session_lib.sh"
    enter_private_namespace "$0" "$@"
    tmp=$(mktemp -d)
    trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/unreadable/config"
    printf '[General]\nTLRows=12\n' >"$tmp/unreadable/config/dev.tide.monitor.conf"
    run_as=()
    if [ "$TIDE_E2E_REAL_UID" -eq 0 ]; then
        id "$TEST_USER" >/dev/null 2>&1 ||
            useradd --system --no-create-home --shell /usr/sbin/nologin "$TEST_USER"
        chown -R "$TEST_USER:" "$tmp"
        # Root's own file in the user's directory: the user may replace it, never read it.
        chown root: "$tmp/unreadable/config/dev.tide.monitor.conf"
        chmod 600 "$tmp/unreadable/config/dev.tide.monitor.conf"
        run_as=(setpriv --reuid="$(id -u "$TEST_USER")" --regid="$(id -g "$TEST_USER")" --clear-groups)
        TIDE_UNPRIVILEGED_PHASE=squat unshare --mount --propagation private bash "$0" "$@"
        # A build the user cannot reach (a clone under /root, 0700): the cases run on a copy.
        if ! "${run_as[@]}" test -x "$BIN" -a -r "$0"; then
            mkdir -p "$tmp/copy/build" "$tmp/copy/tests"
            cp "$BIN" "$tmp/copy/build/"
            cp "$0" "$(dirname "$0")"/{e2e_lib.sh,session_lib.sh,e2e_base.sh} "$tmp/copy/tests/"
            chown -R "$TEST_USER:" "$tmp/copy"
            set -- "$tmp/copy/build" "${@:2}"
            script="$tmp/copy/tests/$(basename "$0")"
        fi
    else
        echo "squatted names: not run (needs root to be another user)"
        chmod 000 "$tmp/unreadable/config/dev.tide.monitor.conf"
    fi
    "${run_as[@]}" env TIDE_UNPRIVILEGED_PHASE=1 TIDE_E2E_TMP="$tmp/run" \
        dbus-run-session -- bash "${script:-$0}" "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
    exit
fi

# --- as the user, on a session bus of the test's own
cases=$(dirname "$TIDE_E2E_TMP")
mkdir -p "$TIDE_E2E_TMP"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"
[ "$(id -u)" -ne 0 ] || fail "the cases run as root"
start_xvfb
mkdir -p "$tmp/panel-config/lxqt"
printf '%s\n' '[General]' __userfile__=true panels=panel1 '[panel1]' plugins=statusnotifier \
    position=Bottom '[statusnotifier]' type=statusnotifier >"$tmp/panel-config/lxqt/panel.conf"
$orphan_guard env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/panel-config" QT_QPA_PLATFORM=xcb \
    lxqt-panel >"$tmp/panel.log" 2>&1 &
pids+=($!)

items() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems 2>/dev/null | grep -o '"[^"]*/StatusNotifierItem"' | tr -d '"'
}
# The service of the item of the process $1, once it is registered.
item_of() {
    local item pid
    for item in $(items); do
        pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.GetConnectionUnixProcessID string:"${item%%/*}" 2>/dev/null |
            awk '/uint32/ { print $2 }')
        [ "$pid" = "$1" ] && { echo "${item%%/*}"; return 0; }
    done
    return 1
}
# Chooses the item labelled $2 in the menu the service $1 exports, as a host does on a click.
choose() {
    local id
    id=$(dbus-send --session --print-reply --dest="$1" /MenuBar com.canonical.dbusmenu.GetLayout \
        int32:0 int32:-1 array:string: | awk -v label="$2" '
            /struct {$/ { getline; if ($1 == "int32") id = $2 }
            index($0, "string \"" label "\"") && found == "" { found = id }
            END { print found }')
    [ -n "$id" ] || fail "no menu item $2"
    dbus-send --session --type=method_call --dest="$1" /MenuBar com.canonical.dbusmenu.Event int32:"$id" \
        string:clicked variant:int32:0 uint32:0
}
# The CPU time of the process $1 in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
told() { grep -c "^tide: $2" "$1" || true; }

# Starts tide as the case $1 (its home in $cases/$1) with the environment after it; sets $tide and
# $service, and $log.
start_case() {
    local name=$1
    shift
    log="$tmp/$name.log"
    mkdir -p "$cases/$name/home" "$tmp/$name-cwd"
    (cd "$tmp/$name-cwd" && exec $orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$tmp/runtime" DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
        DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb "$@" "$BIN" >"$log" 2>&1) &
    tide=$!
    pids+=("$tide")
    service=
    registered() { service=$(item_of "$tide"); }
    wait_for 30 registered || fail "$name: tide's item did not register: $(cat "$log")
X server: $(cat "$tmp/xvfb.log")
tray: $(cat "$tmp/panel.log")"
}
end_case() {
    kill "$tide"
    wait "$tide" 2>/dev/null || true
}

# --- ~/.config read-only: one alert, and idle while the directory stays so
ro=$cases/readonly
mkdir -p "$ro/home/.config"
# Settings saved before: the file stays writable, its directory does not.
printf '[General]\nTLRows=8\n' >"$ro/home/.config/dev.tide.monitor.conf"
chmod 555 "$ro/home/.config"
start_case readonly HOME="$ro/home"
choose "$service" "12 个进程"
wait_for 10 bash -c "grep -q '^tide: 无法保存设置' '$log'" || fail "read-only: nothing told: $(cat "$log")"
sleep 1
before=$(cpu_ticks "$tide")
sleep 5
spent=$(($(cpu_ticks "$tide") - before))
hz=$(getconf CLK_TCK)
# Idle Tide costs well under 1 % of a core (more under the sanitizers); the loop cost 65 %.
((spent * 100 < hz * 5 * 5)) || fail "read-only: tide used $spent ticks of $((hz * 5)) after the failed save"
choose "$service" "5 个进程"
sleep 1
[ "$(told "$log" 无法保存设置)" = 1 ] || fail "read-only: told more than once: $(cat "$log")"
if [ "$(ls -A "$ro/home/.config")" != dev.tide.monitor.conf ] ||
    ! grep -qx TLRows=8 "$ro/home/.config/dev.tide.monitor.conf"; then
    fail "read-only: the directory or the file changed: $(ls -A "$ro/home/.config")"
fi
echo "read-only ~/.config: told once, $spent of $((hz * 5)) clock ticks in 5 s after the failed save"
end_case

# --- a preference file the user cannot read: told once, left exactly as it was
file=$cases/unreadable/config/dev.tide.monitor.conf
state() { stat -c '%i %u %a %s %Y' "$file"; }
was=$(state)
start_case unreadable HOME="$cases/unreadable/home" XDG_CONFIG_HOME="$cases/unreadable/config"
wait_for 10 bash -c "grep -q '^tide: 无法读取设置' '$log'" || fail "unreadable: nothing told: $(cat "$log")"
choose "$service" "5 个进程"
sleep 1
[ "$(told "$log" 无法)" = 1 ] || fail "unreadable: told more than once: $(cat "$log")"
[ "$(state)" = "$was" ] || fail "unreadable: the file was written over ($was → $(state))"
[ "$(ls -A "$cases/unreadable/config")" = dev.tide.monitor.conf ] || fail "unreadable: other files written"
echo "unreadable preference file: told once, left as it was"
end_case

# --- no HOME: told once, nothing written anywhere
start_case no-home
wait_for 10 bash -c "grep -q '^tide: 无法保存设置' '$log'" || fail "no HOME: nothing told: $(cat "$log")"
choose "$service" "12 个进程"
choose "$service" "开机时自动启动"
sleep 1
[ "$(told "$log" 无法)" = 1 ] || fail "no HOME: told more than once: $(cat "$log")"
[ -z "$(ls -A "$tmp/no-home-cwd")" ] || fail "no HOME: files written in the working directory"
echo "no HOME: told once, nothing written"
end_case

echo "unprivileged: read-only config, unreadable preference file and no HOME all passed"
