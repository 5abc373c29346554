// The tray icon's soak: the real status item, in whatever tray host the session has (an XEmbed
// tray, or a StatusNotifierItem host on the session bus), shown a new picture at every tick with
// the CPU figure in it, as a second-by-second run does, but as fast as the host takes them. It
// prints RssAnon (from /proc/self/status) after the first third of the pictures (the warm-up)
// and at the end, and the growth in between:
//   icon_soak_HOST_rss_anon_warmup_mb: A
//   icon_soak_HOST_rss_anon_end_mb: B
//   icon_soak_HOST_growth_mb: B - A (over the last N of M pictures, S s)
// HOST is xembed or sni. Exit status 1 when the growth is above 0.5 MiB, 2 when no tray host
// showed the item within ten seconds.
// Usage: icon_soak [PICTURES] (default 1800: half an hour at one second).

#include "app/TLAppEnvironment.h"
#include "app/TLPreferences.h"
#include "app/TLStatusItemUpdater.h"
#include "platform/TLStatusHost.h"
#include "platform/TLStatusItem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// What the last two thirds of the pictures may add to RssAnon.
constexpr double kMaxGrowthMb = 0.5;

// RssAnon of this process in MiB; -1 where it cannot be read.
double rssAnonMb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "RssAnon:", 8) == 0) kb = std::strtol(line + 8, nullptr, 10);
    std::fclose(f);
    return kb < 0 ? -1 : static_cast<double>(kb) / 1024.0;
}

// Runs the event loop for `ms` milliseconds: the host fetches or the tray paints the picture.
void settle(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (t.elapsed() < ms);
}

// The sample of tick `i`: the CPU figure changes at every tick, the memory figure now and then,
// as on a busy machine.
TLSystemStats sampleOf(int i) {
    TLSystemStats s;
    s.total = 16ULL << 30;
    s.used = (6ULL << 30) + static_cast<uint64_t>(i % 37) * (48ULL << 20);
    s.app = s.used * 3 / 4;
    s.wired = s.used - s.app;
    s.usagePercent = static_cast<double>(s.used) * 100.0 / static_cast<double>(s.total);
    s.cpuPercent = static_cast<double>((i * 7) % 100);
    s.pressureLevel = TLPressureLevel::Normal;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::max(30, std::atoi(argv[1])) : 1800;
    // As the program itself starts Qt (main.cpp): pictures over the X connection, one pool thread.
    qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationName(QStringLiteral("Tide"));

    QTemporaryDir dir;
    TLPreferences prefs(dir.filePath(QStringLiteral("soak.conf")));
    prefs.registerStandardDefaults();
    prefs.setBool(true, TLShowCPU);

    auto item = TLMakeStatusItem();
    QElapsedTimer wait;
    wait.start();
    while (!item->trayAvailable() && wait.elapsed() < 10000)
        settle(50);
    if (!item->trayAvailable()) {
        std::fprintf(stderr, "icon_soak: no tray host showed the item\n");
        return 2;
    }
    const TLStatusHost picked = TLPickStatusHost(TLSystemStatusHosts());
    const char* host = picked == TLStatusHost::XEmbedTray           ? "xembed"
                       : picked == TLStatusHost::StatusNotifierHost ? "sni"
                                                                    : "other";

    TLAppEnvironment env;
    env.preferences = &prefs;
    env.statusItem = item.get();
    env.trayAppearance = [] { return std::optional<TLAppearance>(TLAppearance::Dark); };
    TLStatusItemUpdater updater(env);

    const int warmup = pictures / 3;
    double atWarmup = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < pictures; ++i) {
        if (i == warmup) atWarmup = rssAnonMb();
        updater.update(sampleOf(i));
        settle(4);
    }
    settle(500);
    const double atEnd = rssAnonMb();
    const double growth = atEnd - atWarmup;
    std::printf("icon_soak_%s_rss_anon_warmup_mb: %.2f\n", host, atWarmup);
    std::printf("icon_soak_%s_rss_anon_end_mb: %.2f\n", host, atEnd);
    std::printf("icon_soak_%s_growth_mb: %.2f (over the last %d of %d pictures, %.1f s)\n", host,
                growth, pictures - warmup, pictures, static_cast<double>(clock.elapsed()) / 1000.0);
    if (atWarmup < 0 || atEnd < 0) {
        std::fprintf(stderr, "icon_soak: RssAnon could not be read\n");
        return 1;
    }
    if (growth > kMaxGrowthMb) {
        std::fprintf(stderr, "icon_soak: RssAnon grew %.2f MiB in the %s tray, more than %.1f\n",
                     growth, host, kMaxGrowthMb);
        return 1;
    }
    return 0;
}
