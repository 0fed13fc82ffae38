// The command table: every row once in its menu, its key in its caption, and
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

TEST(Commands, EachKeyOnceInTheCaptionOfItsRowAndEveryRowInItsMenu) {
    WindowRig rig;
    QSet<int> keys;
    // A place that shows a key it does not bind shows the key of its command.
    std::map<Command, QKeyCombination> keyOf;
    for (const CommandRow& row : commandRows()) {
        if (row.key.key() != Qt::Key_unknown) {
            keyOf.emplace(row.command, row.key);
        }
    }
    for (const CommandRow& row : commandRows()) {
        QAction* built = item(*rig.form, row.objectName);
        const QString caption = QString::fromUtf8(row.caption);
        EXPECT_EQ(built->text(), caption) << row.objectName;
        const qsizetype tab = caption.indexOf(QLatin1Char('\t'));
        if (row.key.key() == Qt::Key_unknown) {
            if (tab >= 0) {
                ASSERT_TRUE(keyOf.contains(row.command)) << row.objectName;
                EXPECT_EQ(caption.mid(tab + 1), QKeySequence(keyOf[row.command]).toString())
                    << row.objectName;
            }
            continue;
        }
        EXPECT_FALSE(keys.contains(row.key.toCombined())) << row.objectName;
        keys.insert(row.key.toCombined());
        EXPECT_EQ(caption.mid(tab + 1), QKeySequence(row.key).toString()) << row.objectName;
    }
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
