#!/usr/bin/env bash
# Runs the real tide-sample and checks its output against the machine.
set -euo pipefail
BIN="$1/tide-sample"
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Bad arguments: a message on stderr and status 2.
for args in "--count 0" "--count x" "--count" "--interval -1" "--interval nan" "--bogus"; do
    set +e
    # shellcheck disable=SC2086
    "$BIN" $args >"$tmp/out" 2>"$tmp/err"
    rc=$?
    set -e
    [ "$rc" -eq 2 ] || fail "'$args' exited $rc, not 2"
    [ -s "$tmp/err" ] || fail "'$args' printed nothing on stderr"
    [ ! -s "$tmp/out" ] || fail "'$args' printed on stdout"
done
"$BIN" --help | grep -q -- "--processes" || fail "--help"

# A process with a name that needs escaping, started from a copy of sleep.
weird=$(printf 'a"b\\c\t潮')
cp "$(command -v sleep)" "$tmp/$weird"
"$tmp/$weird" 60 &
weird_pid=$!
# Two more of the same program: one application of three processes.
"$tmp/$weird" 60 &
"$tmp/$weird" 60 &

ps -axo pid=,ppid= > "$tmp/ps-before"
"$BIN" --count 2 --interval 0.5 --processes --apps > "$tmp/samples"
ps -axo pid=,ppid= > "$tmp/ps-after"

python3 - "$tmp" "$weird_pid" "$weird" <<'PY'
import json, os, sys
tmp, weird_pid, weird = sys.argv[1], int(sys.argv[2]), sys.argv[3]
lines = open(os.path.join(tmp, "samples"), encoding="utf-8").read().splitlines()
assert len(lines) == 2, f"{len(lines)} lines"
fields = ["total", "app", "wired", "compressed", "cached", "used", "swapUsed", "swapTotal",
          "pressureLevel", "pressurePercent", "usagePercent", "cpuPercent", "processes", "apps"]
proc_fields = ["pid", "name", "memory", "cpu", "energy", "approximate", "appId", "appName"]
mem = {}
for l in open("/proc/meminfo"):
    k, v = l.split(":")
    mem[k] = int(v.split()[0]) * 1024
for line in lines:
    s = json.loads(line)
    assert list(s.keys()) == fields, list(s.keys())
    assert s["total"] == mem["MemTotal"]
    linux_used = mem["MemTotal"] - mem["MemAvailable"]
    assert abs(s["used"] - linux_used) <= 0.03 * s["total"], (s["used"], linux_used)
    assert s["used"] <= s["total"] and 0 <= s["usagePercent"] <= 100
    assert s["pressureLevel"] in (1, 2, 4)
    for p in s["processes"]:
        assert list(p.keys()) == proc_fields, p
        assert p["pid"] > 0 and p["name"] and p["memory"] >= 0 and p["cpu"] >= 0
assert json.loads(lines[0])["cpuPercent"] == 0  # no previous reading yet

def pids(name):
    out = {}
    for l in open(os.path.join(tmp, name)):
        pid, ppid = map(int, l.split())
        out[pid] = ppid
    return out
before, after = pids("ps-before"), pids("ps-after")
listed = {p["pid"]: p for p in json.loads(lines[1])["processes"]}
# Every user process ps showed that lived through the sample is listed; kernel threads are not.
for pid, ppid in before.items():
    kernel = pid == 2 or ppid == 2
    if pid in after and not kernel:
        assert pid in listed, f"pid {pid} missing"
    if kernel:
        assert pid not in listed, f"kernel thread {pid} listed"
# The control character (the tab) is shown as a space; quote and backslash survive the JSON.
assert listed[weird_pid]["name"] == weird.replace("\t", " "), listed[weird_pid]["name"]
# By application: every process in exactly one, each with its members' sum; the three copies of
# one program (no desktop application here) are one, named as its processes are.
apps = json.loads(lines[1])["apps"]
members = [pid for a in apps for pid in a["pids"]]
assert sorted(members) == sorted(listed), "the applications do not hold each process once"
for a in apps:
    assert a["processes"] == len(a["pids"]) >= 1, a
    assert a["memory"] == sum(listed[pid]["memory"] for pid in a["pids"]), a
weird_app = next(a for a in apps if weird_pid in a["pids"])
assert weird_app["processes"] == 3 and weird_app["name"] == listed[weird_pid]["name"], weird_app
print("tide-sample: 2 samples,", len(listed), "processes, all checks passed")
PY
