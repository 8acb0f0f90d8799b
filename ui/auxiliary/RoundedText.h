#pragma once
// The short decimal echo of a typed voltage: rounded to a number of decimals (ties to even), no
// trailing zeros, no decimal point when whole ("10", "-10.2564", "3.14159").

#include <QString>

namespace tq {

QString RoundedDecimalText(double value, int decimals);

}  // namespace tq
