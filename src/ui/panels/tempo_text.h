#pragma once

#include <QString>
#include <string>

#include "core/fixed_point.h"

namespace pulsaro {

// The regional decimal separator of the default locale.
std::string decimalSeparator();
// A tempo text of the program's own making (or a typed one that passed the
// number check) read back as fixed point.
Fixed readFixed(const QString& text);
// Whether text is a number in the user's format.
bool isNumericText(const QString& text);
// How exact a tempo is, half the width of its 95 % interval in BPM:
// "± 0.3 BPM"; two decimals below 0.1 so a small one does not read 0.0.
QString uncertaintyText(double bpm, const std::string& separator);

}  // namespace pulsaro
