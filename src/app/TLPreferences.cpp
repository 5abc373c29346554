#include "app/TLPreferences.h"

#include "app/TLPreferenceFile.h"
#include "app/TLPreferenceValues.h"
#include "platform/TLFileWatch.h"
#include "platform/TLPreferenceStore.h"

#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <utility>

TLPreferences::TLPreferences(const QString& path) : TLPreferences(path, TLPreferenceFileFormat()) {}

TLPreferences::~TLPreferences() = default;

TLPreferences::TLPreferences(const QString& path, QSettings::Format format)
    : _settings(path.isEmpty() ? nullptr : openStore(path, format)),
      _memoryOnly(path.isEmpty() || unreadable(path)) {}

bool TLPreferences::unreadable(const QString& path) {
    // The file, or the way to it, is closed to this user (EACCES); a missing file is no trouble.
    // (Access by the real user: the program is never installed set-user-ID.)
    return ::access(QFile::encodeName(path).constData(), R_OK) != 0 && errno == EACCES;
}

TLPreferenceTrouble TLPreferences::trouble() const {
    if (!_settings) return TLPreferenceTrouble::NoPlace;
    if (_memoryOnly) return TLPreferenceTrouble::Unreadable;
    return _writeFailed ? TLPreferenceTrouble::WriteFailed : TLPreferenceTrouble::None;
}

std::unique_ptr<QSettings> TLPreferences::openStore(const QString& path, QSettings::Format format) {
    auto settings = std::make_unique<QSettings>(path, format);
    // Write through a temporary file renamed over the old one, never in place (the default,
    // stated here because a crash mid-write must not truncate the file).
    settings->setAtomicSyncRequired(true);
    return settings;
}

TLPreferences::TLPreferences(const QString& organization, const QString& application)
    : _settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            organization, application)) {}

TLPreferences& TLPreferences::standard() {
    static TLPreferences* const preferences = [] {
        const TLPreferenceStore store = TLSystemPreferenceStore();
        return store.native() ? new TLPreferences(store.organization, store.application)
                              : new TLPreferences(store.path);
    }();
    return *preferences;
}

QString TLPreferences::standardPath() {
    return TLSystemPreferenceStore().path;
}

void TLPreferences::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        _registered.insert(it.key(), it.value());
}

void TLPreferences::registerStandardDefaults() {
    registerDefaults({
        {TLInterval, 2.0},
        {TLBarMode, 0},
        {TLMetric, 0},
        {TLMono, false},
        {TLRows, 8},
        {TLTab, 0},
        {TLShowCPU, false},
        {TLGroupApps, false},
        {TLNotifyCriticalPressure, true},
    });
}

QVariant TLPreferences::objectForKey(QAnyStringView key) const {
    if (_memoryOnly) {
        const auto it = _session.constFind(key.toString());
        if (it != _session.constEnd()) return *it;
    } else {
        QVariant stored = _settings->value(key);
        if (stored.isValid()) return stored;
    }
    return _registered.value(key.toString());
}

double TLPreferences::doubleForKey(QAnyStringView key) const {
    return TLPreferenceDouble(objectForKey(key));
}

qint64 TLPreferences::integerForKey(QAnyStringView key) const {
    return TLPreferenceInteger(objectForKey(key));
}

bool TLPreferences::boolForKey(QAnyStringView key) const {
    return TLPreferenceBool(objectForKey(key));
}

void TLPreferences::setDouble(double value, QAnyStringView key) {
    store(key, value);
}

void TLPreferences::setInteger(qint64 value, QAnyStringView key) {
    store(key, value);
}

void TLPreferences::setBool(bool value, QAnyStringView key) {
    store(key, value);
}

void TLPreferences::store(QAnyStringView key, const QVariant& value) {
    ++_generation;
    if (_memoryOnly) {
        _session.insert(key.toString(), value);
        return;
    }
    if (_writeFailed) {
        // QSettings keeps reporting its first error for good: a fresh store, holding every value
        // of this session that did not reach the file, tells whether this write gets through.
        QVariantMap values;
        for (const QString& k : _settings->allKeys())
            values.insert(k, _settings->value(k));
        _settings = openStore(_settings->fileName(), _settings->format());
        for (auto it = values.begin(); it != values.end(); ++it)
            if (_settings->value(it.key()) != it.value()) _settings->setValue(it.key(), it.value());
    }
    _settings->setValue(key, value);
    // QSettings keeps a value it could not write and tries again at the next sync.
    _settings->sync();
    _writeFailed = _settings->status() == QSettings::AccessError;
    if (_watch) noteContent();
}

void TLPreferences::noteContent() {
    _seenContent = fileContent();
    _seen = true;
}

std::optional<QByteArray> TLPreferences::fileContent() const {
    QFile file(_settings->fileName());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

void TLPreferences::watchOutsideChanges() {
    if (_watching) return;
    _watching = true;
    if (!_settings || _settings->format() == QSettings::NativeFormat) return;
    _watch = TLWatchFile(_settings->fileName(), [this] { loadOnNotice(); });
    // A change made between the first reading and the watch.
    loadOutsideChange();
}

void TLPreferences::loadOnNotice() {
    if (_seen && fileContent() == _seenContent) return;
    loadOutsideChange();
}

void TLPreferences::reopenReadable() {
    _settings = openStore(_settings->fileName(), _settings->format());
    _memoryOnly = false;
    const QVariantMap session = std::exchange(_session, {});
    for (auto it = session.begin(); it != session.end(); ++it)
        _settings->setValue(it.key(), it.value());
    if (!session.isEmpty()) {
        _settings->sync();
        _writeFailed = _settings->status() == QSettings::AccessError;
    }
    ++_generation;
    _outsideChange = true;
}

void TLPreferences::loadOutsideChange() {
    if (!_settings) return;
    if (_memoryOnly) {
        // Nothing is read or written while the file stays closed to this user.
        if (!unreadable(_settings->fileName())) reopenReadable();
        if (_watch) noteContent();
        return;
    }
    // QSettings reads the file again when its size or time stamp differs from what it last read
    // or wrote, and keeps on top any value of this session that could not be written yet. The
    // program's own writes are already in memory and change nothing here.
    const QStringList keys = _settings->allKeys();
    QVariantMap before;
    for (const QString& k : keys)
        before.insert(k, _settings->value(k));
    _settings->sync();
    QVariantMap after;
    for (const QString& k : _settings->allKeys())
        after.insert(k, _settings->value(k));
    if (after != before) {
        _outsideChange = true;
        ++_generation;
    }
    if (_watch) noteContent();
}

bool TLPreferences::takeOutsideChange() {
    if (!_watching || !_settings) return false;
    if (_settings->format() == QSettings::NativeFormat) return true;
    if (!_watch) loadOutsideChange();
    return std::exchange(_outsideChange, false);
}
