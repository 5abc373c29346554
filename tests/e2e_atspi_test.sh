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

# A Tide started here must not reach the one in the user's tray.
# shellcheck source=tests/e2e_base.sh
source "$HERE/e2e_base.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$HERE/e2e_lib.sh"
# shellcheck source=tests/session_lib.sh
source "$HERE/session_lib.sh"

for tool in Xvfb trayer xdotool xwininfo dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps --test)"
done
"$PYTHON" -c 'import pyatspi' 2>/dev/null || skip "$PYTHON has no pyatspi (python3-pyatspi)"
[ -x "$BIN" ] || fail "$BIN is not built"

start_xvfb

# --- a session bus of our own, whose only service is the accessibility bus, started now: it is
# there when tide starts.
start_accessibility_bus

# --- the tray, and tide on the session bus, its accessibility on
start_trayer
TIDE_BUS=$BUS
TIDE_ENV=() # tide joins the accessibility bus of its own accord
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
