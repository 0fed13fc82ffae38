#include "platform/settings_location.h"

#include <QStandardPaths>

namespace pulsaro {

std::string settingsRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
}

}  // namespace pulsaro
