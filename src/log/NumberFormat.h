#pragma once
#include <QString>

namespace fw {

// A number as plain decimal text in its shortest form: whole values without decimals (1994, 3000), fractions
// with the system's decimal separator (0.2, 1.5), never an exponent or group separators. A float is written
// as the float it is (0.2f gives 0.2, not its double expansion).
QString plainNumber(double value);
QString plainNumber(float value);

} // namespace fw
