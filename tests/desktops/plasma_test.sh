#!/usr/bin/env bash
# Tide in KDE Plasma (5.27 or 6), on X11 (Xvfb, kwin_x11, plasmashell) or on Wayland (kwin_wayland
# on a virtual output, at a scale of its own, plasmashell on it), used the way a user does, with a
# real pointer:
# - Plasma makes its default layout in a fresh home: a panel with the system tray, where Tide's
#   icon shows (the tray is told to show every item, so the icon cannot hide in its expander);
# - a left click on the icon opens Tide's panel next to the icon, clear of Plasma's bar and on
#   the screen (on Plasma 6's Wayland, at the bar's edge, as KWin keeps the bar's reserved area);
#   a click on its 能耗 tab switches the list and leaves it open; a click on the
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
# Usage: plasma_test.sh BUILD_DIR x11|wayland [SCALE]   (SCALE: Wayland's output scale, e.g. 1.5)
# Skips (status 77) where Plasma is not installed; with TIDE_E2E_NO_SKIP=1 that is a failure.
# The Wayland session drives KWin's cursor with tide-test-kwin-pointer (KWin's fake input),
# built where plasma-wayland-protocols is installed.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SESSION=${2:-}
SCALE=${3:-1}
HERE=$(cd "$(dirname "$0")/.." && pwd)
BIN=$BUILD/tide
case $SESSION:$SCALE in
x11:1 | wayland:1 | wayland:1.[0-9]* | wayland:2) ;;
*)
    echo "usage: $0 BUILD_DIR x11|wayland [SCALE (Wayland, 1 to 2)]" >&2
    exit 2
    ;;
esac
# shellcheck source=tests/session_lib.sh
source "$HERE/session_lib.sh"

# Plasma, its tray and the tools this test reads the screen with. Plasma 6 has KDE Frameworks 6's
# daemons (kded6, kbuildsycoca6), Plasma 5.27 those of 5.
command -v plasmashell >/dev/null || skip "plasmashell is not installed (scripts/install-deps --desktops)"
PLASMA=5
if command -v kded6 >/dev/null && ! command -v kded5 >/dev/null; then PLASMA=6; fi
need=(plasmashell "kded$PLASMA" "kbuildsycoca$PLASMA" plasma-apply-colorscheme dbus-run-session
    dbus-update-activation-environment dbus-send dbus-monitor busctl convert identify mogrify python3)
if [ "$SESSION" = x11 ]; then
    need+=(kwin_x11 Xvfb xdotool xwininfo xprop import)
else
    need+=(kwin_wayland)
    # (Plasma 6's pictures come from a private X server: see plasma_session.sh.)
    if [ "$PLASMA" = 5 ]; then need+=(spectacle); else need+=(Xvfb import); fi
fi
for tool in "${need[@]}"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps --desktops)"
done
[ -d /usr/share/plasma/shells/org.kde.plasma.desktop ] ||
    skip "Plasma's desktop shell is not installed (plasma-desktop)"
[ -x "$BIN" ] || { echo "FAIL: $BIN is not built" >&2; exit 1; }
if [ "$SESSION" = wayland ]; then
    # KWin 6's windowed output takes its scale from kscreen-doctor (plasma_session.sh).
    if [ "$PLASMA" = 6 ] && [ "$SCALE" != 1 ]; then
        command -v kscreen-doctor >/dev/null || skip "kscreen-doctor is not installed (libkscreen-bin)"
    fi
    [ -x "$BUILD/tide-test-kwin-pointer" ] ||
        skip "no pointer for KWin in this build (plasma-wayland-protocols, libwayland-dev)"
    compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
        skip "Qt's Wayland platform plugin is not installed (qt6-wayland)"
    if [ "$PLASMA" = 5 ]; then
        compgen -G "/usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so" >/dev/null ||
            skip "plasmashell's Wayland platform plugin is not installed (qtwayland5)"
    fi
fi

# A Tide started here must not reach the one in the user's tray ...
# shellcheck source=tests/e2e_base.sh
source "$HERE/e2e_base.sh"
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
shot_name=plasma-$SESSION
[ "$SCALE" = 1 ] || shot_name=plasma-$SESSION-$SCALE
keep() { # name [picture]: the picture (else a new one of the screen) among the screenshots
    [ -n "$shots" ] || return 0
    if [ $# -gt 1 ]; then
        cp "$2" "$shots/$shot_name-$1.png" || true
    else
        grab_screen "$shots/$shot_name-$1.png" || true
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
export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=$PLASMA \
    DESKTOP_SESSION=plasma XDG_SESSION_TYPE=$SESSION LIBGL_ALWAYS_SOFTWARE=1 LANG=C.UTF-8
# A KDE program that crashes here ends: no crash dialog (drkonqi), which would look for its servers.
export KDE_DEBUG=1
# Plasma's own applications menu, where it has one (Plasma 6): KWin finds the desktop entries that
# grant its restricted interfaces through it.
if [ -e /etc/xdg/menus/plasma-applications.menu ]; then export XDG_MENU_PREFIX=plasma-; fi
TIDE_ENV=(XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION="$PLASMA"
    DESKTOP_SESSION=plasma XDG_SESSION_TYPE="$SESSION" XDG_DATA_HOME="$XDG_DATA_HOME"
    XDG_CACHE_HOME="$XDG_CACHE_HOME")

# ---------------------------------------------------------------- the compositor and the input
# shellcheck source=tests/desktops/plasma_session.sh
source "$HERE/desktops/plasma_session.sh"
# A picture of the screen, as $tmp/$1.png and $tmp/$1.ppm (for screen.py).
grab() { grab_screen "$tmp/$1.png" && convert "$tmp/$1.png" -alpha off "$tmp/$1.ppm"; }
screen() { python3 "$HERE/wayland/screen.py" "$@"; }
park() { hover $((SCREEN_W / 2)) $((SCREEN_H / 3)); }
park

# ---------------------------------------------------------------- Plasma
# shellcheck source=tests/desktops/plasma_shell.sh
source "$HERE/desktops/plasma_shell.sh"

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
# The bar's edge as seen (a floating bar of Plasma 6 stands off the screen's edge): the last row of
# the bar's colour from the icon's row towards the screen's middle, in the bar's empty middle.
BAR_SEEN=$(python3 - "$HERE/wayland" "$tmp/tray.ppm" $((SCREEN_W / 2)) "$ICY" "$BAR_EDGE" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from screen import read_ppm
w, h, data = read_ppm(sys.argv[2])
x, y, edge = int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
px = lambda y: data[(y * w + x) * 3:(y * w + x) * 3 + 3]
bar, step = px(y), (-1 if edge == "bottom" else 1)
while 0 <= y + step < h and max(abs(a - b) for a, b in zip(px(y + step), bar)) <= 24:
    y += step
print(y if edge == "bottom" else y + 1)
PY
)
echo "the bar's edge as seen: row $BAR_SEEN"
# Where the icon and the bar are in 2-icon's picture, for scripts/readme-bar-shots.
[ -z "$shots" ] || echo "$IX $IY $IW $IH $BX $BY $BW $BH" >"$shots/$shot_name-2-icon.txt"

# ---------------------------------------------------------------- Tide's panel
# Sets PX PY PW PH: on X11 from its window (322 wide), on Wayland from the pictures: what differs
# from the closed screen outside the bar (a layer surface is in no window list).
park
sleep 0.5
grab closed
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
if [ "$SCALE" != 1 ]; then # at another scale the placement differs; the rest is checked at 100 %
    click 200 300 left
    park
    wait_for 10 panel_closed || fail "a click on the desktop did not close the panel"
    ((flaws == 0)) || fail "$flaws of the checks above failed ($((SECONDS - started_at)) s)"
    echo "PASS: Tide in Plasma ($SESSION at $SCALE) in $((SECONDS - started_at)) s" && exit 0
fi

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
[ "$FOUND_BY" = pictures ] || menus_baseline=$(menu_windows)
menus_open() { # count: sets MENUS to the boxes of the open menus
    if [ "$FOUND_BY" = windows ]; then
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
if [ "$FOUND_BY" = windows ]; then no_panel "$tide"; else ((MW < 300)); fi || flaw "the right click opened the panel"
keep 5-menu
keys Down Down Down Right # 进程列表长度, the third entry, and into its submenu
if [ "$FOUND_BY" = windows ]; then
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
    +repage -scale 200% "$shots/$shot_name-7-tooltip.png" || true
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
