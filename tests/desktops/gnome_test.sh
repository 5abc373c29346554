#!/usr/bin/env bash
# Runs the real tide in GNOME Shell (on X11: gnome-shell --x11 on a private Xvfb; on Wayland: a
# headless gnome-shell with a virtual monitor and Xwayland) with the AppIndicator extension as the
# tray, and goes through it the way a user does, with real pointer clicks:
#   - the icon shows in the top bar with the figure beside it (a magnified picture is kept);
#   - a left click shows Tide's menu, led by 显示面板 and a separator; 显示面板 opens the panel
#     next to the icon, clear of the top bar; a click on the 能耗 tab switches the tab and keeps it
#     open; a click on the desktop, and one on the top bar, closes it;
#   - the single-choice items are radio items (over DBusMenu, and with GNOME's dot on screen);
#     12 个进程 reaches the preference file; no startup sequence (the busy pointer) is left open a
#     few seconds after a choice;
#   - with the extension turned off (no StatusNotifierWatcher) tide shows its window, which the
#     shell takes for the app 潮汐 of the desktop entry: the top bar's app menu names it (GNOME 44
#     and before), and the overview's dash shows its icon, named 潮汐 under the pointer.
# Each check that fails is reported and the test goes on where it can; the status is 1 if any
# failed. The session (buses, the shell, pictures in $TIDE_E2E_SHOTS as gnome-<session>-*.png,
# tide) is gnome_session.sh's.
#
# Usage: gnome_test.sh BUILD_DIR x11|wayland
GNOME_TEST=gnome
GNOME_EXTENSIONS=(ubuntu-appindicators@ubuntu.com)
# shellcheck source=tests/desktops/gnome_session.sh
source "$(dirname "$0")/gnome_session.sh"

# --- 1. the icon in the top bar (the extension is on from the start, as at a login)
titled() { windows | tr ';' '\n' | grep -q ' 潮汐$'; }
icon_shown() { [ -n "$(t 'icon()')" ]; }
wait_for 30 icon_shown || { shot 2-no-icon; fail "no icon of tide in the top bar: $(tail -n 5 "$tmp/tide.log")"; }
SERVICE=$(t 'service()')
window_gone() { ! titled; }
wait_for 15 window_gone || check "tide shows its window beside the icon (windows: $(windows))"
park
# The extension takes a few seconds to settle an item (it reads the properties again when some are
# missing, and drops the item where that fails).
sleep 3
icon_shown || fail "tide's icon went from the top bar after it showed: $(grep -m 1 -A 1 'AppIndicators-WARNING' "$tmp/gnome-shell.log")"
read -r BX BY BW BH IX IY IW IH <<<"$(t 'icon()')"
# The extension draws the picture 16 px high: the figure goes beside it as text (which the
# extension may show a few seconds after the picture, having read the item's properties again).
label_has_figure() {
    LABEL=$(t 'label()')
    [[ $LABEL =~ [0-9] ]]
}
wait_for 10 label_has_figure || true
echo "icon: button ${BW}x$BH at $BX,$BY, picture ${IW}x$IH at $IX,$IY; label: $LABEL"
[[ $LABEL =~ [0-9] ]] || check "no figure beside the icon (label '$LABEL'): only the ${IW}x$IH picture carries it"
((BY >= 0 && BY + BH <= BAR_H)) || check "the icon's button ($BX,$BY ${BW}x$BH) is not in the top bar"
# --- 7. the figure: a magnified picture of the icon's corner of the top bar (for a person)
shot 2-icon "$((BW + 160))x$BAR_H+$((BX - 80))+0"
# The picture is not empty: its pixels are not all the top bar's colour.
colours=$(convert "$tmp/pictures/2-icon.png" -crop "${IW}x$IH+$IX+$IY" +repage -unique-colors \
    -format '%w' info:)
((colours > 4)) || check "the icon's picture has $colours colours: nothing drawn"

# --- 2. a left click shows Tide's menu, led by 显示面板 and a separator
ICX=$((BX + BW / 2))
ICY=$((BY + BH / 2))
menu_open() { [ "$(t 'menu()')" != closed ]; }
menu_closed() { [ "$(t 'menu()')" = closed ]; }
click "$ICX" "$ICY"
if wait_for 5 menu_open; then
    sleep 0.3
    shot 3-menu
    echo "a left click shows the menu ($(t 'menu()')): $(t 'menuTop(3)')"
    [[ "$(t 'menuTop(2)')" = "显示面板|-" ]] ||
        check "the menu does not start with 显示面板 and a separator: $(t 'menuTop(3)')"
else
    check "a left click on the icon showed no menu"
fi
panel_closed || check "the left click opened the panel as well as the menu"

# --- the panel: from 显示面板, or else (to go on) from a double click on the icon
opened_by=
show_item=$(t 'item("显示面板")')
if [ "$show_item" != none ]; then
    read -r SX SY _ <<<"$show_item"
    click "$SX" "$SY"
    opened_by=显示面板
else
    t 'closeMenu()' >/dev/null
    wait_for 5 menu_closed || true
    sleep 0.5
    click "$ICX" "$ICY" 1 2
    opened_by="a double click (Activate; no 显示面板 in the menu)"
fi
choice_time=$SECONDS
if wait_for 10 panel_window >"$tmp/panel"; then
    park
    client=$(t "clientType($tide)")
    [ "$client" = "$([ "$qpa" = xcb ] && echo x11 || echo wayland)" ] ||
        check "tide's windows are $client windows, not on Qt's $qpa platform as expected"
    sleep 1 # the process list fills in
    panel_window >"$tmp/panel"
    read -r PX PY PW PH focused <"$tmp/panel"
    shot 4-panel
    # Its distance from the icon's button: 0 where they touch or overlap.
    dx=0 dy=0
    ((PX > BX + BW)) && dx=$((PX - BX - BW))
    ((PX + PW < BX)) && dx=$((BX - PX - PW))
    ((PY > BY + BH)) && dy=$((PY - BY - BH))
    ((PY + PH < BY)) && dy=$((BY - PY - PH))
    echo "the panel opened by $opened_by: ${PW}x$PH at $PX,$PY (focused: $focused), $dx px beside and $dy px below the icon"
    if ((dx * dx + dy * dy > 40 * 40)); then
        if [ "$qpa" = wayland ]; then # a Wayland client without the layer shell cannot place it
            echo "NOTE: on Wayland the shell placed the panel $dx px beside and $dy px below the icon"
        else
            check "the panel (${PW}x$PH at $PX,$PY) is $dx px beside and $dy px below the icon, not within 40 px"
        fi
    fi
    ((PY >= BAR_H)) || check "the panel (top $PY) overlaps the top bar ($BAR_H px)"
    ((PX >= 0 && PX + PW <= SCREEN_W && PY + PH <= SCREEN_H)) || check "the panel ($PX,$PY ${PW}x$PH) leaves the screen"
    [ "$focused" = 1 ] || check "the panel does not have the focus (the keyboard, and a click elsewhere to close it)"
    # --- 6. the startup sequence the extension opened for the choice ends with the panel
    sleep $((choice_time + 3 > SECONDS ? choice_time + 3 - SECONDS : 0))
    seqs=$(t 'startupSequences()')
    [ -z "$seqs" ] || check "3 s after $opened_by opened the panel a startup sequence is still open (busy pointer): $seqs"

    # --- 3. a click on the 能耗 tab switches the tab and keeps the panel open
    energy_tab_check

    # --- 4. a click outside closes it: on the empty desktop, on the top bar, and on another
    # application's window
    reopen() {
        panel_closed && sleep 0.5
        panel_closed || return 0
        if [ "$opened_by" = 显示面板 ]; then
            click "$ICX" "$ICY"
            wait_for 5 menu_open || return 1
            read -r SX SY _ <<<"$(t 'item("显示面板")')"
            click "$SX" "$SY"
        else
            click "$ICX" "$ICY" 1 2
        fi
        wait_for 10 panel_window >/dev/null && park
    }
    close_by desktop 300 500 || true
    if reopen; then
        sleep 0.5
        close_by top-bar $((BX - 300)) $((BAR_H / 2)) || true
    else
        check "the panel did not open again"
    fi
    other_window_close_check
    panel_closed || { click "$ICX" "$ICY" 1 2; sleep 1; }
else
    shot 4-no-panel
    check "$opened_by opened no panel (windows: $(windows))"
fi
t 'closeMenu()' >/dev/null
sleep 0.5

# --- 5. the single-choice items are radio items: over DBusMenu, and with GNOME's dot on screen
# Tide's exported menu: "label|toggle-type|toggle-state" per item.
exported_menu() {
    gdbus call --session --dest "$SERVICE" --object-path /MenuBar \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' | grep -o "{[^{}]*'label'[^{}]*}" |
        sed -E "s/.*'label': <'([^']*)'>.*/\1|&/; s/\|.*'toggle-type': <'([a-z]*)'>.*/|\1|&/" |
        sed -E "s/^([^|]*\|[a-z]*)\|.*'toggle-state': <([0-9-]+)>.*/\1|\2/; s/^([^|]*)\|\{.*/\1||/"
}
exported_menu >"$tmp/menu.txt" || check "GetLayout on $SERVICE /MenuBar failed"
while IFS='|' read -r label type _; do
    case $label in
    "条形图 + 百分比" | 仅百分比 | 仅已用容量 | 仅条形图 | "百分比 = 内存"* | "每 "*" 秒" | *" 个进程")
        [ "$type" = radio ] || check "the single-choice item $label is exported as '$type', not radio" ;;
    "附带显示 CPU 占用" | 使用单色图标 | 按应用合并进程 | 开机时自动启动 | 内存压力严重时通知)
        [ "$type" = checkmark ] || check "the on/off item $label is exported as '$type', not checkmark" ;;
    esac
done <"$tmp/menu.txt"
grep -q '^12 个进程|radio|' "$tmp/menu.txt" || check "the exported menu has no radio item 12 个进程: $(tr '\n' ' ' <"$tmp/menu.txt")"
echo "exported: $(grep -c '|radio|' "$tmp/menu.txt") radio items, $(grep -c '|checkmark|' "$tmp/menu.txt") check items"

# 进程列表长度 → 12 个进程, with the pointer
click "$ICX" "$ICY"
wait_for 5 menu_open || check "a left click on the icon showed no menu the second time"
if choose_twelve_rows item 'menu()' 7-radio-menu; then
    choice_time=$SECONDS
    park
    # --- 6. no busy pointer: a few seconds after the choice no startup sequence is open
    sleep $((choice_time + 3 > SECONDS ? choice_time + 3 - SECONDS : 0))
    seqs=$(t 'startupSequences()')
    if [ -n "$seqs" ]; then
        # An X11 client ends the sequence with a message to the root window; a Wayland client
        # can only use the token on a surface, and a choice that shows no window has none.
        if [ "$qpa" = wayland ]; then
            echo "NOTE: 3 s after the menu choice a startup sequence is still open (busy pointer): $seqs"
        else
            check "3 s after the menu choice a startup sequence is still open (busy pointer): $seqs"
        fi
    fi
    grab 8-after-choice
    echo "12 个进程 chosen: $(grep '^TLRows' "$PREFS" 2>/dev/null || echo 'not stored'); open startup sequences 3 s later: ${seqs:-none}"
fi

# --- 8. the extension off (no StatusNotifierWatcher): tide's window, which the shell takes for the
# app 潮汐 of the desktop entry; the top bar's app menu names it (GNOME 44 and before: 45 has none),
# and on every release the overview's dash shows its icon, named 潮汐 under the pointer
enable_extensions
if wait_for 30 titled; then
    focus_named() { [ "$(t 'focusApp()')" = "潮汐|dev.tide.monitor.desktop" ]; }
    wait_for 10 focus_named ||
        check "without a tray the shell does not take tide's window for the app of the desktop entry (name|id): $(t 'focusApp()')"
    if ((SHELL_MAJOR < 45)); then
        menu_named() { [ "$(t 'appMenuLabel()')" = 潮汐 ]; }
        wait_for 10 menu_named || check "without a tray the top bar does not name the app 潮汐: $(t 'appMenuLabel()')"
    fi
    shot 9-no-tray
    echo "the extension off: a window titled 潮汐, of the app $(t 'focusApp()'); the top bar's app menu: $(t 'appMenuLabel()')"
    dash_check dev.tide.monitor.desktop 潮汐 10-dash
else
    shot 9-no-tray
    check "with the extension off no window titled 潮汐 appeared (windows: $(windows))"
fi

if [ -n "${TIDE_E2E_HOLD:-}" ]; then # for a look from outside (the session bus is in $tmp/bus)
    echo "$DBUS_SESSION_BUS_ADDRESS" >"$tmp/bus"
    echo "holding the session for $TIDE_E2E_HOLD s: $tmp" >&2
    sleep "$TIDE_E2E_HOLD"
fi
alive "$tide" || check "tide ended: $(tail -n 5 "$tmp/tide.log")"
finish_checks
