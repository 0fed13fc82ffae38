#include "ui/shared_operations.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <array>

#include "core/number_format.h"
#include "core/tempo_math.h"
#include "platform/desktop.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"

namespace pulsaro {

SharedOperations::SharedOperations(Dialogs& dialogs, SettingsStore& store)
    : dialogs_(dialogs),
      store_(store),
      desktop_(desktopFolder),
      opacityAvailable_(windowOpacitySupported),
      openUrl_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

SharedOperations::~SharedOperations() = default;

void SharedOperations::ErrorHandler(const QString& name, bool quit, const QString& cause) noexcept {
    try {
        QString message = tr8(res::kErrorIn);
        message.replace(QStringLiteral("%s"), name);
        if (!cause.isEmpty()) {
            message += QLatin1Char('\n') + cause;
        }
        message += QLatin1Char('\n') + tr8(res::kErrorContact);
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

std::string SharedOperations::decimalSeparator() {
    return QLocale().decimalPoint().toStdString();
}

Fixed SharedOperations::readFixed(const QString& text) {
    return parseFixed(text.toStdString(), decimalSeparator());
}

bool SharedOperations::IsNumeric(const QString& text) const {
    return isNumeric(text.toStdString(), decimalSeparator());
}

QString SharedOperations::CalcPitch(int percent, Fixed tempo) {
    QString text;
    guard("CalcPitch", [&] { text = fromStd(pitchRangeText(percent, tempo, decimalSeparator())); });
    return text;
}

QString SharedOperations::SpecRoundedBPMValue(Fixed tempo) {
    QString text;
    if (!guard("SpecRoundedBPMValue",
               [&] { text = fromStd(halfRoundedText(tempo, decimalSeparator())); })) {
        text = fromStd(wholeRoundedText(tempo, decimalSeparator()));
    }
    return text;
}

}  // namespace pulsaro
