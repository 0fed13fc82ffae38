#pragma once

#include <QKeyCombination>
#include <QObject>
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;

namespace pulsaro {

class MainWindow;
struct WindowParts;

// Every command of the menus, the tray menu and the window menu.
enum class Command {
    Save,
    QuickSave,
    Metronome,
    Copy,
    AnalyseFiles,
    Listen,
    UseHeardTempo,
    AnalysePlaying,
    Settings,
    Exit,
    AlwaysOnTop,
    Transparency,
    PlayerOne,
    PlayerTwo,
    PlayerThree,
    BpmMode,
    MpmMode,
    DelayMode,
    WebPage,
    SendMail,
    About,
    CopyValues,
    Restore,
    AboutFromTray,
    ExitFromTray,
    DeleteSettings,
    Minimize,
    Close,
};

// The menus a command can stand in.
enum class Place { File, View, Help, CopyPopup, Tray, Window };

// What enabling and check marks depend on; the window fills it.
struct CommandState {
    bool saveAllowed = false;
    bool quickSaveAllowed = false;
    bool copyAllowed = false;
    bool metronomeArmed = false;
    bool alwaysOnTop = false;
    bool translucent = false;
    bool opacityAvailable = true;
    bool savePanelOpen = false;
    std::int32_t displayMode = 0;
    bool listening = false;
    bool heardTempo = false;   // a locked heard tempo to use
    bool playingFile = false;  // a media player plays a local file
};

// One row of the table: where the command stands, its key, when it can run,
// when it is checked, and what it does.
struct CommandRow {
    Command command;
    Place place;
    const char* objectName;
    const char* caption;
    // The one key (Qt::Key_unknown: none), shown beside the caption. Where a
    // command stands in several places, the first row with the key runs.
    QKeyCombination key;
    bool (*enabled)(const CommandState&);  // null: always
    bool (*checked)(const CommandState&);  // null: not checkable
    void (*run)(const WindowParts&);
    // Starts a group of its own in its menu.
    bool separatorBefore = false;
};

// The whole table, in menu order.
std::span<const CommandRow> commandRows();

// The QActions built from the table, and the one pass that sets their state.
class CommandSet final : public QObject {
public:
    explicit CommandSet(MainWindow& window);

    // Adds the rows of place to menu, in table order.
    void build(Place place, QMenu& menu);
    QAction* action(Command command) const;
    // Enabling and check marks of every built item from one state.
    void update(const CommandState& state);
    // Runs the command bound to key when it is enabled now; true when it ran.
    bool runKey(QKeyCombination key);

private:
    MainWindow& window_;
    QActionGroup* modes_;
    std::array<QAction*, static_cast<std::size_t>(Command::Close) + 1> actions_{};
    std::vector<std::pair<const CommandRow*, QAction*>> items_;
};

}  // namespace pulsaro
