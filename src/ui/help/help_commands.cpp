#include "ui/help/help_commands.h"

#include <QAction>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QRegularExpression>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/build_info.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/help/about_box.h"
#include "ui/help/player_shortcuts.h"
#include "ui/window/commands.h"

namespace pulsaro {

namespace {

constexpr int kPlayerNameLength = 50;

}  // namespace

HelpCommands::HelpCommands(const Parts& parts, QObject* parent)
    : QObject(parent),
      services_(parts.services),
      window_(parts.window),
      commands_(parts.commands),
      playerSeparator_(parts.playerSeparator) {
    setObjectName(QStringLiteral("helpCommands"));
}

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

void HelpCommands::setPlayerIcons(const QString& one, const QString& two, const QString& three) {
    services_.guard("PutPlayerIcons", [&] {
        const QFileIconProvider provider;
        const QString paths[] = {one, two, three};
        QAction* const items[] = {commands_.action(Command::PlayerOne),
                                  commands_.action(Command::PlayerTwo),
                                  commands_.action(Command::PlayerThree)};
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

void HelpCommands::setPlayerNames(const PlayerNames& names) {
    services_.guard("SET_PLAYER_NAME", [&] {
        playerNames_ = names;
        QAction* const items[] = {commands_.action(Command::PlayerOne),
                                  commands_.action(Command::PlayerTwo),
                                  commands_.action(Command::PlayerThree)};
        bool any = false;
        for (std::size_t k = 0; k < 3; ++k) {
            const QString& name = names.names[k];
            items[k]->setVisible(!name.isEmpty());
            if (!name.isEmpty()) {
                items[k]->setText(name);
                playerSeparator_.setVisible(true);
                any = true;
            }
        }
        if (!any) {
            playerSeparator_.setVisible(false);
        }
    });
}

void HelpCommands::startPlayer(int player) {
    static const char* const kValues[] = {settings::kPlayerOne, settings::kPlayerTwo,
                                          settings::kPlayerThree};
    services_.guard(player == 0 ? "mnuViewCDPlayerClick" : "mnuViewMP3PlayerClick", [&] {
        const QString caption = tr8(res::kRunPlayerCaptions[player]);
        const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath);
        if (!key) {
            services_.dialogs().messageBox(&window_, caption, tr8(res::kCannotOpenRegistry),
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
                &window_, caption, tr8(res::kCannotFind).replace(QStringLiteral("%s"), path),
                Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void HelpCommands::showAbout() {
    services_.guard("mnuHelpAboutClick", [&] {
        services_.dialogs().messageBox(&window_, tr8(res::kAboutCaption), aboutText(),
                                       Dialogs::Icon::Information, Dialogs::Buttons::Ok);
        emit aboutClosed();
    });
}

void HelpCommands::openWebPage() {
    services_.guard("mnuHelpWebPageClick", [&] {
        if (!services_.RunProgramEx(QString::fromLatin1(build::kWebPage), QString(), QString())) {
            // The address, so the user can open it by hand.
            services_.dialogs().messageBox(&window_, tr8(res::kWebPageCaption),
                                           tr8(res::kCannotOpenWebPage) + QLatin1Char('\n') +
                                               QString::fromLatin1(build::kWebPage),
                                           Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void HelpCommands::sendMailToAuthor() {
    services_.guard("mnuHelpSendMailClick", [&] {
        if (!services_.RunProgramEx(mailUri(), QString(), QString())) {
            services_.dialogs().messageBox(&window_, tr8(res::kSendMailCaption),
                                           tr8(res::kCannotSendMail) + QLatin1Char('\n') +
                                               QString::fromLatin1(build::kAuthorMail),
                                           Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

}  // namespace pulsaro
