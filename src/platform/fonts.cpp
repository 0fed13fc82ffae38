#include "platform/fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStandardPaths>

namespace pulsaro {

namespace {

const QString kLayoutFamily = QStringLiteral("Tahoma");

}  // namespace

QString loadWindowFontFamily() {
    static const QString family = [] {
        if (QFontDatabase::families().contains(kLayoutFamily, Qt::CaseInsensitive)) {
            return kLayoutFamily;
        }
        // Wine's metric-compatible Tahoma lives outside fontconfig's folders;
        // it is looked up in the data folders ($XDG_DATA_DIRS). Its regular
        // face is taken with the bold face built from it into the program:
        // that package's own bold file draws thin, widely spaced strokes.
        const QString file = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                    QStringLiteral("wine/fonts/tahoma.ttf"));
        if (!file.isEmpty()) {
            const QStringList families =
                QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
            if (!families.isEmpty()) {
                QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/tahoma-bold.ttf"));
                return families.first();
            }
        }
        // Whatever fontconfig offers in Tahoma's place.
        QFont substitute(kLayoutFamily);
        substitute.setStyleHint(QFont::SansSerif);
        return QFontInfo(substitute).family();
    }();
    return family;
}

}  // namespace pulsaro
