#!/usr/bin/env bash
# The command line of the real tide: --help and --version print, exit 0, need no display and
# leave a running Tide alone; a bad option gives the usage and status 2; without a display (none
# set, or one that does not answer) one sentence and status 1; --snapshot DIR renders like
# TL_SNAPSHOT=DIR.
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The Tide started here as the "running" one must not be the user's, nor reach it.
# shellcheck source=tests/private_instance.sh
source "$(dirname "$0")/private_instance.sh"
private_instance "$0" "$@"

[ -x "$BIN" ] || fail "$BIN is not built"
tmp=$(mktemp -d)
running=
cleanup() {
    [ -z "$running" ] || kill "$running" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/home/.config" "$tmp/run"
chmod 700 "$tmp/run"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_RUNTIME_DIR="$tmp/run"
for var in $(compgen -e | grep '^TL_' || true); do unset "$var"; done

# Runs tide with no window system at all; sets $status, $out, $err.
run_bare() {
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$BIN" "$@" \
        >"$tmp/out" 2>"$tmp/err" || status=$?
    out=$(cat "$tmp/out")
    err=$(cat "$tmp/err")
}

# A Tide already running (offscreen: no tray needed), which --help and --version must not end.
QT_QPA_PLATFORM=offscreen "$BIN" >"$tmp/running.log" 2>&1 &
running=$!
for _ in $(seq 100); do
    grep -q "@dev\.tide\.monitor\.$(id -u)\$" /proc/net/unix 2>/dev/null && break
    kill -0 "$running" 2>/dev/null || fail "the first tide ended: $(cat "$tmp/running.log")"
    sleep 0.1
done

run_bare --help
[ "$status" -eq 0 ] || fail "--help: status $status, stderr: $err"
[ -z "$err" ] || fail "--help wrote to stderr: $err"
grep -q '^Usage: tide \[options\]$' <<<"$out" || fail "--help: no usage line in: $out"
for word in --snapshot --version TL_SNAPSHOT TL_AUTO_OPEN; do
    grep -q -e "$word" <<<"$out" || fail "--help does not mention $word"
done

run_bare --version
[ "$status" -eq 0 ] || fail "--version: status $status, stderr: $err"
[[ "$out" =~ ^tide\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed: $out"
[ -z "$err" ] || fail "--version wrote to stderr: $err"

sleep 0.5
kill -0 "$running" 2>/dev/null || fail "--help or --version ended the running Tide"

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
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$n" timeout 20 "$BIN" >"$tmp/out" 2>"$tmp/err" ||
    status=$?
[ "$status" -eq 1 ] || fail "with an unreachable display: status $status, $(cat "$tmp/err")"
grep -q "cannot connect to the X11 display \":$n\"" "$tmp/err" || fail "unreachable: $(cat "$tmp/err")"

kill -0 "$running" 2>/dev/null || fail "a failed start ended the running Tide"

# --snapshot DIR: the five pictures, without a display, and the running Tide left alone.
mkdir "$tmp/pictures"
run_bare --snapshot "$tmp/pictures"
[ "$status" -eq 0 ] || fail "--snapshot: status $status, $err"
for f in panel-light panel-dark panel-energy icon-normal icon-critical; do
    [ -s "$tmp/pictures/$f.png" ] || fail "--snapshot did not write $f.png"
done
kill -0 "$running" 2>/dev/null || fail "--snapshot ended the running Tide"
echo "command line: help, version, bad options, no display and --snapshot behave"
