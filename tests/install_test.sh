#!/usr/bin/env bash
# `make install` into a temporary DESTDIR with PREFIX=/usr: the exact file list, the desktop entry
# and the metainfo validated, the installed tide and tide-sample run, start at login from the
# installed prefix, then `make uninstall` back to an empty tree. The GNOME Shell extension is
# installed in the form of the GNOME Shell on the PATH when installing (a fake one here: 43, 48,
# none).
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
SRC="$(cd "$(dirname "$0")/.." && pwd)"
# The installed tide is started once: in a private network namespace, never reaching the user's.
# shellcheck source=tests/e2e_base.sh
source "$(dirname "$0")/e2e_base.sh"
private_instance "$0" "$@"

tmp=$(mktemp -d)
started=
cleanup() {
    [ -z "$started" ] || kill "$started" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
root="$tmp/root"
record="$root.files"
mk() { make --no-print-directory -C "$SRC" BUILD="$BUILD" PREFIX=/usr DESTDIR="$1" \
    INSTALL_RECORD="$1.files" "${@:2}"; }
for version in 43.9 48.0; do
    mkdir -p "$tmp/gnome-$version"
    printf '#!/bin/sh\necho "GNOME Shell %s"\n' "$version" >"$tmp/gnome-$version/gnome-shell"
    chmod +x "$tmp/gnome-$version/gnome-shell"
done
form_of() { # DESTDIR: the installed extension's shell-version list and the form of its extension.js
    local dir=$1/usr/share/gnome-shell/extensions/monitor@tide.dev versions form="no extension.js"
    versions=$(python3 -c 'import json,sys; print(",".join(json.load(open(sys.argv[1]))["shell-version"]))' \
        "$dir/metadata.json" 2>/dev/null) || versions="no metadata"
    if grep -q '^export default class' "$dir/extension.js" 2>/dev/null; then form=module
    elif grep -q '^function init()' "$dir/extension.js" 2>/dev/null; then form=legacy; fi
    echo "$versions $form"
}

PATH="$tmp/gnome-43.9:$PATH" mk "$root" install-only >"$tmp/install.log" 2>&1 ||
    fail "make install: $(cat "$tmp/install.log")"
[ "$(form_of "$root")" = "43,44 legacy" ] || fail "for GNOME 43.9 the extension is: $(form_of "$root")"
PATH="$tmp/gnome-48.0:$PATH" mk "$tmp/root-48" install-only >"$tmp/install-48.log" 2>&1 ||
    fail "make install: $(cat "$tmp/install-48.log")"
[ "$(form_of "$tmp/root-48")" = "45,46,47,48 module" ] ||
    fail "for GNOME 48.0 the extension is: $(form_of "$tmp/root-48")"
# No GNOME Shell on the PATH: no extension, and the line that says so.
mkdir -p "$tmp/tools"
for tool in make cmake awk uname; do ln -s "$(command -v "$tool")" "$tmp/tools/"; done
PATH="$tmp/tools" mk "$tmp/root-none" install-only >"$tmp/install-none.log" 2>&1 ||
    fail "make install: $(cat "$tmp/install-none.log")"
[ ! -e "$tmp/root-none/usr/share/gnome-shell" ] || fail "an extension was installed without GNOME Shell"
grep -q "^-- Skipped Tide's GNOME Shell extension (monitor@tide.dev): no GNOME Shell found.*after installing GNOME Shell adds it$" \
    "$tmp/install-none.log" || fail "without GNOME Shell: $(cat "$tmp/install-none.log")"

expected="usr/bin/tide
usr/bin/tide-sample
usr/share/applications/dev.tide.monitor.desktop
usr/share/doc/tide/changelog.gz
usr/share/doc/tide/copyright
usr/share/gnome-shell/extensions/monitor@tide.dev/extension.js
usr/share/gnome-shell/extensions/monitor@tide.dev/metadata.json
usr/share/gnome-shell/extensions/monitor@tide.dev/tide.js
usr/share/icons/hicolor/128x128/apps/dev.tide.monitor.png
usr/share/icons/hicolor/16x16/apps/dev.tide.monitor.png
usr/share/icons/hicolor/24x24/apps/dev.tide.monitor.png
usr/share/icons/hicolor/256x256/apps/dev.tide.monitor.png
usr/share/icons/hicolor/32x32/apps/dev.tide.monitor.png
usr/share/icons/hicolor/48x48/apps/dev.tide.monitor.png
usr/share/icons/hicolor/64x64/apps/dev.tide.monitor.png
usr/share/icons/hicolor/scalable/apps/dev.tide.monitor.svg
usr/share/man/man1/tide-sample.1.gz
usr/share/man/man1/tide.1.gz
usr/share/metainfo/dev.tide.monitor.metainfo.xml"
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:$(diff <(echo "$expected") <(echo "$actual"))"
[ "$(wc -l <"$record")" -eq "$(wc -l <<<"$expected")" ] || fail "the install record: $(cat "$record")"
{ [ -x "$root/usr/bin/tide" ] && [ -x "$root/usr/bin/tide-sample" ]; } || fail "programs not executable"

# The icons are what they say: PNGs of their size, and an SVG.
for size in 16 24 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/dev.tide.monitor.png"
    dims=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png")
    [ "$dims" = "${size}x${size}" ] || fail "the ${size}px icon is $dims"
done
grep -q "<svg" "$root/usr/share/icons/hicolor/scalable/apps/dev.tide.monitor.svg" || fail "no SVG icon"

desktop="$root/usr/share/applications/dev.tide.monitor.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the entry"
{ grep -qx 'Exec=tide' "$desktop" && grep -qx 'Name=潮汐' "$desktop" &&
    grep -qx 'Icon=dev.tide.monitor' "$desktop" && grep -qx 'Categories=System;Monitor;' "$desktop"; } ||
    fail "desktop entry: $(cat "$desktop")"
appstreamcli validate --no-net "$root/usr/share/metainfo/dev.tide.monitor.metainfo.xml" \
    >"$tmp/as.log" 2>&1 || fail "appstreamcli: $(cat "$tmp/as.log")"
grep -q '<release version="0.1.0"' "$root/usr/share/metainfo/dev.tide.monitor.metainfo.xml" ||
    fail "the metainfo names no release 0.1.0"
for page in tide tide-sample; do
    gzip -t "$root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH" || fail "$page.1 is no manual page"
done
zcat "$root/usr/share/man/man1/tide.1.gz" | grep -q TL_AUTO_OPEN || fail "tide.1 lacks TL_AUTO_OPEN"

# The installed programs run.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/tide" --version) ||
    fail "installed tide --version failed"
[[ "$version" =~ ^tide\ [0-9.]+$ ]] || fail "installed tide --version: $version"
sample=$("$root/usr/bin/tide-sample" --count 1) || fail "installed tide-sample --count 1 failed"
[ "$(wc -l <<<"$sample")" -eq 1 ] || fail "tide-sample --count 1 printed $(wc -l <<<"$sample") lines"
python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert d["total"] > 0 and "usagePercent" in d' \
    "$sample" || fail "tide-sample printed: $sample"

# Start at login from the installed prefix: an entry left by a build folder that is gone is
# pointed at the installed program when it starts.
home="$tmp/home"
mkdir -p "$home/.config/autostart" "$tmp/run"
chmod 700 "$tmp/run"
agent="$home/.config/autostart/dev.tide.monitor.desktop"
printf '[Desktop Entry]\nType=Application\nName=潮汐\nExec="%s"\n' "$tmp/gone/build/tide" >"$agent"
for var in $(compgen -e | grep '^TL_' || true); do unset "$var"; done
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$tmp/run" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/tide" >"$tmp/tide.log" 2>&1 &
started=$!
want="Exec=\"$root/usr/bin/tide\""
for _ in $(seq 100); do
    grep -qxF "$want" "$agent" && break
    kill -0 "$started" 2>/dev/null || fail "the installed tide ended: $(cat "$tmp/tide.log")"
    sleep 0.1
done
grep -qxF "$want" "$agent" || fail "start at login not rewritten: $(cat "$agent")"
kill "$started"
wait "$started" 2>/dev/null || true
started=

# Uninstall: nothing left but the prefix directory itself.
mk "$root" uninstall >"$tmp/uninstall.log" 2>&1 || fail "make uninstall: $(cat "$tmp/uninstall.log")"
left=$(cd "$root" && find . -mindepth 1 | sed 's|^\./||')
[ "$left" = "usr" ] || fail "left after uninstall: $left"
[ ! -e "$record" ] || fail "the install record outlived the uninstall"
echo "install: $(wc -l <<<"$expected") files installed, validated, run and removed"
