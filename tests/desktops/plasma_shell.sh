# shellcheck shell=bash disable=SC2154,SC2153,SC2034 # variables of the sourcing script, and for it
# Plasma in the Plasma test's session (sourced by plasma_test.sh, after plasma_session.sh): kded
# and plasmashell with its default layout, its bar (BAR_EDGE, BAR_THICK, BAR = "x y w h"), the tray
# told to show every item, the record of what Plasma tells Tide's item (last_call), and the bar
# settled in pictures within one minute of the clock; then the helpers that find Tide's panel
# (PX PY PW PH) and check where it is.
$orphan_guard "kded$PLASMA" >"$tmp/kded.log" 2>&1 &
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


# ---------------------------------------------------------------- finding the panel
# Sets PX PY PW PH: on X11 from its window (322 wide), on Wayland from the pictures: what differs
# from the closed screen outside the bar (a layer surface is in no window list).
outside_bar() { # the screen outside the bar, for screen.py diff
    if [ "$BAR_EDGE" = bottom ]; then echo "0 0 $SCREEN_W $BY"; else echo "0 $BH $SCREEN_W $((SCREEN_H - BH))"; fi
}
panel_found() {
    if [ "$FOUND_BY" = windows ]; then
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
    if [ "$FOUND_BY" = windows ]; then
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
    # Off the bar's edge as seen: KWin 6 keeps the bar's reserved area, and the panel is beside it.
    local gap
    if [ "$BAR_EDGE" = bottom ]; then gap=$((BAR_SEEN - PY - PH)); else gap=$((PY - BAR_SEEN)); fi
    echo "the panel is $dx px beside and $dy px away from the icon, $gap px off the bar's edge"
    if [ "$SESSION" = wayland ] && [ "$PLASMA" = 6 ]; then
        ((gap >= 0 && gap <= 4)) || flaw "the panel is $gap px off the bar's edge (row $BAR_SEEN), not 0 to 4"
    fi
}

