#!/usr/bin/env bash
# Runs the real tide under real memory pressure, with a notification server of the test's own on a
# private session bus (tide-test-notification-server) and a tray on a private X server. A process
# that is among the largest on the machine (tide-test-hog) joins a small memory cgroup and keeps
# writing and reading files there, so that the machine's pressure level turns critical. Then:
# exactly one notification arrives, within 3 s of the level turning critical although tide samples
# only every 5 s, from 潮汐, urgent,
# titled 内存压力严重, naming the hog, with the actions 打开面板 and 结束 tide-test-hog…;
# 打开面板 opens the panel; the end action, as the server reports a click on it, opens the
# confirmation, and confirmed, ends the hog and nothing else; a second burst of pressure within
# the minute sends nothing. Then the system's kills for memory: systemd-oomd's Killed signal (from
# a stand-in on a private system bus) brings one notification naming the application of its
# cgroup; and, where the memory controller is cgroup v2's, a process of tide's session that its
# cgroup's memory.max makes the kernel kill brings one naming it with its last footprint.
#
# Needs root (to make the cgroup), a kernel with PSI, Xvfb, trayer, dbus-run-session, dbus-send,
# xdotool and xwininfo. Skips (status 77), saying why, where no cgroup can be made or the pressure
# made does not turn the machine's level critical; fails instead where TIDE_E2E_NO_SKIP is set.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
BIN="$BUILD/tide"

# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
[ -r /proc/pressure/memory ] || skip "this kernel has no pressure stall information"
[ "$(id -u)" -eq 0 ] || skip "making a memory cgroup needs root"
private_instance "$0" "$@"
private_session_bus "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

for tool in Xvfb trayer dbus-send xdotool xwininfo python3; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps --test)"
done
for program in "$BIN" "$BUILD/tide-test-notification-server" "$BUILD/tide-test-hog"; do
    [ -x "$program" ] || fail "$program is not built"
done

# --- the cgroup: 48 MiB, where a few hundred megabytes of files go round and round
limit=$((48 * 1024 * 1024))
name="tide-notify-$$"
if [ -e /sys/fs/cgroup/cgroup.controllers ] && grep -qw memory /sys/fs/cgroup/cgroup.controllers; then
    cg="/sys/fs/cgroup/$name"
    { mkdir "$cg" 2>/dev/null && echo "$limit" >"$cg/memory.high"; } || skip "cannot make the cgroup $cg"
elif [ -d /sys/fs/cgroup/memory ]; then
    cg="/sys/fs/cgroup/memory/$name"
    { mkdir "$cg" 2>/dev/null && echo "$limit" >"$cg/memory.limit_in_bytes"; } ||
        skip "cannot make the cgroup $cg"
else
    skip "no memory cgroup controller"
fi
# The files the hog churns: on a disk, whose cache the kernel can take back. In /tmp, which is a
# tmpfs of the test's own, they would be memory the cgroup cannot give back, and the hog would be
# killed at the limit instead of pressed.
files=$(mktemp -d /var/tmp/tide-notify.XXXXXX)
hogs=()
end_hogs() {
    local pid
    for pid in "${hogs[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    while read -r pid; do kill -9 "$pid" 2>/dev/null || true; done <"$cg/cgroup.procs" 2>/dev/null || true
    # A killed hog still has to run to its exit; held at the limit it would first wait in
    # reclaim, for minutes on a busy machine. The limit goes with it.
    if [ -f "$cg/memory.high" ]; then
        echo max >"$cg/memory.high" 2>/dev/null || true
    elif [ -f "$cg/memory.limit_in_bytes" ]; then
        echo -1 >"$cg/memory.limit_in_bytes" 2>/dev/null || true
    fi
}
remove_cgroup() {
    end_hogs
    rm -rf "$files"
    local _
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        rmdir "$cg" 2>/dev/null && return 0
        sleep 0.2
    done
}
trap 'remove_cgroup; cleanup' EXIT
# The hog must be among the two largest processes: larger than the largest there is now.
largest_kib=$(ps -eo rss= | sort -n | tail -n 1)
hog_mib=$((largest_kib / 1024 + 384))
[ "$hog_mib" -ge 256 ] || hog_mib=256
available_mib=$(awk '/^MemAvailable:/ { print int($2 / 1024) }' /proc/meminfo)
[ $((hog_mib * 3)) -lt "$available_mib" ] ||
    skip "a process larger than the largest one here ($((largest_kib / 1024)) MiB) would not fit in memory"

# The machine's pressure as the chip reads it: the time (ms) and "full avg10", every 0.1 s.
full_avg10() { awk '/^full/ { sub("avg10=", "", $2); print $2 }' /proc/pressure/memory; }
(
    while :; do
        echo "$(date +%s%3N) $(full_avg10)"
        sleep 0.1
    done
) >"$tmp/psi.log" &
pids+=($!)
# The first time at or after $1 (ms) that the level was critical; fails when it was not.
critical_since() { awk -v t="$1" '$1 >= t && $2 >= 5 { print $1; found = 1; exit } END { exit !found }' "$tmp/psi.log"; }
calm_since() { awk -v t="$1" '$1 >= t && $2 < 5 { print $1; found = 1; exit } END { exit !found }' "$tmp/psi.log"; }
peak_since() { awk -v t="$1" '$1 >= t && $2 > m { m = $2 } END { print m + 0 }' "$tmp/psi.log"; }
now_ms() { date +%s%3N; }

# A calm start: the notification must come from the pressure made here.
calm_now() { awk 'END { exit !(NR > 0 && $2 < 5) }' "$tmp/psi.log"; }
wait_for 60 calm_now || skip "the machine is under critical memory pressure already"

start_xvfb
start_trayer
$orphan_guard "$BUILD/tide-test-notification-server" >"$tmp/notify.jsonl" 2>"$tmp/server.log" &
pids+=($!)
server_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null | grep -q true
}
wait_for 10 server_up || fail "the notification server did not start: $(cat "$tmp/server.log")"

TIDE_BUS=$DBUS_SESSION_BUS_ADDRESS
# A system bus of the test's own, where a stand-in for systemd-oomd speaks.
$orphan_guard dbus-daemon --session --nofork --print-address >"$tmp/system-bus" 2>"$tmp/system-bus.log" &
pids+=($!)
system_bus_up() { grep -q . "$tmp/system-bus"; }
wait_for 10 system_bus_up || fail "no private system bus: $(cat "$tmp/system-bus.log")"
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$tmp/system-bus")
export DBUS_SYSTEM_BUS_ADDRESS
TIDE_ENV+=(DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS")
# Where cgroup v2 has the memory controller, tide runs in a session cgroup of the test's own
# (its processes in session/tide), where the kernel's kills are counted.
session_cg=
if [ "${cg#/sys/fs/cgroup/memory/}" = "$cg" ]; then
    session_cg="/sys/fs/cgroup/tide-session-$$"
    mkdir -p "$session_cg/tide" "$session_cg/victim"
    echo +memory >"$session_cg/cgroup.subtree_control"
    echo $$ >"$session_cg/tide/cgroup.procs"
    leave_session() {
        echo $$ >/sys/fs/cgroup/cgroup.procs 2>/dev/null || true
        while read -r pid; do kill -9 "$pid" 2>/dev/null || true; done <"$session_cg/victim/cgroup.procs" 2>/dev/null || true
        sleep 0.3
        rmdir "$session_cg/victim" "$session_cg/tide" "$session_cg" 2>/dev/null || true
    }
    trap 'leave_session; remove_cgroup; cleanup' EXIT
fi
# The longest interval: a notification within 3 s of the level turning critical then needs the
# kernel's trigger, the samples alone would take up to 5 s.
printf '[General]\nTLInterval=5\n' >"$PREFS"
start_tide "$tmp/tide.log"
tide=$started
icon() { find_icon "$tide" >/dev/null; }
wait_for 30 icon || fail "tide's icon did not appear in the tray: $(cat "$tmp/tide.log")"

# A process of the test's that must survive everything below.
$orphan_guard sleep 600 &
bystander=$!
pids+=("$bystander")

notifications() { grep -c '^{' "$tmp/notify.jsonl" || true; }
[ "$(notifications)" -eq 0 ] || skip "the machine's level turned critical before the test made pressure"
field() { # $1: line number, $2: python expression over the notification n
    sed -n "${1}p" "$tmp/notify.jsonl" | python3 -c "import json, sys; n = json.load(sys.stdin); print($2)"
}

# --- first burst
burst1=$(now_ms)
mkdir -p "$files/hog1"
"$BUILD/tide-test-hog" "$hog_mib" "$files/hog1" "$cg/cgroup.procs" 2>"$tmp/hog1.log" &
hog1=$!
hogs+=("$hog1")
notified() { [ "$(notifications)" -ge 1 ]; }
if ! wait_for 40 notified; then
    critical_since "$burst1" >/dev/null ||
        skip "40 s of pressure in the cgroup did not make the machine's level critical (full avg10 peaked at $(peak_since "$burst1"))"
    fail "the level turned critical, but no notification came: $(cat "$tmp/tide.log")"
fi
arrived=$(field 1 'n["epochMs"]')
if ! red=$(critical_since "$burst1"); then
    # Readings from a little before the burst to the notification, to tell the two cases apart.
    readings=$(awk -v a="$((burst1 - 3000))" -v b="$arrived" '$1 >= a && $1 <= b + 500 { printf "%s:%s ", $1 - a, $2 }' "$tmp/psi.log")
    critical_since "$((burst1 - 3000))" >/dev/null &&
        skip "the machine's level turned critical by itself just before the test made pressure (ms:avg10 $readings)"
    fail "a notification came, but the level was never critical (ms:avg10 $readings): $(cat "$tmp/notify.jsonl")"
fi
delay=$((arrived - red))
echo "notification $delay ms after the level turned critical ($(field 1 'n["body"]'))"
[ "$delay" -le 3000 ] || fail "the notification came $delay ms after the level turned critical"

[ "$(field 1 'n["app"]')" = 潮汐 ] || fail "the notification is from $(field 1 'n["app"]'), not 潮汐"
[ "$(field 1 'n["summary"]')" = 内存压力严重 ] || fail "the title is $(field 1 'n["summary"]')"
[ "$(field 1 'n["urgency"], n["urgencyType"]')" = "2 uchar" ] ||
    fail "the urgency is not critical as a byte: $(field 1 'n["urgency"], n["urgencyType"]')"
body=$(field 1 'n["body"]')
[[ $body =~ tide-test-hog\ 占用\ [0-9.]+\ (MB|GB) ]] || fail "the body does not name the hog: $body"
[[ $body =~ 已使用\ [0-9.]+\ [MG]B\ /\ [0-9.]+\ GB。$ ]] || fail "the body does not end with the memory used: $body"
[ "$(field 1 '"|".join(n["actions"])')" = "open-panel|打开面板|end-process|结束 tide-test-hog…" ] ||
    fail "the actions are $(field 1 'n["actions"]')"
id=$(field 1 'n["id"]')
invoke() {
    dbus-send --session --print-reply --dest=org.freedesktop.Notifications /test \
        dev.tide.TestNotifications.Invoke uint32:"$id" string:"$1" >/dev/null
}

# --- 打开面板 opens the panel under the icon
invoke open-panel
panel() { panel_of "$tide" >/dev/null; }
wait_for 10 panel || fail "打开面板 did not open the panel"
shot 1-panel
echo "打开面板: the panel is open ($(panel_of "$tide"))"
xdotool key Escape

# --- 结束 tide-test-hog…: the confirmation, confirmed, ends the hog and nothing else
invoke end-process
dialog_of() { # a window titled 潮汐 that is neither the panel nor the tray icon
    local wid
    for wid in $(xdotool search --pid "$1" --name '^潮汐$' 2>/dev/null); do
        windows_of "$1" | awk -v id="$wid" '$1 == id && $4 > 64 && $4 != 322 { print $1; found = 1 } END { exit !found }' && return 0
    done
    return 1
}
wait_for 10 dialog_of "$tide" >"$tmp/dialog" || fail "the end action opened no confirmation"
dialog=$(head -n 1 "$tmp/dialog")
alive "$hog1" || fail "the hog ended before the confirmation was answered"
shot 2-confirmation
# The default button, 结束进程, by the keyboard: the pointer over the dialog, which takes the focus
# (a key that comes before the dialog has the focus is lost: pressed again while it is open).
hog_gone() { ! alive "$hog1"; }
for _ in 1 2 3 4 5; do
    xdotool mousemove --window "$dialog" 20 20 windowfocus --sync "$dialog" key Return 2>/dev/null || true
    wait_for 2 hog_gone && break
    dialog_of "$tide" >/dev/null || break
done
wait_for 10 hog_gone || { shot 3-not-ended; fail "confirmed, the hog is still running"; }
no_dialog() { ! dialog_of "$tide" >/dev/null; }
wait_for 5 no_dialog || { shot 3-dialog-stays; fail "a dialog stayed open after the confirmation was answered"; }
wait "$hog1" 2>/dev/null || true
alive "$bystander" || fail "another process ended too"
alive "$tide" || fail "tide ended"
echo "结束 tide-test-hog…: confirmed in the dialog, the hog ended; tide and the bystander run on"

# --- a second burst within the minute: nothing more
ended=$(now_ms)
calm() { calm_since "$ended" >/dev/null; }
wait_for 30 calm || fail "the level stayed critical after the hog ended"
calm_at=$(calm_since "$ended")
burst2=$(now_ms)
mkdir -p "$files/hog2"
"$BUILD/tide-test-hog" "$hog_mib" "$files/hog2" "$cg/cgroup.procs" 2>"$tmp/hog2.log" &
hogs+=($!)
critical_again() { critical_since "$burst2" >/dev/null; }
wait_for 40 critical_again ||
    skip "the second burst did not make the level critical again (full avg10 peaked at $(peak_since "$burst2"))"
red2=$(critical_since "$burst2")
sleep 4
[ $((red2 - calm_at)) -lt 60000 ] || skip "the second burst came $(((red2 - calm_at) / 1000)) s after the calm began, not within the minute"
[ "$(notifications)" -eq 1 ] || fail "the second burst sent another notification: $(cat "$tmp/notify.jsonl")"
echo "second burst: critical again $(((red2 - calm_at) / 1000)) s after the calm began, no second notification"
end_hogs

# --- systemd-oomd ends an application: one notification, naming it and why
told=$(notifications)
"$BUILD/tide-test-notification-server" --oomd-killed \
    /user.slice/user-0.slice/user@0.service/app.slice/app-gnome-org.example.Hog-4242.scope \
    memory-pressure || fail "the stand-in for systemd-oomd could not send Killed"
one_more() { [ "$(notifications)" -gt "$told" ]; }
wait_for 10 one_more || fail "systemd-oomd's Killed brought no notification: $(cat "$tmp/tide.log")"
sleep 4 # kills are told a few seconds after the first, together: nothing else comes
[ "$(notifications)" -eq $((told + 1)) ] || fail "one kill brought more than one notification: $(cat "$tmp/notify.jsonl")"
n=$((told + 1))
[ "$(field $n 'n["summary"], n["body"], n["urgency"]')" = "已结束进程：Hog 内存压力过高，系统结束了 Hog。 1" ] ||
    fail "systemd-oomd's kill is told as $(field $n 'n["summary"], n["body"], n["urgency"]')"
[ "$(field $n '"|".join(n["actions"])')" = "open-panel|打开面板" ] || fail "the actions are $(field $n 'n["actions"]')"
echo "systemd-oomd: $(field $n 'n["summary"], n["body"]')"

# --- the kernel ends a process of the session at its cgroup's limit
if [ -z "$session_cg" ]; then
    echo "NOTE: the kernel's kills are not checked here: the memory controller is cgroup v1's, whose counts do not add up to a session's"
else
    echo $((256 * 1024 * 1024)) >"$session_cg/victim/memory.max"
    echo 0 >"$session_cg/victim/memory.swap.max" 2>/dev/null || true
    # Takes 160 MiB, waits for the go file, then takes more until the kernel ends it.
    $orphan_guard python3 -c '
import os, sys, time
open(sys.argv[1] + "/cgroup.procs", "w").write(str(os.getpid()))
held = [bytearray(16 << 20) for _ in range(10)]
while not os.path.exists(sys.argv[2]): time.sleep(0.1)
while True: held.append(bytearray(16 << 20)); time.sleep(0.05)
' "$session_cg/victim" "$tmp/go" &
    victim=$!
    told=$(notifications)
    id=$(field "$told" 'n["id"]')
    invoke open-panel # the panel samples every tick: tide sees the victim's footprint
    sleep 12
    touch "$tmp/go"
    victim_gone() { ! alive "$victim"; }
    wait_for 20 victim_gone || fail "the kernel did not end the process at its cgroup's limit"
    wait_for 15 one_more || fail "the kernel's kill brought no notification: $(cat "$tmp/tide.log")"
    n=$((told + 1))
    [[ "$(field $n 'n["body"]')" =~ ^内存不足，系统结束了\ python3[^（]*（[0-9.]+\ MB）。$ ]] ||
        fail "the kernel's kill is told as $(field $n 'n["summary"], n["body"]')"
    echo "kernel: $(field $n 'n["summary"], n["body"]')"
fi
alive "$tide" || fail "tide ended"
echo "PASS"
