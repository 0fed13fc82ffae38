#include "platform/fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace pulsaro {

QString loadWindowFontFamily() {
    static const QString family = [] {
        // Only the regular face: the bold file of that package draws thin
        // strokes, while the regular one emboldened by the renderer looks right.
        const QString file = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
        if (QFile::exists(file)) {
            const QStringList families =
                QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
            if (!families.isEmpty()) {
                return families.first();
            }
        }
        return QStringLiteral("DejaVu Sans");
    }();
    return family;
}

}  // namespace pulsaro
