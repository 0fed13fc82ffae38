#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class QMainWindow;
class QMenu;
class QPoint;

namespace pulsaro {

class AppServices;
class CommandSet;
class HelpCommands;
class MetronomeController;
class TrayIcon;

// How the window sits on the desktop: the tray icon and its menu, opacity,
// always on top, the program's own window menu, minimising, and a second
// start of the program handed over to this one.
class DesktopPresence final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        AppServices& services;
        QMainWindow& window;
        CommandSet& commands;
        MetronomeController& metronome;
        HelpCommands& help;
        // Whether the desktop has a notification area; empty: ask the desktop.
        std::function<bool()> trayAvailable;
    };

    DesktopPresence(Parts parts, QObject* parent);
    ~DesktopPresence() override;

    TrayIcon& trayIcon() { return *trayIcon_; }
    void restoreFromTray();
    // The About box, with the tray icon ignoring clicks while it is up.
    void showAboutFromTray();
    // A second start of the program handed over to this one.
    void anotherCopyStarted(const QStringList& arguments);

    // Opacity in per cent (100: opaque); anything else marks the window
    // translucent.
    void setOpacity(int percent);
    // Shows the window at percent opacity where the platform can (a preview:
    // the transparency mode stays as it is).
    void applyOpacity(int percent);
    int opacityPercent() const { return opacityPercent_; }
    bool translucent() const { return translucent_; }
    void toggleTransparency();

    bool alwaysOnTop() const { return alwaysOnTop_; }
    void setAlwaysOnTop(bool onTop);
    void toggleAlwaysOnTop();

    // Minimising stops the clicking, and the delay panel's M with it.
    void minimizeAndStopClicks();
    // The window menu, opened by a right-click on the picture strip.
    void showWindowMenu(const QPoint& globalPos);

signals:
    void commandsChanged();

private:
    void wentToTray();

    AppServices& services_;
    QMainWindow& window_;
    MetronomeController& metronome_;
    HelpCommands& help_;
    std::unique_ptr<TrayIcon> trayIcon_;
    QMenu* trayMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    bool alwaysOnTop_ = false;
    bool translucent_ = false;
    int opacityPercent_ = 100;
};

}  // namespace pulsaro
