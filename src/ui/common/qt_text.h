#pragma once

#include <QString>
#include <string>

namespace pulsaro {

// The program's texts are UTF-8; these turn them into Qt strings.
inline QString tr8(const char* text) {
    return QString::fromUtf8(text);
}
inline QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace pulsaro
