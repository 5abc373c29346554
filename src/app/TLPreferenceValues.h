#pragma once
#include <QVariant>

// The typed readers' conversions of a stored or registered value, like a user-defaults store:
// an invalid value reads 0, 0.0 or false; text reads as the number it begins with ("2.5" is 2.5
// as a double and 2 as an integer, "abc" is 0), saturated at the integer's limits; a boolean reads
// true for "true", "yes" (in any case) or a non-zero number. A non-finite double reads 0.0.
double TLPreferenceDouble(const QVariant& value);
qint64 TLPreferenceInteger(const QVariant& value);
bool TLPreferenceBool(const QVariant& value);
