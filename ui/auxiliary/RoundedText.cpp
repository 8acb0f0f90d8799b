#include "ui/auxiliary/RoundedText.h"

#include <cmath>

namespace tq {

QString RoundedDecimalText(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::nearbyint(value * scale) / scale;
    QString text = QString::number(rounded, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    // A small negative value that rounds to zero shows as plain zero.
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

}  // namespace tq
