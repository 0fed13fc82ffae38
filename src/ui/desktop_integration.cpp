// Opacity, always on top and the program's own window menu.

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/main_window.h"
#include "ui/privata_funktioner.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/tray_icon.h"
#include "ui/widgets.h"
#include "ui/window_messages.h"

namespace pulsaro {

namespace {

QAction* commandItem(QMenu& menu, int command) {
    for (QAction* item : menu.actions()) {
        if (!item->isSeparator() && item->data().toInt() == command) {
            return item;
        }
    }
    return nullptr;
}

}  // namespace

bool TPrivataFunktioner::MakeWindowTransparent(QWidget& window, int percent) {
    bool done = false;
    guard("MakeWindowTransparent", [&] {
        if (!opacityAvailable()) {
            return;
        }
        // The alpha steps of a layered window: (percent x 255) div 255.
        const int alpha = percent < 100 ? percent * 255 / 100 : 255;
        window.setWindowOpacity(alpha / 255.0);
        done = true;
    });
    return done;
}

void TPrivataFunktioner::SetMenuCheck(QMenu& menu, int command, int code) {
    guard("SetMenuCheck", [&] {
        QAction* item = commandItem(menu, command);
        if (item == nullptr) {
            return;
        }
        const bool greyed = code == 10 || code == 12;
        item->setEnabled(!greyed);
        item->setChecked(code == 1);
    });
}

void TfrmPulsaro::extendWindowMenus() {
    windowMenu = new QMenu(this);
    windowMenu->setObjectName(QStringLiteral("windowMenu"));
    windowMenu->setFont(windowFont(8));
    const auto add = [&](const char* caption, int command, bool checkable) {
        QAction* item = windowMenu->addAction(tr8(caption));
        item->setData(command);
        item->setCheckable(checkable);
        connect(item, &QAction::triggered, this, [this, command] { WinMsg(command); });
    };
    add(res::kWindowAlwaysOnTop, kAlwaysOnTopCommand, true);
    add(res::kWindowTransparency, kTransparencyCommand, true);
    add(res::kWindowDeleteSettings, kDeleteSettingsCommand, false);
    windowMenu->addSeparator();
    // What a window manager's menu offers, for a desktop without one.
    add(res::kWindowMinimize, kMinimizeCommand, false);
    add(res::kWindowClose, kCloseCommand, false);
}

void TfrmPulsaro::buildTrayIcon(std::function<bool()> trayAvailable) {
    setWindowIcon(programIcon());
    TrayIcon = trayAvailable ? std::make_unique<TTrayIcon>(*this, std::move(trayAvailable))
                             : std::make_unique<TTrayIcon>(*this);
    TrayIcon->SetHint(tr8(res::kAppTitle));
    TrayIcon->SetShowHint(true);

    popTrayPopup = new QMenu(this);
    popTrayPopup->setObjectName(QStringLiteral("popTrayPopup"));
    popTrayPopup->setFont(windowFont(8));
    const auto item = [&](const char* name, const char* caption) {
        QAction* action = popTrayPopup->addAction(tr8(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    mnuRestoreFromTray = item("mnuRestoreFromTray", res::kTrayRestore);
    popTrayPopup->setDefaultAction(mnuRestoreFromTray);
    mnuAlwaysOnTop = item("mnuAlwaysOnTop", res::kTrayAlwaysOnTop);
    mnuAlwaysOnTop->setCheckable(true);
    mnuTransparency = item("mnuTransparency", res::kTrayTransparency);
    mnuTransparency->setCheckable(true);
    popTrayPopup->addSeparator();
    mnuAboutFromTray = item("mnuAboutFromTray", res::kTrayAbout);
    mnuExitFromTray = item("mnuExitFromTray", res::kTrayExit);
    connect(mnuRestoreFromTray, &QAction::triggered, this, &TfrmPulsaro::mnuRestoreFromTrayClick);
    // The two marks are copies that SET_CHECK_MINIMZED keeps.
    connect(mnuAlwaysOnTop, &QAction::triggered, this, &TfrmPulsaro::mnuViewAlwaysOnTopClick);
    connect(mnuTransparency, &QAction::triggered, this, &TfrmPulsaro::mnuViewTransparancyModeClick);
    connect(mnuAboutFromTray, &QAction::triggered, this, &TfrmPulsaro::mnuAboutFromTrayClick);
    connect(mnuExitFromTray, &QAction::triggered, this, &TfrmPulsaro::close);
    TrayIcon->SetPopupMenu(popTrayPopup);
    TrayIcon->OnDblClick = [this] { TrayIconDblClick(); };
    TrayIcon->OnMinimizeToTray = [this] { TrayIconMinimizeToTray(); };
}

void TfrmPulsaro::TrayIconDblClick() {
    mnuRestoreFromTrayClick();
}

void TfrmPulsaro::mnuRestoreFromTrayClick() {
    TrayIcon->RestoreMainWindow();
    TrayIcon->SetIconVisible(false);
}

void TfrmPulsaro::TrayIconMinimizeToTray() {
    // The clicking stops when the window goes to the tray; the icon takes
    // clicks again.
    TrayIcon->SetEnabled(true);
    KillMetronomeTimer();
    DelayMetronomeOn = false;
    cmdMetronomeDelay->setToolTip(tr8(res::kHintMetronomeOff));
}

void TfrmPulsaro::mnuAboutFromTrayClick() {
    // The icon ignores clicks while the About box is up.
    TrayIcon->SetEnabled(false);
    mnuHelpAbout->trigger();
    TrayIcon->SetEnabled(true);
}

void TfrmPulsaro::SingleInstanceInstanceStarted(const QStringList& /*arguments*/) {
    // The running copy comes to the front, out of the tray too.
    if (TrayIcon->IconVisible()) {
        TrayIcon->RestoreMainWindow();
        TrayIcon->SetEnabled(false);
        TrayIcon->SetIconVisible(false);
    } else {
        TrayIcon->RestoreMainWindow();
    }
}

void TfrmPulsaro::WinMsg(int command) {
    funcs_.guard("WinMsg", [&] {
        switch (command) {
            case kMinimizeCommand:
                if (MetronomeTimerId != 0) {
                    DelayMetronomeOn = false;
                    KillMetronomeTimer();
                    cmdMetronomeDelay->setToolTip(tr8(res::kHintMetronomeOff));
                }
                setWindowState(windowState() | Qt::WindowMinimized);
                break;
            case kCloseCommand:
                close();
                break;
            case kDeleteSettingsCommand:
                funcs_.DeleteRegistrySettings(*this);
                break;
            case kTransparencyCommand:
                mnuViewTransparancyModeClick();
                break;
            case kAlwaysOnTopCommand:
                mnuViewAlwaysOnTopClick();
                break;
            default:
                break;
        }
    });
}

void TfrmPulsaro::decideOpacityAvailable() {
    if (funcs_.opacityAvailable()) {
        return;
    }
    for (QAction* item : {mnuViewTransparancyMode, mnuTransparency}) {
        if (item != nullptr) {
            item->setChecked(false);
            item->setEnabled(false);
        }
    }
    funcs_.SetMenuCheck(*windowMenu, kTransparencyCommand, 12);
}

void TfrmPulsaro::SET_OPACITY(const WindowMessageEvent& message) {
    funcs_.guard("SET_OPACITY", [&] {
        const int percent = static_cast<int>(message.first());
        funcs_.MakeWindowTransparent(*this, percent);
        mnuViewTransparancyMode->setChecked(percent != 100);
        sendMessage(*this, WindowMessage::SET_CHECK_MINIMZED);
    });
}

void TfrmPulsaro::SET_CHECK_MINIMZED() {
    funcs_.guard("SET_CHECK_MINIMZED", [&] {
        const bool onTop = mnuViewAlwaysOnTop->isChecked();
        if (windowMenu != nullptr) {
            funcs_.SetMenuCheck(*windowMenu, kAlwaysOnTopCommand, onTop ? 1 : 0);
        }
        if (mnuAlwaysOnTop != nullptr) {
            mnuAlwaysOnTop->setChecked(onTop);
        }
        if (mnuViewTransparancyMode->isEnabled()) {
            const bool translucent = mnuViewTransparancyMode->isChecked();
            if (windowMenu != nullptr) {
                funcs_.SetMenuCheck(*windowMenu, kTransparencyCommand, translucent ? 1 : 0);
            }
            if (mnuTransparency != nullptr) {
                mnuTransparency->setChecked(translucent);
            }
        }
    });
}

void TfrmPulsaro::mnuViewTransparancyModeClick() {
    funcs_.guard("mnuViewTransparancyModeClick", [&] {
        if (mnuViewTransparancyMode->isChecked()) {
            sendMessage(*this, WindowMessage::SET_OPACITY, 100);
            return;
        }
        std::int32_t percent = settings::kDefaultOpacity;
        if (const auto key = RegistryKey::openReadOnly(funcs_.store(), settings::kKeyPath);
            key && key->valueExists(settings::kTransparencyLower)) {
            percent = key->readInteger(settings::kTransparencyLower);
            if (percent < 0 || percent > settings::kHighestOpacity) {
                percent = settings::kDefaultOpacity;
            }
        }
        sendMessage(*this, WindowMessage::SET_OPACITY, percent);
    });
}

void TfrmPulsaro::mnuViewAlwaysOnTopClick() {
    funcs_.guard("mnuViewAlwaysOnTopClick", [&] {
        const bool onTop = !mnuViewAlwaysOnTop->isChecked();
        // Changing the flag re-creates the native window; it keeps its place.
        const QPoint place = pos();
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        move(place);
        if (visible) {
            show();
        }
        mnuViewAlwaysOnTop->setChecked(onTop);
        sendMessage(*this, WindowMessage::SET_CHECK_MINIMZED);
    });
}

}  // namespace pulsaro
