#!/usr/bin/env bash
# Runs the real tide in GNOME Shell with Tide's own extension (monitor@tide.dev, from the build)
# and the AppIndicator extension both on, and goes through it the way a user does, with real
# pointer clicks:
#   - the button shows in the top bar: the gauge picture and the figure, which is the title Tide
#     gives and agrees with the memory in use (/proc/meminfo); its accessible name is Tide's tool
#     tip; no second icon of Tide's (the AppIndicator extension shows none while the button is there);
#   - a few clicks timed, the panel's and the settings menu's (for scripts/bench-click);
#   - one click opens the panel within 20 px under the button; a click on the 能耗 tab works; a
#     click on the desktop, on the top bar, or on the button again closes it, as Escape does;
#   - a right click shows the settings menu under the button, and 12 个进程 reaches the
#     preference file;
#   - Tide quits: the button goes; Tide starts: it comes back;
#   - the extension turned off: Tide's item shows in the AppIndicator extension instead, and with
#     that off too Tide shows its window; turned on again, the button is back and the item gone.
# Each check that fails is reported and the test goes on where it can; the status is 1 if any
# failed. The session (buses, the shell, pictures in $TIDE_E2E_SHOTS as
# gnome-extension-<session>-*.png, tide) is gnome_session.sh's.
#
# Usage: gnome_extension_test.sh BUILD_DIR x11|wayland
GNOME_TEST=gnome-extension
GNOME_EXTENSIONS=(monitor@tide.dev ubuntu-appindicators@ubuntu.com)
# shellcheck source=tests/desktops/gnome_session.sh
source "$(dirname "$0")/gnome_session.sh"

key() { # a key by its X keysym name, on the keyboard tide has
    if [ "$SESSION" = x11 ]; then xdotool key "$1"; else t "key(\"$1\")" >/dev/null; fi
}
titled() { windows | tr ';' '\n' | grep -q ' 潮汐$'; }
button_shown() { [ -n "$(t 'tideButton()')" ]; }
button_gone() { [ -z "$(t 'tideButton()')" ]; }
indicator_shown() { [ -n "$(t 'icon()')" ]; }
no_indicator() { [ "$(t 'indicatorCount()')" = 0 ]; }
item_title() {
    gdbus call --session --dest dev.tide.monitor --object-path /StatusItem \
        --method org.freedesktop.DBus.Properties.Get dev.tide.monitor.StatusItem Title 2>/dev/null |
        sed -E "s/^\(<'(.*)'>,\)$/\1/"
}

# --- 1. the button: the gauge and the figure, Tide's title, the tool tip as its name
wait_for 30 button_shown || { shot 1-no-button; fail "no button of Tide's extension in the top bar: $(tail -n 5 "$tmp/tide.log")"; }
sleep 2 # the AppIndicator extension would have shown an item of Tide's by now
read -r BX BY BW BH IX IY IW IH <<<"$(t 'tideButton()')"
echo "button: ${BW}x$BH at $BX,$BY, picture ${IW:-none}x${IH:-} at ${IX:-},${IY:-}; label: $(t 'tideLabel()')"
((BY >= 0 && BY + BH <= BAR_H)) || check "the button ($BX,$BY ${BW}x$BH) is not in the top bar"
no_indicator || check "Tide shows a second icon beside its button: $(t 'indicatorCount()') AppIndicator item(s)"
titled && check "tide shows its window beside the button (windows: $(windows))"
shot 1-button "$((BW + 160))x$BAR_H+$((BX - 80))+0"
# The whole screen too, with where the button and the bar are, for scripts/readme-bar-shots.
if [ -n "$shots" ]; then
    cp "$tmp/pictures/1-button.png" "$shots/$GNOME_TEST-$SESSION-1-screen.png"
    echo "$BX $BY $BW $BH 0 0 $SCREEN_W $BAR_H" >"$shots/$GNOME_TEST-$SESSION-1-screen.txt"
fi
if [ -n "${IH:-}" ]; then
    colours=$(convert "$tmp/pictures/1-button.png" -crop "${IW}x$IH+$IX+$IY" +repage -unique-colors \
        -format '%w' info:)
    ((colours > 4)) || check "the button's picture has $colours colours: nothing drawn"
else
    check "the button shows no picture (the gauge)"
fi
# The label is the title Tide gives (read at once, as both follow the same tick) ...
label_is_title() { [ "$(t 'tideLabel()')" = "$(item_title)" ]; }
wait_for 5 label_is_title || check "the button's label '$(t 'tideLabel()')' is not Tide's title '$(item_title)'"
# ... and the percentage of memory in use: MemTotal less MemAvailable, within 3 points.
label=$(t 'tideLabel()')
if [[ $label =~ ^([0-9]+)%$ ]]; then
    figure=${BASH_REMATCH[1]}
    expected=$(awk '/^MemTotal:/ { t = $2 } /^MemAvailable:/ { a = $2 }
        END { printf "%d", (t - a) * 100 / t + 0.5 }' /proc/meminfo)
    diff=$((figure > expected ? figure - expected : expected - figure))
    ((diff <= 3)) || check "the button shows $figure%, but $expected% of the memory is in use"
    echo "the figure: $figure% (memory in use: $expected%)"
else
    check "the button's label '$label' is not a percentage (the default display is the gauge and the percentage)"
fi
name=$(t 'tideAccessibleName()')
[[ $name == *内存* ]] || check "the button's accessible name is not Tide's tool tip: '$name'"

ICX=$((BX + BW / 2))
ICY=$((BY + BH / 2))

# --- the click's latency: TIDE_E2E_CLICK_OPENINGS (default 2) openings after a first one, of the
# panel and of the settings menu, each from the press as the shell had it: the panel to the damage
# report that completes its window's first picture on the X server Tide draws on (bench/x11_click
# watch), the menu (the shell's own) to the shell's first frame that drew it. Printed as
# "click times, panel: MS ..." and "click times, menu: MS ..." for scripts/bench-click, which
# sets TIDE_E2E_CLICK_SETTLE (s, default 0): how long after the button showed the first comes.
watcher=$BUILD/bench/x11_click
press() { # x y button: stamped now on Wayland
    if [ "$SESSION" = x11 ]; then click "$@"; else t "press($1, $2, $3)" >/dev/null; fi
}
elapsed() { # $elapsed: from the press timing() read to $1 (X's 32-bit milliseconds), or none
    local press
    read -r press _ <<<"$(t 'timing()')"
    elapsed=none
    [ "$press" = - ] || [ "$1" = - ] || elapsed=$((($1 - press) & 0xffffffff))
}
menu_closed() { [ "$(t 'tideMenuState()')" = closed ]; }
time_panel() {
    env "${watch_env[@]}" "$watcher" watch 322 >"$tmp/watch.out" 2>>"$tmp/watch.log" &
    local w=$! shown
    # shellcheck disable=SC2317 # called through wait_for
    watching() { grep -q ready "$tmp/watch.out"; }
    wait_for 5 watching || { kill "$w"; elapsed=none; return; }
    t 'armTiming()' >/dev/null
    press "$ICX" "$ICY" 1
    wait "$w" || true
    shown=$(sed -n 2p "$tmp/watch.out")
    elapsed "${shown:--}"
    sleep 0.3
    click 300 500
    park
    wait_for 5 panel_closed || check "the timed panel did not close on a click on the desktop"
}
time_menu() {
    local menu=-
    t 'armTiming()' >/dev/null
    press "$ICX" "$ICY" 3
    # shellcheck disable=SC2317 # called through wait_for
    menu_drawn() { read -r _ menu <<<"$(t 'timing()')" && [ "$menu" != - ]; }
    wait_for 5 menu_drawn || true
    elapsed "${menu:--}"
    sleep 0.3
    key Escape
    wait_for 5 menu_closed || check "the timed menu did not close on Escape"
}
park
if [ "$qpa" != xcb ] || [ ! -x "$watcher" ]; then
    echo "NOTE: the click is not timed (tide on $qpa; $watcher built: $([ -x "$watcher" ] && echo yes || echo no))"
else
    sleep "${TIDE_E2E_CLICK_SETTLE:-0}"
    watch_env=()
    [ "$SESSION" = x11 ] || watch_env=(XAUTHORITY="$(t 'env("XAUTHORITY")')")
    for kind in panel menu; do
        times=()
        for _ in $(seq 0 "${TIDE_E2E_CLICK_OPENINGS:-2}"); do
            "time_$kind"
            times+=("$elapsed")
            sleep 0.7
        done
        echo "click times, $kind: ${times[*]}"
        [[ " ${times[*]} " != *" none "* ]] || check "a timed click showed no $kind: ${times[*]}"
    done
fi

# --- 2. one click: the panel within 20 px under the button
park
reopen() {
    panel_closed && sleep 0.5
    panel_closed || return 0
    click "$ICX" "$ICY"
    wait_for 10 panel_window >/dev/null && park
}
if reopen; then
    sleep 1 # the process list fills in
    read -r PX PY PW PH focused <<<"$(panel_window)"
    shot 2-panel
    below=$((PY - BY - BH))
    echo "one click: the panel ${PW}x$PH at $PX,$PY (focused: $focused), $below px under the button"
    ((below >= 0 && below <= 20)) || check "the panel's top ($PY) is $below px under the button (bottom $((BY + BH))), not within 20 px"
    ((PX <= BX + BW && PX + PW >= BX)) || check "the panel ($PX..$((PX + PW))) is not under the button ($BX..$((BX + BW)))"
    ((PX >= 0 && PX + PW <= SCREEN_W && PY + PH <= SCREEN_H)) || check "the panel ($PX,$PY ${PW}x$PH) leaves the screen"
    [ "$focused" = 1 ] || check "the panel does not have the focus"
    energy_tab_check
    # --- 3. closing: a click on the desktop, the top bar, the button again; Escape; another window
    close_by desktop 300 500 || true
    reopen || check "a click on the button did not open the panel again"
    sleep 0.5
    close_by top-bar $((BX - 300)) $((BAR_H / 2)) || true
    reopen || check "a click on the button did not open the panel again"
    sleep 0.5
    close_by "the button" "$ICX" "$ICY" || true
    reopen || check "a click on the button did not open the panel again"
    sleep 0.5
    key Escape
    if wait_for 5 panel_closed; then echo "Escape closed the panel"; else check "Escape did not close the panel"; fi
    other_window_close_check
else
    shot 2-no-panel
    check "a click on the button opened no panel (windows: $(windows))"
fi
panel_closed || key Escape
wait_for 5 panel_closed || true

# --- 4. a right click: the settings menu under the button, as a menu of the shell's; 进程列表长度
# → 12 个进程 with the pointer, and Escape closes it
menu_open() { [ "$(t 'tideMenuState()')" != closed ]; }
sleep 0.5
click "$ICX" "$ICY" 3
if wait_for 5 menu_open; then
    sleep 0.3
    read -r _ MX MY MW MH <<<"$(t 'tideMenuState()')"
    shot 3-menu "$((MW + 40))x$((MH + 40))+$((MX - 20))+$((MY - 20))"
    echo "a right click: the settings menu ${MW}x$MH at $MX,$MY"
    below=$((MY - BY - BH))
    ((below >= -4 && below <= 20 && MX <= BX + BW && MX + MW >= BX)) ||
        check "the settings menu ($MX,$MY ${MW}x$MH) is not under the button ($BX,$BY ${BW}x$BH)"
    panel_closed || check "the panel shows with the menu"
    choose_twelve_rows tideItem 'tideMenuState()' 3-rows &&
        echo "12 个进程 chosen: $(grep '^TLRows' "$PREFS" 2>/dev/null || echo 'not stored')"
    park
    # Opened again, the menu shows the choice; Escape closes it.
    click "$ICX" "$ICY" 3
    if wait_for 5 menu_open; then
        sleep 0.3
        read -r LX LY _ <<<"$(t 'tideItem("进程列表长度")') x x"
        [ "$LX" = none ] || click "$LX" "$LY"
        wait_for 5 submenu_open tideItem || true
        read -r _ _ dot12 <<<"$(t 'tideItem("12 个进程")')"
        [ "$dot12" = 1 ] || check "opened again, the menu does not show 12 个进程 chosen (ornament: $dot12)"
        key Escape
        sleep 0.3
        menu_open && key Escape # the first Escape may close the submenu only
        if wait_for 5 menu_closed; then echo "Escape closed the menu"; else check "Escape did not close the settings menu"; fi
    else
        check "a second right click showed no menu"
    fi
else
    shot 3-no-menu
    check "a right click on the button showed no menu (windows: $(windows))"
fi
park

# --- 5. Tide quits: the button goes; Tide starts again: it comes back
kill "$tide"
wait_for 10 button_gone || check "the button stays after tide quit"
no_indicator || check "an item of Tide's is in the top bar after it quit"
sleep 1
start_tide "$tmp/tide-again.log"
tide=$started
if wait_for 30 button_shown; then
    echo "tide quit: the button went; tide started again: it came back"
else
    check "the button did not come back when tide started again: $(tail -n 5 "$tmp/tide-again.log")"
fi

# --- 6. the extension off: Tide's item in the AppIndicator extension; then no tray at all: its
# window; the extension on again: the button, and no item
enable_extensions ubuntu-appindicators@ubuntu.com
if wait_for 30 indicator_shown; then
    button_gone || check "the button stays with the extension off"
    shot 4-item
    echo "the extension off: Tide's item shows in the AppIndicator extension"
else
    check "with Tide's extension off no item of Tide's shows in the AppIndicator extension"
fi
enable_extensions
wait_for 30 titled || check "with no tray extension on no window titled 潮汐 appeared (windows: $(windows))"
enable_extensions monitor@tide.dev ubuntu-appindicators@ubuntu.com
if wait_for 30 button_shown; then
    window_gone() { ! titled; }
    wait_for 10 window_gone || check "tide's window stays beside the button"
    sleep 2
    no_indicator || check "with the extension on again Tide shows an item as well as its button"
    echo "the extension on again: the button, and no item"
else
    check "with the extension on again the button did not come back"
fi

# --- the idle cost (with TIDE_E2E_IDLE_SECONDS=N): CPU time of tide and of gnome-shell over N
# seconds each with Tide's button, with Tide's item in the AppIndicator extension instead, and
# with no Tide at all (the shell's own share)
cpu_ms() { # the CPU time (ms) a process has used so far
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%d", ($12 + $13) * 1000 / hz }' "/proc/$1/stat"
}
idle_phase() { # name: "tide ms/min, gnome-shell ms/min" over the phase
    local t0 s0 tide0=0 tide1=0
    sleep 5 # settled
    s0=$(cpu_ms "$shell")
    alive "$tide" && tide0=$(cpu_ms "$tide")
    t0=$(date +%s%N)
    sleep "$TIDE_E2E_IDLE_SECONDS"
    local elapsed_ms=$((($(date +%s%N) - t0) / 1000000))
    alive "$tide" && tide1=$(cpu_ms "$tide")
    local shell_ms=$(($(cpu_ms "$shell") - s0))
    echo "idle, $1: tide $(((tide1 - tide0) * 60000 / elapsed_ms)) ms/min, gnome-shell $((shell_ms * 60000 / elapsed_ms)) ms/min"
}
if [ -n "${TIDE_E2E_IDLE_SECONDS:-}" ]; then
    park
    idle_phase "Tide's button"
    enable_extensions ubuntu-appindicators@ubuntu.com
    wait_for 30 indicator_shown || check "no item in the AppIndicator extension for the idle measure"
    park
    idle_phase "Tide's item in the AppIndicator extension"
    enable_extensions monitor@tide.dev ubuntu-appindicators@ubuntu.com
    wait_for 30 button_shown || true
    kill "$tide"
    wait_for 10 button_gone || true
    idle_phase "no Tide (the extension on)"
    start_tide "$tmp/tide-again.log"
    tide=$started
    wait_for 30 button_shown || check "the button did not come back after the idle measure"
fi

if [ -n "${TIDE_E2E_HOLD:-}" ]; then # for a look from outside (the session bus is in $tmp/bus)
    echo "$DBUS_SESSION_BUS_ADDRESS" >"$tmp/bus"
    echo "holding the session for $TIDE_E2E_HOLD s: $tmp" >&2
    sleep "$TIDE_E2E_HOLD"
fi
alive "$tide" || check "tide ended: $(tail -n 5 "$tmp/tide-again.log")"
finish_checks
