// Result-file names: the default name on the desktop and the name shortened
// for the save panel.

#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include "core/file_naming.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "platform/desktop.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/tray_icon.h"
#include "ui/help/player_shortcuts.h"
#include "ui/window/main_window.h"

namespace pulsaro {

QString AppServices::NewFileName(const QString& extension, int selector) {
    QString name;
    guard("NewFileName", [&] {
        std::optional<std::int32_t> storedType;
        if (selector == settings::kStoredFileType && extension.isEmpty()) {
            // An unreadable key or value means the default type.
            if (const auto key = RegistryKey::openReadOnly(store_, settings::kKeyPath)) {
                storedType = key->findInteger(settings::kFileType);
            }
        }
        const std::string chosen = extensionFor(extension.toStdString(), selector, storedType);
        name = QString::fromStdString(newResultFileName(
            chosen, [&] { return GetDeskTopDir().toStdString(); }, fileExists));
    });
    return name;
}

QString AppServices::GetDeskTopDir() {
    QString folder;
    guard("GetDeskTopDir", [&] { folder = QString::fromStdString(desktop_()); });
    return folder;
}

QString AppServices::ShortenFileName(const QString& path, const QFont& font, int maxWidth) const {
    const QFontMetrics metrics(font);
    return QString::fromStdString(
        shortenFileName(path.toStdString(), maxWidth, [&](const std::string& text) {
            return metrics.horizontalAdvance(QString::fromStdString(text));
        }));
}

}  // namespace pulsaro
