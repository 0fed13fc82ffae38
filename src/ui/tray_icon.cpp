#include "ui/tray_icon.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <utility>

namespace pulsaro {

QIcon programIcon() {
    return QIcon(QStringLiteral(":/icons/pulsaro.svg"));
}

TTrayIcon::TTrayIcon(QWidget& owner, Availability trayAvailable)
    : owner_(&owner), trayAvailable_(std::move(trayAvailable)), tray_(this) {
    tray_.setIcon(programIcon());
    connect(&tray_, &QSystemTrayIcon::activated, this, &TTrayIcon::activate);
    owner.installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
    if (owner_) {
        owner_->removeEventFilter(this);
    }
}

void TTrayIcon::SetHint(const QString& text) {
    QString cut = text.left(kMaxHintLength);
    // Never keep half of a character that needs two UTF-16 units.
    if (cut.size() < text.size() && !cut.isEmpty() && cut.back().isHighSurrogate()) {
        cut.chop(1);
    }
    hint_ = cut;
    updateToolTip();
}

void TTrayIcon::SetShowHint(bool on) {
    showHint_ = on;
    updateToolTip();
}

bool TTrayIcon::IconVisible() const {
    return tray_.isVisible();
}

void TTrayIcon::SetIconVisible(bool on) {
    tray_.setVisible(on);
}

void TTrayIcon::SetEnabled(bool on) {
    enabled_ = on;
    updateContextMenu();
}

QMenu* TTrayIcon::PopupMenu() const {
    return popupMenu_;
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    popupMenu_ = menu;
    updateContextMenu();
}

void TTrayIcon::RestoreMainWindow() {
    if (!owner_) {
        return;
    }
    if (owner_->isMinimized()) {
        // Clearing only the minimised flag keeps a maximised window maximised.
        owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
    }
    owner_->show();
    owner_->raise();
    owner_->activateWindow();
}

void TTrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
    if (!enabled_ || reason != QSystemTrayIcon::DoubleClick) {
        // A right-click's menu comes from the tray itself (see
        // updateContextMenu); a single click does nothing.
        return;
    }
    if (OnDblClick) {
        OnDblClick();
    }
    // The callback may have taken the menu away.
    if (popupMenu_) {
        if (QAction* action = popupMenu_->defaultAction()) {
            action->trigger();
        }
    }
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_ && event->type() == QEvent::WindowStateChange && owner_->isMinimized() &&
        minimizeToTray_ && trayAvailable_()) {
        // Hiding a window while the window system is still reporting its
        // minimise can leave a stale taskbar entry; hide once that is done.
        QMetaObject::invokeMethod(this, &TTrayIcon::sendToTray, Qt::QueuedConnection);
    }
    return false;
}

void TTrayIcon::sendToTray() {
    // Restored again before this ran, or already gone (the window system may
    // report one minimise twice): nothing to do.
    if (!owner_ || !owner_->isMinimized() || !owner_->isVisible()) {
        return;
    }
    if (OnMinimizeToTray) {
        OnMinimizeToTray();
    }
    owner_->hide();
    SetIconVisible(true);
}

void TTrayIcon::updateToolTip() {
    tray_.setToolTip(showHint_ ? hint_ : QString());
}

void TTrayIcon::updateContextMenu() {
    // Detaching the menu is the one way to stop the tray from opening it on a
    // right-click. A StatusNotifier tray keeps the last menu Qt gave it, so
    // there a disabled icon may still open it.
    tray_.setContextMenu(enabled_ ? popupMenu_.data() : nullptr);
}

}  // namespace pulsaro
