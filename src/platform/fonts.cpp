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
        // it is looked up in the data folders ($XDG_DATA_DIRS). Only the
        // regular face is taken: that package's bold file draws thin, widely
        // spaced strokes, while the regular face emboldened by the renderer
        // looks right.
        const QString file = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                    QStringLiteral("wine/fonts/tahoma.ttf"));
        if (!file.isEmpty()) {
            const QStringList families =
                QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
            if (!families.isEmpty()) {
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
