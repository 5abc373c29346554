#!/usr/bin/env bash
# Tide's panel as Orca speaks it. The real tide on a private X server with a tray (Xvfb + trayer)
# and a private session bus with the accessibility bus; Orca starts after tide, as a reader turned
# on later in the day does, with its speech written to its debug log (no synthesizer is needed:
# Orca logs every utterance). The panel is opened with `tide --toggle`; Orca's flat review then
# reads it line by line from the top, and the keyboard walks it: Tab into the list, Down, Shift+F10
# for the row's menu (it opens on 复制进程名), Return, Escape. The test checks that every figure is
# spoken once, with its caption, and that the walk is spoken; it prints what Orca said.
#
# Needs Xvfb, trayer, xdotool, xwininfo, dbus-daemon, at-spi2-core and orca (install-deps
# --desktops); skips without.
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"
HERE=$(cd "$(dirname "$0")/.." && pwd)
PYTHON=/usr/bin/python3 # Orca is a program of the system's Python
ORCA=/usr/bin/orca

# shellcheck source=tests/e2e_base.sh
source "$HERE/e2e_base.sh"
private_instance "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$HERE/e2e_lib.sh"
# shellcheck source=tests/session_lib.sh
source "$HERE/session_lib.sh"

for tool in Xvfb trayer xdotool xwininfo dbus-daemon dbus-send; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps --test)"
done
[ -x "$ORCA" ] || skip "Orca is not installed (scripts/install-deps --desktops)"
[ -x "$BIN" ] || fail "$BIN is not built"

start_xvfb
start_accessibility_bus
start_trayer
TIDE_BUS=$BUS
start_tide "$tmp/tide.log"
tide=$started
wait_for 20 find_icon "$tide" >/dev/null || fail "no tray icon appeared: $(cat "$tmp/tide.log")"

# --- Orca, after tide. Its debug log is written line by line (Orca buffers it otherwise), and
# neither speech nor braille needs a device: what it says is logged all the same.
cat >"$tmp/line-buffered-log.py" <<'PY'
import builtins, runpy, sys
log = sys.argv[sys.argv.index("--debug-file") + 1]
plain_open = builtins.open
def line_buffered(file, mode="r", *args, **kwargs):
    if file == log:
        return plain_open(file, mode, 1)
    return plain_open(file, mode, *args, **kwargs)
builtins.open = line_buffered
sys.argv[0] = sys.argv.pop(1)
runpy.run_path(sys.argv[0], run_name="__main__")
PY
LOG=$tmp/orca.debug
: >"$LOG"
$orphan_guard env -i PATH="$PATH" LANG=C.UTF-8 HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/runtime" \
    DISPLAY="$DISPLAY" DBUS_SESSION_BUS_ADDRESS="$BUS" \
    "$PYTHON" "$tmp/line-buffered-log.py" "$ORCA" --disable braille --debug-file "$LOG" >"$tmp/orca.log" 2>&1 &
orca=$!
pids+=("$orca")
wait_for 30 grep -q "SPEECH OUTPUT: 'Screen reader on" "$LOG" ||
    fail "Orca did not start: $(tail -20 "$tmp/orca.log")"

# What Orca said, one utterance a line.
spoken() { sed -En "s/^[0-9:.]* - SPEECH OUTPUT: '(.*)'( voice=[a-z]+)? ?[[{].*$/\1/p" "$LOG"; }
said=0
# Presses the keys (xdotool names) and waits until Orca has said something and then nothing more
# for half a second; the new utterances go to $tmp/said.
press() {
    local before settled=0 last=-1 now
    before=$(spoken | wc -l)
    pressed_at=$before
    xdotool key --clearmodifiers "$@"
    for _ in $(seq 60); do
        sleep 0.1
        now=$(spoken | wc -l)
        if [ "$now" -gt "$before" ] && [ "$now" -eq "$last" ]; then
            settled=$((settled + 1))
            [ "$settled" -lt 5 ] || break
        else
            settled=0
        fi
        last=$now
    done
    spoken | tail -n +"$((before + 1))" >"$tmp/said"
    said=$(wc -l <"$tmp/said")
}

# --- the panel, opened from the keyboard's command
before=$(spoken | wc -l)
start_tide "$tmp/toggle.log" --toggle
wait_for 10 panel_of "$tide" >/dev/null || fail "the panel did not open: $(cat "$tmp/tide.log")"
# shellcheck disable=SC2317 # called through wait_for
spoke_since() { [ "$(spoken | wc -l)" -gt "$1" ]; }
wait_for 10 spoke_since "$before" ||
    fail "Orca said nothing when the panel opened"
sleep 1
echo "Orca, as the panel opens:"
spoken | tail -n +"$((before + 1))" | sed 's/^/  /'
spoken | tail -n +"$((before + 1))" | grep -qx "潮汐\." || fail "the window's name 潮汐 was not spoken"

# --- flat review: from the top (Orca+KP_7), then line by line (KP_9) to the last line
review() { # into the file $1
    press Insert+KP_Home
    cat "$tmp/said" >"$1"
    for _ in $(seq 30); do
        press KP_Prior
        [ "$said" -gt 0 ] || break
        cat "$tmp/said" >>"$1"
        grep -q "设置" "$tmp/said" && break
    done
}
review=$tmp/review
review "$review"
echo "Orca's flat review, line by line from the top:"
sed 's/^/  /' "$review"

SIZE='[0-9.]+ (B|KB|MB|GB|TB)'
failures=0
expect() { # pattern what — one line of the review reads the whole pattern
    if ! grep -Eqx "$1" "$review"; then
        echo "FAIL: $2 was not spoken as /$1/" >&2
        failures=$((failures + 1))
    fi
}
expect "潮汐 内存压力：(正常|警告|严重)" "the title and the pressure chip"
expect "已使用 $SIZE，共 $SIZE" "the used memory with its total (once)"
expect "内存构成：App 内存 $SIZE，联动内存 $SIZE，被压缩 $SIZE，已缓存文件 $SIZE" "the composition bar"
for caption in "App 内存" "联动内存" "被压缩" "已缓存文件"; do
    expect "$caption $SIZE" "the legend's $caption with its value (once)"
done
expect "内存使用率 progress bar [0-9]+ percent\.?" "the usage as a progress bar with its value"
expect "内存使用率历史，最近 [0-9 分钟秒]+：当前 [0-9]+%，最低 [0-9]+%，最高 [0-9]+%" "the history"
expect "内存压力 [0-9]+%" "the pressure"
expect "交换空间 \S.*" "the swap"
expect "CPU 总占用 [0-9.]+%" "the CPU load"
expect "内存占用 能耗" "the tabs"
expect ".+，$SIZE" "a process row"
expect "打开活动监视器 \S+ 设置" "the footer's buttons"

# Read again after 200 MB more are in use, the figures must be new (Orca keeps what it read;
# tide tells it of changed names every few seconds, and Orca reads afresh as the focus moves).
$orphan_guard "$PYTHON" -c 'import time; b = b"x" * (200 << 20); time.sleep(20)' &
grower=$!
pids+=("$grower")
sleep 7 # a refresh or two, and the next time a reader is told of changed names
# Orca keeps its flat review of a window until the focus moves: it moves there and back.
press Tab
press shift+Tab
review "$tmp/review-again"
kill "$grower" 2>/dev/null || true
app() { grep -m1 "^App 内存 " "$1" || true; }
echo "read again 7 s later, with 200 MB more in use: $(app "$tmp/review-again") (first $(app "$review"))"
if [ "$(app "$review")" = "$(app "$tmp/review-again")" ]; then
    echo "FAIL: Orca read the same App 内存 figure again: it was not told of the change" >&2
    failures=$((failures + 1))
fi

# --- the keyboard: into the list, a row, the row's menu, 复制进程名, and closing
walk=$tmp/walk
: >"$walk"
step() { # keys, the pattern one of Orca's utterances must read, and what it is
    press "$1"
    # (On a busy machine Orca may pause for longer than press waits between the key's echo and
    # what the key brought: up to 3 s more for it.)
    # shellcheck disable=SC2317 # called through wait_for
    heard() { spoken | tail -n +"$((pressed_at + 1))" >"$tmp/said" && grep -Eqx "$1" "$tmp/said"; }
    wait_for 3 heard "$2" || true
    printf '  %-10s → %s\n' "$1" "$(paste -sd '|' "$tmp/said" | sed 's/|/ | /g')" >>"$walk"
    if ! grep -Eqx "$2" "$tmp/said"; then
        echo "FAIL: after $1, $3 was not spoken as /$2/" >&2
        failures=$((failures + 1))
    fi
}
step Tab ".+，$SIZE\." "the first row"
step Down ".+，$SIZE\." "the second row"
step shift+F10 "复制进程名\." "the row's menu, on its first command"
step Return ".+，$SIZE\." "the row again, the menu closed"
xdotool key Escape
echo "the keyboard walk, as Orca speaks it:"
cat "$walk"
wait_for 5 no_panel "$tide" || fail "the panel is still open after Escape"
alive "$tide" || fail "tide ended: $(cat "$tmp/tide.log")"
kill -INT "$orca" # Orca ends on an interrupt, saying so
# shellcheck disable=SC2317 # called through wait_for
orca_ended() { ! alive "$orca"; }
wait_for 10 orca_ended || true
[ "$failures" -eq 0 ] || fail "$failures of Orca's readings were wrong (above)"
echo "Orca: every figure spoken with its caption, once; the keyboard walk spoken"
