#include "platform/fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace pulsaro {

QString loadWindowFontFamily() {
    static const QString family = [] {
        const QStringList files = {QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"),
                                   QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf")};
        QString found;
        for (const QString& file : files) {
            if (!QFile::exists(file)) {
                continue;
            }
            const int id = QFontDatabase::addApplicationFont(file);
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (found.isEmpty() && !families.isEmpty()) {
                found = families.first();
            }
        }
        return found.isEmpty() ? QStringLiteral("DejaVu Sans") : found;
    }();
    return family;
}

}  // namespace pulsaro
