// Player shortcuts in the View menu, the Help menu's web page, e-mail and
// About box, and the version texts.

#include <QAction>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/build_info.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/options_dialog.h"
#include "ui/qt_text.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"
#include "ui/tray_icon.h"

namespace pulsaro {

namespace {

constexpr int kPlayerNameLength = 50;

// The moment of the build, in the user's time zone.
QDateTime buildTime() {
    return QDateTime::fromString(QString::fromLatin1(build::kBuildTime), Qt::ISODate).toLocalTime();
}

QString withArgument(const char* pattern, const QString& argument) {
    return tr8(pattern).replace(QStringLiteral("%s"), argument);
}

}  // namespace

// --- Shared operations -------------------------------------------------------

QString SharedOperations::PlayerDisplayName(const QString& path) {
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

void SharedOperations::PutPlayerIcons(MainWindow& form, const QString& one, const QString& two,
                                      const QString& three) {
    guard("PutPlayerIcons", [&] {
        const QFileIconProvider provider;
        const QString paths[] = {one, two, three};
        QAction* const items[] = {form.commands().action(Command::PlayerOne),
                                  form.commands().action(Command::PlayerTwo),
                                  form.commands().action(Command::PlayerThree)};
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

bool SharedOperations::RunProgramEx(const QString& file, const QString& directory,
                                    const QString& parameters) {
    bool accepted = false;
    guard("RunProgramEx", [&] {
        const QFileInfo info(file);
        if (info.isFile() && info.isExecutable()) {
            accepted = QProcess::startDetached(
                file, parameters.isEmpty() ? QStringList() : QProcess::splitCommand(parameters),
                directory);
            return;
        }
        const QUrl url = info.exists() ? QUrl::fromLocalFile(info.absoluteFilePath())
                                       : QUrl(file, QUrl::TolerantMode);
        accepted = !url.scheme().isEmpty() && openUrl_(url);
    });
    return accepted;
}

bool SharedOperations::GetFileVersionText(const QString& /*file*/, QString& text) {
    // The version is compiled in from the build's project version.
    const QStringList parts = QString::fromLatin1(build::kVersion).split(QLatin1Char('.'));
    if (parts.size() != 4) {
        text.clear();
        return false;
    }
    text = tr8(res::kVersionText).arg(parts[0], parts[1], parts[3]);
    return true;
}

QString SharedOperations::SetVersionInfo() {
    QString line;
    guard("SetVersionInfo", [&] {
        line = withArgument(res::kCreditLine,
                            QLocale().toString(buildTime().date(), QLocale::ShortFormat));
    });
    return line;
}

QString SharedOperations::mailUri() {
    QString version;
    GetFileVersionText(QString(), version);
    return QStringLiteral("mailto:") + QString::fromLatin1(build::kAuthorMail) +
           withArgument(res::kMailSubject, version);
}

QString SharedOperations::aboutText() {
    QString version;
    GetFileVersionText(QString(), version);
    const QLocale locale;
    const QDateTime built = buildTime();
    const QString compiled = locale.toString(built.date(), QLocale::LongFormat) +
                             QStringLiteral("   ") +
                             locale.toString(built.time(), QLocale::ShortFormat);
    return withArgument(res::kAboutTitle, version) + QStringLiteral("\n\n") +
           tr8(res::kAboutCredit) + QStringLiteral("\n") + withArgument(res::kCompiled, compiled) +
           QStringLiteral("\n\n") + tr8(res::kComponents) + QStringLiteral("\n\n") +
           tr8(res::kTesters);
}

// --- The window's commands ---------------------------------------------------

void MainWindow::setPlayerNames(const PlayerNames& names) {
    funcs_.guard("SET_PLAYER_NAME", [&] {
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

void MainWindow::mnuPlayerClick(int player) {
    static const char* const kValues[] = {settings::kPlayerOne, settings::kPlayerTwo,
                                          settings::kPlayerThree};
    funcs_.guard(player == 0 ? "mnuViewCDPlayerClick" : "mnuViewMP3PlayerClick", [&] {
        const QString caption = tr8(res::kRunPlayerCaptions[player]);
        const auto key = RegistryKey::openReadOnly(funcs_.store(), settings::kKeyPath);
        if (!key) {
            funcs_.dialogs().messageBox(this, caption, tr8(res::kCannotOpenRegistry),
                                        Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
            return;
        }
        if (!key->valueExists(kValues[player])) {
            return;
        }
        // The stored path at the moment of the click, not the item's caption.
        const QString path = fromStd(key->readString(kValues[player]));
        if (!funcs_.RunProgramEx(path, QString(), QString())) {
            funcs_.dialogs().messageBox(this, caption, withArgument(res::kCannotFind, path),
                                        Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void MainWindow::mnuHelpAboutClick() {
    funcs_.guard("mnuHelpAboutClick", [&] {
        funcs_.dialogs().messageBox(this, tr8(res::kAboutCaption), funcs_.aboutText(),
                                    Dialogs::Icon::Information, Dialogs::Buttons::Ok);
        trayIcon_->SetEnabled(true);
    });
}

void MainWindow::mnuHelpWebPageClick() {
    funcs_.guard("mnuHelpWebPageClick", [&] {
        if (!funcs_.RunProgramEx(QString::fromLatin1(build::kWebPage), QString(), QString())) {
            funcs_.dialogs().messageBox(this, tr8(res::kWebPageCaption),
                                        tr8(res::kCannotOpenWebPage), Dialogs::Icon::Warning,
                                        Dialogs::Buttons::Ok);
        }
    });
}

void MainWindow::mnuHelpSendMailClick() {
    funcs_.guard("mnuHelpSendMailClick", [&] {
        if (!funcs_.RunProgramEx(funcs_.mailUri(), QString(), QString())) {
            funcs_.dialogs().messageBox(this, tr8(res::kSendMailCaption), tr8(res::kCannotSendMail),
                                        Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void MainWindow::mnuFileOptionsClick() {
    funcs_.guard("mnuFileOptionsClick", [&] { runSettingsDialog(*this, funcs_); });
}

}  // namespace pulsaro
