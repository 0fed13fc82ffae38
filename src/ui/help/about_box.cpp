// The Help menu: the About box, the web page and the e-mail to the author,
// and the version texts they show.

#include "ui/help/about_box.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include "ui/common/app_services.h"
#include "ui/common/build_info.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/settings/options_dialog.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

// The moment of the build, in the user's time zone.
QDateTime buildTime() {
    return QDateTime::fromString(QString::fromLatin1(build::kBuildTime), Qt::ISODate).toLocalTime();
}

QString withArgument(const char* pattern, const QString& argument) {
    return tr8(pattern).replace(QStringLiteral("%s"), argument);
}

}  // namespace

QString versionText() {
    // The version is compiled in from the build's project version.
    const QStringList parts = QString::fromLatin1(build::kVersion).split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return {};
    }
    return tr8(res::kVersionText).arg(parts[0], parts[1], parts[3]);
}

QString creditLine() {
    return withArgument(res::kCreditLine,
                        QLocale().toString(buildTime().date(), QLocale::ShortFormat));
}

QString mailUri() {
    return QStringLiteral("mailto:") + QString::fromLatin1(build::kAuthorMail) +
           withArgument(res::kMailSubject, versionText());
}

QString aboutText() {
    const QLocale locale;
    const QDateTime built = buildTime();
    const QString compiled = locale.toString(built.date(), QLocale::LongFormat) +
                             QStringLiteral("   ") +
                             locale.toString(built.time(), QLocale::ShortFormat);
    return withArgument(res::kAboutTitle, versionText()) + QStringLiteral("\n\n") +
           tr8(res::kAboutCredit) + QStringLiteral("\n") + withArgument(res::kCompiled, compiled) +
           QStringLiteral("\n\n") + tr8(res::kComponents) + QStringLiteral("\n\n") +
           tr8(res::kTesters);
}

void MainWindow::showAbout() {
    services_.guard("mnuHelpAboutClick", [&] {
        services_.dialogs().messageBox(this, tr8(res::kAboutCaption), aboutText(),
                                       Dialogs::Icon::Information, Dialogs::Buttons::Ok);
        desktop_->trayIcon().SetEnabled(true);
    });
}

void MainWindow::openWebPage() {
    services_.guard("mnuHelpWebPageClick", [&] {
        if (!services_.RunProgramEx(QString::fromLatin1(build::kWebPage), QString(), QString())) {
            // The address, so the user can open it by hand.
            services_.dialogs().messageBox(this, tr8(res::kWebPageCaption),
                                           tr8(res::kCannotOpenWebPage) + QLatin1Char('\n') +
                                               QString::fromLatin1(build::kWebPage),
                                           Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void MainWindow::sendMailToAuthor() {
    services_.guard("mnuHelpSendMailClick", [&] {
        if (!services_.RunProgramEx(mailUri(), QString(), QString())) {
            services_.dialogs().messageBox(this, tr8(res::kSendMailCaption),
                                           tr8(res::kCannotSendMail) + QLatin1Char('\n') +
                                               QString::fromLatin1(build::kAuthorMail),
                                           Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        }
    });
}

void MainWindow::openSettingsDialog() {
    services_.guard("mnuFileOptionsClick", [&] { runSettingsDialog(*this, services_); });
}

}  // namespace pulsaro
