#pragma once

#include <QObject>
#include <QString>
#include <array>

class QAction;
class QWidget;

namespace pulsaro {

class AppServices;
class CommandSet;

// Display names of the three player shortcuts, at most 50 characters each.
struct PlayerNames {
    std::array<QString, 3> names;
};

// The View menu's player shortcuts (names, icons, starting the program) and
// the Help menu: the About box, the web page and the e-mail to the author.
class HelpCommands final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        AppServices& services;
        // The parent of the message boxes.
        QWidget& window;
        CommandSet& commands;
        // The View menu's separator below the players, shown only with them.
        QAction& playerSeparator;
    };

    HelpCommands(const Parts& parts, QObject* parent);

    const PlayerNames& playerNames() const { return playerNames_; }
    // The player items of the View menu show these names; empty ones hide.
    void setPlayerNames(const PlayerNames& names);
    // The player items take the icons of the programs (up to the first gap).
    void setPlayerIcons(const QString& one, const QString& two, const QString& three);
    // Starts the stored program of player 0, 1 or 2.
    void startPlayer(int player);

    void showAbout();
    void openWebPage();
    void sendMailToAuthor();

signals:
    void aboutClosed();

private:
    AppServices& services_;
    QWidget& window_;
    CommandSet& commands_;
    QAction& playerSeparator_;
    PlayerNames playerNames_;
};

}  // namespace pulsaro
