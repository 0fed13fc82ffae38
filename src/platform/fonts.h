#pragma once

#include <QString>

namespace pulsaro {

// Makes the window font available and returns its family. The layout is
// measured for Tahoma: an installed Tahoma first, then the free
// metric-compatible one of Wine's fonts, then fontconfig's substitute.
QString loadWindowFontFamily();

}  // namespace pulsaro
