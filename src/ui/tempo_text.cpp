#include "ui/tempo_text.h"

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

}  // namespace pulsaro
