// Opacity, always on top and the program's own window menu.

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/tray_icon.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/widgets.h"
#include "ui/window/main_window.h"

namespace pulsaro {

void MainWindow::applyOpacity(int percent) {
    services_.guard("MakeWindowTransparent", [&] {
        if (!services_.opacityAvailable()) {
            return;
        }
        // The alpha steps of a layered window: (percent x 255) div 255.
        const int alpha = percent < 100 ? percent * 255 / 100 : 255;
        setWindowOpacity(alpha / 255.0);
    });
}

void MainWindow::extendWindowMenus() {
    windowMenu_ = new QMenu(this);
    windowMenu_->setObjectName(QStringLiteral("windowMenu"));
    windowMenu_->setFont(windowFont(8));
    commands_->build(Place::Window, *windowMenu_);
}

void MainWindow::buildTrayIcon(std::function<bool()> trayAvailable) {
    setWindowIcon(programIcon());
    trayIcon_ = trayAvailable ? std::make_unique<TrayIcon>(*this, std::move(trayAvailable))
                              : std::make_unique<TrayIcon>(*this);
    trayIcon_->SetHint(tr8(res::kAppTitle));
    trayIcon_->SetShowHint(true);

    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("popTrayPopup"));
    trayMenu_->setFont(windowFont(8));
    commands_->build(Place::Tray, *trayMenu_);
    trayMenu_->setDefaultAction(commands_->action(Command::Restore));
    trayIcon_->SetPopupMenu(trayMenu_);
    trayIcon_->OnDblClick = [this] { trayIconDoubleClicked(); };
    trayIcon_->OnMinimizeToTray = [this] { wentToTray(); };
}

void MainWindow::trayIconDoubleClicked() {
    restoreFromTray();
}

void MainWindow::restoreFromTray() {
    trayIcon_->RestoreMainWindow();
    trayIcon_->SetIconVisible(false);
}

void MainWindow::wentToTray() {
    // The clicking stops when the window goes to the tray; the icon takes
    // clicks again.
    trayIcon_->SetEnabled(true);
    metronome_->stopWithDelayMetronome();
}

void MainWindow::showAboutFromTray() {
    // The icon ignores clicks while the About box is up.
    trayIcon_->SetEnabled(false);
    showAbout();
    trayIcon_->SetEnabled(true);
}

void MainWindow::anotherCopyStarted(const QStringList& /*arguments*/) {
    // The running copy comes to the front, out of the tray too.
    if (trayIcon_->IconVisible()) {
        trayIcon_->RestoreMainWindow();
        trayIcon_->SetEnabled(false);
        trayIcon_->SetIconVisible(false);
    } else {
        trayIcon_->RestoreMainWindow();
    }
}

void MainWindow::minimizeAndStopClicks() {
    services_.guard("WinMsg", [&] {
        if (metronome_->clicksId() != 0) {
            metronome_->stopWithDelayMetronome();
        }
        setWindowState(windowState() | Qt::WindowMinimized);
    });
}

void MainWindow::setOpacity(int percent) {
    services_.guard("SET_OPACITY", [&] {
        applyOpacity(percent);
        opacityPercent_ = percent;
        translucent_ = percent != 100;
        updateCommands();
    });
}

void MainWindow::toggleTransparency() {
    services_.guard("mnuViewTransparancyModeClick", [&] {
        if (translucent_) {
            setOpacity(100);
            return;
        }
        std::int32_t percent = settings::kDefaultOpacity;
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            percent = key->findInteger(settings::kTransparencyLower).value_or(percent);
            if (percent < 0 || percent > settings::kHighestOpacity) {
                percent = settings::kDefaultOpacity;
            }
        }
        setOpacity(percent);
    });
}

void MainWindow::toggleAlwaysOnTop() {
    services_.guard("mnuViewAlwaysOnTopClick", [&] { setAlwaysOnTop(!alwaysOnTop_); });
}

void MainWindow::setAlwaysOnTop(bool onTop) {
    services_.guard("mnuViewAlwaysOnTopClick", [&] {
        // Changing the flag re-creates the native window; it keeps its place.
        const QPoint place = pos();
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        move(place);
        if (visible) {
            show();
        }
        alwaysOnTop_ = onTop;
        updateCommands();
    });
}

}  // namespace pulsaro
