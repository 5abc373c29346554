"""Tide's panel as a screen reader meets it over AT-SPI (run by e2e_atspi_test.sh, with the
system's /usr/bin/python3 and its pyatspi).

It connects before the panel is first opened, as a reader already running would, and listens
for the events a reader listens for. Then it opens the panel with a click on the tray icon,
reads the panel's tree and checks every figure and control in it, counts the name changes a few
refreshes send, and walks the panel with the keyboard (keys typed with xdotool), reading back
where the focus went after each key; last it opens the panel a second time. A record of the
tree and of the walk goes to stdout; each failed check prints a FAIL line, and the exit status
is the number of them (at most 100).

Everything runs inside the AT-SPI event loop, as in a reader: libatspi then answers from what it
kept of each object (its name and states, until an event tells of a change), which is what a
reader sees. The figures' contents are checked on fresh readings.
"""

import argparse
import os
import re
import subprocess
import sys
import time
import traceback

import gi

gi.require_version("Atspi", "2.0")
import pyatspi  # noqa: E402
from gi.repository import Atspi, GLib  # noqa: E402

SIZE = r"\d+(?:\.\d+)? (?:B|KB|MB|GB|TB)"
UNITS = {"B": 1, "KB": 2**10, "MB": 2**20, "GB": 2**30, "TB": 2**40}
PERCENT = r"\d+(?:\.\d+)?%"
SPAN = r"\d+ 秒|\d+ 分钟|\d+ 分 \d+ 秒"  # the history's: "90 秒", "3 分钟", "1 分 30 秒"
NAME_CHANGE = "object:property-change:accessible-name"
# What a reader listens for; Qt sends only the events some client asked for.
LISTENED = ["focus:", "window:activate", "window:deactivate", "object:state-changed",
            "object:children-changed", NAME_CHANGE]
MENU_ENTRIES = ["复制进程名", "结束进程…", "强制结束进程…"]
# A process that takes GROWER_MB more memory each second for the seconds given (and then ends).
GROWER_MB = 40
GROWER = f"""
import sys, time
kept, end = [], time.monotonic() + float(sys.argv[1])
while time.monotonic() < end:
    kept.append(b"\\1" * {(GROWER_MB << 20) // 5})  # filled, so that it is resident
    time.sleep(0.2)
"""

failures = []


def fail(message):
    failures.append(message)
    print(f"FAIL: {message}", flush=True)


def check(condition, message):
    if not condition:
        fail(message)
    return bool(condition)


def say(text):
    print(text, flush=True)


# --- reading objects (one that went away reads as gone, not as an error)

def role_of(obj):
    try:
        return obj.getRole()
    except GLib.Error:
        return None


def name_of(obj):
    try:
        return obj.name or ""
    except GLib.Error:
        return ""


def fresh_name(obj):
    """The name as it is now, not as the reader kept it."""
    obj.clear_cache()
    return name_of(obj)


def states_of(obj):
    try:
        return set(obj.getState().getStates())
    except GLib.Error:
        return set()


def children_of(obj):
    try:
        return [c for c in (obj.getChildAtIndex(i) for i in range(obj.childCount)) if c]
    except GLib.Error:
        return []


def extents_of(obj):
    try:
        e = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)
    except (GLib.Error, NotImplementedError):
        return None


def value_of(obj):
    """(current, minimum, maximum), or None without a value."""
    try:
        v = obj.queryValue()
        return v.currentValue, v.minimumValue, v.maximumValue
    except (GLib.Error, NotImplementedError):
        return None


def states_text(states, shown=(pyatspi.STATE_ACTIVE, pyatspi.STATE_SELECTED,
                               pyatspi.STATE_FOCUSED)):
    return " ".join(pyatspi.stateToString(s).lower() for s in sorted(states) if s in shown)


def all_states_text(obj):
    states = states_of(obj)
    return states_text(states, states)


def describe(obj):
    """ "[list item] cc1plus，375.9 MB" """
    if obj is None:
        return "nothing"
    role = Atspi.role_get_name(role_of(obj)) if role_of(obj) is not None else "gone"
    return f"[{role}] {name_of(obj)}".rstrip()


def same(a, b):
    return a is not None and b is not None and a.path == b.path


def walk(obj, depth=0):
    """obj and every object under it, with its depth."""
    yield obj, depth
    for child in children_of(obj):
        yield from walk(child, depth + 1)


def find(window, role, pattern):
    """The objects of the role whose whole name matches the pattern."""
    return [o for o, _ in walk(window) if role_of(o) == role and re.fullmatch(pattern, name_of(o))]


def expect_one(window, role, pattern, what):
    found = find(window, role, pattern)
    check(len(found) == 1, f"{len(found)} objects for {what} ({Atspi.role_get_name(role)} "
                           f"/{pattern}/), not one")
    return found[0] if found else None


# --- the event loop: a test is a generator that yields the seconds to wait before going on

def related(obj, relation):
    """The objects obj has the AT-SPI relation with."""
    found = []
    for r in obj.getRelationSet():
        if r.getRelationType() == relation:
            found += [r.getTarget(i) for i in range(r.getNTargets())]
    return found


def labelled_figure(window, caption, pattern):
    """The figure whose value reads /pattern/ and that its caption labels (both ways)."""
    captions = find(window, pyatspi.ROLE_LABEL, re.escape(caption))
    figures = [f for c in captions for f in related(c, pyatspi.RELATION_LABEL_FOR)]
    if not check(len(figures) == 1, f"{caption!r} labels {len(figures)} objects, not one"):
        return None
    figure = figures[0]
    check(re.fullmatch(pattern, name_of(figure)),
          f"the figure {caption!r} labels reads {name_of(figure)!r}, not /{pattern}/")
    check([name_of(c) for c in related(figure, pyatspi.RELATION_LABELLED_BY)] == [caption],
          f"{describe(figure)} is not labelled by {caption!r}")
    return figure


def wait_for(condition, timeout, every=0.05):
    """Waits until condition() returns something true, and returns it (None at the timeout)."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > end:
            return value or None
        yield every


def pause(seconds):
    yield seconds


def run(test):
    """Runs the generator `test` inside the AT-SPI event loop."""
    def step():
        try:
            delay = next(test)
        except StopIteration:
            pyatspi.Registry.stop()
            return False
        except Exception:  # a broken probe fails the test rather than hanging it
            fail("the probe broke:\n" + traceback.format_exc())
            pyatspi.Registry.stop()
            return False
        GLib.timeout_add(max(1, int(delay * 1000)), step)
        return False

    GLib.idle_add(step)
    pyatspi.Registry.start()


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


class Events:
    """The events from one process, in the order they came."""

    def __init__(self, pid):
        self.pid = pid
        self.log = []  # (type, source, detail1)
        self.times = []  # when each came
        for kind in LISTENED:
            pyatspi.Registry.registerEventListener(self.on_event, kind)

    def on_event(self, event):
        try:
            if event.source is None or event.source.get_process_id() != self.pid:
                return
        except GLib.Error:
            return
        self.log.append((event.type, event.source, event.detail1))
        self.times.append(time.monotonic())

    def mark(self):
        return len(self.log)

    def since(self, mark, prefix):
        return [(s, d) for t, s, d in self.log[mark:] if t.startswith(prefix)]

    def timed_since(self, mark, prefix):
        return [(w, s) for w, (t, s, _) in zip(self.times[mark:], self.log[mark:])
                if t.startswith(prefix)]

    def focus_since(self, mark):
        """What last took the focus after mark: the object a reader now speaks of."""
        last = None
        for kind, source, detail in self.log[mark:]:
            if kind.startswith("focus:") or (
                    kind.startswith("object:state-changed:focused") and detail == 1):
                last = source
        return last


def clipboard():
    """(the clipboard's text, the tool that read it), or (None, None) where none can."""
    for tool in (["xclip", "-o", "-selection", "clipboard"], ["xsel", "--clipboard", "--output"]):
        if subprocess.run(["which", tool[0]], capture_output=True).returncode == 0:
            out = subprocess.run(tool, capture_output=True, text=True, timeout=5)
            return out.stdout, tool[0]
    # GTK reads it as well, where its typelib is installed (in a process of its own, kept off
    # the accessibility bus).
    script = ("import sys, gi; gi.require_version('Gtk', '3.0'); "
              "from gi.repository import Gtk, Gdk; "
              "sys.stdout.write(Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).wait_for_text() or '')")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=10, env=dict(os.environ, NO_AT_BRIDGE="1"))
    return (out.stdout, "GTK") if out.returncode == 0 else (None, None)


# --- the panel

class Panel:
    def __init__(self, args):
        self.args = args
        self.events = Events(args.pid)
        self.app = None
        self.window = None

    def shown_window(self):
        for child in children_of(self.app):
            if name_of(child) == "潮汐" and pyatspi.STATE_SHOWING in states_of(child):
                return child
        return None

    def the_list(self):
        lists = [o for o, _ in walk(self.window) if role_of(o) == pyatspi.ROLE_LIST]
        return lists[0] if len(lists) == 1 else None

    def tabs(self):
        tab_lists = [o for o, _ in walk(self.window) if role_of(o) == pyatspi.ROLE_PAGE_TAB_LIST]
        return children_of(tab_lists[0]) if len(tab_lists) == 1 else []

    def click_icon(self):
        xdotool("mousemove", *self.args.click.split(","), "click", "1")

    def open(self):
        """Clicks the icon; the window named 潮汐 shows (the rows filled in), and a reader hears
        that it was activated."""
        mark = self.events.mark()
        self.click_icon()
        self.window = yield from wait_for(self.shown_window, 10)
        if self.window is None:
            found = [f"{describe(c)} ({all_states_text(c)})" for c in children_of(self.app)]
            fail(f"after a click on the icon no window named 潮汐 shows; the application has "
                 f"{found}")
            return False
        yield from wait_for(lambda: len(children_of(self.the_list() or self.window))
                            >= self.args.rows, 5)
        yield from pause(0.5)
        activated = [s for s, _ in self.events.since(mark, "window:activate")]
        check(any(same(s, self.window) for s in activated),
              f"the opening activated {[describe(s) for s in activated]}, not the panel's window")
        return True

    # --- the tree

    def record_tree(self):
        """The panel as a reader walks it (unnamed fillers left out, their children in their
        place), with values and the states that tell the chosen tab and the focus."""
        say("AT-SPI tree of the panel:")

        def show(obj, depth):
            kids = children_of(obj)
            if role_of(obj) == pyatspi.ROLE_FILLER and not name_of(obj) and depth > 1:
                for kid in kids:
                    show(kid, depth)
                return
            line = "  " * depth + describe(obj)
            value = value_of(obj)
            if value:
                line += f"  value {value[0]:g} of {value[1]:g}–{value[2]:g}"
            states = states_text(states_of(obj))
            say(line + (f"  ({states})" if states else ""))
            for kid in kids:
                show(kid, depth + 1)

        show(self.window, 1)

    def check_showing(self):
        """The window and everything in it read as showing and visible, each at its place
        inside the window; nothing that should be named is blank."""
        check({pyatspi.STATE_SHOWING, pyatspi.STATE_VISIBLE} <= states_of(self.window),
              f"the window reads {all_states_text(self.window)}: not showing and visible")
        box = extents_of(self.window)
        if not check(box and box[2] == 322 and box[3] > 300, f"the window's extents: {box}"):
            return
        wx, wy, ww, wh = box
        named = {pyatspi.ROLE_LABEL, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_PUSH_BUTTON,
                 pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_LIST, pyatspi.ROLE_PROGRESS_BAR,
                 pyatspi.ROLE_CHART, pyatspi.ROLE_IMAGE}
        count = 0
        for obj, depth in walk(self.window):
            if depth == 0:
                continue
            e = extents_of(obj)
            if not e or e[2] <= 0 or e[3] <= 0:
                fail(f"{describe(obj)} in the panel has no size: {e}")
                continue
            x, y, w, h = e
            check(wx <= x and x + w <= wx + ww and wy <= y and y + h <= wy + wh,
                  f"{describe(obj)} lies outside the window: {e}, the window {box}")
            check({pyatspi.STATE_SHOWING, pyatspi.STATE_VISIBLE} <= states_of(obj),
                  f"{describe(obj)} on screen at {e} reads {all_states_text(obj)}: "
                  "not showing and visible")
            check(role_of(obj) not in named or name_of(obj).strip(),
                  f"{describe(obj)} at {e} has no name")
            count += 1
        say(f"{count} objects on screen in the panel, all checked for showing and visible")

    def check_figures(self):
        """Each figure named with its caption; the composition bar names the legend's four
        shares; the usage's value is the percentage the panel shows."""
        w = self.window
        for obj, _ in walk(w):
            obj.clear_cache()  # the figures as they are now
        expect_one(w, pyatspi.ROLE_LABEL, "内存压力：(正常|警告|严重)", "the pressure chip")
        used = expect_one(w, pyatspi.ROLE_LABEL, f"已使用 ({SIZE})，共 ({SIZE})", "the used memory")
        legend = ["App 内存", "联动内存", "被压缩", "已缓存文件"]
        bar = expect_one(w, pyatspi.ROLE_IMAGE,
                         "内存构成：" + "，".join(f"{c} {SIZE}" for c in legend),
                         "the composition bar")
        figures = [labelled_figure(w, c, SIZE) for c in legend]
        if bar is not None and all(figures):
            # Both are read when asked: a refresh between two readings may part them once.
            for _ in range(2):
                parts = "内存构成：" + "，".join(
                    f"{c} {fresh_name(f)}" for c, f in zip(legend, figures))
                if fresh_name(bar) == parts:
                    break
            check(name_of(bar) == parts, f"the bar reads {name_of(bar)!r}, the legend {parts!r}")
        labelled_figure(w, "内存压力", PERCENT)
        labelled_figure(w, "交换空间", r"\S.*")
        labelled_figure(w, "CPU 总占用", PERCENT)
        check(not find(w, pyatspi.ROLE_LABEL, f"共 {SIZE}"),
              "the total is read on its own besides in the used figure's name")

        usage = expect_one(w, pyatspi.ROLE_PROGRESS_BAR, "内存使用率", "the usage")
        chart = expect_one(w, pyatspi.ROLE_CHART,
                           f"内存使用率历史，最近 (?:{SPAN})：当前 \\d+%，最低 \\d+%，最高 \\d+%",
                           "the usage history")
        value = value_of(usage) if usage else None
        if not check(value, "the usage has no value") or chart is None or used is None:
            return
        now, low, high = value
        check((low, high) == (0, 100), f"the usage's range is {low:g}–{high:g}, not 0–100")
        latest, lowest, highest = map(int, re.findall(r"(\d+)%", name_of(chart)))
        check(lowest <= latest <= highest, f"the history reads {name_of(chart)!r}")
        # The value is the figure shown: the history's latest, and the used memory's share of
        # the total, both rounded.
        check(abs(now - latest) <= 1, f"the usage reads {now:g}, the history's latest {latest}%")
        amounts = [float(n) * UNITS[u] for n, u in re.findall(r"([\d.]+) (\w+)", name_of(used))]
        share = 100 * amounts[0] / amounts[1]
        check(abs(now - share) <= 1.5,
              f"the usage reads {now:g}, the used memory is {share:.1f}% of the total")
        say(f"usage: value {now:g} of {low:g}–{high:g}; the history's latest {latest}%, "
            f"the used memory {share:.1f}% of the total")

    def check_tabs(self, chosen):
        tabs = self.tabs()
        check([(role_of(t), name_of(t)) for t in tabs]
              == [(pyatspi.ROLE_PAGE_TAB, "内存占用"), (pyatspi.ROLE_PAGE_TAB, "能耗")],
              f"the tabs are {[describe(t) for t in tabs]}")
        selected = [name_of(t) for t in tabs if pyatspi.STATE_SELECTED in states_of(t)]
        check(selected == [chosen], f"the tabs read as selected: {selected}, not [{chosen}]")

    def check_rows(self, unit):
        """The list, named after the tab, holds exactly the rows shown: as many as the list is
        long, one under the other filling it from top to bottom, each named with its value."""
        lst = self.the_list()
        if not check(lst, "the panel has no list, or more than one"):
            return
        check(name_of(lst) == unit, f"the list is named {name_of(lst)!r}, not {unit}")
        rows = children_of(lst)
        check(len(rows) == self.args.rows,
              f"the list holds {len(rows)} rows, the panel shows {self.args.rows}")
        value = r"能耗 \d+(?:\.\d+)?" if unit == "能耗" else SIZE
        for row in rows:
            check(role_of(row) == pyatspi.ROLE_LIST_ITEM
                  and re.fullmatch(f".+，(?:约 )?{value}", name_of(row)),
                  f"{describe(row)} is not a list item read as a name and a value in {unit}")
            check(pyatspi.STATE_FOCUSABLE in states_of(row), f"{describe(row)} is not focusable")
        box = extents_of(lst)
        boxes = [extents_of(r) for r in rows]
        if box and rows and all(boxes):
            # A hidden row listed would have no place of its own; a shown one left out, a gap.
            top, bottom = boxes[0][1], boxes[-1][1] + boxes[-1][3]
            check((top, bottom) == (box[1], box[1] + box[3]),
                  f"the rows span {top}–{bottom}, the list {box[1]}–{box[1] + box[3]}")
            for above, below in zip(boxes, boxes[1:]):
                check(above[1] + above[3] <= below[1], f"rows overlap: {above} and {below}")

    def check_tree(self):
        self.record_tree()
        self.check_showing()
        self.check_figures()
        self.check_tabs("内存占用")
        self.check_rows("内存占用")
        for button in ("打开活动监视器", "设置"):
            expect_one(self.window, pyatspi.ROLE_PUSH_BUTTON, button, f"the {button} button")

    def count_name_changes(self):
        """The panel refreshes every 2 s. A reader keeps the names it read, so it is told of the
        names that changed, but at most once every 5 s, and each name once: never a label's
        every new text. Meanwhile a process of ours grows, so that every refresh has new figures
        and rows to show, however quiet the machine."""
        seconds = self.args.quiet_seconds
        grower = subprocess.Popen([sys.executable, "-c", GROWER, str(seconds)])
        mark = self.events.mark()
        yield from pause(seconds)
        grower.wait()
        # (A new pressure level is announced at once, as a name change of the chip before Qt
        # 6.8: not one of these.)
        changes = [(when, source) for when, source in self.events.timed_since(mark, NAME_CHANGE)
                   if not name_of(source).startswith("内存压力：")]
        say(f"name changes from tide in {seconds:g} s with the panel open (and a process "
            f"growing to {GROWER_MB * seconds:.0f} MB meanwhile): {len(changes)}")
        check(changes, f"no figure was told of in {seconds:g} s: a reader keeps reading the first")
        bursts = []
        for when, source in changes:
            if not bursts or when - bursts[-1][0] > 1:
                bursts.append((when, []))
            bursts[-1][1].append(source)
        for (when, sources), nxt in zip(bursts, bursts[1:]):
            check(nxt[0] - when >= 4.5, f"told again after {nxt[0] - when:.1f} s, not 5")
        for when, sources in bursts:
            say(f"  at {when - changes[0][0]:4.1f} s: {len(sources)} names")
            check(len(sources) <= 30,
                  f"{len(sources)} changes at once: {[describe(s) for s in sources]}")
        if changes:
            say(f"  for example {describe(changes[-1][1])}")

    # --- the keyboard

    def press(self, keys, expect, what):
        """Types keys; the focus must go where expect(obj) says: the object the last focus event
        names (the one a reader speaks of), which reads as focused too."""
        mark = self.events.mark()
        xdotool("key", *keys.split())

        def landed():
            got = self.events.focus_since(mark)
            return got if got is not None and expect(got) else None
        got = yield from wait_for(landed, 3)
        if not check(got is not None and pyatspi.STATE_FOCUSED in states_of(got),
                     f"{keys}: the focus went to {describe(self.events.focus_since(mark))}, "
                     f"not {what}"):
            return None
        say(f"  {keys:<10} → {describe(got)}")
        return got

    def row(self, index):
        def is_row(obj):
            rows = children_of(self.the_list())
            return bool(rows) and same(obj, rows[index])
        return is_row

    @staticmethod
    def named(role, name):
        return lambda obj: role_of(obj) == role and name_of(obj) == name

    def walk_keyboard(self, opened):
        say("keyboard walk:")
        tab = Panel.named(pyatspi.ROLE_PAGE_TAB, "内存占用")
        start = self.events.focus_since(opened)
        check(start is not None and tab(start) and pyatspi.STATE_FOCUSED in states_of(start),
              f"the panel opened with the focus on {describe(start)}, not the tab 内存占用")
        say(f"  (opened)   → {describe(start)}")
        yield from self.press("Tab", self.row(0), "the list's first row")
        yield from self.press("Down", self.row(1), "the second row")
        yield from self.press("End", self.row(-1), "the last row")
        yield from self.press("Home", self.row(0), "the first row")
        yield from self.press("Tab", Panel.named(pyatspi.ROLE_PUSH_BUTTON, "打开活动监视器"),
                              "打开活动监视器")
        yield from self.press("Tab", Panel.named(pyatspi.ROLE_PUSH_BUTTON, "设置"), "设置")
        yield from self.press("Tab", tab, "the tab 内存占用, round again")
        yield from self.press("Right", Panel.named(pyatspi.ROLE_PAGE_TAB, "能耗"), "the tab 能耗")
        # What the reader kept of the tabs and of the list's name follows the choice.
        self.check_tabs("能耗")
        yield from wait_for(lambda: all("，能耗 " in name_of(r)
                                        for r in children_of(self.the_list())), 5)
        self.check_rows("能耗")
        lst = self.the_list()
        if lst:
            rows = ", ".join(name_of(r) for r in children_of(lst)[:3])
            say(f"  the list now reads {describe(lst)}: {rows}, …")

    def copy_from_row_menu(self):
        """Shift+F10 on a row shows its menu; 复制进程名 copies the process's name."""
        yield from self.press("Tab", self.row(0), "the list's first row")
        mark = self.events.mark()
        xdotool("key", "shift+F10")

        # Qt lists no popup among the application's children: a reader meets the menu by its
        # events (shown, then the focus on an item).
        def menu_shown():
            for source, detail in self.events.since(mark, "object:state-changed:showing"):
                if (detail == 1 and role_of(source) == pyatspi.ROLE_POPUP_MENU
                        and pyatspi.STATE_SHOWING in states_of(source)):
                    return source
            return None
        menu = yield from wait_for(menu_shown, 5)
        if menu is None:
            shown = [describe(s) for s, d in self.events.since(mark, "object:state-changed:showing")
                     if d]
            fail(f"Shift+F10 on a row showed no popup menu (shown: {shown})")
            return
        entries = [name_of(c) for c in children_of(menu) if role_of(c) == pyatspi.ROLE_MENU_ITEM]
        say(f"  shift+F10  → {describe(menu)}: {' | '.join(entries)}")
        heading = re.fullmatch(r"(.+)  \(PID \d+\)", entries[0]) if entries else None
        check(heading and entries[1:] == MENU_ENTRIES, f"the row's menu holds {entries}")
        # Opened from the keyboard, the menu starts on its first command.
        def first_item():
            focused = self.events.focus_since(mark)
            return focused if focused and role_of(focused) == pyatspi.ROLE_MENU_ITEM else None
        item = yield from wait_for(first_item, 3)
        say(f"             → the focus on {describe(item) if item else 'nothing'}")
        if not check(item is not None and name_of(item) == "复制进程名",
                     "the row's menu did not open on 复制进程名"):
            xdotool("key", "Escape")
            return
        xdotool("key", "Return")
        closed = yield from wait_for(lambda: pyatspi.STATE_SHOWING not in states_of(menu), 5)
        check(closed, "Return on 复制进程名 left the menu open")
        if not heading:
            return
        process = heading.group(1)
        for _ in range(20):
            text, tool = clipboard()
            if tool is None or text == process:
                break
            yield from pause(0.1)
        if tool is None:
            say("  Return     → the menu closed (nothing here reads the clipboard: the copy "
                "itself is not checked)")
        elif check(text == process, f"复制进程名 copied {text!r}, the row's process is "
                                    f"{process!r}"):
            say(f"  Return     → the clipboard holds {text!r} (read with {tool})")

    def close_and_reopen(self):
        """Escape closes the panel; opened again, all of it reads as showing once more."""
        xdotool("key", "Escape")
        if not check((yield from wait_for(lambda: self.shown_window() is None, 5)),
                     "Escape left the panel showing"):
            return
        say("  Escape     → the panel closed")
        yield from pause(0.5)
        if not (yield from self.open()):
            return
        hidden = [describe(o) for o, _ in walk(self.window)
                  if pyatspi.STATE_SHOWING not in states_of(o)]
        check(not hidden, f"opened again, these read as not showing: {hidden}")
        say(f"opened again: {sum(1 for _ in walk(self.window)) - len(hidden)} objects showing, "
            f"{len(hidden)} not")
        xdotool("key", "Escape")
        yield from wait_for(lambda: self.shown_window() is None, 5)

    def test(self):
        self.app = yield from wait_for(lambda: find_app(self.args.pid), 15)
        if not check(self.app, "tide's application is not on the accessibility bus"):
            return
        say(f"application: {describe(self.app)} (pid {self.args.pid}), connected before the "
            "panel's first opening")
        check(self.shown_window() is None, "a window named 潮汐 shows before the click")
        # A reader already running has looked at the application before the panel opens.
        for obj, _ in walk(self.app):
            states_of(obj)
        yield from pause(0.5)

        opened = self.events.mark()
        if not (yield from self.open()):
            return
        if self.args.shot:
            subprocess.run(["import", "-window", "root", self.args.shot], check=False)
        say(f"window: {describe(self.window)} ({all_states_text(self.window)})")
        self.check_tree()
        yield from self.count_name_changes()
        if len(self.tabs()) == 2 and self.the_list():
            yield from self.walk_keyboard(opened)
            yield from self.copy_from_row_menu()
        yield from self.close_and_reopen()


def find_app(pid):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except GLib.Error:
            continue
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pid", type=int, required=True, help="tide's process")
    parser.add_argument("--click", required=True, help="X,Y: the tray icon, on screen")
    parser.add_argument("--rows", type=int, default=8, help="how many rows the panel shows")
    parser.add_argument("--shot", help="a screenshot of the open panel goes to this PNG")
    parser.add_argument("--quiet-seconds", type=float, default=6)
    args = parser.parse_args()
    run(Panel(args).test())
    sys.exit(min(len(failures), 100))


if __name__ == "__main__":
    main()
