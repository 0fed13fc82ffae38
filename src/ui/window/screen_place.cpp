#include "ui/window/screen_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace pulsaro {

void moveOnScreen(QWidget& window, QPoint at) {
    // A place saved on a larger monitor or at another scale may lie partly
    // or wholly off the screens there are now.
    const QSize size = window.frameGeometry().size();
    const QScreen* screen =
        QGuiApplication::screenAt(at + QPoint(size.width() / 2, size.height() / 2));
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(),
                           std::max(area.left(), area.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), area.top(),
                           std::max(area.top(), area.bottom() + 1 - size.height())));
    }
    window.move(at);
}

void centreOnScreen(QWidget& window, bool availableArea) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = availableArea ? screen->availableGeometry() : screen->geometry();
    const QSize size = window.frameGeometry().size();
    window.move(area.left() + (area.width() - size.width()) / 2,
                area.top() + (area.height() - size.height()) / 2);
}

}  // namespace pulsaro
