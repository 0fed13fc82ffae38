#include <gtest/gtest.h>
#include <QContextMenuEvent>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>

#include "ui/fakes.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/widgets.h"

namespace pulsaro::testing {
namespace {

DelayPanel& delayPanel(WindowRig& rig) {
    return *rig.form->findChild<DelayPanel*>();
}

// Whether the copy menu pops up on a context-menu request over the panel;
// it is closed again.
bool copyMenuOpensOn(WindowRig& rig, const char* panel) {
    auto* target = child<QWidget>(*rig.form, panel);
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              target->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(target, &request);
    auto* menu = child<QMenu>(*rig.form, "popcopybpmvalue");
    const bool opened = menu->isVisible();
    menu->hide();
    return opened;
}

const char* const kDelayNames[] = {"lblDelay2xWhole",     "lblDelayWhole", "lblDelayHalf",
                                   "lblDelayQuarter",     "lblDelayEight", "lblDelaySixteenth",
                                   "lblDelayThirtySecond"};

QStringList delayTable(const WindowRig& rig) {
    QStringList table;
    for (const char* name : kDelayNames) {
        table << rig.text(name);
    }
    return table;
}

QStringList table(std::initializer_list<const char*> values) {
    const char* const prefixes[] = {
        "2x Whole: ", "Whole: ", "Half: ", "Quarter: ", "Eighth: ", "Sixteenth: ", "Thirtysec: "};
    QStringList result;
    int row = 0;
    for (const char* value : values) {
        result << QString::fromLatin1(prefixes[row++]) + QString::fromLatin1(value);
    }
    return result;
}

const QStringList kStraight120 = table({"1000", "500", "250", "125", "62.5", "31.25", "15.625"});
const QStringList kTriplets120 =
    table({"666.667", "333.333", "166.667", "83.333", "41.667", "20.833", "10.417"});
const QStringList kUnknown = table({"?", "?", "?", "?", "?", "?", "?"});
const QStringList kIdle = table({"0", "0", "0", "0", "0", "0", "0"});

void measure120(WindowRig& rig) {
    rig.tapAt(rig.nowSeconds);
    rig.tapAt(rig.nowSeconds + 0.5);
    rig.tapAt(rig.nowSeconds + 0.5);
}

// One row of the key map: the state before, the key, and what must follow.
struct KeyRow {
    const char* what;
    std::function<void(WindowRig&)> setup;
    int key;
    Qt::KeyboardModifiers modifiers;
    std::function<bool(WindowRig&)> effect;
};

TEST(KeyMap, EachKeyDoesWhatTheMapSays) {
    const KeyRow rows[] = {
        {"F6 shows MPM", [](WindowRig&) {}, Qt::Key_F6, Qt::NoModifier,
         [](WindowRig& r) { return r.form->displayMode() == kModeMpm; }},
        {"F7 shows the delay panel", [](WindowRig&) {}, Qt::Key_F7, Qt::NoModifier,
         [](WindowRig& r) {
             return r.form->displayMode() == kModeDelay &&
                    r.form->focusWidget() == child<QLineEdit>(*r.form, "txtDelayBpm");
         }},
        {"F5 returns to BPM", [](WindowRig& r) { r.key(Qt::Key_F6); }, Qt::Key_F5, Qt::NoModifier,
         [](WindowRig& r) { return r.form->displayMode() == kModeBpm; }},
        {"ENTER on the Beat button taps", [](WindowRig&) {}, Qt::Key_Return, Qt::NoModifier,
         [](WindowRig& r) { return r.text("lblBeats") == "Beat: 1"; }},
        {"ENTER in the tempo box taps", [](WindowRig& r) { r.key(Qt::Key_F7); }, Qt::Key_Enter,
         Qt::NoModifier, [](WindowRig& r) { return r.text("lblBeats") == "Beat: 1"; }},
        {"ENTER on the Reset button resets",
         [](WindowRig& r) {
             measure120(r);
             child<QPushButton>(*r.form, "cmdReset")->setFocus();
         },
         Qt::Key_Return, Qt::NoModifier,
         [](WindowRig& r) { return r.text("lblBPM_Value") == "000"; }},
        {"SPACE on the Beat button taps", [](WindowRig&) {}, Qt::Key_Space, Qt::NoModifier,
         [](WindowRig& r) { return r.text("lblBeats") == "Beat: 1"; }},
        {"SPACE in the tempo box moves to Beat", [](WindowRig& r) { r.key(Qt::Key_F7); },
         Qt::Key_Space, Qt::NoModifier,
         [](WindowRig& r) {
             return r.form->focusWidget() == child<QPushButton>(*r.form, "cmdBeat") &&
                    r.text("txtDelayBpm").isEmpty() && r.text("lblBeats") == "Beat: 0";
         }},
        {"R resets a measurement", measure120, Qt::Key_R, Qt::NoModifier,
         [](WindowRig& r) {
             return r.text("lblBPM_Value") == "000" && !r.form->tap().measuring();
         }},
        {"r in the tempo box resets and is refused",
         [](WindowRig& r) {
             r.key(Qt::Key_F7);
             r.typeText(QStringLiteral("12"));
         },
         Qt::Key_R, Qt::NoModifier,
         [](WindowRig& r) {
             return r.text("txtDelayBpm").isEmpty() &&
                    !child<QPushButton>(*r.form, "cmdReset")->isEnabled() &&
                    !delayPanel(r).typing();
         }},
        {"Alt+R is no reset", measure120, Qt::Key_R, Qt::AltModifier,
         [](WindowRig& r) { return r.form->tap().measuring(); }},
        {"Shift+ESC minimises and is not counted", measure120, Qt::Key_Escape, Qt::ShiftModifier,
         [](WindowRig& r) {
             if (!r.form->windowState().testFlag(Qt::WindowMinimized)) {
                 return false;
             }
             // Not counted: the measurement's first ESC is still ignored.
             r.key(Qt::Key_Escape);
             return r.form->isVisible();
         }},
        {"ESC with no measurement closes", [](WindowRig&) {}, Qt::Key_Escape, Qt::NoModifier,
         [](WindowRig& r) { return !r.form->isVisible(); }},
        {"Ctrl+ESC is ESC", [](WindowRig&) {}, Qt::Key_Escape, Qt::ControlModifier,
         [](WindowRig& r) { return !r.form->isVisible(); }},
    };
    for (const KeyRow& row : rows) {
        WindowRig rig;
        row.setup(rig);
        rig.key(row.key, row.modifiers);
        EXPECT_TRUE(row.effect(rig)) << row.what;
    }
}

TEST(KeyMap, EscDuringAMeasurementIsAbsorbedOnceEver) {
    WindowRig rig;
    rig.tapAt(0);
    rig.key(Qt::Key_Escape);
    EXPECT_TRUE(rig.form->isVisible());
    // The counter is never reset: the next measurement's ESC closes at once.
    rig.key(Qt::Key_R);
    rig.tapAt(1);
    rig.key(Qt::Key_Escape);
    EXPECT_FALSE(rig.form->isVisible());
}

// A key as the platform delivers it: through shortcuts, the menu bar and
// open menus, to whatever holds the keyboard.
// An open menu holds the keyboard, as it grabs it on a desktop.
void press(WindowRig& rig, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    if (QWidget* menu = QApplication::activePopupWidget()) {
        QTest::keyClick(menu, static_cast<Qt::Key>(key), modifiers);
    } else {
        QTest::keyClick(rig.form->windowHandle(), static_cast<Qt::Key>(key), modifiers);
    }
}

void clickMenuTitle(WindowRig& rig, QMenu* menu) {
    QMenuBar* bar = rig.form->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
}

TEST(MenuKeyboard, EveryWayOutOfAMenuGivesTheKeyboardBackToTheBeat) {
    struct Way {
        const char* what;
        std::function<void(WindowRig&)> use;
        bool viaTempoBox;  // the tempo box had the keyboard before
    };
    const Way ways[] = {
        {"Alt pressed and released alone", [](WindowRig& r) { press(r, Qt::Key_Alt); }, false},
        {"Alt twice", [](WindowRig& r) { press(r, Qt::Key_Alt), press(r, Qt::Key_Alt); }, false},
        {"Alt+F, then ESC",
         [](WindowRig& r) {
             press(r, Qt::Key_F, Qt::AltModifier);
             press(r, Qt::Key_Escape);
         },
         false},
        {"Alt+F, ESC, ESC",
         [](WindowRig& r) {
             press(r, Qt::Key_F, Qt::AltModifier);
             press(r, Qt::Key_Escape);
             press(r, Qt::Key_Escape);
         },
         false},
        {"Alt+F, Right into View, ESC",
         [](WindowRig& r) {
             press(r, Qt::Key_F, Qt::AltModifier);
             press(r, Qt::Key_Right);
             press(r, Qt::Key_Escape);
         },
         false},
        {"BPM mode chosen from the View menu by its access key",
         [](WindowRig& r) {
             press(r, Qt::Key_V, Qt::AltModifier);
             press(r, Qt::Key_B);
         },
         false},
        {"File opened with the mouse, closed by a click beside it",
         [](WindowRig& r) {
             clickMenuTitle(r, child<QMenu>(*r.form, "mnuFile"));
             QTest::mouseClick(QApplication::activePopupWidget(), Qt::LeftButton, {},
                               QPoint(-20, -5));
         },
         false},
        {"File opened with the mouse, closed by a click on its title",
         [](WindowRig& r) {
             clickMenuTitle(r, child<QMenu>(*r.form, "mnuFile"));
             clickMenuTitle(r, child<QMenu>(*r.form, "mnuFile"));
         },
         false},
        {"Help opened with the mouse, closed with ESC",
         [](WindowRig& r) {
             clickMenuTitle(r, child<QMenu>(*r.form, "mnuHelp"));
             press(r, Qt::Key_Escape);
         },
         false},
        {"tempo box, Alt+F, ESC, then the box's own SPACE",
         [](WindowRig& r) {
             r.key(Qt::Key_F7);
             press(r, Qt::Key_F, Qt::AltModifier);
             press(r, Qt::Key_Escape);
         },
         true},
    };
    for (const Way& way : ways) {
        WindowRig rig;
        rig.tapAt(0);  // a measurement runs, so a stray ESC would be counted
        way.use(rig);
        // The next key comes after the event loop has run.
        QCoreApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << way.what;
        EXPECT_TRUE(rig.form->isVisible()) << way.what;
        rig.clock.advanceMs(500);
        press(rig, Qt::Key_Space);
        if (way.viaTempoBox) {
            // SPACE in the box moves to Beat; the next one taps.
            EXPECT_EQ(rig.form->focusWidget(), child<QPushButton>(*rig.form, "cmdBeat"))
                << way.what;
            EXPECT_EQ(rig.form->tap().beatNumber, 1) << way.what;
            // A press in the same millisecond as the last release is the
            // window system's key repeat; a person's next press comes later.
            QTest::qWait(3);
            press(rig, Qt::Key_Space);
        }
        EXPECT_EQ(rig.form->tap().beatNumber, 2) << way.what;
        EXPECT_FALSE(rig.form->menuBar()->hasFocus()) << way.what;
        EXPECT_TRUE(rig.dialogs.boxes.empty()) << way.what;
        // The menu's ESC was not counted: this measurement's first is ignored.
        press(rig, Qt::Key_Escape);
        EXPECT_TRUE(rig.form->isVisible()) << way.what;
    }
}

TEST(KeyMap, CtrlCInTheTempoBoxGoesToTheMenuFirst) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    QSignalSpy copied(item(*rig.form, "mnuFileCopyToClipboard"), &QAction::triggered);
    // An empty box: the menu item is off, so the key is left to the box.
    rig.key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(copied.count(), 0);
    rig.typeText(QStringLiteral("120"));
    rig.key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(copied.count(), 1);
    EXPECT_EQ(rig.text("txtDelayBpm"), "120");
}

TEST(KeyMap, QuickSaveKeyActsOnlyWithATempo) {
    WindowRig rig;
    QSignalSpy quickSaved(item(*rig.form, "mnuQuickSave"), &QAction::triggered);
    rig.key(Qt::Key_F2);
    EXPECT_EQ(quickSaved.count(), 0);
    measure120(rig);
    rig.key(Qt::Key_F2);
    EXPECT_EQ(quickSaved.count(), 1);
}

TEST(KeyMap, FunctionKeysRecomputeTheFileMenuFirst) {
    WindowRig rig;
    measure120(rig);
    // Something switched the item off behind the menu's back; F3's own
    // look at the File menu switches it on again before the key acts.
    item(*rig.form, "mnuFileSaveToFile")->setEnabled(false);
    QSignalSpy opened(item(*rig.form, "mnuFileSaveToFile"), &QAction::triggered);
    rig.key(Qt::Key_F3);
    EXPECT_EQ(opened.count(), 1);
}

// Every control the keyboard reaches shows it, the delay panel's small M too.
TEST(KeyMap, TheMetronomeButtonShowsTheFocus) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    QPushButton* button = child<QPushButton>(*rig.form, "cmdMetronomeDelay");
    ASSERT_TRUE(button->isEnabled());
    const QImage plain = button->grab().toImage();
    button->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(button->hasFocus());
    EXPECT_NE(button->grab().toImage(), plain);
}

TEST(Mouse, MiddleButtonCyclesTheModes) {
    WindowRig rig;
    const int expected[] = {kModeMpm, kModeDelay, kModeBpm, kModeMpm};
    QWidget* targets[] = {
        child<QFrame>(*rig.form, "bpmPanel"), child<QFrame>(*rig.form, "mpmPanel"),
        child<QFrame>(*rig.form, "DelayPanel"), child<QWidget>(*rig.form, "Image1")};
    for (int i = 0; i < 4; ++i) {
        QTest::mouseClick(targets[i], Qt::MiddleButton);
        EXPECT_EQ(rig.form->displayMode(), expected[i]) << i;
    }
    // Two quick presses switch twice: the second arrives as a double-click.
    // Three times round: back in MPM mode.
    for (QWidget* target : {static_cast<QWidget*>(child<QPushButton>(*rig.form, "cmdBeat")),
                            static_cast<QWidget*>(child<QWidget>(*rig.form, "Image1")),
                            child<QWidget>(*rig.form, "clientArea")}) {
        const int twoOn[] = {kModeNone, kModeDelay, kModeBpm, kModeMpm};
        const int before = rig.form->displayMode();
        QTest::mouseClick(target, Qt::MiddleButton);
        QTest::mouseDClick(target, Qt::MiddleButton);
        EXPECT_EQ(rig.form->displayMode(), twoOn[before]);
    }
    // On the Beat button it switches without tapping; left and right do nothing.
    QTest::mouseClick(child<QPushButton>(*rig.form, "cmdBeat"), Qt::MiddleButton);
    EXPECT_EQ(rig.form->displayMode(), kModeDelay);
    EXPECT_EQ(rig.text("lblBeats"), "Beat: 0");
    QTest::mouseClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::LeftButton);
    EXPECT_EQ(rig.form->displayMode(), kModeDelay);
    // Labels and the panel's own controls keep their clicks.
    for (QWidget* inside :
         {static_cast<QWidget*>(child<QLabel>(*rig.form, "lblDelayHalf")),
          static_cast<QWidget*>(child<QPushButton>(*rig.form, "cmdMetronomeDelay")),
          static_cast<QWidget*>(child<QLineEdit>(*rig.form, "txtDelayBpm"))}) {
        QTest::mouseClick(inside, Qt::MiddleButton);
        EXPECT_EQ(rig.form->displayMode(), kModeDelay) << inside->objectName().toStdString();
    }
    // In delay mode the copy menu opens from a right-button release on the panel.
    QTest::mouseClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::RightButton, {}, QPoint(20, 30));
    EXPECT_TRUE(child<QMenu>(*rig.form, "popcopybpmvalue")->isVisible());
    EXPECT_EQ(child<QMenu>(*rig.form, "popcopybpmvalue")->pos(),
              child<QFrame>(*rig.form, "DelayPanel")->mapToGlobal(QPoint(20, 30)));
    child<QMenu>(*rig.form, "popcopybpmvalue")->hide();
    QTest::mouseClick(child<QPushButton>(*rig.form, "cmdMetronomeDelay"), Qt::RightButton);
    EXPECT_FALSE(child<QMenu>(*rig.form, "popcopybpmvalue")->isVisible());
}

TEST(ModeCommands, RecomputeFromTheCurrentTempo) {
    WindowRig rig;
    measure120(rig);
    rig.key(Qt::Key_F6);
    EXPECT_EQ(rig.text("lblBPMinMPM"), "BPM: 120.0");
    EXPECT_EQ(rig.text("lblMPM2"), "1/2=60");
    EXPECT_EQ(rig.text("lblMPM23"), "2/3=80");
    EXPECT_TRUE(copyMenuOpensOn(rig, "mpmPanel"));

    QTest::mouseDClick(child<QFrame>(*rig.form, "DelayPanel"),
                       Qt::LeftButton);  // triplets on, hidden panel
    rig.key(Qt::Key_F7);
    EXPECT_EQ(delayTable(rig), kTriplets120);
    EXPECT_EQ(rig.text("txtDelayBpm"), "120");
    EXPECT_EQ(rig.text("lblDelayMedel"), "Avg: 120.0");
    EXPECT_TRUE(child<QLabel>(*rig.form, "lblDelayMedel")->isVisible());
    EXPECT_FALSE(copyMenuOpensOn(rig, "DelayPanel"));
    EXPECT_FALSE(item(*rig.form, "mnuFileSaveToFile")->isEnabled());
}

TEST(ModeCommands, DelayMeanVisibilityTable) {
    // Tempo present (measured in MPM mode) but no mean on show: the mean
    // label is hidden.
    WindowRig rig;
    rig.key(Qt::Key_F6);
    measure120(rig);
    rig.key(Qt::Key_F7);
    EXPECT_EQ(rig.text("lblDelayMedel"), "Avg: 000");
    EXPECT_FALSE(child<QLabel>(*rig.form, "lblDelayMedel")->isVisible());

    // No tempo and an idle mean: shown.
    WindowRig idle;
    child<QLabel>(*idle.form, "lblDelayMedel")->setVisible(false);
    idle.key(Qt::Key_F7);
    EXPECT_TRUE(child<QLabel>(*idle.form, "lblDelayMedel")->isVisible());
}

TEST(MeasuringInModes, OnlyTheVisiblePanelFollowsThePresses) {
    WindowRig rig;
    rig.tapAt(0);
    rig.key(Qt::Key_F6);
    rig.tapAt(0.47);
    EXPECT_EQ(rig.text("lblBPMinMPM"), "BPM: 127.5");
    EXPECT_EQ(rig.text("lblMPM2"), "1/2=64");
    EXPECT_EQ(rig.text("lblMPM8"), "1/8=16");
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");

    WindowRig delay;
    delay.key(Qt::Key_F7);
    measure120(delay);
    EXPECT_EQ(delayTable(delay), kStraight120);
    EXPECT_EQ(delay.text("txtDelayBpm"), "120");
    EXPECT_EQ(delay.text("lblDelayMedel"), "Avg: 120.0");
    EXPECT_EQ(delay.form->tap().measurementMode, kModeDelay);
}

TEST(FileMenu, EnablingRules) {
    struct Case {
        const char* what;
        std::function<void(WindowRig&)> setup;
        bool save;
        bool copy;
    };
    const Case cases[] = {
        {"idle BPM", [](WindowRig&) {}, false, false},
        {"BPM after a measurement", measure120, true, true},
        {"MPM after a measurement",
         [](WindowRig& r) {
             r.key(Qt::Key_F6);
             measure120(r);
         },
         true, true},
        {"delay mode after a BPM measurement",
         [](WindowRig& r) {
             measure120(r);
             r.key(Qt::Key_F7);
         },
         false, true},
        {"BPM after a delay measurement",
         [](WindowRig& r) {
             r.key(Qt::Key_F7);
             measure120(r);
             r.key(Qt::Key_F5);
         },
         false, false},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        c.setup(rig);
        rig.form->refreshFileCommands();
        EXPECT_EQ(item(*rig.form, "mnuFileSaveToFile")->isEnabled(), c.save) << c.what;
        EXPECT_EQ(item(*rig.form, "mnuQuickSave")->isEnabled(), c.save) << c.what;
        EXPECT_EQ(item(*rig.form, "mnuFileCopyToClipboard")->isEnabled(), c.copy) << c.what;
    }
}

TEST(TempoBox, TypedTemposFillTheTable) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("1"));
    EXPECT_EQ(delayTable(rig), kIdle);
    rig.typeText(QStringLiteral("2"));
    EXPECT_EQ(delayTable(rig), kIdle);
    rig.typeText(QStringLiteral("0"));
    EXPECT_EQ(delayTable(rig), kStraight120);
    EXPECT_EQ(rig.form->tap().currentBpmValue, 1'200'000);
    EXPECT_TRUE(child<QPushButton>(*rig.form, "cmdReset")->isEnabled());

    rig.typeText(QStringLiteral("ab x"));  // refused; SPACE leaves the box
    EXPECT_EQ(rig.text("txtDelayBpm"), "120");
    EXPECT_EQ(rig.form->focusWidget(), child<QPushButton>(*rig.form, "cmdBeat"));

    child<QLineEdit>(*rig.form, "txtDelayBpm")->setFocus();
    child<QLineEdit>(*rig.form, "txtDelayBpm")->end(false);
    for (int i = 0; i < 3; ++i) {
        rig.key(Qt::Key_Backspace);
    }
    EXPECT_EQ(delayTable(rig), kUnknown);
    EXPECT_EQ(rig.form->tap().currentBpmValue, 0);
}

TEST(TempoBox, EditingKeysAndPastingWorkAsInAnyTextBox) {
    struct Case {
        const char* what;
        const char* clipboard;
        std::function<void(WindowRig&)> edit;
        const char* text;
        Fixed tempo;
    };
    using Presses = std::vector<std::pair<int, Qt::KeyboardModifiers>>;
    const auto keys = [](Presses presses) {
        return [presses = std::move(presses)](WindowRig& r) {
            for (const auto& [key, modifiers] : presses) {
                r.key(key, modifiers);
            }
        };
    };
    constexpr auto none = Qt::NoModifier;
    constexpr auto ctrl = Qt::ControlModifier;
    const Case cases[] = {
        {"Ctrl+A selects all, typing replaces it", "",
         [&](WindowRig& r) {
             keys({{Qt::Key_A, ctrl}})(r);
             r.typeText(QStringLiteral("90"));
         },
         "90", 900'000},
        // Outside 50 to 250 the table keeps the last tempo.
        {"Home, Delete", "", keys({{Qt::Key_Home, none}, {Qt::Key_Delete, none}}), "20", 1'200'000},
        {"Shift+Left twice, Ctrl+X", "",
         keys({{Qt::Key_Left, Qt::ShiftModifier},
               {Qt::Key_Left, Qt::ShiftModifier},
               {Qt::Key_X, ctrl}}),
         "1", 1'200'000},
        {"Ctrl+Z undoes the last typing", "", keys({{Qt::Key_Z, ctrl}}), "", 0},
        {"End, Backspace, Ctrl+V of digits", "5",
         keys({{Qt::Key_End, none}, {Qt::Key_Backspace, none}, {Qt::Key_V, ctrl}}), "125",
         1'250'000},
        {"Ctrl+A, Ctrl+V of letters inserts nothing", "abc",
         keys({{Qt::Key_A, ctrl}, {Qt::Key_V, ctrl}}), "120", 1'200'000},
        {"Ctrl+A, Ctrl+V of a mixed text inserts nothing", "12x",
         keys({{Qt::Key_A, ctrl}, {Qt::Key_V, ctrl}}), "120", 1'200'000},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        QGuiApplication::clipboard()->setText(QString::fromLatin1(c.clipboard));
        rig.key(Qt::Key_F7);
        rig.typeText(QStringLiteral("120"));
        c.edit(rig);
        EXPECT_EQ(rig.text("txtDelayBpm"), QString::fromLatin1(c.text)) << c.what;
        EXPECT_EQ(rig.form->tap().currentBpmValue, c.tempo) << c.what;
        EXPECT_EQ(rig.form->focusWidget(), child<QLineEdit>(*rig.form, "txtDelayBpm")) << c.what;
    }

    // A paste into a box the taps filled counts as typing: the tempo is taken.
    WindowRig rig;
    rig.key(Qt::Key_F7);
    measure120(rig);
    QGuiApplication::clipboard()->setText(QStringLiteral("128"));
    child<QLineEdit>(*rig.form, "txtDelayBpm")->setFocus();
    child<QLineEdit>(*rig.form, "txtDelayBpm")->selectAll();
    rig.key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(delayPanel(rig).typing());
    EXPECT_EQ(rig.form->tap().currentBpmValue, 1'280'000);
    EXPECT_EQ(rig.text("lblDelayHalf"), "Half: 234.375");
}

TEST(TempoBox, RangeIsFiftyToTwoHundredFifty) {
    struct Case {
        const char* typed;
        Fixed tempo;  // 0: not taken, the table keeps what it had
    };
    const Case cases[] = {{"250", 2'500'000}, {"251", 0}, {"50", 500'000}, {"49.99", 0}};
    for (const Case& c : cases) {
        WindowRig rig;
        rig.key(Qt::Key_F7);
        rig.typeText(QString::fromLatin1(c.typed));
        EXPECT_EQ(rig.form->tap().currentBpmValue, c.tempo) << c.typed;
        EXPECT_EQ(delayTable(rig) == kIdle, c.tempo == 0) << c.typed;
    }
    // 250.1 is typed through 250: the table keeps the 250 values.
    WindowRig rig;
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("250"));
    const QStringList at250 = delayTable(rig);
    rig.typeText(QStringLiteral(".1"));
    EXPECT_EQ(delayTable(rig), at250);
    EXPECT_EQ(rig.form->tap().currentBpmValue, 2'500'000);
}

TEST(TempoBox, WrongSeparatorIsNotANumber) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    {
        WindowRig rig;
        rig.key(Qt::Key_F7);
        rig.typeText(QStringLiteral("99,5"));
        EXPECT_EQ(delayTable(rig), kUnknown);
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        WindowRig rig;
        rig.key(Qt::Key_F7);
        rig.typeText(QStringLiteral("120,0"));
        EXPECT_EQ(rig.text("lblDelayWhole"), "Whole: 500");
    }
    QLocale::setDefault(saved);
}

TEST(TempoBox, TypedTempoStopsTapsFromOverwritingTheBox) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("100"));
    child<QPushButton>(*rig.form, "cmdBeat")->setFocus();
    // A first tap resets the box and the flag, so the taps write it again.
    measure120(rig);
    EXPECT_EQ(rig.text("txtDelayBpm"), "120");
    child<QLineEdit>(*rig.form, "txtDelayBpm")->setFocus();
    child<QLineEdit>(*rig.form, "txtDelayBpm")->selectAll();
    rig.typeText(QStringLiteral("90"));
    child<QPushButton>(*rig.form, "cmdBeat")->setFocus();
    rig.tapAt(rig.nowSeconds + 0.5);  // still measuring: 120 BPM
    EXPECT_EQ(rig.text("lblDelayWhole"), "Whole: 500");
    EXPECT_EQ(rig.text("txtDelayBpm"), "90");
}

TEST(TempoBox, DoubleClickTogglesTriplets) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("120"));
    QTest::mouseDClick(child<QLabel>(*rig.form, "lblDelayHalf"), Qt::LeftButton);
    EXPECT_TRUE(child<QLabel>(*rig.form, "lblTripletsON")->isVisible());
    EXPECT_EQ(delayTable(rig), kTriplets120);
    QTest::mouseDClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::LeftButton);
    EXPECT_FALSE(child<QLabel>(*rig.form, "lblTripletsON")->isVisible());
    EXPECT_EQ(delayTable(rig), kStraight120);
    // Reset leaves the triplets flag alone.
    QTest::mouseDClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::LeftButton);
    rig.key(Qt::Key_R);
    EXPECT_TRUE(child<QLabel>(*rig.form, "lblTripletsON")->isVisible());
}

TEST(TempoBox, ZeroTempoGivesTheUnknownTableWithoutAnError) {
    WindowRig rig;
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("0"));
    QTest::mouseDClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::LeftButton);
    EXPECT_EQ(delayTable(rig), kUnknown);
    EXPECT_TRUE(rig.dialogs.boxes.empty());
}

}  // namespace
}  // namespace pulsaro::testing
