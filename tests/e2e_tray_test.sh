#!/usr/bin/env bash
# Runs the real tide on a private X server with a system tray (Xvfb + trayer) and drives it the
# way a user does: the icon in the tray, a left click opens the panel under it, a click elsewhere
# closes it, a right click opens the settings menu, a menu choice reaches the preference file, and
# a second start replaces the first. Screenshots of each stage go to $TIDE_E2E_SHOTS when it is set.
#
# Needs Xvfb, trayer, xdotool, xwininfo and ImageMagick (import, convert, identify)
# (scripts/install-deps installs them).
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"

# A Tide started here must not reach the one in the user's tray.
# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

for tool in Xvfb trayer xdotool xwininfo import convert identify; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps --test)"
done
[ -x "$BIN" ] || fail "$BIN is not built"

# --- the X server and the tray
start_xvfb
start_trayer

# Menus: viewable windows of ours other than the icon and the panel.
menus_of() {
    windows_of "$1" | awk -v icon="$ICON" '$1 != icon && $4 != 322 && $4 > 1 { print; n++ }
        END { exit !n }'
}
menu_count() { menus_of "$1" 2>/dev/null | wc -l; }
menus_closed() { [ "$(menu_count "$tide")" -eq 0 ]; }

# --- tide, with no session bus: the icon must go to this tray, not to a desktop's.
start_tide "$tmp/tide1.log"
tide=$started

# --- the icon in the tray: mapped, embedded, not empty
wait_for 20 find_icon "$tide" >"$tmp/icon" || fail "no tray icon window appeared: $(cat "$tmp/tide1.log")"
read -r ICON IX IY IW IH <"$tmp/icon"
ICX=$((IX + IW / 2))
ICY=$((IY + IH / 2))
# The icon is drawn a moment after the window maps; wait for its pixels.
icon_colours() {
    import -window "$ICON" "$tmp/icon.png" 2>/dev/null && identify -format '%k' "$tmp/icon.png"
}
icon_drawn() {
    local n
    n=$(icon_colours) && [ "${n:-0}" -ge 4 ]
}
wait_for 10 icon_drawn || fail "the tray icon is empty ($(icon_colours) colours)"
shot 1-tray "$((SCREEN_W - 200))x30+$((SCREEN_W - 200))+0"
echo "tray icon $ICON: ${IW}x$IH at $IX,$IY, $(icon_colours) colours"

click_icon() { xdotool mousemove "$ICX" "$ICY" click "$1"; }

# --- a left click opens the panel under the icon, kept on screen
click_icon 1
wait_for 10 panel_of "$tide" >"$tmp/panel" || fail "a left click on the icon opened no panel"
read -r PANEL PX PY PW PH <"$tmp/panel"
sleep 0.5 # the process list fills in
shot 2-panel
echo "panel $PANEL: ${PW}x$PH at $PX,$PY"
gap=$((PY - (IY + IH)))
((gap >= 0 && gap <= 12)) || fail "the panel's top ($PY) is not just under the icon (bottom $((IY + IH)))"
((PX >= 0 && PX + PW <= SCREEN_W)) || fail "the panel ($PX, width $PW) leaves the screen"
((PX <= ICX && ICX < PX + PW)) || fail "the panel ($PX..$((PX + PW))) is not under the icon ($ICX)"
ROWS8_HEIGHT=$PH

# A click inside the panel (its header, which does nothing) leaves it open.
xdotool mousemove $((PX + PW / 2)) $((PY + 12)) click 1
sleep 1
panel_of "$tide" >/dev/null || fail "a click inside the panel closed it"

# --- a click elsewhere closes it
xdotool mousemove 200 500 click 1
wait_for 10 no_panel "$tide" || fail "a click outside did not close the panel"
shot 3-closed
# (A click on the icon this soon after an outside click is taken for the same gesture and
# ignored, so the clicks below keep a pause after each close.)
sleep 0.5

# --- a second left click on the icon closes the panel again; a third opens it
click_icon 1
wait_for 10 panel_of "$tide" >/dev/null || fail "the panel did not open again"
sleep 0.5
click_icon 1
wait_for 10 no_panel "$tide" || fail "a second click on the icon did not close the panel"
sleep 0.5
click_icon 1
wait_for 10 panel_of "$tide" >/dev/null || fail "a third click on the icon did not open the panel"

# --- a right click opens the settings menu and leaves the panel open
sleep 0.5
click_icon 3
wait_for 10 menus_of "$tide" >"$tmp/menu" || fail "a right click on the icon opened no menu"
sleep 0.5
panel_of "$tide" >/dev/null || fail "a right click on the icon closed the panel"
shot 4-menu "440x260+$((SCREEN_W - 440))+0"
xdotool key Escape
wait_for 10 menus_closed || fail "Escape did not close the menu"
sleep 0.5
panel_of "$tide" >/dev/null || fail "closing the menu closed the panel"
xdotool mousemove 200 500 click 1
wait_for 10 no_panel "$tide" || fail "after the menu, a click outside did not close the panel"

# --- a menu choice reaches the preference file: 进程列表长度 → 12 个进程 (from 8)
before=$(cat "$PREFS" 2>/dev/null || true)
! grep -q '^TLRows=12$' <<<"$before" || fail "TLRows is 12 before the choice"
sleep 0.5
click_icon 3
wait_for 10 menus_of "$tide" >/dev/null || fail "the settings menu did not open"
sleep 0.5
xdotool key Down Down Down Right # the third entry, 进程列表长度, and into its submenu
has_submenu() { [ "$(menu_count "$tide")" -ge 2 ]; }
wait_for 10 has_submenu || fail "the 进程列表长度 submenu did not open"
sleep 0.3
shot 5-submenu "560x260+$((SCREEN_W - 560))+0"
xdotool key Down Down Return # 5, 8, 12 个进程
wait_for 10 menus_closed || fail "choosing an item did not close the menu"
rows12() { grep -q '^TLRows=12$' "$PREFS" 2>/dev/null; }
wait_for 10 rows12 || fail "the preference file has no TLRows=12 after the choice: $(cat "$PREFS" 2>&1)"
# ... and the panel shows more rows.
sleep 0.5
click_icon 1
wait_for 10 panel_of "$tide" >"$tmp/panel" || fail "the panel did not open after the choice"
read -r _ _ _ _ PH <"$tmp/panel"
[ "$PH" -gt "$ROWS8_HEIGHT" ] || fail "with 12 rows the panel is $PH high, with 8 it was $ROWS8_HEIGHT"
shot 6-panel-12-rows
xdotool mousemove 200 500 click 1
wait_for 10 no_panel "$tide" || fail "the panel did not close"

# --- a second start replaces the first
start_tide "$tmp/tide2.log"
second=$started
first_gone() { ! alive "$tide"; }
wait_for 15 first_gone || fail "the first tide still runs after a second start"
wait "$tide" && status=0 || status=$?
[ "$status" -eq 0 ] || fail "the replaced tide exited with status $status"
wait_for 20 find_icon "$second" >"$tmp/icon" || fail "the second tide shows no tray icon: $(cat "$tmp/tide2.log")"
sleep 1
alive "$second" || fail "the second tide did not keep running: $(cat "$tmp/tide2.log")"
read -r ICON IX IY IW IH <"$tmp/icon"
ICX=$((IX + IW / 2))
ICY=$((IY + IH / 2))
grep -q '^TLRows=12$' "$PREFS" || fail "the second start lost the preference"

# --- the tray ends and starts again: the window titled 潮汐 while there is none, then the icon
kill "$trayer"
trayer_gone() { ! alive "$trayer"; }
wait_for 10 trayer_gone || fail "trayer did not end"
# The end of the tray's window tells tide at once: the window follows the 4 s grace, long before
# tide would look for a tray again by itself.
wait_for 12 titled_window_of "$second" >"$tmp/window" ||
    fail "no window titled 潮汐 appeared after the tray ended: $(cat "$tmp/tide2.log")"
# Its class in ASCII, as the desktop entry's StartupWMClass names it; the title in UTF-8.
read -r WINDOW _ <"$tmp/window"
wm_class=$(xprop -id "$WINDOW" WM_CLASS)
[ "$wm_class" = 'WM_CLASS(STRING) = "tide", "Tide"' ] || fail "the window's class: $wm_class"
grep -q '^StartupWMClass=Tide$' "$(dirname "$0")/../data/dev.tide.monitor.desktop" ||
    fail "the desktop entry does not name the window's class"
start_trayer
no_titled_window() { ! titled_window_of "$second" >/dev/null; }
wait_for 12 no_titled_window || fail "the window stayed after the tray started again"
wait_for 12 find_icon "$second" >"$tmp/icon" || fail "the icon did not come back to the new tray"
read -r ICON IX IY IW IH <"$tmp/icon"
ICX=$((IX + IW / 2))
ICY=$((IY + IH / 2))
echo "tray restart: window while it was gone, icon back in the new tray"

# --- 退出, the last menu entry, ends it
sleep 0.5
click_icon 3
wait_for 10 menus_of "$second" >/dev/null || fail "the second tide's menu did not open"
sleep 0.5
xdotool key Up Return
second_gone() { ! alive "$second"; }
wait_for 10 second_gone || fail "退出 did not end tide"
wait "$second" && status=0 || status=$?
[ "$status" -eq 0 ] || fail "退出 ended tide with status $status"
echo "e2e: tray icon, panel, outside click, settings menu, preference, replacement, tray restart and quit all passed"
