#include "app/TLPreferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include <limits>
#include <memory>

namespace {

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(_dir.isValid()); }

    QString path() const { return _dir.filePath(QStringLiteral("dev.tide.monitor.conf")); }

    void writeFile(const QByteArray& content) const {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    QByteArray readFile() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A store over a copy of the file: it can only know what reached the disk.
    std::unique_ptr<TLPreferences> reopenFromDisk() {
        const QString copy = _dir.filePath(QStringLiteral("copy-%1.conf").arg(++_copies));
        EXPECT_TRUE(QFile::copy(path(), copy));
        return std::make_unique<TLPreferences>(copy);
    }

    QTemporaryDir _dir;
    int _copies = 0;
};

} // namespace

TEST_F(PreferencesTest, FreshStoreReadsTheRegisteredDefaultsAndWritesOnlyChanges) {
    TLPreferences prefs(path());
    EXPECT_EQ(prefs.doubleForKey(TLInterval), 0.0); // neither stored nor registered

    prefs.registerStandardDefaults();
    EXPECT_EQ(prefs.doubleForKey(TLInterval), 2.0);
    EXPECT_EQ(prefs.integerForKey(TLBarMode) + prefs.integerForKey(TLMetric), 0);
    EXPECT_EQ(prefs.integerForKey(TLRows), 8);
    EXPECT_EQ(prefs.integerForKey(TLTab), 0);
    EXPECT_FALSE(prefs.boolForKey(TLMono) || prefs.boolForKey(TLShowCPU));
    EXPECT_FALSE(QFile::exists(path()));

    prefs.setInteger(1, TLTab);
    EXPECT_EQ(readFile(), "[General]\nTLTab=1\n");
}

TEST_F(PreferencesTest, WrittenValuesWinOverDefaultsAndSurviveARestart) {
    {
        TLPreferences prefs(path());
        prefs.registerStandardDefaults();
        prefs.setDouble(5.0, TLInterval);
        prefs.setInteger(12, TLRows);
        prefs.setBool(true, TLMono);
        EXPECT_EQ(prefs.integerForKey(TLRows), 12);
    }
    const auto reopened = reopenFromDisk();
    reopened->registerStandardDefaults();
    EXPECT_EQ(reopened->doubleForKey(TLInterval), 5.0);
    EXPECT_EQ(reopened->integerForKey(TLRows), 12);
    EXPECT_TRUE(reopened->boolForKey(TLMono));
}

TEST_F(PreferencesTest, ReadersConvertStoredTextLikeUserDefaults) {
    struct Case {
        const char* text;
        double asDouble;
        qint64 asInteger;
        bool asBool;
    };
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    const Case cases[] = {
        {"2.5", 2.5, 2, true},
        {"  12abc", 12, 12, true},
        {"-3", -3, -3, true},
        {"+4.5", 4.5, 4, true},
        {"1e3", 1000, 1, true},
        {"\" 7 \"", 7, 7, true},
        {"true", 0, 0, true},
        {"YES", 0, 0, true},
        {"yes", 0, 0, true},
        {"false", 0, 0, false},
        {"NO", 0, 0, false},
        {"0", 0, 0, false},
        {"abc", 0, 0, false},
        {"", 0, 0, false},
        {"+-1", 0, 0, false},
        {"1e999", 0, 1, true},
        {"nan", 0, 0, false},
        {"inf", 0, 0, false},
        {"99999999999999999999", 1e20, max, true},
    };
    QByteArray file = "[General]\n";
    QVariantMap defaults;
    for (size_t i = 0; i < std::size(cases); ++i) {
        file += "K" + QByteArray::number(qulonglong(i)) + '=' + cases[i].text + '\n';
        defaults.insert(QStringLiteral("K%1").arg(i), 9); // a stored value wins, parsable or not
    }
    writeFile(file);
    TLPreferences prefs(path());
    prefs.registerDefaults(defaults);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const QString key = QStringLiteral("K%1").arg(i);
        EXPECT_EQ(prefs.doubleForKey(key), cases[i].asDouble) << cases[i].text;
        EXPECT_EQ(prefs.integerForKey(key), cases[i].asInteger) << cases[i].text;
        EXPECT_EQ(prefs.boolForKey(key), cases[i].asBool) << cases[i].text;
    }
}

TEST_F(PreferencesTest, TypedValuesConvertAcrossReaders) {
    TLPreferences prefs(path());
    prefs.setDouble(2.7, u"D");
    prefs.setDouble(-1e300, u"Big");
    prefs.setBool(true, u"B");
    prefs.registerDefaults({{QStringLiteral("R"), 2.9}});
    EXPECT_EQ(prefs.integerForKey(u"D"), 2);
    EXPECT_EQ(prefs.integerForKey(u"Big"), std::numeric_limits<qint64>::min());
    EXPECT_EQ(prefs.doubleForKey(u"B"), 1.0);
    EXPECT_EQ(prefs.integerForKey(u"R"), 2);
}

TEST_F(PreferencesTest, DamagedFileKeepsEveryReadableKey) {
    // Each damaged line is one that QSettings' own INI reader lets swallow the lines after it.
    QByteArray content = "[General]\n"
                         "TLInterval=3\n"
                         "garbage line without equals\n"
                         "junk\"with an open quote\n"
                         "TLBarMode=2\n"
                         "dangling backslash\\\n"
                         "TLMetric=1\n"
                         "[header without its bracket\n"
                         "TLMono=true\n";
    content += QByteArray("\0\0\0\0\xff\xfe\x01\n", 8); // a block of binary damage
    content += QByteArray("\0\0TLRows=12\n", 12);       // damage glued to a key
    content += "TLTab=1\n"
               "TLShowCPU=tr"; // truncated last line
    writeFile(content);

    const auto expectGoodKeys = [](const TLPreferences& prefs, qint64 rows) {
        EXPECT_EQ(prefs.doubleForKey(TLInterval), 3.0);
        EXPECT_EQ(prefs.integerForKey(TLBarMode), 2);
        EXPECT_EQ(prefs.integerForKey(TLMetric), 1);
        EXPECT_TRUE(prefs.boolForKey(TLMono));
        EXPECT_EQ(prefs.integerForKey(TLRows), rows);
        EXPECT_EQ(prefs.integerForKey(TLTab), 1);
        EXPECT_FALSE(prefs.boolForKey(TLShowCPU));
    };
    TLPreferences prefs(path());
    expectGoodKeys(prefs, 12);

    // A write afterwards keeps the good keys and leaves a clean file.
    prefs.setInteger(5, TLRows);
    const QByteArray rewritten = readFile();
    EXPECT_FALSE(rewritten.contains('\0') || rewritten.contains("garbage") ||
                 rewritten.contains("bracket"));
    expectGoodKeys(*reopenFromDisk(), 5);
}

TEST_F(PreferencesTest, KeysTheProgramDoesNotKnowSurviveARewrite) {
    writeFile("[General]\n"
              "Spaced=\"  padded  \"\n"
              "Escaped=a\\\\b\\nc\n"
              "Quote=\"\"q\"\n"
              "caf%C3%A9=1\n"
              "[Window]\n"
              "size=3\n");
    TLPreferences prefs(path());
    prefs.setBool(true, TLShowCPU);

    const auto reopened = reopenFromDisk();
    EXPECT_TRUE(reopened->boolForKey(TLShowCPU));
    EXPECT_EQ(reopened->integerForKey(u"Window/size"), 3);
    EXPECT_EQ(reopened->integerForKey(u"café"), 1);
    // Text values are written back exactly as they were.
    const QByteArray file = readFile();
    EXPECT_TRUE(file.contains("Spaced=\"  padded  \"\n")) << file.toStdString();
    EXPECT_TRUE(file.contains("Escaped=a\\\\b\\nc\n")) << file.toStdString();
    EXPECT_TRUE(file.contains("Quote=\"\"q\"\n")) << file.toStdString();
    EXPECT_TRUE(file.contains("[Window]\nsize=3\n")) << file.toStdString();
}

TEST_F(PreferencesTest, WritesReplaceTheFileInsteadOfRewritingIt) {
    TLPreferences prefs(path());
    prefs.setInteger(8, TLRows);
    struct stat before {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &before), 0);

    prefs.setInteger(12, TLRows);
    struct stat after {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &after), 0);
    // A new file renamed over the old one: a crash mid-write leaves the old file whole.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_TRUE(readFile().contains("TLRows=12"));
    // No temporary or lock file is left behind.
    EXPECT_EQ(QDir(_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("dev.tide.monitor.conf")});
}

TEST_F(PreferencesTest, MissingDirectoryIsCreatedAndAnImpossibleOneKeepsValuesInMemory) {
    const QString nested = _dir.filePath(QStringLiteral("a/b/dev.tide.monitor.conf"));
    TLPreferences(nested).setDouble(1.0, TLInterval);
    EXPECT_TRUE(QFile::exists(nested));

    // A regular file where the directory should be: no one can create the store under it.
    writeFile("not a directory");
    const QString impossible = path() + QStringLiteral("/sub/dev.tide.monitor.conf");
    TLPreferences prefs(impossible);
    prefs.registerStandardDefaults();
    prefs.setInteger(12, TLRows);
    prefs.setBool(true, TLMono);
    EXPECT_EQ(prefs.integerForKey(TLRows), 12);
    EXPECT_TRUE(prefs.boolForKey(TLMono));
    EXPECT_EQ(prefs.doubleForKey(TLInterval), 2.0);
    EXPECT_FALSE(QFileInfo::exists(impossible));
    EXPECT_EQ(readFile(), "not a directory");
}

TEST(PreferencesPath, FollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/tide-config");
    EXPECT_EQ(TLPreferences::standardPath(), "/tmp/tide-config/dev.tide.monitor.conf");
    // Empty or relative values fall back to ~/.config.
    const QString fallback = QDir::homePath() + QStringLiteral("/.config/dev.tide.monitor.conf");
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(TLPreferences::standardPath(), fallback);
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(TLPreferences::standardPath(), fallback);
    // Without a home (and no absolute XDG_CONFIG_HOME) there is no place, not "/.config".
    const QByteArray home = qgetenv("HOME");
    qunsetenv("HOME");
    EXPECT_EQ(TLPreferences::standardPath(), QString());
    qputenv("HOME", "relative");
    EXPECT_EQ(TLPreferences::standardPath(), QString());
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", saved);
}

// No place for the file: the session's values are kept in memory, the defaults answer the rest,
// nothing is written anywhere (the working directory included), and the trouble is told.
TEST_F(PreferencesTest, WithoutAPlaceValuesLiveInMemoryOnly) {
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(_dir.path()));
    {
        TLPreferences prefs{QString()};
        prefs.registerStandardDefaults();
        prefs.watchOutsideChanges();
        EXPECT_EQ(prefs.trouble(), TLPreferenceTrouble::NoPlace);
        const quint64 before = prefs.generation();
        prefs.setInteger(12, TLRows);
        EXPECT_NE(prefs.generation(), before);
        EXPECT_EQ(prefs.integerForKey(TLRows), 12);
        EXPECT_EQ(prefs.doubleForKey(TLInterval), 2.0);
        EXPECT_FALSE(prefs.takeOutsideChange());
    }
    EXPECT_TRUE(QDir(_dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QDir::setCurrent(cwd);
}

// A large file of garbage: only its head is read, lines that are not "key = value" with a
// well-formed key are dropped instead of being kept (and rewritten at every change) as keys, and
// well-formed unknown keys survive.
TEST_F(PreferencesTest, AGarbageFileIsReadBoundedAndNotCarriedAlong) {
    QByteArray content = "[General]\nTLRows=12\nOther.Key=kept\n";
    quint32 seed = 12345;
    QByteArray garbage;
    garbage.reserve(8 << 20);
    while (garbage.size() < (8 << 20)) {
        seed = seed * 1664525u + 1013904223u;
        const char c = static_cast<char>(seed >> 24);
        garbage.append(c == '\n' ? '=' : c);
        if ((seed & 0x3f) == 0) garbage.append("x=y\xff\n"); // '=' lines that are no settings
        if ((seed & 0x7f) == 1) garbage.append("\n");
    }
    content += garbage;
    content += "\nTLMono=true\n"; // far beyond what is read
    writeFile(content);

    TLPreferences prefs(path());
    EXPECT_EQ(prefs.integerForKey(TLRows), 12);
    EXPECT_EQ(prefs.integerForKey(u"Other.Key"), 0);
    prefs.setInteger(5, TLTab);
    const QByteArray rewritten = readFile();
    EXPECT_LT(rewritten.size(), 4096) << "garbage kept as keys";
    EXPECT_TRUE(rewritten.contains("Other.Key=kept\n"));
    EXPECT_TRUE(rewritten.contains("TLRows=12\n"));
    EXPECT_TRUE(rewritten.contains("TLTab=5\n"));
}

// A directory where the file should be: the write fails (even as root), the failure is told, the
// old state stays, the value lives on for the session and is written with the next change once
// the way is free.
TEST_F(PreferencesTest, AFailedWriteIsToldAndRetriedWithTheNextChange) {
    ASSERT_TRUE(QDir().mkpath(path()));
    TLPreferences prefs(path());
    prefs.setInteger(12, TLRows);
    EXPECT_EQ(prefs.trouble(), TLPreferenceTrouble::WriteFailed);
    EXPECT_EQ(prefs.integerForKey(TLRows), 12);
    prefs.setBool(true, TLMono);
    EXPECT_EQ(prefs.trouble(), TLPreferenceTrouble::WriteFailed);

    ASSERT_TRUE(QDir(path()).removeRecursively());
    prefs.setInteger(1, TLTab);
    EXPECT_EQ(prefs.trouble(), TLPreferenceTrouble::None);
    const auto reopened = reopenFromDisk();
    EXPECT_EQ(reopened->integerForKey(TLRows), 12);
    EXPECT_TRUE(reopened->boolForKey(TLMono));
    EXPECT_EQ(reopened->integerForKey(TLTab), 1);
}

namespace {

// Runs the event loop until `done` holds or `ms` milliseconds have passed.
template <typename F>
bool eventually(F done, int ms = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Writes `path` as another tool would: a new file renamed over the old one (in place when
// `inPlace`).
void writeAsAnotherTool(const QString& path, const QByteArray& content, bool inPlace = false) {
    const QString target = inPlace ? path : path + QStringLiteral(".new");
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
    file.close();
    if (!inPlace) {
        ASSERT_EQ(::rename(QFile::encodeName(target), QFile::encodeName(path)), 0);
    }
}

} // namespace

// Changes made outside the program, while it watches: loaded as they happen, however the file is
// written, and told once; its own writes and other files of the directory are not changes.
TEST_F(PreferencesTest, ChangesMadeOutsideAreLoadedAndToldOnce) {
    writeFile("[General]\nTLBarMode=0\nTLRows=5\n");
    TLPreferences prefs(path());
    prefs.registerStandardDefaults();
    EXPECT_FALSE(prefs.takeOutsideChange()); // not watching: values read once stay
    prefs.watchOutsideChanges();
    EXPECT_FALSE(prefs.takeOutsideChange());

    // Replaced by a rename, as editors and atomic writers save. (A file of the same length
    // written within the millisecond of the last reading looks unchanged, as it does to
    // QSettings: outside changes come later than that.)
    QThread::msleep(10);
    writeAsAnotherTool(path(), "[General]\nTLBarMode=2\nTLRows=5\n");
    ASSERT_TRUE(eventually([&] { return prefs.integerForKey(TLBarMode) == 2; }));
    EXPECT_TRUE(prefs.takeOutsideChange());
    EXPECT_FALSE(prefs.takeOutsideChange());

    // Written in place, in the replaced file (which is watched afresh).
    writeAsAnotherTool(path(), "[General]\nTLBarMode=2\nTLRows=5\nTLMono=true\n", true);
    ASSERT_TRUE(eventually([&] { return prefs.boolForKey(TLMono); }));
    EXPECT_TRUE(prefs.takeOutsideChange());

    // The program's own writes, and other files beside ours, change nothing that was read.
    prefs.setInteger(1, TLMetric);
    writeAsAnotherTool(_dir.filePath(QStringLiteral("other.conf")), "[General]\nTLBarMode=3\n");
    QFile::remove(_dir.filePath(QStringLiteral("other.conf")));
    EXPECT_FALSE(eventually([&] { return prefs.takeOutsideChange(); }, 300));
    EXPECT_EQ(prefs.integerForKey(TLBarMode), 2);

    // Damaged text costs only its own lines; the readable ones count.
    static const char damaged[] = "[General]\nTLBarMode=\"3\n\x00\x01\xff garbage\n";
    writeAsAnotherTool(path(), QByteArray(damaged, sizeof damaged - 1) + "TLShowCPU=true\n");
    ASSERT_TRUE(eventually([&] { return prefs.boolForKey(TLShowCPU); }));
    EXPECT_TRUE(prefs.takeOutsideChange());
    EXPECT_EQ(prefs.integerForKey(TLRows), 8); // gone from the file: the default

    // Removed: the defaults; made again: read again.
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(eventually([&] { return !prefs.boolForKey(TLShowCPU); }));
    EXPECT_TRUE(prefs.takeOutsideChange());
    writeAsAnotherTool(path(), "[General]\nTLRows=12\n", true);
    ASSERT_TRUE(eventually([&] { return prefs.integerForKey(TLRows) == 12; }));

    // The program's own writes still reach the file after all this.
    prefs.setInteger(3, TLBarMode);
    TLPreferences reopened(path());
    EXPECT_EQ(reopened.integerForKey(TLBarMode), 3);
    EXPECT_EQ(reopened.integerForKey(TLRows), 12);
}
