#include "platform/desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace pulsaro {

std::string desktopFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return {};
    }
    QString withSeparator = QDir::cleanPath(folder);
    if (!withSeparator.endsWith(QLatin1Char('/'))) {
        withSeparator += QLatin1Char('/');
    }
    return withSeparator.toStdString();
}

std::string settingsRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
}

bool fileExists(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

}  // namespace pulsaro
