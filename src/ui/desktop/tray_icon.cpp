#include "ui/desktop/tray_icon.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <utility>

namespace pulsaro {

QIcon programIcon() {
    return QIcon(QStringLiteral(":/icons/pulsaro.svg"));
}

TrayIcon::TrayIcon(QWidget& owner, Availability trayAvailable)
    : owner_(&owner), trayAvailable_(std::move(trayAvailable)), tray_(this) {
    tray_.setIcon(programIcon());
    connect(&tray_, &QSystemTrayIcon::activated, this, &TrayIcon::activate);
    owner.installEventFilter(this);
}

TrayIcon::~TrayIcon() {
    if (owner_) {
        owner_->removeEventFilter(this);
    }
}

void TrayIcon::SetHint(const QString& text) {
    QString cut = text.left(kMaxHintLength);
    // Never keep half of a character that needs two UTF-16 units.
    if (cut.size() < text.size() && !cut.isEmpty() && cut.back().isHighSurrogate()) {
        cut.chop(1);
    }
    hint_ = cut;
    updateToolTip();
}

void TrayIcon::SetShowHint(bool on) {
    showHint_ = on;
    updateToolTip();
}

bool TrayIcon::IconVisible() const {
    return tray_.isVisible();
}

void TrayIcon::SetIconVisible(bool on) {
    tray_.setVisible(on);
}

void TrayIcon::SetEnabled(bool on) {
    enabled_ = on;
    updateContextMenu();
}

QMenu* TrayIcon::PopupMenu() const {
    return popupMenu_;
}

void TrayIcon::SetPopupMenu(QMenu* menu) {
    popupMenu_ = menu;
    updateContextMenu();
}

void TrayIcon::RestoreMainWindow() {
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

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
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

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_ && event->type() == QEvent::WindowStateChange && owner_->isMinimized() &&
        minimizeToTray_ && trayAvailable_()) {
        // Hiding a window while the window system is still reporting its
        // minimise can leave a stale taskbar entry; hide once that is done.
        QMetaObject::invokeMethod(this, &TrayIcon::sendToTray, Qt::QueuedConnection);
    }
    return false;
}

void TrayIcon::sendToTray() {
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

void TrayIcon::updateToolTip() {
    tray_.setToolTip(showHint_ ? hint_ : QString());
}

void TrayIcon::updateContextMenu() {
    // Detaching the menu is the one way to stop the tray from opening it on a
    // right-click. A StatusNotifier tray keeps the last menu Qt gave it, so
    // there a disabled icon may still open it.
    tray_.setContextMenu(enabled_ ? popupMenu_.data() : nullptr);
}

}  // namespace pulsaro
