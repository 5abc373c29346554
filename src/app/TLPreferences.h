#pragma once
#include <QAnyStringView>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class TLFileWatch;

// The user choices kept in the preference store.
inline constexpr QLatin1StringView TLInterval{"TLInterval"}; // double, seconds
inline constexpr QLatin1StringView TLBarMode{"TLBarMode"};   // integer 0…3
inline constexpr QLatin1StringView TLMetric{"TLMetric"};     // integer 0…1
inline constexpr QLatin1StringView TLMono{"TLMono"};         // bool
inline constexpr QLatin1StringView TLRows{"TLRows"};         // integer 5, 8, 12
inline constexpr QLatin1StringView TLTab{"TLTab"};           // integer 0…1
inline constexpr QLatin1StringView TLShowCPU{"TLShowCPU"};   // bool
// Whether the process list lists applications, each with its processes' sums (bool, default off).
inline constexpr QLatin1StringView TLGroupApps{"TLGroupApps"};
// Whether critical memory pressure is announced with a desktop notification (bool, default on).
inline constexpr QLatin1StringView TLNotifyCriticalPressure{"TLNotifyCriticalPressure"};

// Why the choices of this run may not be kept.
enum class TLPreferenceTrouble {
    None,
    WriteFailed, // the latest write could not reach the file; it is tried again with the next
    Unreadable,  // the file is there but this user cannot read it: it is left as it is
    NoPlace,     // there is nowhere to keep settings (no home directory)
};

// The user's preference store: stored values over a layer of registered defaults.
//
// Registered defaults live in memory only and are never written. Every write goes to disk at once,
// atomically (a new file renamed over the old one), so a crash never leaves a truncated file. When
// the file cannot be written the value is kept in memory for the session and the write is retried
// with the next one. A file that is there but cannot be read is never written over (the user's
// settings would be lost): the session's values stay in memory, and are written once the file can
// be read again. Without a place for the file (an empty path) nothing is written anywhere.
//
// The typed readers convert like a user-defaults store: a stored value wins over a registered
// default; a key with neither reads 0, 0.0 or false; text reads as the number it begins with
// ("2.5" is 2.5 as a double and 2 as an integer, "abc" is 0); a boolean reads true for "true",
// "yes" (in any case) or a non-zero integer. A non-finite double reads 0.0.
//
// On Linux the store is a line-based INI file that a damaged line cannot take other keys down with:
// garbage, binary bytes, stray quotes or a truncated last line cost only the line they are on, and
// the next write leaves a clean file. Unknown keys are kept when they are well-formed (a name of
// letters, digits and percent escapes, a UTF-8 value of at most 4 KiB); other lines are dropped,
// and only the first 256 KiB of a file are read.
class TLPreferences {
public:
    // The store kept in the INI file at path (whose directory is created when missing); with an
    // empty path, a store in memory only.
    explicit TLPreferences(const QString& path);
    ~TLPreferences();
    TLPreferences(const TLPreferences&) = delete;
    TLPreferences& operator=(const TLPreferences&) = delete;

    // The application's store, created on first use and never released:
    // ${XDG_CONFIG_HOME:-~/.config}/dev.tide.monitor.conf on Linux; on macOS the user defaults
    // domain dev.tide.monitor (kept in ~/Library/Preferences/dev.tide.monitor.plist), read and
    // written through the system's preferences service so that `defaults` sees the same values.
    // Main thread only.
    static TLPreferences& standard();
    static QString standardPath();

    // Adds to the registration layer; a later registration of a key replaces the earlier one.
    void registerDefaults(const QVariantMap& defaults);
    // The defaults of the keys above.
    void registerStandardDefaults();

    double doubleForKey(QAnyStringView key) const;
    qint64 integerForKey(QAnyStringView key) const;
    bool boolForKey(QAnyStringView key) const;

    void setDouble(double value, QAnyStringView key);
    void setInteger(qint64 value, QAnyStringView key);
    void setBool(bool value, QAnyStringView key);

    // Changes made outside the program (the file edited by hand, rewritten by another tool or
    // replaced by an editor's rename): from now on the store loads them as they happen, and
    // takeOutsideChange() tells a reader that keeps values to read them again. Nothing runs
    // while the file stays as it is. Where the system gives no notice of a file's changes, the
    // file is looked at (one stat) at each takeOutsideChange() instead. The macOS domain needs
    // no watch: the system's preferences service keeps it current for every read.
    void watchOutsideChanges();
    // True when values read earlier may be stale: a change made outside was loaded since the
    // last call (the program's own writes do not count), or, in the macOS domain, always.
    // False while outside changes are not watched.
    bool takeOutsideChange();

    QString path() const { return _settings ? _settings->fileName() : QString(); }
    // Why this run's choices may not be kept: the latest write could not reach the file (a
    // read-only or full disk, a directory in the file's place), the file cannot be read, or there
    // is no place for it. The values are kept for this run either way.
    TLPreferenceTrouble trouble() const;
    // Counts every change of a stored value, made here or loaded from outside: a reader that
    // keeps values reads them again when it differs from what it saw.
    quint64 generation() const { return _generation; }

private:
    TLPreferences(const QString& path, QSettings::Format format);
    // A store of the platform's own kind: on macOS the user defaults domain formed from the
    // organization's domain and the application ("tide.dev", "monitor": dev.tide.monitor).
    TLPreferences(const QString& organization, const QString& application);

    // The stored value, else the registered one, else an invalid variant.
    QVariant objectForKey(QAnyStringView key) const;
    void store(QAnyStringView key, const QVariant& value);

    static std::unique_ptr<QSettings> openStore(const QString& path, QSettings::Format format);

    // Loads the file again after a change made outside; notes whether any value changed.
    void loadOutsideChange();
    // A notice of the watch: loads the file again unless it is as this store last saw it.
    void loadOnNotice();
    // The file's bytes as they are now; empty where it cannot be read.
    std::optional<QByteArray> fileContent() const;
    void noteContent();

    // Whether the file is there but cannot be read by this user.
    static bool unreadable(const QString& path);
    // Leaves the memory-only state once the file can be read: the file's values, with this
    // session's choices written over them.
    void reopenReadable();

    std::unique_ptr<QSettings> _settings; // null without a place for the file
    QVariantMap _registered;
    // While the file cannot be read (or has no place), the session's values live here only.
    bool _memoryOnly = false;
    QVariantMap _session;
    quint64 _generation = 0;
    bool _writeFailed = false;
    bool _watching = false;
    bool _outsideChange = false;
    // The file's bytes when this store last wrote or read it, while it is watched (read on
    // notices and writes only, never at a tick). A notice of the watch with the file
    // as it was (this program's own write, or a write that failed after opening the file) is no
    // change: reading it again would retry the failed write, whose notice would come back at once.
    std::optional<QByteArray> _seenContent;
    bool _seen = false;
    std::unique_ptr<TLFileWatch> _watch; // null while not watching, or without file notices
};
