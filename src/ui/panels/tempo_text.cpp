#include "ui/panels/tempo_text.h"

#include <QLocale>

#include "core/number_format.h"

namespace pulsaro {

std::string decimalSeparator() {
    return QLocale().decimalPoint().toStdString();
}

Fixed readFixed(const QString& text) {
    return parseFixed(text.toStdString(), decimalSeparator());
}

bool isNumericText(const QString& text) {
    return isNumeric(text.toStdString(), decimalSeparator());
}

QString uncertaintyText(double bpm, const std::string& separator) {
    const int decimals = bpm < 0.095 ? 2 : 1;
    return QStringLiteral("\u00b1 %1 BPM")
        .arg(QString::fromStdString(
            formatDecimals(static_cast<long double>(bpm), decimals, separator)));
}

}  // namespace pulsaro
