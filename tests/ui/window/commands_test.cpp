// The command table: every row once in its menu, its key shown beside it, and
// enabling and check marks from the window's state.

#include "ui/window/commands.h"
#include "ui/desktop/desktop_presence.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QSet>
#include <map>

#include "ui/fakes.h"

namespace pulsaro::testing {
namespace {

TEST(Commands, EveryItemShowsItsTextAndKeyAndEachKeyRunsOneCommand) {
    WindowRig rig;
    // What every menu item shows, the key beside it after the tab.
    const std::map<QString, QString> shown = {
        {"mnuFileSaveToFile", "&Save...\tF3"},
        {"mnuQuickSave", "&QuickSave\tF2"},
        {"mnuFileMetronome", "&Metronome (BPM/MPM)\tF4"},
        {"mnuFileCopyToClipboard", "Copy to &clipboard\tCtrl+C"},
        {"mnuFileAnalyse", "&Analyse files...\tF8"},
        {"mnuFileListen", "&Listen\tF9"},
        {"mnuFileUseHeard", "Use the &heard tempo\tShift+F9"},
        {"mnuFileAnalysePlaying", "Analyse the &playing file\tShift+F8"},
        {"mnuFileOptions", "S&ettings..."},
        {"mnuFileExit", "E&xit"},
        {"mnuViewAlwaysOnTop", "&Always on top\tCtrl+O"},
        {"mnuViewTransparancyMode", "&Transparency mode\tCtrl+T"},
        {"mnuPlayerOne", "Player &one"},
        {"mnuPlayerTwo", "Player &two"},
        {"mnuPlayerThree", "Player t&hree"},
        {"mnuViewBPM", "&BPM mode\tF5"},
        {"mnuViewMPM", "M&PM mode\tF6"},
        {"mnuViewTimeCounter", "&Delay time calculator mode\tF7"},
        {"mnuHelpWebPage", "Pulsaro &Web page"},
        {"mnuHelpSendMail", "Send &email to Author"},
        {"mnuHelpAbout", "&About Pulsaro\tF1"},
        {"mnuCopyBPM", "Copy to clipboard"},
        {"mnuRestoreFromTray", "Restore"},
        {"mnuAlwaysOnTop", "Always on top"},
        {"mnuTransparency", "Transparency mode"},
        {"mnuAboutFromTray", "About Pulsaro"},
        {"mnuExitFromTray", "Exit"},
        {"windowAlwaysOnTop", "Always on top\tCtrl+O"},
        {"windowTransparency", "Transparency mode\tCtrl+T"},
        {"windowDeleteSettings", "Delete registry settings..."},
        {"windowMinimize", "Mi&nimize"},
        {"windowClose", "&Close"},
    };
    std::map<int, Command> commandOfKey;
    for (const CommandRow& row : commandRows()) {
        const QString name = QString::fromLatin1(row.objectName);
        ASSERT_TRUE(shown.contains(name)) << row.objectName;
        EXPECT_EQ(item(*rig.form, row.objectName)->text(), shown.at(name)) << row.objectName;
        EXPECT_FALSE(QString::fromUtf8(row.caption).contains(QLatin1Char('\t'))) << row.objectName;
        if (row.key.key() != Qt::Key_unknown) {
            const auto [known, added] = commandOfKey.emplace(row.key.toCombined(), row.command);
            EXPECT_TRUE(added || known->second == row.command) << row.objectName;
        }
    }
    EXPECT_EQ(shown.size(), commandRows().size());
    // The menus hold exactly the rows of their places, separators aside.
    const std::pair<QMenu*, Place> menus[] = {
        {child<QMenu>(*rig.form, "mnuFile"), Place::File},
        {child<QMenu>(*rig.form, "mnuView"), Place::View},
        {child<QMenu>(*rig.form, "mnuHelp"), Place::Help},
        {child<QMenu>(*rig.form, "popTrayPopup"), Place::Tray},
        {child<QMenu>(*rig.form, "windowMenu"), Place::Window}};
    for (const auto& [menu, place] : menus) {
        QStringList held;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                held << action->objectName();
            }
        }
        QStringList rows;
        for (const CommandRow& row : commandRows()) {
            if (row.place == place) {
                rows << QString::fromLatin1(row.objectName);
            }
        }
        EXPECT_EQ(held, rows) << menu->objectName().toStdString();
    }
}

// One state marks every place of a toggle: Ctrl+O from the keyboard checks
// the View menu's, the tray menu's and the window menu's item at once.
TEST(Commands, OneStateMarksEveryPlaceOfAToggle) {
    WindowRig rig;
    rig.key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(rig.form->parts().desktop.alwaysOnTop());
    for (const char* name : {"mnuViewAlwaysOnTop", "mnuAlwaysOnTop", "windowAlwaysOnTop"}) {
        EXPECT_TRUE(item(*rig.form, name)->isChecked()) << name;
    }
}

}  // namespace
}  // namespace pulsaro::testing
