#include "ui/common/app_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <array>

#include "core/number_format.h"
#include "core/tempo_math.h"
#include "platform/desktop.h"
#include "ui/common/build_info.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/common/tick_timer.h"
#include "ui/window/main_window.h"

namespace pulsaro {

AppServices::AppServices(Dialogs& dialogs, SettingsStore& store)
    : dialogs_(dialogs),
      store_(store),
      desktop_(desktopFolder),
      opacityAvailable_(windowOpacitySupported),
      openUrl_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

AppServices::~AppServices() = default;

void AppServices::ErrorHandler(const QString& name, bool quit, const QString& cause) noexcept {
    try {
        QString message = tr8(res::kErrorIn);
        message.replace(QStringLiteral("%s"), name);
        if (!cause.isEmpty()) {
            message += QLatin1Char('\n') + cause;
        }
        message += QLatin1Char('\n') +
                   tr8(res::kErrorContact)
                       .replace(QStringLiteral("%s"), QString::fromLatin1(build::kAuthorMail));
        dialogs_.messageBox(nullptr, tr8(res::kErrorCaption), message, Dialogs::Icon::Error,
                            Dialogs::Buttons::Ok);
        if (quit) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
    } catch (...) {
        try {
            dialogs_.messageBox(nullptr, tr8(res::kErrorCaption), tr8(res::kErrorInErrorHandler),
                                Dialogs::Icon::Question, Dialogs::Buttons::Ok);
        } catch (...) {
            // Nothing is left to report with.
        }
    }
}

bool AppServices::RunProgramEx(const QString& file, const QString& directory,
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

}  // namespace pulsaro
