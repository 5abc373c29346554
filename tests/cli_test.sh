#!/usr/bin/env bash
# The command line of the real tide: --help and --version print, exit 0, need no display and
# leave a running Tide alone; a bad option gives the usage and status 2; without a display (none
# set, or one that does not answer) one sentence and status 1; --snapshot DIR renders like
# TL_SNAPSHOT=DIR. --toggle and --show reach the running Tide without a display of their own and
# leave it running: in a tray on a private X server (Xvfb + trayer) the panel opens under the
# icon, takes the keyboard and closes again; with no Tide running, --toggle starts one with its
# panel open.
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"

# The Tide started here as the "running" one must not be the user's, nor reach it.
# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

[ -x "$BIN" ] || fail "$BIN is not built"
for tool in Xvfb trayer xdotool xwininfo; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps --test)"
done
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/runtime"
for var in $(compgen -e | grep '^TL_' || true); do unset "$var"; done
SOCKET="$XDG_RUNTIME_DIR/$APP_ID.socket"

# Runs tide with no window system at all; sets $status, $out, $err.
run_bare() {
    echo "tide $*" # where the test was, should it end by its time limit
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout -k 5 20 "$BIN" "$@" \
        >"$tmp/out" 2>"$tmp/err" || status=$?
    out=$(cat "$tmp/out")
    err=$(cat "$tmp/err")
}

# A Tide already running (offscreen: no tray needed), which --help and --version must not end.
QT_QPA_PLATFORM=offscreen $orphan_guard "$BIN" >"$tmp/running.log" 2>&1 &
running=$!
pids+=("$running")
# shellcheck disable=SC2317 # called through wait_for
listening() {
    alive "$running" || fail "the first tide ended: $(cat "$tmp/running.log")"
    [ -S "$SOCKET" ]
}
wait_for 10 listening || fail "the first tide does not listen on $SOCKET"

run_bare --help
[ "$status" -eq 0 ] || fail "--help: status $status, stderr: $err"
[ -z "$err" ] || fail "--help wrote to stderr: $err"
grep -q '^Usage: tide \[options\]$' <<<"$out" || fail "--help: no usage line in: $out"
for word in --snapshot --version --toggle --show TL_SNAPSHOT TL_AUTO_OPEN; do
    grep -q -e "$word" <<<"$out" || fail "--help does not mention $word"
done

run_bare --version
[ "$status" -eq 0 ] || fail "--version: status $status, stderr: $err"
[[ "$out" =~ ^tide\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed: $out"
[ -z "$err" ] || fail "--version wrote to stderr: $err"

sleep 0.5
alive "$running" || fail "--help or --version ended the running Tide"

run_bare --no-such-option
[ "$status" -eq 2 ] || fail "an unknown option: status $status"
[ -z "$out" ] || fail "an unknown option wrote to stdout: $out"
grep -q "no-such-option" <<<"$err" || fail "an unknown option is not named: $err"
grep -q '^Usage: tide \[options\]$' <<<"$err" || fail "an unknown option gives no usage: $err"

run_bare stray-argument
[ "$status" -eq 2 ] || fail "a stray argument: status $status"

# No display: one sentence (one line) naming the way to the pictures; not Qt's abort (134).
run_bare
[ "$status" -eq 1 ] || fail "without a display: status $status, stderr: $err"
[ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "without a display, not one line: $err"
grep -q "no display" <<<"$err" || fail "without a display: $err"
grep -q -- "--snapshot DIR" <<<"$err" || fail "without a display, no way out named: $err"

# A DISPLAY that does not answer (no such X server socket; abstract sockets are private here).
n=4000
while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
status=0
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$n" timeout -k 5 20 "$BIN" >"$tmp/out" 2>"$tmp/err" ||
    status=$?
[ "$status" -eq 1 ] || fail "with an unreachable display: status $status, $(cat "$tmp/err")"
grep -q "cannot connect to the X11 display \":$n\"" "$tmp/err" || fail "unreachable: $(cat "$tmp/err")"

alive "$running" || fail "a failed start ended the running Tide"

# --snapshot DIR: the five pictures, without a display, and the running Tide left alone.
mkdir "$tmp/pictures"
run_bare --snapshot "$tmp/pictures"
[ "$status" -eq 0 ] || fail "--snapshot: status $status, $err"
for f in panel-light panel-dark panel-energy icon-normal icon-critical; do
    [ -s "$tmp/pictures/$f.png" ] || fail "--snapshot did not write $f.png"
done
alive "$running" || fail "--snapshot ended the running Tide"

# --toggle and --show: the running Tide answers, without a display here, and keeps running.
for option in --toggle --show --toggle; do
    run_bare "$option"
    [ "$status" -eq 0 ] || fail "$option: status $status, stderr: $err"
    [ -z "$out$err" ] || fail "$option printed: $out$err"
done
run_bare --toggle --show
[ "$status" -eq 2 ] || fail "--toggle --show: status $status"
grep -q -- "--toggle and --show cannot be used together" <<<"$err" || fail "--toggle --show: $err"
sleep 0.5
alive "$running" || fail "--toggle or --show ended the running Tide"

# --- in a tray: a plain start replaces the offscreen Tide, as ever
echo "in a tray"
start_xvfb
start_trayer
start_tide "$tmp/tide.log"
tide=$started
# shellcheck disable=SC2317 # called through wait_for
replaced() { ! alive "$running"; }
wait_for 15 replaced || fail "a plain start did not replace the running Tide"
wait_for 20 find_icon "$tide" >"$tmp/icon" || fail "no tray icon appeared: $(cat "$tmp/tide.log")"
read -r _ IX IY IW IH <"$tmp/icon"

# --toggle opens the panel under the icon, as a click does, with the keyboard: Escape closes it.
run_bare --toggle
[ "$status" -eq 0 ] || fail "--toggle in the tray: status $status, stderr: $err"
wait_for 10 panel_of "$tide" >"$tmp/panel" || fail "--toggle opened no panel"
read -r _ PX PY PW _ <"$tmp/panel"
gap=$((PY - (IY + IH)))
((gap >= 0 && gap <= 12)) || fail "the panel's top ($PY) is not just under the icon (bottom $((IY + IH)))"
((PX <= IX + IW / 2 && IX + IW / 2 < PX + PW)) || fail "the panel ($PX..$((PX + PW))) is not under the icon"
sleep 0.3
xdotool key Escape
wait_for 10 no_panel "$tide" || fail "Escape did not close the panel --toggle opened: it has no keyboard focus"

# --toggle twice: open, then closed; --show in between leaves it open.
run_bare --toggle
wait_for 10 panel_of "$tide" >/dev/null || fail "a second --toggle opened no panel"
run_bare --show
[ "$status" -eq 0 ] || fail "--show: status $status"
sleep 0.5
panel_of "$tide" >/dev/null || fail "--show closed the open panel"
run_bare --toggle
[ "$status" -eq 0 ] || fail "the closing --toggle: status $status"
wait_for 10 no_panel "$tide" || fail "--toggle did not close the panel"
alive "$tide" || fail "--toggle ended the Tide in the tray"

# --- no Tide running: --toggle starts one and opens its panel once it is up.
echo "no Tide running: --toggle"
kill "$tide"
# shellcheck disable=SC2317 # called through wait_for
tide_gone() { ! alive "$tide"; }
wait_for 10 tide_gone || fail "the Tide in the tray did not end"
start_tide "$tmp/tide-toggle.log" --toggle
wait_for 15 panel_of "$started" >/dev/null ||
    fail "--toggle with no Tide running opened no panel: $(cat "$tmp/tide-toggle.log")"
alive "$started" || fail "the Tide --toggle started did not keep running"
echo "command line: help, version, bad options, no display, --snapshot, --toggle and --show behave"
