#pragma once

#include <QString>

namespace pulsaro {

// Makes the window font available and returns its family. The layout is
// measured for Tahoma; the free metric-compatible Tahoma of Debian's fonts-wine
// is used when present, otherwise DejaVu Sans.
QString loadWindowFontFamily();

}  // namespace pulsaro
