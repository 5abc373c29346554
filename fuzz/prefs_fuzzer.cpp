// libFuzzer harness for the preference file reader: the input is a preference file. Reading it
// must keep working, a write afterwards must read back, and the rewritten file holds no more
// than the well-formed lines of the input. Built and run by scripts/fuzz.

#include "app/TLPreferences.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "preferences fault: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.conf"));
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input");
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    {
        TLPreferences prefs(path);
        prefs.registerStandardDefaults();
        for (const QLatin1StringView key :
             {TLInterval, TLBarMode, TLMetric, TLMono, TLRows, TLTab, TLShowCPU}) {
            (void)prefs.doubleForKey(key);
            (void)prefs.integerForKey(key);
            (void)prefs.boolForKey(key);
        }
        prefs.setInteger(7, TLRows);
        check(prefs.trouble() == TLPreferenceTrouble::None, "write failed");
    }
    QFile written(path);
    check(written.open(QIODevice::ReadOnly), "file gone");
    // "[General]" and the one setting, plus what the input had (escapes may double a value).
    check(written.size() <= 2 * static_cast<qint64>(size) + 64, "rewritten file grew");
    TLPreferences reopened(path);
    check(reopened.integerForKey(TLRows) == 7, "written value lost");
    return 0;
}
