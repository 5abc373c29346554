#!/usr/bin/env bash
# Tide's panel through a screen reader's eyes: the real tide on a private X server with a tray
# (Xvfb + trayer) and a private session bus that starts the accessibility bus on demand, and an
# AT-SPI client (atspi_probe.py) that connects before the panel is first opened, as a reader
# already running does. The client opens the panel with a click on the icon and checks what it
# reads: the window and all that it shows reported as showing, every figure and control named
# with its role, the usage as a value, the list holding exactly the shown rows; that refreshes
# send (next to) no name changes; the keyboard's walk through the panel, read back as the focus
# moves; and a second opening. It prints the tree and the walk; a screenshot of the open panel
# goes to $TIDE_E2E_SHOTS when it is set.
#
# Needs Xvfb, trayer, xdotool, xwininfo, dbus-daemon, at-spi2-core (the accessibility bus and its
# registry) and the system Python's pyatspi (scripts/install-deps installs them); skips without.
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"
HERE=$(cd "$(dirname "$0")" && pwd)
PYTHON=/usr/bin/python3 # the system's: pyatspi comes with the distribution, not from pip
A11Y_SERVICE=/usr/share/dbus-1/services/org.a11y.Bus.service

# A Tide started here must not reach the one in the user's tray.
# shellcheck source=tests/private_instance.sh
source "$HERE/private_instance.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$HERE/e2e_lib.sh"
# shellcheck source=tests/session_lib.sh
source "$HERE/session_lib.sh"

for tool in Xvfb trayer xdotool xwininfo dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done
[ -r "$A11Y_SERVICE" ] || skip "no accessibility bus service ($A11Y_SERVICE: at-spi2-core)"
launcher=$(sed -n 's/^Exec=//p' "$A11Y_SERVICE")
[ -x "${launcher%% *}" ] || skip "the accessibility bus launcher ${launcher%% *} is missing"
"$PYTHON" -c 'import pyatspi' 2>/dev/null || skip "$PYTHON has no pyatspi (python3-pyatspi)"
[ -x "$BIN" ] || fail "$BIN is not built"

start_xvfb

# --- a session bus of our own, whose only service is the accessibility bus: a client asking for
# it starts at-spi-bus-launcher, which runs the accessibility bus and its registry (all three end
# when this bus does).
mkdir -p "$tmp/services"
cp "$A11Y_SERVICE" "$tmp/services/"
open_bus_config session "unix:dir=$tmp" "$tmp/services" >"$tmp/bus.conf"
: >"$tmp/bus-address"
$orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" \
    DISPLAY="$DISPLAY" dbus-daemon --config-file="$tmp/bus.conf" --nofork --print-address=3 \
    3>"$tmp/bus-address" >"$tmp/bus.log" 2>&1 &
pids+=($!)
# shellcheck disable=SC2317 # called through wait_for
bus_ready() { grep -q '^unix:' "$tmp/bus-address"; }
wait_for 10 bus_ready || fail "the session bus did not start: $(cat "$tmp/bus.log")"
BUS=$(head -n 1 "$tmp/bus-address")
# Started now, the accessibility bus is there when tide starts (Qt joins it at once).
DBUS_SESSION_BUS_ADDRESS=$BUS dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress >"$tmp/a11y-bus" 2>&1 ||
    fail "the accessibility bus did not start: $(cat "$tmp/a11y-bus" "$tmp/bus.log")"

# --- the tray, and tide on the session bus, its accessibility on
$orphan_guard trayer --edge top --align right --widthtype request --height 24 \
    --SetDockType true --transparent false >"$tmp/trayer.log" 2>&1 &
pids+=($!)
wait_for 10 bash -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"' ||
    fail "trayer did not start: $(cat "$tmp/trayer.log")"
TIDE_BUS=$BUS
TIDE_ENV=(QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)
start_tide "$tmp/tide.log"
tide=$started
# The icon: before the panel opens, tide's only small window.
icon_of() {
    windows_of "$tide" | awk '$4 > 1 && $4 <= 64 && $5 <= 64 { print; found = 1; exit }
        END { exit !found }'
}
wait_for 20 icon_of >"$tmp/icon" || fail "no tray icon window appeared: $(cat "$tmp/tide.log")"
read -r _ IX IY IW IH <"$tmp/icon"
sleep 0.5 # embedded and drawn

# --- the reader: it connects first, then opens the panel with a click on the icon
probe=(--pid "$tide" --click "$((IX + IW / 2)),$((IY + IH / 2))")
[ -z "$shots" ] || probe+=(--shot "$shots/atspi-panel.png")
started_at=$SECONDS
$orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" \
    DISPLAY="$DISPLAY" DBUS_SESSION_BUS_ADDRESS="$BUS" \
    "$PYTHON" "$HERE/atspi_probe.py" "${probe[@]}" && status=0 || status=$?
echo "the probe took $((SECONDS - started_at)) s"
alive "$tide" || fail "tide ended: $(cat "$tmp/tide.log")"
[ "$status" -eq 0 ] ||
    fail "$status checks failed over AT-SPI (above); tide's log: $(cat "$tmp/tide.log")"
# What the reader read as closed is closed on screen too.
wait_for 5 no_panel "$tide" || fail "the panel is still on screen after Escape"
echo "e2e (AT-SPI): the panel's tree, figures, quiet refreshes and keyboard walk all passed"
