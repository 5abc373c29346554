// The latency of a click on Tide's tray icon on a wlroots compositor, on the compositor's own
// clock: from the button press the virtual pointer sends (stamped with CLOCK_MONOTONIC) to the
// first frame of the output (screencopy, whose frames carry the compositor's time of the frame)
// in which what the click opens is fully drawn. Usage:
//   tide-bench-wayland-click ICON_X ICON_Y BAR_HEIGHT [COUNT]
// on a session with one output, Tide's icon at ICON_X, ICON_Y (logical pixels) in a bar
// BAR_HEIGHT high at the top, nothing opened since Tide started. It opens the panel COUNT times
// (left click; 21 by default) and then the settings menu as often (right click), and prints
//   frame_interval_ms: the output's refresh period
//   panel_first_ms, panel_p50_ms, panel_p95_ms, and the same for menu_
// The first opening stands apart (it is the real first); the percentiles are over the others.
// What an opening shows is learnt from the first one, a second after the press; a later frame is
// complete where it matches that picture over 95 % of the pixels the opening changed.
// The button is held 40 ms (TIDE_BENCH_HOLD_MS), as a quick hand holds it; a menu closes with a
// click on the desktop, the panel with Escape. TIDE_BENCH_VERBOSE=1 adds each opening's figures,
// and every frame's, on standard error.

#include "wayland_capture.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::Picture;
constexpr int kStep = Picture::kStep;
constexpr int64_t kMs = 1'000'000;
constexpr double kComplete = 0.95; // of the changed pixels matching the open picture
constexpr double kClosed = 0.02;   // of them still changed, where the opening is gone

bool differs(uint32_t a, uint32_t b) { // by more than anti-aliasing does
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff);
        if (d > 24 || d < -24) return true;
    }
    return false;
}

struct Box {
    int x, y, w, h; // logical pixels
    bool holds(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// What an opening changes: the samples below the bar that differ between the closed picture and
// the open one, with both values.
struct Target {
    std::vector<size_t> at;
    std::vector<uint32_t> open, closed;
    Box bounds{0, 0, 0, 0};
    double matching(const Picture& p) const {
        size_t n = 0;
        for (size_t i = 0; i < at.size(); ++i)
            n += !differs(p.px[at[i]], open[i]);
        return at.empty() ? 0 : static_cast<double>(n) / static_cast<double>(at.size());
    }
    double changed(const Picture& p) const {
        size_t n = 0;
        for (size_t i = 0; i < at.size(); ++i)
            n += differs(p.px[at[i]], closed[i]);
        return at.empty() ? 0 : static_cast<double>(n) / static_cast<double>(at.size());
    }
};

struct Opening {
    double completeMs = -1, firstChangeMs = -1;
    int frames = 0; // after the press, up to the complete one
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const double rank = q * static_cast<double>(v.size() - 1);
    const size_t lo = static_cast<size_t>(rank);
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - static_cast<double>(lo));
}

class Bench {
public:
    Bench(bench::Session& s, int iconX, int iconY, int bar, int holdMs, bool verbose)
        : s_(s), iconX_(iconX), iconY_(iconY), bar_(bar), holdNs_(holdMs * kMs), verbose_(verbose) {
    }

    bool start() {
        park();
        s_.pump(300);
        auto closed = s_.grab(2000);
        if (!closed) return fail("no picture of the closed desktop");
        closed_ = std::move(*closed);
        return true;
    }
    // Opens with the button `count` times; false where it cannot go on.
    bool run(const char* name, uint32_t button, int count);

private:
    bool fail(const char* what) const {
        std::fprintf(stderr, "tide-bench-wayland-click: %s\n", what);
        return false;
    }
    // The cursor is drawn into the frames: where it rests and where it clicks stay out.
    bool cursorAt(int x, int y) const {
        return Box{iconX_ - 8, iconY_ - 8, 48, 48}.holds(x, y) ||
               Box{0, s_.height() - 48, 48, 48}.holds(x, y);
    }
    void park() { s_.move(0, s_.height()); }
    bool learn(const Picture& open);
    int64_t press(uint32_t button);
    std::optional<Picture> nextFrame(int64_t pressNs, uint32_t button, bool& released, int64_t end);
    bool firstOpening(uint32_t button, Opening& o);
    bool opening(uint32_t button, Opening& o);
    bool close(bool escape);
    bool waitClosed(int ms);
    void note(const Opening& o, const Picture& p, int64_t pressNs);

    bench::Session& s_;
    int iconX_, iconY_, bar_;
    int64_t holdNs_; // from the press to the release
    bool verbose_;
    Picture closed_;
    Target target_;
};

bool Bench::learn(const Picture& open) {
    target_ = Target{};
    int x0 = open.width, y0 = open.height, x1 = -1, y1 = -1;
    for (int y = (bar_ + kStep - 1) / kStep; y < open.height; ++y) {
        for (int x = 0; x < open.width; ++x) {
            const size_t i = static_cast<size_t>(y) * open.width + x;
            if (cursorAt(x * kStep, y * kStep) || !differs(open.px[i], closed_.px[i])) continue;
            target_.at.push_back(i);
            target_.open.push_back(open.px[i]);
            target_.closed.push_back(closed_.px[i]);
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    }
    if (target_.at.size() < 200) return fail("the click opened nothing (or hardly anything)");
    target_.bounds = {x0 * kStep, y0 * kStep, (x1 - x0 + 1) * kStep, (y1 - y0 + 1) * kStep};
    if (verbose_)
        std::fprintf(stderr, "opened: %dx%d at %d,%d (%zu samples changed)\n", target_.bounds.w,
                     target_.bounds.h, target_.bounds.x, target_.bounds.y, target_.at.size());
    return true;
}

// Moves onto the icon and presses, with the frames streaming from before the press on; returns
// the press's time.
int64_t Bench::press(uint32_t button) {
    s_.move(iconX_, iconY_);
    s_.startStreaming();
    s_.pump(80); // the frames of the move; a hand rests on the icon before it presses, too
    const int64_t t = bench::monotonicNs();
    s_.button(button, true, t);
    if (verbose_) {
        timespec real{};
        clock_gettime(CLOCK_REALTIME, &real);
        std::fprintf(stderr, "press at monotonic %.3f ms, realtime %lld.%06ld\n",
                     static_cast<double>(t) / kMs, static_cast<long long>(real.tv_sec),
                     real.tv_nsec / 1000);
    }
    return t;
}

void Bench::note(const Opening& o, const Picture& p, int64_t pressNs) {
    if (!verbose_) return;
    std::fprintf(stderr, "  frame %2d at %6.1f ms: %5.1f %% changed, %5.1f %% as open\n", o.frames,
                 static_cast<double>(p.timeNs - pressNs) / kMs, 100 * target_.changed(p),
                 100 * target_.matching(p));
}

// The next frame until the deadline, releasing the button the press's hold after it.
std::optional<Picture> Bench::nextFrame(int64_t pressNs, uint32_t button, bool& released,
                                        int64_t end) {
    auto p = s_.takeFrame(released ? end : std::min(end, pressNs + holdNs_));
    if (!released && bench::monotonicNs() >= pressNs + holdNs_) {
        s_.button(button, false, bench::monotonicNs());
        released = true;
    }
    return p;
}

// The first opening: its frames are kept until the open picture is known, a second later.
bool Bench::firstOpening(uint32_t button, Opening& o) {
    const int64_t t = press(button);
    std::vector<Picture> frames;
    bool released = false;
    const int64_t end = t + 2500 * kMs;
    for (int64_t now = t; now < end && frames.size() < 200; now = bench::monotonicNs()) {
        auto p = nextFrame(t, button, released, end);
        if (p && p->timeNs >= t) frames.push_back(std::move(*p));
    }
    if (!released) s_.button(button, false, bench::monotonicNs());
    s_.stopStreaming();
    park();
    s_.pump(1000);
    auto open = s_.grab(2000);
    if (!open || !learn(*open)) return false;
    for (const Picture& p : frames) {
        ++o.frames;
        note(o, p, t);
        const double ms = static_cast<double>(p.timeNs - t) / kMs;
        if (o.firstChangeMs < 0 && target_.changed(p) > 0.05) o.firstChangeMs = ms;
        if (target_.matching(p) >= kComplete) {
            o.completeMs = ms;
            return true;
        }
    }
    return fail("no frame of the first opening was complete within 2.5 s");
}

// A later opening, judged frame by frame as they come.
bool Bench::opening(uint32_t button, Opening& o) {
    const int64_t t = press(button);
    bool released = false;
    const int64_t end = t + 5000 * kMs;
    while (bench::monotonicNs() < end) {
        auto p = nextFrame(t, button, released, end);
        if (!p || p->timeNs < t) continue;
        ++o.frames;
        note(o, *p, t);
        const double ms = static_cast<double>(p->timeNs - t) / kMs;
        if (o.firstChangeMs < 0 && target_.changed(*p) > 0.05) o.firstChangeMs = ms;
        if (target_.matching(*p) >= kComplete) {
            o.completeMs = ms;
            break;
        }
    }
    if (!released) s_.button(button, false, bench::monotonicNs());
    s_.stopStreaming();
    return o.completeMs >= 0 || fail("an opening showed no complete frame within 5 s");
}

bool Bench::waitClosed(int ms) {
    s_.startStreaming();
    const int64_t end = bench::monotonicNs() + ms * kMs;
    bool closed = false;
    while (!closed && bench::monotonicNs() < end) {
        auto p = s_.takeFrame(end);
        closed = p && target_.changed(*p) <= kClosed;
    }
    s_.stopStreaming();
    if (!closed) { // no frame came (nothing changed), or none closed: a fresh picture decides
        auto p = s_.grab(1000);
        closed = p && target_.changed(*p) <= kClosed;
    }
    return closed;
}

// Escape closes the panel (it takes the keyboard); a menu, or a panel that Escape leaves open,
// closes with a click on the desktop away from it.
bool Bench::close(bool escape) {
    park();
    if (escape) {
        s_.key(KEY_ESC, true);
        s_.pump(40);
        s_.key(KEY_ESC, false);
    }
    if (!escape || !waitClosed(1500)) {
        const Box& b = target_.bounds;
        const int x = b.x > s_.width() / 2 ? 20 : s_.width() - 20;
        s_.move(x, std::min(s_.height() - 60, b.y + b.h / 2));
        s_.pump(30);
        s_.button(BTN_LEFT, true, bench::monotonicNs());
        s_.pump(40);
        s_.button(BTN_LEFT, false, bench::monotonicNs());
        park();
        if (!waitClosed(3000)) return fail("the opening did not close (Escape, a click beside)");
    }
    s_.pump(600); // Tide takes no click on the icon right after a close
    return true;
}

bool Bench::run(const char* name, uint32_t button, int count) {
    std::vector<double> later;
    Opening first;
    const bool escape = button == BTN_LEFT;
    if (!firstOpening(button, first) || !close(escape)) return false;
    for (int i = 1; i < count; ++i) {
        Opening o;
        if (!opening(button, o) || !close(escape)) return false;
        later.push_back(o.completeMs);
        if (verbose_)
            std::fprintf(stderr, "%s %d: %.1f ms (first change %.1f ms, %d frames)\n", name, i,
                         o.completeMs, o.firstChangeMs, o.frames);
    }
    std::fprintf(stderr, "%s: the first %.1f ms (first change %.1f ms); later:", name,
                 first.completeMs, first.firstChangeMs);
    for (double ms : later)
        std::fprintf(stderr, " %.1f", ms);
    std::fprintf(stderr, "\n");
    std::printf("%s_first_ms: %.1f\n", name, first.completeMs);
    std::printf("%s_p50_ms: %.1f\n", name, percentile(later, 0.5));
    std::printf("%s_p95_ms: %.1f\n", name, percentile(later, 0.95));
    std::fflush(stdout);
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: tide-bench-wayland-click ICON_X ICON_Y BAR_HEIGHT [COUNT]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return usage();
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]), bar = std::atoi(argv[3]);
    const int count = argc == 5 ? std::atoi(argv[4]) : 21;
    if (x < 0 || y < 0 || bar <= 0 || count < 2) return usage();
    const char* verbose = std::getenv("TIDE_BENCH_VERBOSE");
    const char* hold = std::getenv("TIDE_BENCH_HOLD_MS");
    const int holdMs = hold && *hold ? std::atoi(hold) : 40;
    if (holdMs <= 0 || holdMs > 2000) return usage();
    bench::Session session;
    if (!session.connect()) return 1;
    if (x >= session.width() || y >= bar) return usage();
    if (session.refreshMilliHz() > 0)
        std::printf("frame_interval_ms: %.1f\n", 1e6 / session.refreshMilliHz());
    Bench b(session, x, y, bar, holdMs, verbose && *verbose && std::string(verbose) != "0");
    if (!b.start() || !b.run("panel", BTN_LEFT, count) || !b.run("menu", BTN_RIGHT, count))
        return 1;
    return 0;
}
