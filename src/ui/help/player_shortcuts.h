#pragma once

#include <QString>

namespace pulsaro {

// A player shortcut's display name: the file name without its last
// extension, empty when the file does not exist, cut to 50 characters.
QString playerDisplayName(const QString& path);

}  // namespace pulsaro
