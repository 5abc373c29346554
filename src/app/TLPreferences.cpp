#include "app/TLPreferences.h"

#include "platform/TLPreferenceStore.h"

#include "sampling/TLCharconv.h"
#include "sampling/TLPsTable.h"

#include <QByteArray>
#include <QDir>
#include <QIODevice>
#include <QLocale>
#include <QStringView>

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace {

// ---------------------------------------------------------------------------------------------
// The file format.
//
// The file looks like an INI file written by QSettings:
//
//   [General]
//   TLInterval=2
//   TLMono=true
//
// but it is read one physical line at a time. QSettings' own INI reader lets a stray double
// quote, a trailing backslash, a section header without its ']' or a run of NUL bytes swallow the
// lines that follow; here a damaged line costs only itself. Keys are percent-encoded, values keep
// backslash escapes for newline, return, tab and backslash, and a value with outer spaces or a
// leading quote is wrapped in double quotes.

const QString kGeneralSection = QStringLiteral("General");

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t';
}

// The line without control bytes (a NUL-filled block, a stray escape), which no valid line has.
QByteArray withoutControlBytes(QByteArrayView line) {
    QByteArray clean;
    clean.reserve(line.size());
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 0x20 && u != 0x7f) || c == '\t') clean.append(c);
    }
    return clean;
}

// A key or section name as written: printable ASCII only, so bytes from a damaged block next to a
// key do not make it another key.
QString decodeName(QByteArrayView raw) {
    QByteArray ascii;
    for (char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7f) ascii.append(c);
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(ascii));
}

QByteArray encodeName(const QString& name) {
    return name.toUtf8().toPercentEncoding();
}

QString decodeValue(QByteArrayView raw) {
    QString text = QString::fromUtf8(raw).trimmed();
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.mid(1, text.size() - 2);
    QString value;
    value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\' || i + 1 == text.size()) {
            value.append(c);
            continue;
        }
        const QChar next = text[++i];
        if (next == u'n') {
            value.append(u'\n');
        } else if (next == u'r') {
            value.append(u'\r');
        } else if (next == u't') {
            value.append(u'\t');
        } else if (next == u'\\') {
            value.append(u'\\');
        } else {
            value.append(c);
            value.append(next);
        }
    }
    return value;
}

QByteArray encodeText(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (QChar c : text) {
        if (c == u'\\') {
            escaped.append(u"\\\\");
        } else if (c == u'\n') {
            escaped.append(u"\\n");
        } else if (c == u'\r') {
            escaped.append(u"\\r");
        } else if (c == u'\t') {
            escaped.append(u"\\t");
        } else if (c.unicode() >= 0x20 && c.unicode() != 0x7f) {
            escaped.append(c);
        }
    }
    if (!escaped.isEmpty() &&
        (escaped.front() == u' ' || escaped.back() == u' ' || escaped.front() == u'"')) {
        escaped = u'"' + escaped + u'"';
    }
    return escaped.toUtf8();
}

// The text of a stored value; false for values that have none (they are left out of the file).
bool encodeValue(const QVariant& value, QByteArray& out) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        out = value.toBool() ? "true" : "false";
        return true;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        out = QByteArray::number(value.toLongLong());
        return true;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        out = QByteArray::number(value.toULongLong());
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        out = QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        return true;
    case QMetaType::QByteArray:
        out = encodeText(QString::fromUtf8(value.toByteArray()));
        return true;
    default:
        if (!value.canConvert<QString>()) return false;
        out = encodeText(value.toString());
        return true;
    }
}

// The largest file read: a few hundred bytes are what the program writes; a file of garbage costs
// no more than this, and what lies beyond is not read.
constexpr qint64 kMaxFileBytes = 256 * 1024;
constexpr qsizetype kMaxNameBytes = 256;
constexpr qsizetype kMaxValueBytes = 4096;

// A key or section name as the program writes them: percent-encoding's unreserved characters and
// '%'. Anything else on the left of an '=' is damage, not a key to carry along.
bool isWellFormedName(QByteArrayView raw) {
    if (raw.isEmpty() || raw.size() > kMaxNameBytes) return false;
    for (char c : raw) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                        c == '%';
        if (!ok) return false;
    }
    return true;
}

bool isWellFormedValue(QByteArrayView raw) {
    return raw.size() <= kMaxValueBytes &&
           TLIsValidUTF8(std::string_view(raw.data(), static_cast<size_t>(raw.size())));
}

// Never reports a format error: QSettings would then drop every key, good ones included.
bool readPreferences(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray data = device.read(kMaxFileBytes);
    QString section; // "" for [General]
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        const QByteArray line =
            withoutControlBytes(QByteArrayView(data).sliced(start, end - start)).trimmed();
        start = end + 1;

        if (line.isEmpty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            // A header without its ']' is damage, not a new section: the keys below it stay where
            // they were.
            if (close < 0) continue;
            const QByteArrayView raw = QByteArrayView(line).sliced(1, close - 1).trimmed();
            if (!isWellFormedName(raw)) continue;
            const QString name = decodeName(raw);
            section = name == kGeneralSection ? QString() : name;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) continue;
        const QByteArrayView rawKey = QByteArrayView(line).first(equals).trimmed();
        const QByteArrayView rawValue = QByteArrayView(line).sliced(equals + 1);
        if (!isWellFormedName(rawKey) || !isWellFormedValue(rawValue)) continue;
        const QString key = decodeName(rawKey);
        if (key.isEmpty()) continue;
        map.insert(section.isEmpty() ? key : section + u'/' + key,
                   decodeValue(QByteArrayView(line).sliced(equals + 1)));
    }
    return true;
}

bool writePreferences(QIODevice& device, const QSettings::SettingsMap& map) {
    QByteArray out = "[General]\n";
    // Top-level keys first, then one block per section. Keys sharing a section prefix are
    // adjacent in the sorted map.
    for (auto it = map.begin(); it != map.end(); ++it) {
        QByteArray value;
        if (it.key().contains(u'/') || !encodeValue(it.value(), value)) continue;
        out += encodeName(it.key()) + '=' + value + '\n';
    }
    QString current;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        QByteArray value;
        if (slash <= 0 || !encodeValue(it.value(), value)) continue;
        const QString section = it.key().first(slash);
        if (section != current) {
            out += '\n' + ('[' + encodeName(section) + "]\n");
            current = section;
        }
        out += encodeName(it.key().sliced(slash + 1)) + '=' + value + '\n';
    }
    return device.write(out) == out.size();
}

QSettings::Format preferencesFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), readPreferences, writePreferences);
    return format;
}

// ---------------------------------------------------------------------------------------------
// Conversions of the typed readers.

bool isSignedInteger(int type) {
    return type == QMetaType::Int || type == QMetaType::Long || type == QMetaType::LongLong ||
           type == QMetaType::Short;
}

bool isUnsignedInteger(int type) {
    return type == QMetaType::UInt || type == QMetaType::ULong || type == QMetaType::ULongLong ||
           type == QMetaType::UShort;
}

bool isReal(int type) {
    return type == QMetaType::Double || type == QMetaType::Float;
}

// Text values as stored: QString from the file, QByteArray if someone stored one.
bool textOf(const QVariant& value, QByteArray& out) {
    if (value.typeId() == QMetaType::QString) {
        out = value.toString().toUtf8();
        return true;
    }
    if (value.typeId() == QMetaType::QByteArray) {
        out = value.toByteArray();
        return true;
    }
    return false;
}

// Leading blanks and one optional sign, as the number parsers skip them.
std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && isAsciiSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

// The integer the text begins with; 0 when it begins with none; saturated on overflow.
qint64 integerFromText(std::string_view text) {
    text = skipBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Parse the magnitude as unsigned so that the sign cannot be doubled ("+-1").
    unsigned long long magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    (void)ptr;
    constexpr unsigned long long maxMagnitude = std::numeric_limits<qint64>::max();
    if (ec == std::errc::invalid_argument) return 0;
    if (ec == std::errc::result_out_of_range || magnitude > maxMagnitude) {
        return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    }
    const auto signedMagnitude = static_cast<qint64>(magnitude);
    return negative ? -signedMagnitude : signedMagnitude;
}

// The decimal number the text begins with ("2.5", "1e3", ".5"); 0.0 when it begins with none or
// does not fit a finite double.
double doubleFromText(std::string_view text) {
    text = skipBlanks(text);
    // from_chars takes no '+' and would take "inf" and "nan", which are no numbers here.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return 0.0;
    }
    double value = 0.0;
    const auto [ptr, ec] = TLFromChars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    if (ec != std::errc() || !std::isfinite(value)) return 0.0;
    return value;
}

bool boolFromText(std::string_view text) {
    const QByteArray word = QByteArray(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    if (word.compare("true", Qt::CaseInsensitive) == 0 ||
        word.compare("yes", Qt::CaseInsensitive) == 0) {
        return true;
    }
    return integerFromText(text) != 0;
}

qint64 integerFromDouble(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exact in a double; every double below it converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) return std::numeric_limits<qint64>::max();
    if (value <= -limit) return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(value);
}

std::string_view viewOf(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

double toDouble(const QVariant& value) {
    const int type = value.typeId();
    QByteArray text;
    if (type == QMetaType::Bool) return value.toBool() ? 1.0 : 0.0;
    if (isSignedInteger(type)) return static_cast<double>(value.toLongLong());
    if (isUnsignedInteger(type)) return static_cast<double>(value.toULongLong());
    if (isReal(type)) {
        const double d = value.toDouble();
        return std::isfinite(d) ? d : 0.0;
    }
    if (textOf(value, text)) return doubleFromText(viewOf(text));
    return 0.0;
}

qint64 toInteger(const QVariant& value) {
    const int type = value.typeId();
    QByteArray text;
    if (type == QMetaType::Bool) return value.toBool() ? 1 : 0;
    if (isSignedInteger(type)) return value.toLongLong();
    if (isUnsignedInteger(type)) {
        const qulonglong u = value.toULongLong();
        constexpr auto max = static_cast<qulonglong>(std::numeric_limits<qint64>::max());
        return u > max ? std::numeric_limits<qint64>::max() : static_cast<qint64>(u);
    }
    if (isReal(type)) return integerFromDouble(value.toDouble());
    if (textOf(value, text)) return integerFromText(viewOf(text));
    return 0;
}

bool toBool(const QVariant& value) {
    const int type = value.typeId();
    QByteArray text;
    if (type == QMetaType::Bool) return value.toBool();
    if (isSignedInteger(type)) return value.toLongLong() != 0;
    if (isUnsignedInteger(type)) return value.toULongLong() != 0;
    if (isReal(type)) {
        const double d = value.toDouble();
        return !std::isnan(d) && d != 0.0;
    }
    if (textOf(value, text)) return boolFromText(viewOf(text));
    return false;
}

} // namespace

TLPreferences::TLPreferences(const QString& path) : TLPreferences(path, preferencesFormat()) {}

TLPreferences::TLPreferences(const QString& path, QSettings::Format format)
    : _settings(openStore(path, format)) {}

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
    });
}

QVariant TLPreferences::objectForKey(QAnyStringView key) const {
    QVariant stored = _settings->value(key);
    if (stored.isValid()) return stored;
    return _registered.value(key.toString());
}

double TLPreferences::doubleForKey(QAnyStringView key) const {
    return toDouble(objectForKey(key));
}

qint64 TLPreferences::integerForKey(QAnyStringView key) const {
    return toInteger(objectForKey(key));
}

bool TLPreferences::boolForKey(QAnyStringView key) const {
    return toBool(objectForKey(key));
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
}
