// The version texts of the About box, the e-mail and the credit line.

#include "ui/help/about_box.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include "ui/common/build_info.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"

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

}  // namespace pulsaro
