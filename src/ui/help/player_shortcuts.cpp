// The three player shortcuts of the View menu: their names, icons and
// starting the program.

#include "ui/help/player_shortcuts.h"

#include <QAction>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QRegularExpression>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/window/commands.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

constexpr int kPlayerNameLength = 50;

}  // namespace

QString playerDisplayName(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        return {};
    }
    // Names written on either platform split alike.
    QString name = path.mid(
        static_cast<int>(path.lastIndexOf(QRegularExpression(QStringLiteral("[/\\\\:]")))) + 1);
    if (const auto dot = name.lastIndexOf(QLatin1Char('.')); dot >= 0) {
        name.truncate(dot);
    }
    return name.left(kPlayerNameLength);
}

void MainWindow::setPlayerIcons(const QString& one, const QString& two, const QString& three) {
    services_.guard("PutPlayerIcons", [&] {
        const QFileIconProvider provider;
        const QString paths[] = {one, two, three};
        QAction* const items[] = {commands_->action(Command::PlayerOne),
                                  commands_->action(Command::PlayerTwo),
                                  commands_->action(Command::PlayerThree)};
        for (int k = 0; k < 3; ++k) {
            const QFileInfo file(paths[k]);
            if (paths[k].isEmpty() || !file.isFile()) {
                return;  // a gap stops the icons of the later shortcuts too
            }
            // Where the desktop has no icon for it, the item keeps its image.
            const QIcon icon = provider.icon(file);
            if (!icon.isNull()) {
                items[k]->setIcon(icon);
            }
        }
    });
}

void MainWindow::setPlayerNames(const PlayerNames& names) {
    services_.guard("SET_PLAYER_NAME", [&] {
        playerNames_ = names;
        QAction* const items[] = {commands_->action(Command::PlayerOne),
                                  commands_->action(Command::PlayerTwo),
                                  commands_->action(Command::PlayerThree)};
        bool any = false;
        for (std::size_t k = 0; k < 3; ++k) {
            const QString& name = names.names[k];
            items[k]->setVisible(!name.isEmpty());
            if (!name.isEmpty()) {
                items[k]->setText(name);
                playerSeparator_->setVisible(true);
                any = true;
            }
        }
        if (!any) {
            playerSeparator_->setVisible(false);
        }
    });
}

void MainWindow::startPlayer(int player) {
    static const char* const kValues[] = {settings::kPlayerOne, settings::kPlayerTwo,
                                          settings::kPlayerThree};
    services_.guard(player == 0 ? "mnuViewCDPlayerClick" : "mnuViewMP3PlayerClick", [&] {
        const QString caption = tr8(res::kRunPlayerCaptions[player]);
        const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath);
        if (!key) {
            services_.dialogs().messageBox(this, caption, tr8(res::kCannotOpenRegistry),
                                           Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
            return;
        }
        if (!key->valueExists(kValues[player])) {
            return;
        }
        // The stored path at the moment of the click, not the item's caption.
        const QString path = fromStd(key->readString(kValues[player]));
        if (!services_.RunProgramEx(path, QString(), QString())) {
            services_.dialogs().messageBox(
                this, caption, tr8(res::kCannotFind).replace(QStringLiteral("%s"), path),
                Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

}  // namespace pulsaro
