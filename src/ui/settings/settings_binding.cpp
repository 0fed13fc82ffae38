#include "ui/settings/settings_binding.h"

#include <QCloseEvent>

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
#include "ui/help/help_commands.h"
#include "ui/help/player_shortcuts.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/saving/result_saver.h"
#include "ui/settings/options_dialog.h"
#include "ui/window/main_window.h"
#include "ui/window/screen_place.h"

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

SettingsBinding::SettingsBinding(AppServices& services, MainWindow& window)
    : QObject(&window), services_(services), window_(window) {
    setObjectName(QStringLiteral("settingsBinding"));
}

void SettingsBinding::restore() {
    restorePlace();
    restoreSettings();
}

void SettingsBinding::restorePlace() {
    const bool done = services_.guard("SetFormPos", [&] {
        std::int32_t top = -1;
        std::int32_t left = -1;
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            readIfExists(*key, settings::kTop, top);
            readIfExists(*key, settings::kLeft, left);
        }
        if (top < 0 || left < 0) {
            window_.setCentreOnDesktopWhenShown(true);
        } else {
            moveOnScreen(window_, QPoint(left, top));
        }
    });
    if (!done) {
        window_.setCentreOnDesktopWhenShown(true);
    }
}

void SettingsBinding::restoreSettings() {
    const WindowParts& parts = window_.parts();
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
            parts.metronome.setArmed(stored.metronome == 1);
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
        parts.saver.setResultFileName(fileName);

        parts.desktop.trayIcon().SetMinimizeToTray(stored.minimizeToTray == 1);

        const bool anyPlayer =
            !stored.players[0].empty() || !stored.players[1].empty() || !stored.players[2].empty();
        if (anyPlayer) {
            QString paths[3];
            PlayerNames names = parts.help.playerNames();
            for (std::size_t k = 0; k < 3; ++k) {
                paths[k] = fromStd(stored.players[k]);
                // A missing program keeps its (at start-up empty) name.
                if (const QString name = playerDisplayName(paths[k]); !name.isEmpty()) {
                    names.names[k] = name;
                }
            }
            parts.help.setPlayerIcons(paths[0], paths[1], paths[2]);
            parts.help.setPlayerNames(names);
        }
        if (stored.transparencyActive == 1) {
            parts.desktop.setOpacity(stored.opacity);
        }
        if (stored.alwaysOnTop == 1) {
            parts.desktop.setAlwaysOnTop(true);
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
        parts.saver.restoreLockedNames(artist, album);

        if (stored.left >= 0 && stored.top >= 0 && stored.center == 0) {
            moveOnScreen(window_, QPoint(stored.left, stored.top));
        } else if (stored.center == 1) {
            centreOnScreen(window_, false);
        }

        if (stored.mode == kModeMpm) {
            window_.showMpmMode();
        } else if (stored.mode == kModeDelay) {
            window_.showDelayMode();
        } else {
            window_.showBpmMode();
        }
    });
}

void SettingsBinding::saveExitSettings() {
    services_.guard("FormCloseQuery", [&] {
        if (settingsDeleted_) {
            return;
        }
        const WindowParts& parts = window_.parts();
        // A key that cannot be written is skipped without a word.
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            // One replace of the file for all of them.
            key->batch([&] {
                if (window_.displayMode() != kModeNone) {
                    key->writeInteger(settings::kLastUsedCounter, window_.displayMode());
                }
                key->writeInteger(settings::kAlwaysOnTop, parts.desktop.alwaysOnTop() ? 1 : 0);
                key->writeInteger(settings::kMetronomeActive, parts.metronome.armed() ? 1 : 0);
                const bool translucent =
                    parts.desktop.translucent() && services_.opacityAvailable();
                key->writeInteger(settings::kTransparencyActive, translucent ? 1 : 0);
                if (!key->valueExists(settings::kTransparency)) {
                    key->writeInteger(settings::kTransparency, settings::kDefaultOpacity);
                }
                key->writeInteger(settings::kTop, window_.y());
                key->writeInteger(settings::kLeft, window_.x());
                // The locked names in the same replace.
                parts.saver.keepLockedNames(*key);
            });
        } else {
            parts.saver.storeLockedNames();
        }
    });
}

void SettingsBinding::openSettingsDialog() {
    services_.guard("mnuFileOptionsClick", [&] { runSettingsDialog(window_, services_); });
}

void SettingsBinding::deleteSettings() {
    services_.guard("DeleteRegistrySettings", [&] {
        const QString caption = tr8(res::kAppTitle);
        const auto answer =
            services_.dialogs().messageBox(&window_, caption, tr8(res::kDeleteSettingsQuestion),
                                           Dialogs::Icon::Question, Dialogs::Buttons::OkCancel);
        if (answer == Dialogs::Answer::Cancel) {
            return;
        }
        if (services_.store().deleteKey(settings::kKeyPath)) {
            services_.dialogs().messageBox(&window_, caption, tr8(res::kSettingsDeleted),
                                           Dialogs::Icon::Information, Dialogs::Buttons::Ok);
            settingsDeleted_ = true;
            window_.close();
        } else {
            services_.dialogs().messageBox(&window_, caption, tr8(res::kCouldNotDeleteSettings),
                                           Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        }
    });
}

}  // namespace pulsaro
