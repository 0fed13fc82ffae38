#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class QMenu;
class QWidget;

namespace pulsaro {

// The program's own mark, ":/icons/pulsaro.svg"; drawn by Qt's SVG icon
// engine, so it is sharp at any size from the tray's 16 px up.
QIcon programIcon();

// The program's icon in the desktop's notification area, and the owner
// window's way there and back.
//
// Minimising the owner while MinimizeToTray is on and a tray is there sends
// the window to the tray: OnMinimizeToTray runs, the window hides and the
// icon shows. Without a tray a minimise stays an ordinary minimise, since a
// hidden window would have no way back.
//
// While Enabled is off, clicks on the icon do nothing and it offers no menu.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    using Callback = std::function<void()>;
    using Availability = std::function<bool()>;

    // trayAvailable tells whether the desktop shows tray icons right now;
    // tests replace it.
    explicit TrayIcon(QWidget& owner,
                      Availability trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable);
    ~TrayIcon() override;

    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // The tip; longer texts are cut to kMaxHintLength characters.
    QString Hint() const { return hint_; }
    void SetHint(const QString& text);
    // Whether the tip is shown; Hint keeps its text either way.
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool on);

    bool IconVisible() const;
    void SetIconVisible(bool on);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);

    // Shown on a right-click; its default action answers a double-click.
    // Not owned.
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* menu);

    bool MinimizeToTray() const { return minimizeToTray_; }
    void SetMinimizeToTray(bool on) { minimizeToTray_ = on; }

    bool TrayAvailable() const { return trayAvailable_(); }

    // Brings the owner back: out of minimised, shown, on top and active.
    void RestoreMainWindow();

    // Answers a click on the icon as the tray reports it; public so tests
    // can click without a tray.
    void activate(QSystemTrayIcon::ActivationReason reason);

    // Runs before the owner hides on its way to the tray.
    Callback OnMinimizeToTray;
    // Runs on a double-click, before the menu's default action.
    Callback OnDblClick;

    static constexpr int kMaxHintLength = 127;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendToTray();
    void updateToolTip();
    void updateContextMenu();

    QPointer<QWidget> owner_;
    Availability trayAvailable_;
    QSystemTrayIcon tray_;
    QPointer<QMenu> popupMenu_;
    QString hint_;
    bool showHint_ = true;
    bool enabled_ = true;
    bool minimizeToTray_ = false;
};

}  // namespace pulsaro
