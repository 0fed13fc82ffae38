// The window's settings: its place and state restored at start-up, and the
// deletion of all settings.

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
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/help/player_shortcuts.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/saving/result_saver.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

// A value that is missing, or damaged into the other type, keeps its default
// alone; every other value is still read.
void readIfExists(const RegistryKey& key, const char* name, std::int32_t& value) {
    value = key.findInteger(name).value_or(value);
}

void readIfExists(const RegistryKey& key, const char* name, std::string& value) {
    value = key.findString(name).value_or(value);
}

// What start-up reads, with the defaults used when a value is absent.
struct StoredSettings {
    std::int32_t mode = kModeBpm;
    std::int32_t metronome = 0;
    std::string players[3];
    std::int32_t alwaysOnTop = 0;
    std::int32_t minimizeToTray = 0;
    std::int32_t center = 0;
    std::int32_t opacity = settings::kDefaultOpacity;
    std::int32_t transparencyActive = 0;
    std::int32_t left = 0;
    std::int32_t top = 0;
};

}  // namespace

void MainWindow::moveOnScreen(QPoint at) {
    // A place saved on a larger monitor or at another scale may lie partly
    // or wholly off the screens there are now.
    const QSize size = frameGeometry().size();
    const QScreen* screen =
        QGuiApplication::screenAt(at + QPoint(size.width() / 2, size.height() / 2));
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(),
                           std::max(area.left(), area.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), area.top(),
                           std::max(area.top(), area.bottom() + 1 - size.height())));
    }
    move(at);
}

void MainWindow::restorePlace() {
    const bool done = services_.guard("SetFormPos", [&] {
        std::int32_t top = -1;
        std::int32_t left = -1;
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            readIfExists(*key, settings::kTop, top);
            readIfExists(*key, settings::kLeft, left);
        }
        if (top < 0 || left < 0) {
            setCentreOnDesktopWhenShown(true);
        } else {
            moveOnScreen(QPoint(left, top));
        }
    });
    if (!done) {
        setCentreOnDesktopWhenShown(true);
    }
}

void MainWindow::restoreSettings() {
    services_.guard("GetRegistryData", [&] {
        // Saves killed midway leave their temporary files; none may pile up.
        services_.store().removeLeftovers(settings::kKeyPath);
        // The machine-wide version stamp of an installed copy has no place
        // on this platform and is left out.
        StoredSettings stored;
        const auto readable = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath);
        if (const auto& key = readable) {
            readIfExists(*key, settings::kLastUsedCounter, stored.mode);
            readIfExists(*key, settings::kMetronomeActive, stored.metronome);
            readIfExists(*key, settings::kPlayerOne, stored.players[0]);
            readIfExists(*key, settings::kPlayerTwo, stored.players[1]);
            readIfExists(*key, settings::kPlayerThree, stored.players[2]);
            metronome_->setArmed(stored.metronome == 1);
            readIfExists(*key, settings::kAlwaysOnTop, stored.alwaysOnTop);
            readIfExists(*key, settings::kMinimizeToTray, stored.minimizeToTray);
            readIfExists(*key, settings::kCenterForm, stored.center);
            readIfExists(*key, settings::kTransparencyLower, stored.opacity);
            if (stored.opacity < 0 || stored.opacity > settings::kHighestOpacity) {
                stored.opacity = settings::kDefaultOpacity;
            }
            readIfExists(*key, settings::kTransparencyActive, stored.transparencyActive);
            readIfExists(*key, settings::kLeft, stored.left);
            readIfExists(*key, settings::kTop, stored.top);
        }

        // The stored name's bytes are kept exactly, whatever they are.
        std::string fileName;
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            readIfExists(*key, settings::kFileName, fileName);
            if (fileName.empty()) {
                fileName =
                    services_.NewFileName(QString(), settings::kStoredFileType).toStdString();
                key->writeString(settings::kFileName, fileName);
            }
        } else {
            // A key that cannot be written still names the file it holds; a
            // new name is used for this run only.
            if (readable) {
                readIfExists(*readable, settings::kFileName, fileName);
            }
            if (fileName.empty()) {
                fileName =
                    services_.NewFileName(QString(), settings::kStoredFileType).toStdString();
            }
        }
        saver_->setResultFileName(fileName);

        desktop_->trayIcon().SetMinimizeToTray(stored.minimizeToTray == 1);

        const bool anyPlayer =
            !stored.players[0].empty() || !stored.players[1].empty() || !stored.players[2].empty();
        if (anyPlayer) {
            QString paths[3];
            PlayerNames names = playerNames_;
            for (std::size_t k = 0; k < 3; ++k) {
                paths[k] = fromStd(stored.players[k]);
                // A missing program keeps its (at start-up empty) name.
                if (const QString name = playerDisplayName(paths[k]); !name.isEmpty()) {
                    names.names[k] = name;
                }
            }
            setPlayerIcons(paths[0], paths[1], paths[2]);
            setPlayerNames(names);
        }
        if (stored.transparencyActive == 1) {
            desktop_->setOpacity(stored.opacity);
        }
        if (stored.alwaysOnTop == 1) {
            desktop_->setAlwaysOnTop(true);
        }

        // Locked names come back at once; their lock boxes are checked when
        // the save panel next opens.
        QString artist;
        QString album;
        services_.guard("SaveReadAlbumInfo", [&] {
            if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
                artist = fromStd(key->findString(settings::kArtist).value_or(""));
                album = fromStd(key->findString(settings::kAlbum).value_or(""));
            }
        });
        saver_->restoreLockedNames(artist, album);

        if (stored.left >= 0 && stored.top >= 0 && stored.center == 0) {
            moveOnScreen(QPoint(stored.left, stored.top));
        } else if (stored.center == 1) {
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            const QSize size = frameGeometry().size();
            move(screen.left() + (screen.width() - size.width()) / 2,
                 screen.top() + (screen.height() - size.height()) / 2);
        }

        if (stored.mode == kModeMpm) {
            showMpmMode();
        } else if (stored.mode == kModeDelay) {
            showDelayMode();
        } else {
            showBpmMode();
        }
    });
}

void MainWindow::deleteSettings() {
    services_.guard("DeleteRegistrySettings", [&] {
        const QString caption = tr8(res::kAppTitle);
        const auto answer =
            services_.dialogs().messageBox(this, caption, tr8(res::kDeleteSettingsQuestion),
                                           Dialogs::Icon::Question, Dialogs::Buttons::OkCancel);
        if (answer == Dialogs::Answer::Cancel) {
            return;
        }
        if (services_.store().deleteKey(settings::kKeyPath)) {
            services_.dialogs().messageBox(this, caption, tr8(res::kSettingsDeleted),
                                           Dialogs::Icon::Information, Dialogs::Buttons::Ok);
            markSettingsDeleted();
            close();
        } else {
            services_.dialogs().messageBox(this, caption, tr8(res::kCouldNotDeleteSettings),
                                           Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        }
    });
}

}  // namespace pulsaro
