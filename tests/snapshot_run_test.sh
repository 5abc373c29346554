#!/usr/bin/env bash
# Runs the real tide in snapshot mode without a display, the way a newcomer or CI does:
# `TL_SNAPSHOT=dir tide` with no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM. Checks the five
# files, their order and timing, the panel pictures' pixels and the two icons; then a missing
# directory (nothing written, status 0) and an empty value (the working directory). Beside the
# first run, one inside a desktop session (an X server, a session bus with a tray host, the
# session naming Qt's X11 platform): the same pictures, and nothing shown or said to the desktop.
# Then the README's pictures from their fixed sample (tide-render-panel): the same bytes on a
# second run, panels of the snapshots' size, and a damaged sample refused with nothing written.
#
# Needs Python 3, and Xvfb, lxqt-panel, dbus-run-session, dbus-monitor, dbus-send and xwininfo
# for the session (scripts/install-deps --test installs them).
set -euo pipefail
BIN="$(cd "$1" && pwd)/tide"
RENDER="$(cd "$1" && pwd)/tide-render-panel"
SAMPLE="$(cd "$(dirname "$0")/.." && pwd)/docs/readme-sample.json"

# A Tide started here must not reach the one in the user's tray, nor the user's session bus.
# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
private_instance "$0" "$@"
private_session_bus "$0" "$@"
# shellcheck source=tests/e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

for tool in python3 Xvfb lxqt-panel dbus-monitor dbus-send xwininfo; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps)"
done
[ -x "$BIN" ] || fail "$BIN is not built"

# Runs tide in snapshot mode in the working directory $1 with TL_SNAPSHOT=$2, without a display
# (the variables after it add to the environment); at most 30 s. The output goes to $1.log.
snapshot() {
    local dir=$1 out=$2 unset_tl=() var
    shift 2
    for var in $(compgen -e | grep '^TL_' || true); do unset_tl+=(-u "$var"); done
    (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${unset_tl[@]}" \
        HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_RUNTIME_DIR="$tmp/runtime" \
        TL_SNAPSHOT="$out" "$@" \
        timeout 30 "$BIN" >"$dir.log" 2>&1)
}
files=(panel-light.png panel-dark.png panel-energy.png icon-normal.png icon-critical.png)

# Checks the pictures in $1 written by a run from $2 to $3 (seconds since the epoch); with $4, the
# directory of an earlier run whose pictures these must match in size.
check_pictures() {
    python3 - "$1" "$2" "$3" "${4:-}" "${files[@]}" <<'PY'
import os, struct, sys, zlib

out, start, end, reference = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
names = sys.argv[5:]

def fail(message):
    sys.exit("FAIL: " + message)

def read_png(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit, non-interlaced PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(f"{path} is not a PNG")
    pos, idat, palette, trns = 8, b"", b"", b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            idat += body
    if depth != 8 or interlace or ctype not in (0, 2, 3, 4, 6):
        fail(f"{path}: depth {depth}, colour type {ctype}, interlace {interlace}")
    n = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    raw, stride, prev, rows = zlib.decompress(idat), w * n, bytearray(w * n), []
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b, c = prev[i], prev[i - n] if i >= n else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        px = [line[x * n:(x + 1) * n] for x in range(w)]
        if ctype == 0: rows.append([(v[0], v[0], v[0], 255) for v in px])
        elif ctype == 2: rows.append([(v[0], v[1], v[2], 255) for v in px])
        elif ctype == 3: rows.append([tuple(palette[3 * v[0]:3 * v[0] + 3]) +
                                      (trns[v[0]] if v[0] < len(trns) else 255,) for v in px])
        elif ctype == 4: rows.append([(v[0], v[0], v[0], v[1]) for v in px])
        else: rows.append([tuple(v) for v in px])
    return w, h, rows

# Exactly the five files, nothing left behind (no temporary files of an atomic write).
present = sorted(os.listdir(out))
if present != sorted(names):
    fail(f"files {present}, expected {sorted(names)}")

# Written in order, with the delays between the steps as lower bounds (each delay starts when the
# previous step has finished): 2.5 + 0.45 s to the first file, two 0.45 s delays between the
# panels, one before the icons. Timestamps may be a few milliseconds coarse.
t = [os.stat(os.path.join(out, name)).st_mtime_ns / 1e9 for name in names]
for (a, b), least in zip(zip(t, t[1:]), (0.85, 0.85, 0.4, 0.0)):
    if b - a < least:
        fail(f"{names[t.index(b)]} written {b - a:.3f} s after the file before it")
if t[0] - start < 2.9:
    fail(f"panel-light.png written {t[0] - start:.2f} s after the start")
if not 4.5 <= end - start < 20:
    fail(f"the run took {end - start:.2f} s")

# The panels: 322 wide, every pixel opaque, the border band (inside the panel's insets, covered by
# no part of the panel) exactly the background grey, and real content drawn over it.
def luminance(p):
    return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000

sizes = {}
for name, grey, ink in (("panel-light.png", 245, "dark"), ("panel-dark.png", 43, "light"),
                        ("panel-energy.png", 245, "dark")):
    w, h, rows = read_png(os.path.join(out, name))
    sizes[name] = (w, h)
    if w != 322 or h < 300:
        fail(f"{name} is {w}x{h}")
    pixels = [p for row in rows for p in row]
    translucent = sum(p[3] != 255 for p in pixels)
    if translucent:
        fail(f"{name}: {translucent} pixels are not opaque")
    band = 10
    background = (grey, grey, grey, 255)
    for y in range(h):
        for x in (range(w) if y < band or y >= h - band else
                  list(range(band)) + list(range(w - band, w))):
            if rows[y][x] != background:
                fail(f"{name}: the uncovered pixel ({x}, {y}) is {rows[y][x]}, not {background}")
    drawn = sum(p != background for p in pixels)
    if drawn < 0.03 * len(pixels):
        fail(f"{name}: only {drawn} pixels drawn over the background")
    # Texts in the appearance's ink: dark on the light background, light on the dark one.
    legible = sum((luminance(p) < 90) if ink == "dark" else (luminance(p) > 200) for p in pixels)
    if legible < 500:
        fail(f"{name}: {legible} pixels of {ink} text")
if sizes["panel-light.png"] != sizes["panel-dark.png"]:
    fail(f"light and dark panels differ in size: {sizes}")

# The icons: the same gauge (same size, same alpha everywhere), green for the normal level and red
# for the critical one where the fill shows.
w1, h1, normal = read_png(os.path.join(out, "icon-normal.png"))
w2, h2, critical = read_png(os.path.join(out, "icon-critical.png"))
if (w1, h1) != (w2, h2) or w1 * 11 != h1 * 24:
    fail(f"icons of {w1}x{h1} and {w2}x{h2}, not both 24:11")
coloured = 0
for y in range(h1):
    for x in range(w1):
        n, c = normal[y][x], critical[y][x]
        if n[3] != c[3]:
            fail(f"icon alpha differs at ({x}, {y}): {n} and {c}")
        if n[3] == 255 and n[:3] != c[:3]:
            coloured += 1
            if not (n[1] > n[0] and c[0] > c[1]):
                fail(f"at ({x}, {y}) the normal icon is {n}, the critical one {c}")
if not any(p[3] for row in normal for p in row):
    fail("the icons are empty")
mem = {l.split(":")[0]: int(l.split()[1]) for l in open("/proc/meminfo")}
nearly_empty = mem["MemTotal"] - mem["MemAvailable"] < 0.015 * mem["MemTotal"]
if coloured == 0 and not nearly_empty:
    fail("the two icons have the same colours")
sizes["icons"] = (w1, h1)
if reference:
    ref = {name: read_png(os.path.join(reference, name))[:2] for name in names[:4]}
    ref["icons"] = ref.pop("icon-normal.png")
    if ref != sizes:
        fail(f"pictures of {sizes}, unlike the earlier run's {ref}")
print(f"snapshot: five files in {end - start:.2f} s, panels {sizes['panel-light.png']}, "
      f"icons {w1}x{h1} with {coloured} coloured pixels")
PY
}

# --- inside a desktop session, beside the first run without one: an X server, and on the session
# bus a tray host and watcher (lxqt-panel); the session names Qt's X11 platform, an input method
# and the accessibility bus, each of which would reach the desktop, and a scale for Qt, which
# would draw the icons larger. The run writes the same pictures, puts no window on the X server,
# and neither registers a tray item nor connects to the session bus at all.
start_xvfb
mkdir -p "$tmp/panel-config/lxqt"
printf '%s\n' '[General]' '__userfile__=true' 'panels=panel1' '[panel1]' 'plugins=statusnotifier' \
    '[statusnotifier]' 'type=statusnotifier' >"$tmp/panel-config/lxqt/panel.conf"
$orphan_guard env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/panel-config" QT_QPA_PLATFORM=xcb \
    lxqt-panel >"$tmp/panel.log" 2>&1 &
pids+=($!)
watcher_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null |
        grep -q 'boolean true'
}
wait_for 30 watcher_up || fail "lxqt-panel started no StatusNotifierWatcher: $(cat "$tmp/panel.log")"
$orphan_guard dbus-monitor --session >"$tmp/bus.log" 2>&1 &
monitor=$!
pids+=("$monitor")
monitoring() { grep -q NameLost "$tmp/bus.log"; }
wait_for 10 monitoring || fail "dbus-monitor did not start: $(cat "$tmp/bus.log")"
# The X clients that have windows, as the bases of their window ids (the server gives each client
# a range of its own: Xvfb's and lxqt-panel's are there before the run).
x_clients() {
    local id
    for id in $(xwininfo -root -tree | grep -oE '^ +0x[0-9a-f]+'); do
        printf '0x%x\n' $((id & ~0x1fffff))
    done | sort -u
}
x_clients >"$tmp/clients.before"
bus_seen=$(wc -l <"$tmp/bus.log")

mkdir "$tmp/session" "$tmp/cwd-session"
session_start=$(date +%s.%N)
snapshot "$tmp/cwd-session" "$tmp/session" DISPLAY="$DISPLAY" \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" XDG_CURRENT_DESKTOP=LXQt \
    QT_QPA_PLATFORM=xcb QT_IM_MODULE=ibus QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_SCALE_FACTOR=2 \
    QT_FONT_DPI=144 &
run=$!
(
    : >"$tmp/clients.new"
    while alive "$run"; do
        x_clients | comm -13 "$tmp/clients.before" - >>"$tmp/clients.new"
        sleep 0.2
    done
    date +%s.%N >"$tmp/session.end"
) &
watch=$!

# --- a directory given by its path
mkdir "$tmp/out" "$tmp/cwd"
start=$(date +%s.%N)
snapshot "$tmp/cwd" "$tmp/out" || fail "tide exited with status $?: $(cat "$tmp/cwd.log")"
end=$(date +%s.%N)
[ -z "$(ls -A "$tmp/cwd")" ] || fail "snapshot mode wrote into the working directory: $(ls -A "$tmp/cwd")"
check_pictures "$tmp/out" "$start" "$end"

# --- inside the session (continued)
wait "$run" || fail "inside a session tide exited with status $?: $(cat "$tmp/cwd-session.log")"
wait "$watch"
sleep 0.2 # the monitor's last lines
tail -n +"$((bus_seen + 1))" "$tmp/bus.log" >"$tmp/bus.run"
[ ! -s "$tmp/clients.new" ] ||
    fail "inside a session the run made X windows (ids from $(sort -u "$tmp/clients.new" | xargs))"
! grep -qE 'RegisterStatusNotifierItem|StatusNotifierItem-' "$tmp/bus.run" ||
    fail "inside a session the run put up a tray item: $(grep -E 'StatusNotifierItem' "$tmp/bus.run")"
# A connection to the bus is announced as a unique name's owner changing from none to itself.
joined=$(awk '/member=NameOwnerChanged/ { getline name; getline old
    if (name ~ /":1\./ && old ~ /string ""$/) print name }' "$tmp/bus.run")
[ -z "$joined" ] ||
    fail "inside a session the run connected to the session bus: $(head -c 3000 "$tmp/bus.run")"
[ -z "$(ls -A "$tmp/cwd-session")" ] || fail "inside a session files went elsewhere"
check_pictures "$tmp/session" "$session_start" "$(cat "$tmp/session.end")" "$tmp/out"
echo "snapshot: inside a session no window, no tray item and no session-bus connection"

# --- a directory that does not exist: nothing written anywhere, status 0
snapshot "$tmp/cwd" "$tmp/missing" || fail "with a missing directory tide exited with status $?"
[ ! -e "$tmp/missing" ] || fail "snapshot mode created the missing directory"
[ -z "$(ls -A "$tmp/cwd")" ] || fail "with a missing directory files went elsewhere: $(ls -A "$tmp/cwd")"

# --- an empty value: the working directory
snapshot "$tmp/cwd" "" || fail "with TL_SNAPSHOT empty tide exited with status $?"
for f in "${files[@]}"; do
    [ -s "$tmp/cwd/$f" ] || fail "with TL_SNAPSHOT empty, $f is not in the working directory"
done
echo "snapshot: a missing directory and the working directory behave"

# --- the README's pictures: the same bytes twice, the panels as large as the snapshots
readme=(panel-light.png panel-dark.png panel-energy.png panel-apps.png tray-icon@1x.png tray-icon@2x.png)
render() { QT_QPA_PLATFORM=offscreen timeout 30 "$RENDER" "$@" >"$tmp/render.log" 2>&1; }
for run in 1 2; do
    render "$SAMPLE" "$tmp/readme-$run" || fail "tide-render-panel exited with status $?: $(cat "$tmp/render.log")"
done
written=("$tmp/readme-1"/*)
[ "${#written[@]}" = "${#readme[@]}" ] || fail "tide-render-panel wrote ${written[*]##*/}"
for f in "${readme[@]}"; do
    [ -s "$tmp/readme-1/$f" ] || fail "tide-render-panel did not write $f"
    cmp -s "$tmp/readme-1/$f" "$tmp/readme-2/$f" || fail "$f differs between two runs"
done
size() { python3 -c 'import struct, sys; print(*struct.unpack(">II", open(sys.argv[1], "rb").read()[16:24]))' "$1"; }
for f in panel-light.png panel-dark.png panel-energy.png; do
    [ "$(size "$tmp/readme-1/$f")" = "$(size "$tmp/out/$f")" ] ||
        fail "the README's $f is $(size "$tmp/readme-1/$f"), the snapshot's $(size "$tmp/out/$f")"
done
# Merged, the list has as many rows: the panel is as large.
[ "$(size "$tmp/readme-1/panel-apps.png")" = "$(size "$tmp/out/panel-light.png")" ] ||
    fail "the merged panel is $(size "$tmp/readme-1/panel-apps.png")"
cmp -s "$tmp/readme-1/panel-apps.png" "$tmp/readme-1/panel-light.png" &&
    fail "the merged panel is the unmerged one"
[ "$(size "$tmp/readme-1/tray-icon@2x.png")" = "152 60" ] ||
    fail "the 2x tray icons are $(size "$tmp/readme-1/tray-icon@2x.png"), not two 38 x 30 tiles"
# A history value out of range: refused, and nothing written.
sed 's/0\.585,/1.585,/' "$SAMPLE" >"$tmp/damaged.json"
status=0
render "$tmp/damaged.json" "$tmp/readme-damaged" || status=$?
[ "$status" = 1 ] || fail "a damaged sample gave status $status: $(cat "$tmp/render.log")"
grep -q 'history' "$tmp/render.log" || fail "the damaged sample's message: $(cat "$tmp/render.log")"
[ -z "$(ls -A "$tmp/readme-damaged" 2>/dev/null)" ] || fail "a damaged sample wrote files"
echo "snapshot: the README's pictures are the same on a second run"
