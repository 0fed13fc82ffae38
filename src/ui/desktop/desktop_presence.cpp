#include "ui/desktop/desktop_presence.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/tray_icon.h"
#include "ui/help/help_commands.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/widgets.h"
#include "ui/window/commands.h"

namespace pulsaro {

DesktopPresence::DesktopPresence(Parts parts, QObject* parent)
    : QObject(parent),
      services_(parts.services),
      window_(parts.window),
      metronome_(parts.metronome),
      help_(parts.help) {
    setObjectName(QStringLiteral("desktopPresence"));
    window_.setWindowIcon(programIcon());
    trayIcon_ = parts.trayAvailable
                    ? std::make_unique<TrayIcon>(window_, std::move(parts.trayAvailable))
                    : std::make_unique<TrayIcon>(window_);
    trayIcon_->SetHint(tr8(res::kAppTitle));
    trayIcon_->SetShowHint(true);

    trayMenu_ = new QMenu(&window_);
    trayMenu_->setObjectName(QStringLiteral("popTrayPopup"));
    trayMenu_->setFont(windowFont(8));
    parts.commands.build(Place::Tray, *trayMenu_);
    trayMenu_->setDefaultAction(parts.commands.action(Command::Restore));
    trayIcon_->SetPopupMenu(trayMenu_);
    trayIcon_->OnDblClick = [this] { restoreFromTray(); };
    trayIcon_->OnMinimizeToTray = [this] { wentToTray(); };

    connect(&help_, &HelpCommands::aboutClosed, this, [this] { trayIcon_->SetEnabled(true); });

    windowMenu_ = new QMenu(&window_);
    windowMenu_->setObjectName(QStringLiteral("windowMenu"));
    windowMenu_->setFont(windowFont(8));
    parts.commands.build(Place::Window, *windowMenu_);
}

DesktopPresence::~DesktopPresence() = default;

void DesktopPresence::showWindowMenu(const QPoint& globalPos) {
    windowMenu_->popup(globalPos);
}

void DesktopPresence::applyOpacity(int percent) {
    services_.guard("MakeWindowTransparent", [&] {
        if (!services_.opacityAvailable()) {
            return;
        }
        // The alpha steps of a layered window: (percent x 255) div 255.
        const int alpha = percent < 100 ? percent * 255 / 100 : 255;
        window_.setWindowOpacity(alpha / 255.0);
    });
}

void DesktopPresence::restoreFromTray() {
    trayIcon_->RestoreMainWindow();
    trayIcon_->SetIconVisible(false);
}

void DesktopPresence::wentToTray() {
    // The clicking stops when the window goes to the tray; the icon takes
    // clicks again.
    trayIcon_->SetEnabled(true);
    metronome_.stopWithDelayMetronome();
}

void DesktopPresence::showAboutFromTray() {
    // The icon ignores clicks while the About box is up.
    trayIcon_->SetEnabled(false);
    help_.showAbout();
    trayIcon_->SetEnabled(true);
}

void DesktopPresence::anotherCopyStarted(const QStringList& /*arguments*/) {
    // The running copy comes to the front, out of the tray too.
    if (trayIcon_->IconVisible()) {
        trayIcon_->RestoreMainWindow();
        trayIcon_->SetEnabled(false);
        trayIcon_->SetIconVisible(false);
    } else {
        trayIcon_->RestoreMainWindow();
    }
}

void DesktopPresence::minimizeAndStopClicks() {
    services_.guard("WinMsg", [&] {
        if (metronome_.clicksId() != 0) {
            metronome_.stopWithDelayMetronome();
        }
        window_.setWindowState(window_.windowState() | Qt::WindowMinimized);
    });
}

void DesktopPresence::setOpacity(int percent) {
    services_.guard("SET_OPACITY", [&] {
        applyOpacity(percent);
        opacityPercent_ = percent;
        translucent_ = percent != 100;
        emit commandsChanged();
    });
}

void DesktopPresence::toggleTransparency() {
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

void DesktopPresence::toggleAlwaysOnTop() {
    services_.guard("mnuViewAlwaysOnTopClick", [&] { setAlwaysOnTop(!alwaysOnTop_); });
}

void DesktopPresence::setAlwaysOnTop(bool onTop) {
    services_.guard("mnuViewAlwaysOnTopClick", [&] {
        // Changing the flag re-creates the native window; it keeps its place.
        const QPoint place = window_.pos();
        const bool visible = window_.isVisible();
        window_.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        window_.move(place);
        if (visible) {
            window_.show();
        }
        alwaysOnTop_ = onTop;
        emit commandsChanged();
    });
}

}  // namespace pulsaro
