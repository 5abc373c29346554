# shellcheck shell=bash
# Shared by the end-to-end scripts that run the real tide on a private X server: the temporary
# directory and the programs that end with the script, waiting, screenshots, a private Xvfb and a
# tray on it, a clean start of tide, and finding its windows. Source it after private_instance; it expects
# $BIN (the tide executable). A script that made its directory beforehand (for a
# session it starts as another user) names it in $TIDE_E2E_TMP; it goes at the end all the same.

# shellcheck source=tests/e2e_base.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_base.sh"

tmp=${TIDE_E2E_TMP:-}
[ -n "$tmp" ] || tmp=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    sleep 0.2
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

shots=${TIDE_E2E_SHOTS:-}
[ -z "$shots" ] || mkdir -p "$shots"
# The whole screen into the PNG file $1: from the X server, or with the command in grab_with
# (given the file name) where the session has no X server to read, as on Wayland.
grab_screen() {
    if [ -n "${grab_with:-}" ]; then
        $grab_with "$1"
    else
        import -window root "$1"
    fi
}
shot() { # name [crop geometry] — a screenshot of the whole screen, or a magnified part of it
    [ -n "$shots" ] || return 0
    if [ $# -gt 1 ]; then
        if grab_screen "$tmp/shot.png"; then
            convert "$tmp/shot.png" -crop "$2" +repage -scale 300% "$shots/$1.png" || true
        fi
    else
        grab_screen "$shots/$1.png" || true
    fi
}

# The programs started here end with this script, even when it is killed outright (a test
# timeout): they get SIGTERM when their parent dies.
orphan_guard=
if setpriv --pdeathsig TERM true 2>/dev/null; then orphan_guard="setpriv --pdeathsig TERM"; fi


# (An exited child stays a zombie until waited for: kill -0 would still find it.)
alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]
}

# A private X server of 1280 × 800; exports DISPLAY. It is used once it answers a client, not
# once it has announced its display; one that never answers (its log and the socket folder are
# printed) is started once more. Its socket is in the test's own /tmp where it has one
# (private_tmp); nothing is removed here, and what the server leaves there goes with that /tmp.
# -noreset: a server that resets when its last client leaves (the check that it answers, say)
# drops a client that connected meanwhile, and that client's start fails ("could not connect to
# display").
SCREEN_W=1280
SCREEN_H=800
start_xvfb() {
    local attempt
    for attempt in 1 2; do
        : >"$tmp/display"
        $orphan_guard Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp -noreset \
            3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
        xvfb=$!
        pids+=("$xvfb")
        # shellcheck disable=SC2317 # called through wait_for
        xvfb_ready() { grep -q '^[0-9]' "$tmp/display"; }
        wait_for 15 xvfb_ready || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
        DISPLAY=":$(head -n 1 "$tmp/display")"
        export DISPLAY
        unset WAYLAND_DISPLAY
        wait_for 10 bash -c 'timeout 5 xwininfo -root >/dev/null 2>&1' && return 0
        echo "Xvfb on $DISPLAY (attempt $attempt) does not answer: $(cat "$tmp/xvfb.log")" \
            "$(ls -la /tmp/.X11-unix 2>&1)" >&2
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    done
    fail "no private X server answers"
}

# A system tray along the top of the private X server (trayer); sets $trayer to its pid.
start_trayer() {
    $orphan_guard trayer --edge top --align right --widthtype request --height 24 \
        --SetDockType true --transparent false >"$tmp/trayer.log" 2>&1 &
    trayer=$!
    pids+=("$trayer")
    # trayer's panel window appears once it owns the tray selection.
    wait_for 10 bash -c 'timeout 5 xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"' ||
        fail "trayer did not start: $(cat "$tmp/trayer.log")"
}

# tide in a clean environment: its own home and configuration, no TL_* variables, and the
# session bus at $TIDE_BUS (none by default). TIDE_ENV adds variables, or replaces these (an
# array of NAME=value). It runs on Qt's xcb platform; an empty TIDE_QPA=() leaves the choice to
# tide. Sets $started to the pid; the log goes to $1, and the arguments after it go to tide.
mkdir -p "$tmp/home" "$tmp/config" "$tmp/runtime"
chmod 700 "$tmp/runtime"
APP_ID=dev.tide.monitor
# shellcheck disable=SC2034 # for the scripts that source this file
PREFS="$tmp/config/$APP_ID.conf"
TIDE_BUS="unix:path=$tmp/no-bus"
TIDE_ENV=()
TIDE_QPA=(QT_QPA_PLATFORM=xcb)
start_tide() {
    local log=$1
    shift
    $orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" \
        XDG_RUNTIME_DIR="$tmp/runtime" DBUS_SESSION_BUS_ADDRESS="$TIDE_BUS" \
        DISPLAY="${DISPLAY:-}" "${TIDE_QPA[@]}" "${TIDE_ENV[@]}" "$BIN" "$@" >"$log" 2>&1 &
    started=$!
    pids+=("$started")
}

# "id x y w h" of the viewable window of a process titled 潮汐 and as wide as the panel: the
# panel shown as an ordinary window when no tray runs.
titled_window_of() {
    local id
    for id in $(timeout 10 xdotool search --pid "$1" --name '^潮汐$' 2>/dev/null); do
        windows_of "$1" | awk -v id="$id" '$1 == id && $4 == 322 { print; found = 1 }
            END { exit !found }' && return 0
    done
    return 1
}

# The windows of a process: "id x y width height" for each viewable one.
windows_of() {
    local id info
    for id in $(timeout 10 xdotool search --pid "$1" 2>/dev/null); do
        info=$(timeout 10 xwininfo -id "$id" 2>/dev/null) || continue
        grep -q "Map State: IsViewable" <<<"$info" || continue
        awk -v id="$id" '
            /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
            /Width:/ { w = $NF } /Height:/ { h = $NF }
            END { print id, x, y, w, h }' <<<"$info"
    done
}
# The panel (322 wide), shown as a popover or as a window.
panel_of() { windows_of "$1" | awk '$4 == 322 { print; found = 1 } END { exit !found }'; }
no_panel() { ! panel_of "$1" >/dev/null; }

# The tray icon: a small window of the process $1 that the tray embeds (its parent is not the
# root); "id x y w h".
find_icon() {
    local id x y w h parent
    while read -r id x y w h; do
        ((w > 1 && w <= 64 && h <= 64)) || continue
        parent=$(timeout 10 xwininfo -children -id "$id" | awk '/Parent window id:/ { print $4 }')
        [ -n "$parent" ] || continue
        [ "$parent" != "$(timeout 10 xwininfo -root | awk '/Window id:/ { print $4; exit }')" ] || continue
        echo "$id $x $y $w $h"
        return 0
    done < <(windows_of "$1")
    return 1
}

# lxqt-panel's configuration under $1 (its XDG_CONFIG_HOME): one panel of PANEL_H pixels at the
# bottom with only the StatusNotifierItem host, at its right end.
PANEL_H=28
write_lxqt_panel_config() {
    mkdir -p "$1/lxqt"
    cat >"$1/lxqt/panel.conf" <<'CONF'
[General]
__userfile__=true
panels=panel1

[panel1]
plugins=statusnotifier
position=Bottom
panelSize=28
iconSize=22

[statusnotifier]
alignment=Right
type=statusnotifier
CONF
}
# Tide's icon in that panel, found in the panel's pixels: what it draws at its right end (sets
# IX IY IW IH and the centre ICX ICY).
# shellcheck disable=SC2034 # for the scripts that source this file
find_drawn_icon() {
    import -window root "$tmp/screen.png" 2>/dev/null || return 1
    local geometry
    geometry=$(convert "$tmp/screen.png" -crop "${SCREEN_W}x$PANEL_H+0+$((SCREEN_H - PANEL_H))" +repage \
        -fuzz 8% -trim -format '%w %h %X %Y' info: 2>/dev/null) || return 1
    read -r IW IH IX IY <<<"$geometry"
    ((IW >= 8 && IW <= 40 && IH >= 8)) || return 1
    IX=$((IX))
    IY=$((IY + SCREEN_H - PANEL_H))
    ICX=$((IX + IW / 2))
    ICY=$((IY + IH / 2))
}
