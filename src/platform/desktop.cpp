#include "platform/desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

namespace pulsaro {

std::string desktopFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    QString withSeparator = QDir::cleanPath(folder);
    if (!withSeparator.endsWith(QLatin1Char('/'))) {
        withSeparator += QLatin1Char('/');
    }
    return withSeparator.toStdString();
}

bool windowOpacitySupported() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("windows") ||
           platform == QLatin1String("cocoa");
}

bool fileExists(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

}  // namespace pulsaro
