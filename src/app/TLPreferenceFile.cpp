#include "app/TLPreferenceFile.h"

#include "sampling/TLPsTable.h"

#include <QByteArray>
#include <QIODevice>
#include <QLocale>
#include <QStringView>

#include <string_view>

namespace {

const QString kGeneralSection = QStringLiteral("General");

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

} // namespace

QSettings::Format TLPreferenceFileFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), readPreferences, writePreferences);
    return format;
}
