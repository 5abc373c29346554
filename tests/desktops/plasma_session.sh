# shellcheck shell=bash disable=SC2154,SC2034 # variables of the sourcing script, and for it
# The compositor and the input of the Plasma test (sourced by plasma_test.sh, which has set
# SESSION, SCALE, PLASMA (5 or 6), BUILD and $tmp): KWin on Xvfb, or KWin on a virtual output of
# SCREEN_W × SCREEN_H logical pixels at SCALE (its mode is that times SCALE), and click, hover and
# keys for the test's hand. grab_screen's pictures are in logical pixels whatever the scale.

# The daemons the bus starts (global shortcuts, the activity manager) live in this session too.
bus_takes_environment() {
    dbus-update-activation-environment --all >"$tmp/activation.log" 2>&1 ||
        fail "the session bus did not take the session's environment: $(cat "$tmp/activation.log")"
}
SCREEN_W=1280
SCREEN_H=800
# The output's mode at SCALE: e.g. 1920 × 1200 at 1.5.
MODE_W=$(awk -v w=$SCREEN_W -v s="$SCALE" 'BEGIN { printf "%d", w * s + 0.5 }')
MODE_H=$(awk -v h=$SCREEN_H -v s="$SCALE" 'BEGIN { printf "%d", h * s + 0.5 }')
# Where the panel and the menus are found: from the X windows, which are in the logical pixels
# at 100 %; else from the pictures.
FOUND_BY=pictures
# A picture in the mode's pixels is brought to the logical size the checks measure in.
to_logical() {
    local size
    size=$(identify -format '%wx%h' "$1")
    case $size in
    "${SCREEN_W}x$SCREEN_H") ;;
    "${MODE_W}x$MODE_H") mogrify -filter point -resize "${SCREEN_W}x$SCREEN_H!" "$1" ;;
    *) fail "a screenshot of $size, neither the screen's ${SCREEN_W}x$SCREEN_H nor its mode" ;;
    esac
}
if [ "$SESSION" = x11 ]; then
    SCREEN_W=$MODE_W SCREEN_H=$MODE_H start_xvfb
    FOUND_BY=windows
    bus_takes_environment
    $orphan_guard kwin_x11 >"$tmp/kwin.log" 2>&1 &
    pids+=($!)
    wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_for 30 wm_up || fail "kwin_x11 did not start: $(tail -n 5 "$tmp/kwin.log")"
    x11_grab() { import -window root "$1" && to_logical "$1"; }
    grab_with=x11_grab
    # The hand in logical pixels, the X server's in the mode's.
    to_x() { awk -v v="$1" -v s="$SCALE" 'BEGIN { printf "%d", v * s + 0.5 }'; }
    click() { # x y left|right
        xdotool mousemove "$(to_x "$1")" "$(to_x "$2")"
        sleep 0.05
        xdotool click "$([ "${3:-left}" = right ] && echo 3 || echo 1)"
    }
    hover() { xdotool mousemove "$(to_x "$1")" "$(to_x "$2")"; }
    keys() { xdotool key --delay 80 "$@"; }
    return 0
fi
# kwin_wayland carries a file capability that a container may not grant: a copy without it.
mkdir -p "$tmp/bin"
cp /usr/bin/kwin_wayland "$tmp/bin/kwin_wayland"
# KWin offers its restricted interfaces (fake input, screenshots) to the programs whose desktop
# entries name them, found through the applications menu ($XDG_MENU_PREFIX, which Plasma 6 sets)
# in the program database, which is made before KWin starts and reads it.
grant() { # name program interface(s): a desktop entry that names them
    cat >"$XDG_DATA_HOME/applications/$1.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=$1
Exec=$2
NoDisplay=true
X-KDE-Wayland-Interfaces=$3
X-KDE-DBUS-Restricted-Interfaces=$3
DESKTOP
}
grant tide-test-kwin-pointer "$BUILD/tide-test-kwin-pointer" org_kde_kwin_fake_input
"kbuildsycoca$PLASMA" >"$tmp/sycoca.log" 2>&1 || true
# The screen: KWin 5.27 on a virtual output, its pictures through KWin's screenshot interface
# (which grants spectacle). KWin 6 composites with OpenGL only on a DRM device, and without that
# has no screenshot interface: it runs in a window of a private X server the mode's size (its X11
# windowed output), whose pictures are the screen's. Either output's size is its logical size, the
# mode that times SCALE.
if [ "$PLASMA" = 5 ]; then
    kwin_output=(--virtual)
    spectacle_grab() {
        spectacle -b -n -f -o "$1" >>"$tmp/spectacle.log" 2>&1 && [ -s "$1" ] && to_logical "$1"
    }
    grab_with=spectacle_grab
else
    SCREEN_W=$MODE_W SCREEN_H=$MODE_H start_xvfb
    KWIN_X=$DISPLAY
    kwin_output=(--x11-display "$KWIN_X")
    kwin_grab() { DISPLAY=$KWIN_X import -window root "$1" && to_logical "$1"; }
    grab_with=kwin_grab
fi
WAYLAND_DISPLAY=tide-plasma-$$
export WAYLAND_DISPLAY QT_QPA_PLATFORM=wayland
unset DISPLAY
bus_takes_environment
# (KWin 6 may still not find the entry when the pointer connects: this compositor is the test's own,
# and lets it be.)
KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 $orphan_guard "$tmp/bin/kwin_wayland" "${kwin_output[@]}" --width "$SCREEN_W" --height "$SCREEN_H" \
    --scale "$SCALE" --socket "$WAYLAND_DISPLAY" --no-lockscreen >"$tmp/kwin.log" 2>&1 &
pids+=($!)
kwin_up() { [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ]; }
wait_for 30 kwin_up || fail "kwin_wayland did not start: $(tail -n 5 "$tmp/kwin.log")"
# KWin 6's windowed output is the window's pixels at scale 1 (the window is the mode's size): it is
# given SCALE as the user would, from the display settings.
if [ "$PLASMA" = 6 ] && [ "$SCALE" != 1 ]; then
    output=$(kscreen-doctor -o 2>&1 | sed 's/\x1b\[[0-9;]*m//g' | awk '/^Output:/ { print $3; exit }')
    kscreen-doctor "output.$output.scale.$SCALE" >"$tmp/kscreen.log" 2>&1 ||
        fail "kscreen-doctor did not set the scale of $output: $(tail -n 3 "$tmp/kscreen.log")"
fi
TIDE_ENV+=(QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY="$WAYLAND_DISPLAY")
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
