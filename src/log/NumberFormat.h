#pragma once
#include <QString>

namespace fw {

// A number as plain decimal text in its shortest form: whole values without decimals (1994, 3000), fractions
// with the system's decimal separator (0.2, 1.5), never an exponent or group separators. A float is written
// as the float it is (0.2f gives 0.2, not its double expansion). Any magnitude is written out: 1e300 as a 1 and
// 300 zeros, the smallest double as "0." and 323 zeros and a 5. -0 is "0"; NaN and the infinities are "nan",
// "inf" and "-inf".
QString plainNumber(double value);
QString plainNumber(float value);

} // namespace fw
