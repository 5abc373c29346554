#!/usr/bin/env bash
# Tide in KDE Plasma 5.27, on X11 (Xvfb, kwin_x11, plasmashell) or on Wayland (kwin_wayland on a
# virtual output, plasmashell on it), used the way a user does, with a real pointer:
# - Plasma makes its default layout in a fresh home: a panel with the system tray, where Tide's
#   icon shows (the tray is told to show every item, so the icon cannot hide in its expander);
# - a left click on the icon opens Tide's panel next to the icon, clear of Plasma's bar and on
#   the screen; a click on its 能耗 tab switches the list and leaves it open; a click on the
#   desktop closes it;
# - a right click shows Tide's settings menu, whose single-choice items are radio items; the
#   submenu of 进程列表长度 opens on the screen, and choosing 12 个进程 reaches the preference file;
# - hovering the icon shows Plasma's tool tip, titled 潮汐 (the item's tool-tip title; in the
#   picture, a two-character first line over the text);
# - after switching Plasma to Breeze Dark, the panel opens dark, without a restart (this time
#   with the pointer resting on the icon until it shows), and Escape closes it.
# It logs what Plasma passes to Activate and ContextMenu (dbus-monitor) and where the icon and the
# bar are. A check that fails does not stop the run where the next ones can still be made: the
# run ends with the count. Screenshots of every stage, and the logs, go to $TIDE_E2E_SHOTS when
# it is set; TIDE_E2E_TIDE_ENV adds variables to tide's environment (e.g. WAYLAND_DEBUG=1).
#
# Usage: plasma_test.sh BUILD_DIR x11|wayland
# Skips (status 77) where Plasma is not installed; with TIDE_E2E_NO_SKIP=1 that is a failure.
# The Wayland session drives KWin's cursor with tide-test-kwin-pointer (KWin's fake input),
# built where plasma-wayland-protocols is installed.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SESSION=${2:-}
HERE=$(cd "$(dirname "$0")/.." && pwd)
BIN=$BUILD/tide
case $SESSION in
x11 | wayland) ;;
*)
    echo "usage: $0 BUILD_DIR x11|wayland" >&2
    exit 2
    ;;
esac
# shellcheck source=tests/session_lib.sh
source "$HERE/session_lib.sh"

# Plasma, its tray and the tools this test reads the screen with.
need=(plasmashell kded5 plasma-apply-colorscheme dbus-run-session dbus-update-activation-environment
    dbus-send dbus-monitor busctl convert python3)
if [ "$SESSION" = x11 ]; then
    need+=(kwin_x11 Xvfb xdotool xwininfo xprop import)
else
    need+=(kwin_wayland spectacle)
fi
for tool in "${need[@]}"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps --desktops)"
done
[ -d /usr/share/plasma/shells/org.kde.plasma.desktop ] ||
    skip "Plasma's desktop shell is not installed (plasma-desktop)"
[ -x "$BIN" ] || { echo "FAIL: $BIN is not built" >&2; exit 1; }
if [ "$SESSION" = wayland ]; then
    [ -x "$BUILD/tide-test-kwin-pointer" ] ||
        skip "no pointer for KWin in this build (plasma-wayland-protocols, libwayland-dev)"
    compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
        skip "Qt's Wayland platform plugin is not installed (qt6-wayland)"
    compgen -G "/usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so" >/dev/null ||
        skip "plasmashell's Wayland platform plugin is not installed (qtwayland5)"
fi

# A Tide started here must not reach the one in the user's tray ...
# shellcheck source=tests/private_instance.sh
source "$HERE/private_instance.sh"
private_instance "$0" "$@"
# ... nor the user's session bus and desktop: a bus of its own. What the bus and the daemons it
# starts print goes to a log; this script's own messages to fd 3, the caller's standard error.
if [ -z "${TIDE_E2E_PRIVATE_BUS:-}" ]; then
    export TIDE_E2E_PRIVATE_BUS=1
    TIDE_E2E_BUS_LOG=$(mktemp /tmp/tide-plasma-bus.XXXXXX)
    export TIDE_E2E_BUS_LOG
    status=0
    dbus-run-session -- bash "$0" "$@" 3>&2 2>"$TIDE_E2E_BUS_LOG" || status=$?
    # Some daemons the bus started for Plasma outlive it (kglobalaccel5): those of this run, and
    # only those, carry this run's log name in their environment.
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [ "$pid" != $$ ] || continue
        if grep -qzx "TIDE_E2E_BUS_LOG=$TIDE_E2E_BUS_LOG" "$environ" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
        fi
    done
    rm -f "$TIDE_E2E_BUS_LOG"
    exit "$status"
fi
exec 2>&3 3>&-
# shellcheck source=tests/e2e_lib.sh
source "$HERE/e2e_lib.sh"
[ -z "${TIDE_E2E_TRACE:-}" ] || set -x
started_at=$SECONDS
TIDE_BUS=$DBUS_SESSION_BUS_ADDRESS
keep_logs() {
    [ -n "$shots" ] || return 0
    cp "$tmp"/*.log "$shots/" 2>/dev/null || true
    cp "$TIDE_E2E_BUS_LOG" "$shots/bus.log" 2>/dev/null || true
}
trap 'keep_logs; cleanup' EXIT
keep() { # name [picture]: the picture (else a new one of the screen) among the screenshots
    [ -n "$shots" ] || return 0
    if [ $# -gt 1 ]; then
        cp "$2" "$shots/plasma-$SESSION-$1.png" || true
    else
        grab_screen "$shots/plasma-$SESSION-$1.png" || true
    fi
}
# A check that fails without stopping the run: the checks after it still tell what they find.
flaws=0
flaw() {
    echo "FAIL: $*" >&2
    flaws=$((flaws + 1))
}

# The session's environment, Plasma's and Tide's alike, as a Plasma login sets it up.
mkdir -p "$tmp/data/applications" "$tmp/cache"
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data \
    XDG_CACHE_HOME=$tmp/cache XDG_RUNTIME_DIR=$tmp/runtime
export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 DESKTOP_SESSION=plasma \
    XDG_SESSION_TYPE=$SESSION LIBGL_ALWAYS_SOFTWARE=1 LANG=C.UTF-8
TIDE_ENV=(XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
    DESKTOP_SESSION=plasma XDG_SESSION_TYPE="$SESSION" XDG_DATA_HOME="$XDG_DATA_HOME"
    XDG_CACHE_HOME="$XDG_CACHE_HOME")

# ---------------------------------------------------------------- the compositor and the input
# The daemons the bus starts (global shortcuts, the activity manager) live in this session too.
bus_takes_environment() {
    dbus-update-activation-environment --all >"$tmp/activation.log" 2>&1 ||
        fail "the session bus did not take the session's environment: $(cat "$tmp/activation.log")"
}
SCREEN_W=1280
SCREEN_H=800
if [ "$SESSION" = x11 ]; then
    start_xvfb
    bus_takes_environment
    $orphan_guard kwin_x11 >"$tmp/kwin.log" 2>&1 &
    pids+=($!)
    wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_for 30 wm_up || fail "kwin_x11 did not start: $(tail -n 5 "$tmp/kwin.log")"
    click() { # x y left|right
        xdotool mousemove "$1" "$2"
        sleep 0.05
        xdotool click "$([ "${3:-left}" = right ] && echo 3 || echo 1)"
    }
    hover() { xdotool mousemove "$1" "$2"; }
    keys() { xdotool key --delay 80 "$@"; }
else
    # kwin_wayland carries a file capability that a container may not grant: a copy without it.
    mkdir -p "$tmp/bin"
    cp /usr/bin/kwin_wayland "$tmp/bin/kwin_wayland"
    WAYLAND_DISPLAY=tide-plasma-$$
    export WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland
    unset DISPLAY
    bus_takes_environment
    $orphan_guard "$tmp/bin/kwin_wayland" --virtual --width "$SCREEN_W" --height "$SCREEN_H" \
        --socket "$WAYLAND_DISPLAY" --no-lockscreen >"$tmp/kwin.log" 2>&1 &
    pids+=($!)
    kwin_up() { [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ]; }
    wait_for 30 kwin_up || fail "kwin_wayland did not start: $(tail -n 5 "$tmp/kwin.log")"
    TIDE_ENV+=(QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY="$WAYLAND_DISPLAY")
    # Screenshots through KWin's screenshot interface, which grants spectacle.
    spectacle_grab() { spectacle -b -n -f -o "$1" >>"$tmp/spectacle.log" 2>&1 && [ -s "$1" ]; }
    grab_with=spectacle_grab
    # The pointer: KWin offers fake input to the program its desktop entry names.
    cat >"$XDG_DATA_HOME/applications/tide-test-kwin-pointer.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Tide test pointer
Exec=$BUILD/tide-test-kwin-pointer
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
DESKTOP
    kbuildsycoca5 >"$tmp/sycoca.log" 2>&1 || true
    start_pointer "$BUILD/tide-test-kwin-pointer"
    click() { pointer click "$1" "$2" "${3:-left}"; }
    hover() { pointer move "$1" "$2"; }
    keys() { # key names, as xdotool has them
        local codes=() k
        for k in "$@"; do
            case $k in
            Down) codes+=(108) ;; Up) codes+=(103) ;; Right) codes+=(106) ;; Left) codes+=(105) ;;
            Return) codes+=(28) ;; Escape) codes+=(1) ;; *) fail "no key code for $k" ;;
            esac
        done
        pointer key "${codes[@]}"
    }
fi
# A picture of the screen, as $tmp/$1.png and $tmp/$1.ppm (for screen.py).
grab() { grab_screen "$tmp/$1.png" && convert "$tmp/$1.png" -alpha off "$tmp/$1.ppm"; }
screen() { python3 "$HERE/wayland/screen.py" "$@"; }
park() { hover $((SCREEN_W / 2)) $((SCREEN_H / 3)); }
park

# ---------------------------------------------------------------- Plasma
$orphan_guard kded5 >"$tmp/kded.log" 2>&1 &
pids+=($!)
$orphan_guard plasmashell --no-respawn >"$tmp/plasma.log" 2>&1 &
plasma=$!
pids+=("$plasma")
shell() { # a script for plasmashell's scripting console; prints what it prints
    dbus-send --session --print-reply=literal --dest=org.kde.plasmashell /PlasmaShell \
        org.kde.PlasmaShell.evaluateScript string:"$1" 2>/dev/null | sed 's/^ *//'
}
panel_made() { [ "$(shell 'print(panels().length)')" = 1 ]; }
wait_for 60 panel_made || fail "Plasma made no panel: $(tail -n 5 "$tmp/plasma.log")"
# Plasma's bar, from the shell: its edge and thickness; its rectangle ("x y w h") in BAR.
read -r BAR_EDGE BAR_THICK <<<"$(shell 'var p = panels()[0]; print(p.location + " " + p.height)')"
case $BAR_EDGE in
bottom) BAR="0 $((SCREEN_H - BAR_THICK)) $SCREEN_W $BAR_THICK" ;;
top) BAR="0 0 $SCREEN_W $BAR_THICK" ;;
*) fail "Plasma's bar is at its $BAR_EDGE edge: this test expects it at the top or bottom" ;;
esac
read -r BX BY BW BH <<<"$BAR"
echo "Plasma's bar: $BAR_EDGE, ${BW}x$BH at $BX,$BY"

# The tray shows every item in the bar: none hides in its expander.
tray_script='var tray = panels()[0].widgets("org.kde.plasma.systemtray")[0];
var inner = desktopById(tray.readConfig("SystrayContainmentId"));
inner.currentConfigGroup = ["General"];
inner.writeConfig("showAllItems", true);
inner.reloadConfig();
print(inner.readConfig("showAllItems"));'
[ "$(shell "$tray_script")" = true ] || fail "the tray cannot be told to show all items: $(shell "$tray_script")"

# What Plasma tells Tide's item about a click (logged for the record, read back below).
$orphan_guard dbus-monitor --session "type='method_call',interface='org.kde.StatusNotifierItem'" \
    "type='method_call',interface='com.canonical.dbusmenu'" >"$tmp/item-calls.log" 2>&1 &
pids+=($!)
last_call() { # member: "x y" of the last call of it
    awk -v m="member=$1" 'index($0, m) { want = 2; args = ""; next }
        want > 0 && $1 == "int32" { args = args (args == "" ? "" : " ") $2; want--
                                    if (want == 0) last = args }
        END { if (last != "") print last; else exit 1 }' "$tmp/item-calls.log"
}

# The bar settles: two pictures a second apart are the same there.
bar_change=
bar_settled() {
    grab bar-a || return 1
    sleep 1
    grab bar || return 1
    # shellcheck disable=SC2086
    bar_change=$(screen diff "$tmp/bar-a.ppm" "$tmp/bar.ppm" $BAR)
    [ -z "$bar_change" ]
}
wait_for 60 bar_settled || fail "Plasma's bar keeps changing (x y w h count: $bar_change)"
# The clock in the bar changes on the minute: the pictures compared below come from within one.
minute_fresh() { local s; s=$(date +%-S); ((s >= 3 && s < 40)); }
wait_for 30 minute_fresh
wait_for 10 bar_settled || fail "Plasma's bar keeps changing (x y w h count: $bar_change)"
minute=$(date +%H%M)
keep 1-plasma "$tmp/bar.png"
echo "Plasma is up after $((SECONDS - started_at)) s"

# ---------------------------------------------------------------- Tide's icon in the tray
# TIDE_E2E_TIDE_ENV adds variables to tide's environment, for looking into a failure
# (e.g. WAYLAND_DEBUG=1; the log goes to $TIDE_E2E_SHOTS).
read -ra extra_env <<<"${TIDE_E2E_TIDE_ENV:-}"
TIDE_ENV+=("${extra_env[@]}")
start_tide "$tmp/tide.log"
tide=$started
watcher() { # a property of the StatusNotifierWatcher
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:"$1" 2>/dev/null
}
registered() { watcher RegisteredStatusNotifierItems | grep -q '/StatusNotifierItem"'; }
wait_for 30 registered || fail "Tide's item did not register with Plasma's watcher: $(tail -n 5 "$tmp/tide.log")"
ITEM=$(watcher RegisteredStatusNotifierItems | grep -o '"[^"]*/StatusNotifierItem"' | head -n 1 | tr -d '"')
SERVICE=${ITEM%%/*}
# The icon: the change in the bar, whose right end is the new item (the tray grows to the left,
# moving the items before it).
icon_box=
icon_shown() {
    grab tray || return 1
    # shellcheck disable=SC2086
    icon_box=$(screen diff "$tmp/bar.ppm" "$tmp/tray.ppm" $BAR)
    [ -n "$icon_box" ]
}
wait_for 45 icon_shown || fail "no icon appeared in Plasma's bar: $(tail -n 5 "$tmp/tide.log")"
sleep 1.5 # the tray's animation ends
icon_shown
[ "$(date +%H%M)" = "$minute" ] || fail "the clock turned while the icon was looked for: run again"
keep 2-icon "$tmp/tray.png"
read -r DX DY DW DH _ <<<"$icon_box"
IH=$DH
IW=$DH
IX=$((DX + DW - IW))
IY=$DY
ICX=$((IX + IW / 2))
ICY=$((IY + IH / 2))
echo "the change in the bar: ${DW}x$DH at $DX,$DY; Tide's icon taken as ${IW}x$IH at $IX,$IY"
((IH >= 12 && IH <= BH)) || fail "the change in the bar (${DW}x$DH) is not an icon"

# ---------------------------------------------------------------- Tide's panel
# Sets PX PY PW PH: on X11 from its window (322 wide), on Wayland from the pictures: what differs
# from the closed screen outside the bar (a layer surface is in no window list).
park
sleep 0.5
grab closed
outside_bar() { # the screen outside the bar, for screen.py diff
    if [ "$BAR_EDGE" = bottom ]; then echo "0 0 $SCREEN_W $BY"; else echo "0 $BH $SCREEN_W $((SCREEN_H - BH))"; fi
}
panel_found() {
    if [ "$SESSION" = x11 ]; then
        local found
        found=$(panel_of "$tide") || return 1
        read -r _ PX PY PW PH <<<"$found"
    else
        local box
        grab open || return 1
        # shellcheck disable=SC2046
        box=$(screen diff "$tmp/closed.ppm" "$tmp/open.ppm" $(outside_bar))
        [ -n "$box" ] || return 1
        read -r PX PY PW PH _ <<<"$box"
        ((PW > 250 && PH > 300)) || return 1
        # Over the bar too? The bar's own changes there (Tide's figure, the clock) are small; a
        # panel covers thousands of its pixels.
        local over by bh count
        over=$(screen diff "$tmp/closed.ppm" "$tmp/open.ppm" "$PX" "$BY" "$PW" "$BH" \
            $((IX - 4)) $((IY - 4)) $((IW + 8)) $((IH + 8)))
        read -r _ by _ bh count <<<"${over:-0 0 0 0 0}"
        if ((count > 2000)); then
            if [ "$BAR_EDGE" = bottom ]; then PH=$((by + bh - PY)); else PH=$((PY + PH - by)) PY=$by; fi
        fi
    fi
}
panel_closed() {
    if [ "$SESSION" = x11 ]; then
        no_panel "$tide"
    else
        grab after || return 1
        # shellcheck disable=SC2046
        [ -z "$(screen diff "$tmp/closed.ppm" "$tmp/after.ppm" $(outside_bar))" ]
    fi
}
brightness() { # picture x y w h: the mean grey of that part, 0–100
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -format '%[fx:int(100*mean)]' info:
}
# The panel beside the icon, clear of the bar, on the screen.
check_placement() {
    local dx=0 dy=0
    ((PX > IX + IW)) && dx=$((PX - IX - IW))
    ((IX > PX + PW)) && dx=$((IX - PX - PW))
    ((PY > IY + IH)) && dy=$((PY - IY - IH))
    ((IY > PY + PH)) && dy=$((IY - PY - PH))
    ((PW >= 300 && PW <= 340)) || flaw "the panel is ${PW} px wide, not 322"
    ((dx * dx + dy * dy <= 40 * 40)) ||
        flaw "the panel (${PW}x$PH at $PX,$PY) is $dx px beside and $dy px away from the icon ($IX,$IY ${IW}x$IH)"
    ((PX >= 0 && PY >= 0 && PX + PW <= SCREEN_W && PY + PH <= SCREEN_H)) ||
        flaw "the panel (${PW}x$PH at $PX,$PY) leaves the ${SCREEN_W}x$SCREEN_H screen"
    ((PY + PH <= BY || PY >= BY + BH)) ||
        flaw "the panel (${PW}x$PH at $PX,$PY) overlaps Plasma's bar ($BAR)"
}

# --- a left click on the icon opens it next to the icon
click "$ICX" "$ICY" left
park
wait_for 10 panel_found || fail "a left click on the icon opened no panel: $(tail -n 5 "$tmp/tide.log")"
sleep 1 # the process list fills in
panel_found
keep 3-panel
activate=$(last_call Activate) || fail "Plasma did not call Activate on Tide's item"
echo "left click at $ICX,$ICY: Activate($activate); the panel ${PW}x$PH at $PX,$PY"
check_placement
grab light
light=$(brightness "$tmp/light.png" $((PX + 10)) $((PY + 10)) $((PW - 20)) $((PH - 20)))
echo "the panel in Breeze: mean grey $light of 100"
((light > 60)) || flaw "the panel is dark in Plasma's light Breeze colours (mean grey $light of 100)"

# --- a click on the 能耗 tab (the right half of the two-segment control, 346–365 px down the
# panel) switches the list and leaves the panel open
grab tab-before
click $((PX + 280)) $((PY + 355)) left
park
sleep 1
grab tab-after
keep 4-energy "$tmp/tab-after.png"
panel_found || fail "a click on the 能耗 tab closed the panel"
[ "$(screen pixel "$tmp/tab-before.ppm" $((PX + 280)) $((PY + 355)))" != \
    "$(screen pixel "$tmp/tab-after.ppm" $((PX + 280)) $((PY + 355)))" ] ||
    flaw "a click on the 能耗 tab did not select it"
# The note under the list names what the list measures (内存 = … / 能耗为近似值 …).
[ -n "$(screen diff "$tmp/tab-before.ppm" "$tmp/tab-after.ppm" $((PX + 10)) $((PY + PH - 66)) \
    $((PW - 20)) 20)" ] || flaw "a click on the 能耗 tab left the note under the list as it was"
echo "a click on 能耗 switched the list"

# --- a click on the desktop closes it
click 200 300 left
park
wait_for 10 panel_closed || fail "a click on the desktop did not close the panel"
echo "a click on the desktop closed the panel"

# ---------------------------------------------------------------- the settings menu
# The exported menu: the single-choice items are radio items, the others check marks.
busctl --address="$DBUS_SESSION_BUS_ADDRESS" --json=short -- call "$SERVICE" /MenuBar \
    com.canonical.dbusmenu GetLayout iias 0 -1 0 >"$tmp/layout.json" ||
    fail "Tide's menu did not answer GetLayout"
python3 - "$tmp/layout.json" >"$tmp/toggles" <<'PY' || fail "the exported menu: $(cat "$tmp/toggles")"
import json, sys
layout = json.load(open(sys.argv[1]))["data"][1]
def walk(node, parent):
    _, props, children = node
    label = props.get("label", {}).get("data", "")
    kind = props.get("toggle-type", {}).get("data", "")
    if kind:
        print(f"{parent}\t{label}\t{kind}\t{props.get('toggle-state', {}).get('data', 0)}")
    for child in children:
        walk(child["data"], label)
walk(layout, "")
PY
radio_group() { # submenu, first label of the group, count: radio items, one of them on
    awk -F'\t' -v menu="$1" -v first="$2" -v n="$3" '
        $1 == menu && $2 == first { on = 1 }
        on && seen < n { seen++; if ($3 != "radio") bad = bad " " $2 "(" $3 ")"; checked += $4 }
        END { if (seen != n || bad != "" || checked != 1) { print seen, bad, checked; exit 1 } }' \
        "$tmp/toggles"
}
radio_group 菜单栏显示 "条形图 + 百分比" 4 || flaw "菜单栏显示's display choices are not one radio group: $(cat "$tmp/toggles")"
radio_group 菜单栏显示 "百分比 = 内存使用率" 2 || flaw "菜单栏显示's 百分比 choices are not one radio group: $(cat "$tmp/toggles")"
radio_group 刷新频率 "每 1 秒" 4 || flaw "刷新频率's choices are not radio items: $(cat "$tmp/toggles")"
radio_group 进程列表长度 "5 个进程" 3 || flaw "进程列表长度's choices are not radio items: $(cat "$tmp/toggles")"
grep -q $'\t附带显示 CPU 占用\tcheckmark\t' "$tmp/toggles" ||
    flaw "附带显示 CPU 占用 is not a check mark: $(cat "$tmp/toggles")"
echo "exported menu: the single choices are radio items"

# Plasma's menus: on X11 the windows of plasmashell narrower than the screen; on Wayland what
# differs from the closed screen. MENU / SUB: "x y w h" of the menu and of the submenu.
menu_windows() { windows_of "$plasma" | awk -v w="$SCREEN_W" '$4 > 1 && $4 < w { print $2, $3, $4, $5 }' | sort; }
menus_baseline=
[ "$SESSION" = wayland ] || menus_baseline=$(menu_windows)
menus_open() { # count: sets MENUS to the boxes of the open menus
    if [ "$SESSION" = x11 ]; then
        MENUS=$(comm -13 <(echo "$menus_baseline") <(menu_windows))
    else
        grab menu || return 1
        # shellcheck disable=SC2046
        MENUS=$(screen diff "$tmp/closed.ppm" "$tmp/menu.ppm" $(outside_bar) | cut -d' ' -f1-4)
    fi
    [ "$(grep -c . <<<"$MENUS")" -ge "$1" ]
}
park
sleep 0.5
grab closed
click "$ICX" "$ICY" right
wait_for 10 menus_open 1 || fail "a right click on the icon showed no menu"
sleep 0.5
menus_open 1
read -r MX MY MW MH <<<"$(head -n 1 <<<"$MENUS")"
context=$(last_call ContextMenu) || context="(not called)"
echo "right click at $ICX,$ICY: ContextMenu($context); the menu ${MW}x$MH at $MX,$MY"
((MW > 60 && MH > 100)) || fail "what the right click showed (${MW}x$MH) is not the menu"
# (On Wayland the panel would be in the picture, and the menu's box as wide as the panel at least.)
if [ "$SESSION" = x11 ]; then no_panel "$tide"; else ((MW < 300)); fi || flaw "the right click opened the panel"
keep 5-menu
keys Down Down Down Right # 进程列表长度, the third entry, and into its submenu
if [ "$SESSION" = x11 ]; then
    wait_for 10 menus_open 2 || fail "the 进程列表长度 submenu did not open"
    SUB=$(sed -n 2p <<<"$MENUS")
else
    sleep 1
    cp "$tmp/menu.ppm" "$tmp/menu-1.ppm"
    sub_open() { # what changed beside the menu
        grab menu || return 1
        # shellcheck disable=SC2046
        SUB=$(screen diff "$tmp/menu-1.ppm" "$tmp/menu.ppm" $(outside_bar) "$MX" "$MY" "$MW" "$MH" |
            cut -d' ' -f1-4)
        [ -n "$SUB" ]
    }
    wait_for 10 sub_open || fail "the 进程列表长度 submenu did not open"
fi
sleep 0.5
keep 6-submenu
read -r SX SY SW SH <<<"$SUB"
echo "the 进程列表长度 submenu: ${SW}x$SH at $SX,$SY"
((SX >= 0 && SX + SW < SCREEN_W && SY >= 0 && SY + SH <= SCREEN_H)) ||
    flaw "the submenu (${SW}x$SH at $SX,$SY) is cut off by the screen's edge"
# Plasma fills a submenu only once it is open (it fetches the items when it shows): the keyboard's
# first item may not be there yet. The pointer goes straight to the last of its three rows, 12 个进程.
visible_w=$((SW < SCREEN_W - SX ? SW : SCREEN_W - SX))
click $((SX + visible_w / 2)) $((SY + SH * 5 / 6)) left
rows12() { grep -q '^TLRows=12$' "$PREFS" 2>/dev/null; }
wait_for 10 rows12 || fail "the preference file has no TLRows=12 after choosing 12 个进程: $(cat "$PREFS" 2>&1)"
echo "12 个进程 chosen in Plasma's menu: TLRows=12 stored"

# ---------------------------------------------------------------- the tool tip
tip=$(dbus-send --session --print-reply --dest="$SERVICE" /StatusNotifierItem \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem string:ToolTip)
# (sa(iiay)ss): the title is the first string after the pictures
tip_title=$(grep -o 'string "[^"]*"' <<<"$tip" | sed -n 2p)
[ "$tip_title" = 'string "潮汐"' ] || flaw "the item's tool tip title is ${tip_title:-missing}, not 潮汐"
park
sleep 1
grab closed
hover "$ICX" "$ICY"
tip_box=
tip_shown() {
    grab tip || return 1
    # shellcheck disable=SC2046
    tip_box=$(screen diff "$tmp/closed.ppm" "$tmp/tip.ppm" $(outside_bar))
    [ -n "$tip_box" ]
}
wait_for 10 tip_shown || fail "hovering the icon showed no tool tip"
sleep 0.5
tip_shown
read -r TX TY TW TH _ <<<"$tip_box"
echo "tool tip ${TW}x$TH at $TX,$TY"
[ -z "$shots" ] || convert "$tmp/tip.png" -crop "$((TW + 20))x$((TH + 20))+$((TX - 10))+$((TY - 10))" \
    +repage -scale 200% "$shots/plasma-$SESSION-7-tooltip.png" || true
((TX - 40 <= ICX && ICX <= TX + TW + 40)) || flaw "the tool tip ($TX..$((TX + TW))) is not over the icon ($ICX)"
# Its lines of text, "top height left width" each: the title, two characters wide, over the
# lines of the tool-tip text.
python3 - "$HERE/wayland" "$tmp/tip.ppm" $((TX + 6)) $((TY + 6)) $((TW - 12)) $((TH - 12)) \
    >"$tmp/tip-lines" <<'PY' || flaw "the tool tip's lines could not be measured"
import collections, sys
sys.path.insert(0, sys.argv[1])
from screen import read_ppm
w, _, data = read_ppm(sys.argv[2])
x0, y0, rw, rh = map(int, sys.argv[3:7])
px = lambda x, y: data[(y * w + x) * 3:(y * w + x) * 3 + 3]
background = collections.Counter(px(x, y) for y in range(y0, y0 + rh, 2)
                                 for x in range(x0, x0 + rw, 2)).most_common(1)[0][0]
line = None
for y in range(y0, y0 + rh + 1):
    xs = [x for x in range(x0, x0 + rw)
          if y < y0 + rh and max(abs(a - b) for a, b in zip(px(x, y), background)) > 80]
    if xs and line is None:
        line = [y, y, min(xs), max(xs)]
    elif xs:
        line[1:] = [y, min(line[2], min(xs)), max(line[3], max(xs))]
    elif line:
        print(line[0], line[1] - line[0] + 1, line[2], line[3] - line[2] + 1)
        line = None
PY
read -r _ title_h _ title_w <<<"$(head -n 1 "$tmp/tip-lines")"
lines=$(grep -c . "$tmp/tip-lines")
echo "tool tip lines (top height left width): $(paste -sd ';' "$tmp/tip-lines")"
((lines >= 2 && title_w * 10 >= title_h * 12 && title_w * 10 <= title_h * 26)) ||
    flaw "the tool tip's first line (${title_w:-?}x${title_h:-?} of $lines lines) is not a two-character title over the text"
park

# ---------------------------------------------------------------- Breeze Dark
plasma-apply-colorscheme BreezeDark >"$tmp/colorscheme.log" 2>&1 ||
    fail "plasma-apply-colorscheme BreezeDark failed: $(cat "$tmp/colorscheme.log")"
grep -q '^ColorScheme=BreezeDark' "$XDG_CONFIG_HOME/kdeglobals" ||
    fail "Plasma did not switch to Breeze Dark: $(cat "$tmp/colorscheme.log")"
sleep 2 # Plasma repaints
park
grab closed
# This time the pointer stays on the icon until the panel is there, as a slower hand does.
click "$ICX" "$ICY" left
wait_for 10 panel_found || fail "after the switch to Breeze Dark a left click opened no panel"
park
sleep 1
panel_found
echo "the panel, opened with the pointer resting on the icon: ${PW}x$PH at $PX,$PY"
check_placement
grab dark
keep 8-dark "$tmp/dark.png"
dark=$(brightness "$tmp/dark.png" $((PX + 10)) $((PY + 10)) $((PW - 20)) $((PH - 20)))
echo "the panel after the switch to Breeze Dark: mean grey $dark of 100"
((dark < 35)) || flaw "the panel did not turn dark with Breeze Dark (mean grey $dark of 100)"
# The panel takes the keyboard as it opens: Escape closes it.
keys Escape
if wait_for 5 panel_closed; then
    echo "Escape closed the panel"
else
    flaw "Escape did not close the panel"
    click 200 300 left
    park
    wait_for 10 panel_closed || fail "a click on the desktop did not close the dark panel"
fi

alive "$tide" || fail "tide ended: $(tail -n 5 "$tmp/tide.log")"
((flaws == 0)) || fail "$flaws of the checks above failed ($((SECONDS - started_at)) s)"
echo "PASS: Tide in Plasma ($SESSION) in $((SECONDS - started_at)) s"
