# shellcheck shell=bash
# A GNOME Shell session for an end-to-end test of Tide, shared by gnome_test.sh (Tide's item in
# the AppIndicator extension's tray) and gnome_extension_test.sh (Tide's own extension): on X11
# gnome-shell --x11 on a private Xvfb, on Wayland a headless gnome-shell with a virtual monitor and
# Xwayland, with its own session and system buses and dconf; then Tide, started as a GNOME session
# starts a program. What the shell knows (positions, menus, windows, the focused app) comes from
# org.gnome.Shell.Eval, opened by a small extension of the test's own, and gnome_shell.js's helpers
# (`t`); pictures of each stage go to $TIDE_E2E_SHOTS ($GNOME_TEST-<session>-*.png) with the logs.
#
# The sourcing script sets GNOME_TEST (its name in pictures and logs) and GNOME_EXTENSIONS (the
# extensions on from the start: the AppIndicator extension, and monitor@tide.dev, Tide's own, which
# is taken from the build in the form the shell loads), and runs with BUILD_DIR x11|wayland. On
# Wayland tide picks its platform itself (Xwayland, where it can place the panel); TIDE_E2E_QPA=
# wayland|xcb imposes one. As root, the session runs as the unprivileged user tide-e2e (GNOME warns
# about a root session over the top bar). Skips (77) where the machine cannot run GNOME Shell; with
# TIDE_E2E_NO_SKIP=1 that is a failure. The script goes on after sourcing this, inside the session,
# with tide running ($tide) and `check` to report a failure and go on.
# shellcheck disable=SC2034,SC2154 # what is set here is used by the sourcing script
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SESSION=${2:-}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TEST_USER="tide-e2e"
APPINDICATOR=ubuntu-appindicators@ubuntu.com
TIDE_EXTENSION=monitor@tide.dev
TEST_EXTENSION="tide-e2e@tide.dev"
# shellcheck source=tests/session_lib.sh
source "$HERE/../session_lib.sh"
case $SESSION in
x11 | wayland) ;;
*)
    echo "usage: $0 BUILD_DIR x11|wayland" >&2
    exit 2
    ;;
esac

stage=${TIDE_E2E_STAGE:-outer}
if [ "$stage" = outer ]; then
    enter_private_namespace "$0" "$@"

    tools=(gnome-shell dbus-daemon dbus-run-session dbus-send gdbus gsettings setpriv convert compare
        zenity)
    if [ "$SESSION" = x11 ]; then tools+=(Xvfb xdotool); else tools+=(Xwayland); fi
    for tool in "${tools[@]}"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps --desktops)"
    done
    dconf_service=$(grep -l '^Name=ca.desrt.dconf$' /usr/share/dbus-1/services/*.service 2>/dev/null |
        head -n 1 || true)
    [ -n "$dconf_service" ] || skip "dconf is not installed (dconf-service)"
    [ -d "/usr/share/gnome-shell/extensions/$APPINDICATOR" ] ||
        skip "the AppIndicator extension is not installed (gnome-shell-extension-appindicator)"
    [ -x "$BUILD/tide" ] || { echo "FAIL: $BUILD/tide is not built" >&2; exit 1; }
    if [ "$SESSION" = wayland ] && [ "${TIDE_E2E_QPA:-wayland}" = wayland ]; then
        ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
            skip "Qt's Wayland platform plugin is not installed (qt6-wayland)"
    fi

    tmp=$(mktemp -d "/tmp/tide-$GNOME_TEST.XXXXXX")
    # The session's pictures and logs go to a folder of its own, copied to $TIDE_E2E_SHOTS at the
    # end: the user the session runs as may not reach that (a folder of root's, say).
    shots_out=${TIDE_E2E_SHOTS:-}
    session_shots=
    [ -z "$shots_out" ] || session_shots=$(mktemp -d "/tmp/tide-$GNOME_TEST-shots.XXXXXX")
    trap 'rm -rf "$tmp" ${session_shots:+"$session_shots"}' EXIT
    script=$0
    session_user "GNOME warns about a root session over the top bar" "$tmp"
    [ -z "$session_shots" ] || [ "${#run_as[@]}" -eq 0 ] || chown "$uid:$gid" "$session_shots"
    if [ "${#run_as[@]}" -ne 0 ]; then
        # A build under a private home (/root is 0700) is out of that user's reach: the session
        # then runs on a copy of what it needs, made in its own directory.
        if ! "${run_as[@]}" test -x "$BUILD/tide" -a -r "$HERE/gnome_shell.js" -a -r "$0" \
            -a -r "$HERE/gnome_session.sh" -a -r "$BUILD/gnome-shell/module/$TIDE_EXTENSION/tide.js" \
            -a -r "$HERE/../e2e_lib.sh" -a -r "$HERE/../session_lib.sh" \
            -a -r "$HERE/../../data/dev.tide.monitor.desktop" \
            -a -r "$HERE/../../data/icons/dev.tide.monitor.svg" \
            -a \( ! -e "$BUILD/bench/x11_click" -o -x "$BUILD/bench/x11_click" \); then
            mkdir -p "$tmp/copy/build/bench" "$tmp/copy/tests/desktops" "$tmp/copy/data/icons"
            cp -r "$BUILD/tide" "$BUILD/gnome-shell" "$tmp/copy/build/"
            [ ! -e "$BUILD/bench/x11_click" ] || cp "$BUILD/bench/x11_click" "$tmp/copy/build/bench/"
            cp "$HERE"/*.sh "$HERE"/*.js "$tmp/copy/tests/desktops/"
            cp "$HERE/../e2e_lib.sh" "$HERE/../session_lib.sh" "$HERE/../e2e_base.sh" \
                "$tmp/copy/tests/"
            cp "$HERE/../../data/dev.tide.monitor.desktop" "$tmp/copy/data/"
            cp "$HERE/../../data/icons/dev.tide.monitor.svg" "$tmp/copy/data/icons/"
            chown -R "$uid:$gid" "$tmp/copy"
            BUILD="$tmp/copy/build"
            script="$tmp/copy/tests/desktops/$(basename "$0")"
        fi
    fi
    chmod 700 "$tmp"
    # Where X servers put their sockets, as a booted system makes it (a fresh container has none,
    # and the shell, not root, cannot make it for its Xwayland).
    if [ "$TIDE_E2E_REAL_UID" -eq 0 ] && [ ! -d /tmp/.X11-unix ]; then
        mkdir -p /tmp/.X11-unix
        chmod 1777 /tmp/.X11-unix
    fi
    # The session bus starts nothing but dconf (where gsettings writes the shell's settings, in
    # the test's own configuration directory).
    mkdir -p "$tmp/services"
    cp "$dconf_service" "$tmp/services/"
    open_bus_config session "unix:tmpdir=/tmp" "$tmp/services" >"$tmp/session.conf"
    [ "${#run_as[@]}" -eq 0 ] || chown -R "$uid:$gid" "$tmp"
    status=0
    "${run_as[@]}" env TIDE_E2E_STAGE=session TIDE_E2E_TMP="$tmp" \
        TIDE_E2E_NO_SKIP="${TIDE_E2E_NO_SKIP:-}" TIDE_E2E_SHOTS="$session_shots" \
        HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" \
        XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime" \
        dbus-run-session --config-file="$tmp/session.conf" -- \
        bash "$script" "$BUILD" "$SESSION" 2> >(grep --line-buffered -v 'Failed to set fd limit' >&2) || status=$?
    if [ -n "$session_shots" ] && ! { mkdir -p "$shots_out" && cp -r "$session_shots/." "$shots_out/"; }; then
        echo "NOTE: the pictures could not be copied to $shots_out (TIDE_E2E_SHOTS)" >&2
    fi
    exit "$status"
fi

# ---------------------------------------------------------------- inside the session
BIN=$BUILD/tide
# shellcheck source=tests/e2e_lib.sh
source "$HERE/../e2e_lib.sh"
[ -z "${TIDE_E2E_TRACE:-}" ] || set -x
unset DISPLAY WAYLAND_DISPLAY XAUTHORITY DBUS_SYSTEM_BUS_ADDRESS
failures=()
check() { # a check that failed: reported now, and the test goes on
    echo "CHECK FAILED: $*" >&2
    failures+=("$*")
}
keep_logs() {
    [ -n "$shots" ] || return 0
    local log
    for log in "$tmp"/*.log; do
        [ -e "$log" ] && cp "$log" "$shots/$GNOME_TEST-$SESSION-$(basename "$log")"
    done
    return 0
}
trap 'keep_logs; cleanup' EXIT
mkdir -p "$tmp/data/applications" "$tmp/cache" "$tmp/pictures"

# --- a system bus of its own (the shell will not start without one), where nothing is activated
open_bus_config system "unix:dir=$tmp" >"$tmp/system.conf"
: >"$tmp/system-bus"
$orphan_guard dbus-daemon --config-file="$tmp/system.conf" --nofork --print-address=3 \
    3>"$tmp/system-bus" >"$tmp/system-bus.log" 2>&1 &
pids+=($!)
system_bus_up() { [ -s "$tmp/system-bus" ]; }
wait_for 10 system_bus_up || skip "no private system bus: $(cat "$tmp/system-bus.log")"
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$tmp/system-bus")

# --- the shell's settings, in its own dconf: the AppIndicator extension and the test's own on, no
# animations, no banners over the top bar, no welcome tour, no blanking
enable_extensions() { # the extensions on besides the test's own
    local list="'$TEST_EXTENSION'" e
    for e in "$@"; do list+=", '$e'"; done
    gsettings set org.gnome.shell enabled-extensions "[$list]"
}
enable_extensions "${GNOME_EXTENSIONS[@]}"
gsettings set org.gnome.shell welcome-dialog-last-shown-version 999
gsettings set org.gnome.desktop.interface enable-animations false
gsettings set org.gnome.desktop.notifications show-banners false
gsettings set org.gnome.desktop.session idle-delay 0
gsettings set org.gnome.desktop.screensaver lock-enabled false
# The test's extension opens org.gnome.Shell.Eval and the screenshot interface (unsafe mode), and
# hands what gnome_shell.js uses of the shell to the code Eval runs (globalThis.tideShell): GNOME 43
# and 44 load extensions as scripts, where the shell's modules are imports.ui, 45 and later as ES
# modules, which only an import reaches.
SHELL_MAJOR=$(gnome-shell --version | grep -o '[0-9][0-9]*' | head -n 1)
ext="$tmp/data/gnome-shell/extensions/$TEST_EXTENSION"
mkdir -p "$ext"
cat >"$ext/metadata.json" <<JSON
{ "uuid": "$TEST_EXTENSION", "name": "Tide end-to-end test",
  "description": "Lets the test ask the shell", "shell-version": ["$SHELL_MAJOR"] }
JSON
open_eval='globalThis.tideShell = {Clutter, GLib, Meta, Shell, Main, PopupMenu}; global.context.unsafe_mode = true;'
if ((SHELL_MAJOR < 45)); then
    cat <<JS
const {Clutter, GLib, Meta, Shell} = imports.gi;
const {main: Main, popupMenu: PopupMenu} = imports.ui;
function init() { return { enable() { $open_eval }, disable() {} }; }
JS
else
    cat <<JS
import Clutter from 'gi://Clutter';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
export default class { enable() { $open_eval } disable() {} }
JS
fi >"$ext/extension.js"
# Tide's extension, from the build, in the form this shell loads
TIDE_EXTENSION_FORM=$( ((SHELL_MAJOR < 45)) && echo legacy || echo module)
cp -r "$BUILD/gnome-shell/$TIDE_EXTENSION_FORM/$TIDE_EXTENSION" "$tmp/data/gnome-shell/extensions/"
# Tide's desktop entry and icon, as installed: the shell names and shows the app from them. GLib
# takes an entry only where its program is on the PATH, as an installed tide is.
desktop_entry=$HERE/../../data/dev.tide.monitor.desktop
[ -r "$desktop_entry" ] || desktop_entry=$HERE/../../../data/dev.tide.monitor.desktop
cp "$desktop_entry" "$tmp/data/applications/"
mkdir -p "$tmp/data/icons/hicolor/scalable/apps"
cp "$(dirname "$desktop_entry")/icons/dev.tide.monitor.svg" "$tmp/data/icons/hicolor/scalable/apps/"
mkdir -p "$tmp/bin"
ln -s "$BIN" "$tmp/bin/tide"

# --- the shell
shell_env=(env PATH="$tmp/bin:$PATH" XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome XDG_SESSION_TYPE="$SESSION"
    DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" LIBGL_ALWAYS_SOFTWARE=1 NO_AT_BRIDGE=1)
if [ "$SESSION" = x11 ]; then
    start_xvfb
    $orphan_guard "${shell_env[@]}" gnome-shell --x11 --replace >"$tmp/gnome-shell.log" 2>&1 &
else
    $orphan_guard "${shell_env[@]}" gnome-shell --wayland --headless \
        --virtual-monitor "${SCREEN_W}x$SCREEN_H" --wayland-display tide-e2e-0 \
        >"$tmp/gnome-shell.log" 2>&1 &
fi
shell=$!
pids+=("$shell")

shell_eval() { # JavaScript run in the shell: prints its result (a string without its quotes)
    local out
    out=$(dbus-send --session --print-reply=literal --dest=org.gnome.Shell /org/gnome/Shell \
        org.gnome.Shell.Eval string:"$1" 2>&1) || return 1
    [ "$(head -n 1 <<<"$out" | tr -d ' ')" = booleantrue ] || {
        echo "$out" >>"$tmp/eval-errors.log"
        return 1
    }
    sed -n '2p' <<<"$out" | sed 's/^ *//; s/^"//; s/" *$//'
}
t() { shell_eval "tideTest.$1"; } # a call of the test's helpers in the shell
# shellcheck disable=SC2317 # called through wait_for
eval_open() { [ "$(shell_eval 'global.context.unsafe_mode && typeof tideShell' 2>/dev/null)" = object ]; }
if ! wait_for 90 eval_open; then
    alive "$shell" || skip "gnome-shell cannot run on this machine: $(tail -n 5 "$tmp/gnome-shell.log")"
    fail "the shell did not open Eval (the test's extension): $(tail -n 5 "$tmp/gnome-shell.log")"
fi
shell_eval "$(cat "$HERE/gnome_shell.js")" >/dev/null || fail "the test's helpers did not load in the shell"
# The shell opens the overview once it has started, as at a login: the desktop, as after a press
# of Escape.
shell_started() { [ "$(t 'started()')" = true ]; }
wait_for 30 shell_started || fail "the shell did not finish starting"
sleep 0.5
overview_hidden() { [ "$(t 'hideOverview()')" = hidden ]; }
wait_for 5 overview_hidden || fail "the overview stays shown"
BAR_H=$(t 'panelHeight()')
echo "GNOME Shell on $SESSION is up: the top bar is $BAR_H px high"

# Pictures: org.gnome.Shell.Screenshot of the whole screen into $tmp/pictures; kept (magnified
# where cut out) in $TIDE_E2E_SHOTS.
grab() { # name
    dbus-send --session --print-reply --dest=org.gnome.Shell /org/gnome/Shell/Screenshot \
        org.gnome.Shell.Screenshot.Screenshot boolean:false boolean:false \
        string:"$tmp/pictures/$1.png" >/dev/null
}
shot() { # name [geometry to cut out and magnify]
    grab "$1" || return 1
    [ -n "$shots" ] || return 0
    if [ $# -gt 1 ]; then
        convert "$tmp/pictures/$1.png" -crop "$2" +repage -scale 400% "$shots/$GNOME_TEST-$SESSION-$1.png"
    else
        cp "$tmp/pictures/$1.png" "$shots/$GNOME_TEST-$SESSION-$1.png"
    fi
}
differ() { # picture picture geometry: whether the part cut out differs
    local n
    n=$(compare -metric AE -fuzz 2% "$tmp/pictures/$1.png[$3]" "$tmp/pictures/$2.png[$3]" null: 2>&1) || true
    [ "${n%% *}" != 0 ]
}

# --- the pointer: xdotool on the X server, the shell's virtual pointer on Wayland
click() { # x y [button [count]]
    local button=${3:-1} count=${4:-1}
    if [ "$SESSION" = x11 ]; then
        xdotool mousemove "$1" "$2" click --repeat "$count" --delay 60 "$button"
    else
        t "click($1, $2, $button, $count)" >/dev/null
    fi
}
point() { # x y: the pointer there, without a click
    if [ "$SESSION" = x11 ]; then xdotool mousemove "$1" "$2"; else t "click($1, $2, 1, 0)" >/dev/null; fi
}
park() { point 640 700; } # the pointer out of the way, over the empty desktop

# --- tide, as a GNOME session starts a program
TIDE_BUS=$DBUS_SESSION_BUS_ADDRESS
qpa=xcb
TIDE_ENV=(XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE="$SESSION" XDG_DATA_HOME="$tmp/data")
if [ "$SESSION" = wayland ]; then
    # Tide picks its platform itself (XWayland, where it can place the panel at the icon) unless
    # TIDE_E2E_QPA chooses one. The shell's Xwayland: the display and its key.
    qpa=${TIDE_E2E_QPA:-xcb}
    DISPLAY=$(t 'env("DISPLAY")')
    TIDE_ENV+=(WAYLAND_DISPLAY=tide-e2e-0 XAUTHORITY="$(t 'env("XAUTHORITY")')")
    TIDE_QPA=()
    [ -z "${TIDE_E2E_QPA:-}" ] || TIDE_QPA=(QT_QPA_PLATFORM="$TIDE_E2E_QPA")
fi
export DISPLAY
start_tide "$tmp/tide.log"
tide=$started
echo "tide runs on Qt's $qpa platform"
windows() { t "windows($tide)"; }
# "x y w h focused" of tide's window as wide as the panel (the panel, or the no-tray window).
panel_window() {
    windows | tr ';' '\n' | awk '$3 == 322 { print $1, $2, $3, $4, $5; found = 1 } END { exit !found }'
}
panel_closed() { ! panel_window >/dev/null; }

finish_checks() { # the test's end: each check that failed, and the status
    if [ "${#failures[@]}" -gt 0 ]; then
        echo "FAIL: ${#failures[@]} check(s) failed in GNOME Shell $SHELL_MAJOR ($GNOME_TEST, $SESSION, tide on $qpa):" >&2
        printf '  - %s\n' "${failures[@]}" >&2
        exit 1
    fi
    echo "PASS: GNOME Shell $SHELL_MAJOR ($GNOME_TEST, $SESSION, tide on $qpa)"
}

# --- checks of the open panel, shared by the tests; PX PY PW PH: the panel's place
energy_tab_check() { # a click on the 能耗 tab (the right half of the two-segment control, 346–365
    # px down the panel) switches the tab and keeps the panel open
    TAB_Y=$((PY + 355))
    tab_box="140x16+$((PX + 170))+$((TAB_Y - 8))"
    list_box="$((PW - 20))x100+$((PX + 10))+$((TAB_Y + 20))"
    grab tab-before
    click $((PX + 240)) "$TAB_Y"
    park
    sleep 1
    shot 5-energy
    if panel_closed; then
        check "a click on the 能耗 tab closed the panel"
    else
        differ tab-before 5-energy "$tab_box" || check "a click on 能耗 did not switch the tab (its segment did not change)"
        differ tab-before 5-energy "$list_box" || check "a click on 能耗 did not change the list under the tabs"
        echo "a click on 能耗 switched the tab; the panel stays open"
    fi
}

# A click outside closes the panel: on the empty desktop, on the top bar, and on another
# application's window. A Wayland client hears of none of the first two (the shell keeps the
# keyboard focus where it was, and there is no layer shell to cover the screen with): on Qt's
# Wayland platform they are only measured. Through XWayland tide covers the screen.
close_by() { # name x y: 0 if the click closed the panel
    click "$2" "$3"
    park
    if wait_for 5 panel_closed; then
        echo "a click on $1 closed the panel"
        return 0
    fi
    shot "6-still-open-$1"
    if [ "$qpa" = xcb ] || [ "$1" = "another-window" ]; then
        check "a click on $1 ($2,$3) did not close the panel within 5 s (windows: $(windows))"
    else
        echo "NOTE: on Wayland a click on $1 ($2,$3) leaves the panel open"
    fi
    return 1
}

# Another application's window: a dialog on the left half, clear of the panel, whose title bar is
# clicked with the panel open (the test's `reopen` opens it again first).
other_window_close_check() {
    $orphan_guard env GDK_BACKEND="$([ "$SESSION" = x11 ] && echo x11 || echo wayland)" \
        WAYLAND_DISPLAY=tide-e2e-0 XDG_CURRENT_DESKTOP=GNOME \
        zenity --info --title=other --text="another application" >"$tmp/zenity.log" 2>&1 &
    other=$!
    pids+=("$other")
    # (Placed: a window just mapped may still be 0 × 0 at the corner, which is GNOME's hot corner.)
    # shellcheck disable=SC2317 # called through wait_for
    other_window() { t "windows($other)" | tr ';' '\n' | awk 'NF >= 5 && $3 > 50 && $4 > 50 { print $1, $2, $3, $4; f = 1 } END { exit !f }'; }
    if wait_for 15 other_window >"$tmp/other"; then
        read -r OX OY OW _ <"$tmp/other"
        sleep 0.5
        if reopen; then
            sleep 0.5
            close_by another-window $((OX + OW / 2)) $((OY + 12)) || true
        else
            check "the panel did not open again"
        fi
    else
        check "the other application's window (zenity) did not show: $(cat "$tmp/zenity.log")"
    fi
    kill "$other" 2>/dev/null || true
}

# In the shown menu (its items found with the helper $1, "item" or "tideItem"; its place with $2,
# "menu()" or "tideMenuState()"): 进程列表长度 opens its items, GNOME's dot is on 8 个进程 (the
# default) and not on 12, and a click on 12 个进程 reaches the preference file and closes the
# menu. A picture of the open items goes to $3.
choose_twelve_rows() {
    local lx ly dot8 dot12 x12 y12 mx my mw mh
    read -r lx ly _ <<<"$(t "$1(\"进程列表长度\")") x x"
    if [ "$lx" = none ]; then
        check "the shown menu has no 进程列表长度"
        return 1
    fi
    click "$lx" "$ly"
    # shellcheck disable=SC2317 # called through wait_for
    submenu_open() { [ "$(t "$1(\"12 个进程\")")" != none ]; }
    # (On a loaded machine the tray may still be filling the submenu when the click comes, and
    # the click is lost: once more, later.)
    if ! wait_for 5 submenu_open "$1"; then
        click "$lx" "$ly"
        wait_for 10 submenu_open "$1" || check "a click on 进程列表长度 did not open its items"
    fi
    sleep 0.3
    read -r _ _ dot8 <<<"$(t "$1(\"8 个进程\")")"
    read -r x12 y12 dot12 <<<"$(t "$1(\"12 个进程\")")"
    read -r _ mx my mw mh <<<"$(t "$2")"
    shot "$3" "$((mw + 20))x$((mh + 20))+$((mx - 10))+$((my - 10))"
    if [ "$dot8" != 1 ] || [ "$dot12" != 0 ]; then
        check "the shown radio items do not carry GNOME's dot on the chosen one (8: $dot8, 12: $dot12)"
    fi
    click "$x12" "$y12"
    # shellcheck disable=SC2317 # called through wait_for
    rows12() { grep -q '^TLRows=12$' "$PREFS" 2>/dev/null; }
    wait_for 10 rows12 || check "12 个进程 did not reach the preference file: $(cat "$PREFS" 2>&1)"
    # shellcheck disable=SC2317 # called through wait_for
    closed() { [ "$(t "$1")" = closed ]; }
    wait_for 5 closed "$2" || check "the menu stayed open after the choice"
}

# The overview's dash shows the app $1 (a desktop id): its icon, and under the pointer its name,
# which must read $2; a magnified picture of both goes to $3. The desktop again at the end.
dash_check() {
    local dx dy dw dh name
    # shellcheck disable=SC2317 # called through wait_for
    overview_shown() { [ "$(t 'showOverview()')" = shown ]; }
    # shellcheck disable=SC2317 # called through wait_for
    dash_icon() { t "dashItem(\"$1\")" | grep -v '^none$'; }
    if ! wait_for 5 overview_shown; then
        check "the overview did not show"
    elif ! wait_for 10 dash_icon "$1" >"$tmp/dash"; then
        shot "$3"
        check "the overview's dash shows no icon of $1"
    else
        read -r dx dy dw dh _ <"$tmp/dash"
        point $((dx + dw / 2)) $((dy + dh / 2))
        # shellcheck disable=SC2317 # called through wait_for
        dash_named() { name=$(t "dashItem(\"$1\")" | cut -d ' ' -f 5-) && [ "$name" = "$2" ]; }
        wait_for 5 dash_named "$1" "$2" || check "under the pointer the dash names $1 '$name', not $2"
        shot "$3" "$((dw + 240))x$((dh + 80))+$((dx - 120))+$((dy - 60))"
        echo "the overview's dash shows the icon of $1 (${dw}x$dh at $dx,$dy), named $name under the pointer"
    fi
    park
    wait_for 5 overview_hidden || check "the overview stays shown"
}
