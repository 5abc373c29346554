#include "app/TLPreferenceValues.h"

#include "sampling/TLCharconv.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t';
}

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

} // namespace

double TLPreferenceDouble(const QVariant& value) {
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

qint64 TLPreferenceInteger(const QVariant& value) {
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

bool TLPreferenceBool(const QVariant& value) {
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
