#!/usr/bin/env bash
# Runs the real tide on a private X server and session bus where the tray is a StatusNotifierItem
# host (lxqt-panel), which draws the icon itself and shows the item's exported menu on a right
# click. First no tray runs: the panel must show as an ordinary window titled 潮汐, and go back
# into the tray when the host starts. Then, the way a user does: the icon in the panel, a left
# click opens the panel next to it, a click elsewhere closes it, a right click shows Tide's
# settings menu (the same items, order and check marks) and "12 个进程" reaches the preference
# file, and the icon comes back after the host restarts. Last the session bus ends, once cleanly
# and once killed: the window is back within 5 s, and the icon once a new bus and host come at the
# same address. Screenshots go to $TIDE_E2E_SHOTS.
#
# Needs Xvfb, lxqt-panel, dbus-run-session, dbus-send, xdotool, xwininfo, xprop and ImageMagick
# (scripts/install-deps installs them).
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"

# A Tide started here must not reach the one in the user's tray.
# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

for tool in Xvfb lxqt-panel dbus-daemon dbus-send xdotool xwininfo xprop import convert; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps --test)"
done
[ -x "$BIN" ] || fail "$BIN is not built"

# ... nor the user's session bus and desktop: a bus of its own, which the test can end and start
# again at the same address.
start_session_bus() {
    : >"$tmp/bus-address"
    $orphan_guard dbus-daemon --session --nofork --nopidfile --address="unix:path=$tmp/bus" \
        --print-address=3 3>"$tmp/bus-address" 2>>"$tmp/bus.log" &
    bus_daemon=$!
    pids+=("$bus_daemon")
    # shellcheck disable=SC2317 # called through wait_for
    bus_ready() { [ -s "$tmp/bus-address" ]; }
    wait_for 10 bus_ready || fail "the session bus did not start: $(cat "$tmp/bus.log")"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/bus"
}
start_session_bus
start_xvfb
TIDE_BUS=$DBUS_SESSION_BUS_ADDRESS

# --- no tray: the panel as an ordinary window titled 潮汐
start_tide "$tmp/tide.log"
tide=$started
titled_window() { titled_window_of "$tide"; }
wait_for 30 titled_window >"$tmp/window" || fail "without a tray no window titled 潮汐 appeared: $(cat "$tmp/tide.log")"
read -r WINDOW _ _ _ _ <"$tmp/window"
xprop -id "$WINDOW" WM_NAME _NET_WM_NAME | grep -q '"潮汐"' || fail "the window's title is not 潮汐"
shot 1-no-tray
echo "without a tray: window $WINDOW titled 潮汐"

# --- the host starts: the window goes, the item registers and the icon shows in the panel
write_lxqt_panel_config "$tmp/panel-config"
start_host() {
    $orphan_guard env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/panel-config" QT_QPA_PLATFORM=xcb \
        lxqt-panel >>"$tmp/panel.log" 2>&1 &
    host=$!
    pids+=("$host")
}
start_host
watcher() { # property of the StatusNotifierWatcher
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:"$1" 2>/dev/null
}
registered() { watcher RegisteredStatusNotifierItems | grep -q '/StatusNotifierItem"'; }
wait_for 30 registered || fail "tide's item did not register with the host: $(cat "$tmp/tide.log")"
window_gone() { ! titled_window >/dev/null; }
wait_for 15 window_gone || fail "the window stayed after the tray host started"
ITEM=$(watcher RegisteredStatusNotifierItems | grep -o '"[^"]*/StatusNotifierItem"' | head -n 1 | tr -d '"')
SERVICE=${ITEM%%/*}
item_property() {
    dbus-send --session --print-reply --dest="$SERVICE" /StatusNotifierItem \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem string:"$1"
}
item_property Title | grep -q 'string "潮汐"' || fail "the item's title is not 潮汐: $(item_property Title)"
item_property Menu | grep -q 'object path "/MenuBar"' || fail "the item exports no menu: $(item_property Menu)"

wait_for 20 find_drawn_icon || fail "no icon in the panel"
shot 2-icon "300x60+$((SCREEN_W - 300))+$((SCREEN_H - 60))"
echo "icon ${IW}x$IH at $IX,$IY"

# --- a left click opens the panel next to the icon: above it (the panel is at the bottom), over
# it horizontally, on screen and out of the taskbar
xdotool mousemove "$ICX" "$ICY" click 1
wait_for 10 panel_of "$tide" >"$tmp/panel" || fail "a left click on the icon opened no panel"
read -r POPOVER PX PY PW PH <"$tmp/panel"
shot 3-panel
echo "panel ${PW}x$PH at $PX,$PY"
gap=$((IY - (PY + PH)))
((gap >= -2 && gap <= 16)) || fail "the panel (bottom $((PY + PH))) is not just above the icon (top $IY)"
((PX >= 0 && PX + PW <= SCREEN_W && PY >= 0)) || fail "the panel ($PX,$PY ${PW}x$PH) leaves the screen"
((PX <= ICX && ICX < PX + PW)) || fail "the panel ($PX..$((PX + PW))) is not over the icon ($ICX)"
xprop -id "$POPOVER" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR ||
    fail "the panel is not kept out of the taskbar: $(xprop -id "$POPOVER" _NET_WM_STATE)"

# --- a click elsewhere closes it
sleep 0.5
xdotool mousemove 200 300 click 1
wait_for 10 no_panel "$tide" || fail "a click outside did not close the panel"
sleep 0.5

# --- the menu the host shows on a right click is Tide's settings menu
menu_items() { # the exported menu, depth first: one line per item, "-" for a separator, ✓ if on
    dbus-send --session --print-reply --dest="$SERVICE" /MenuBar com.canonical.dbusmenu.GetLayout \
        int32:0 int32:-1 array:string: | awk '
        function flush() { if (cur != "") print cur; cur = "" }
        want == "label" { s = $0; sub(/.*string "/, "", s); sub(/"[ \t]*$/, "", s)
                          flush(); cur = s; want = ""; next }
        want == "toggle" { if ($NF == 1) cur = cur " ✓"; want = ""; next }
        want == "type" { if ($0 ~ /"separator"/) { flush(); print "-" } want = ""; next }
        /string "label"/ { want = "label" } /string "toggle-state"/ { want = "toggle" }
        /string "type"/ { want = "type" }
        END { flush() }'
}
expected_menu() { # $1: the checked list length
    local n
    printf '%s\n' 菜单栏显示 "条形图 + 百分比 ✓" 仅百分比 仅已用容量 仅条形图 - "百分比 = 内存使用率 ✓" \
        "百分比 = 内存压力" - "附带显示 CPU 占用" 使用单色图标 刷新频率 "每 1 秒" "每 2 秒 ✓" "每 3 秒" "每 5 秒" \
        进程列表长度
    for n in 5 8 12; do
        if [ "$n" = "$1" ]; then echo "$n 个进程 ✓"; else echo "$n 个进程"; fi
    done
    printf '%s\n' 按应用合并进程 - 开机时自动启动 "内存压力严重时通知 ✓" 打开活动监视器 - 关于潮汐 退出
}
diff <(expected_menu 8) <(menu_items) >"$tmp/menu.diff" || fail "the exported menu differs: $(cat "$tmp/menu.diff")"

host_menus() { windows_of "$host" | awk -v w="$SCREEN_W" '$4 > 1 && $4 < w { n++ } END { print n + 0 }'; }
host_menu_open() { [ "$(host_menus)" -ge "$1" ]; }
xdotool mousemove "$ICX" "$ICY" click 3
wait_for 10 host_menu_open 1 || fail "a right click on the icon showed no menu"
sleep 0.5
no_panel "$tide" || fail "the right click opened the panel"
xdotool key Down Down Down Right # the third entry, 进程列表长度, and into its submenu
wait_for 10 host_menu_open 2 || fail "the 进程列表长度 submenu did not open"
sleep 0.3
shot 4-menu "520x300+$((SCREEN_W - 520))+$((SCREEN_H - 300))"
xdotool key Down Down Return # 5, 8, 12 个进程
rows12() { grep -q '^TLRows=12$' "$PREFS" 2>/dev/null; }
wait_for 10 rows12 || fail "the preference file has no TLRows=12 after the choice: $(cat "$PREFS" 2>&1)"
menu_rebuilt() { diff <(expected_menu 12) <(menu_items) >"$tmp/menu.diff"; }
wait_for 10 menu_rebuilt || fail "the exported menu did not follow the choice: $(cat "$tmp/menu.diff")"
echo "right click: Tide's settings menu; 12 个进程 stored"

# --- the host restarts: the icon comes back
kill "$host"
host_gone() { ! alive "$host"; }
wait_for 10 host_gone || fail "the host did not end"
# The watcher leaving the bus tells the item at once: the window is back after the 4 s grace,
# long before the item would look again by itself.
wait_for 12 titled_window >/dev/null || fail "no window titled 潮汐 appeared after the host ended"
echo "host gone: the window titled 潮汐 is back"
start_host
icon_back() { registered && find_drawn_icon; }
wait_for 30 icon_back || fail "the icon did not come back after the host restarted: $(cat "$tmp/tide.log")"
shot 5-icon-again "300x60+$((SCREEN_W - 300))+$((SCREEN_H - 60))"
alive "$tide" || fail "tide ended: $(cat "$tmp/tide.log")"
sleep 0.5
xdotool mousemove "$ICX" "$ICY" click 1
wait_for 10 panel_of "$tide" >/dev/null || fail "after the host restart a left click opened no panel"
sleep 0.5
xdotool mousemove 200 300 click 1
wait_for 10 no_panel "$tide" || fail "a click outside did not close the panel"

# --- the session bus ends under the icon: the window is back as when the host ends, whichever of
# Tide and the host the daemon lets go of first (a clean end tells the names' going in the order
# the connections came, the newest last; a killed daemon tells nothing). A new bus at the same
# address with a host on it takes the icon back.
seconds_since() { awk -v d=$(($(date +%s%N) - $1)) 'BEGIN { printf "%.2f", d / 1e9 }'; }
for signal in TERM KILL; do
    start=$(date +%s%N)
    kill -"$signal" "$bus_daemon"
    wait "$bus_daemon" 2>/dev/null || true
    wait_for 30 titled_window >/dev/null || fail "no window titled 潮汐 after the bus's end (SIG$signal)"
    took=$(seconds_since "$start")
    echo "bus ended (SIG$signal): the window titled 潮汐 after $took s"
    awk -v t="$took" 'BEGIN { exit !(t <= 5) }' || fail "the window came $took s after the bus's end (SIG$signal), not within 5 s"
    alive "$tide" || fail "tide ended with the bus: $(cat "$tmp/tide.log")"
    kill "$host" 2>/dev/null || true
    wait_for 10 host_gone || fail "the host did not end"
    start_session_bus
    start_host
    wait_for 60 icon_back || fail "the icon did not come back on a new bus (SIG$signal): $(cat "$tmp/tide.log")"
    wait_for 15 window_gone || fail "the window stayed after the icon came back on a new bus"
    echo "a new bus and host: the icon is back after $(seconds_since "$start") s"
done
shot 6-icon-new-bus "300x60+$((SCREEN_W - 300))+$((SCREEN_H - 60))"
echo "e2e (StatusNotifierItem): no-tray window, icon, panel, outside click, settings menu, preference, host end and restart, bus end and return all passed"
