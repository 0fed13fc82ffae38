#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "ui/common/build_info.h"
#include "ui/common/tick_timer.h"
#include "ui/fakes.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/widgets.h"

namespace pulsaro::testing {
namespace {

// Runs each test with a chosen regional decimal separator.
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& locale) : saved_(QLocale()) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST(MainWindow, StartsFixedSizeInBpmModeWithIdleTexts) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Pulsaro"));
    EXPECT_EQ(form.centralWidget()->size(), QSize(258, 222));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.displayMode(), kModeBpm);
    EXPECT_TRUE(item(form, "mnuViewBPM")->isChecked());
    EXPECT_TRUE(isShown(child<QFrame>(form, "bpmPanel")));
    for (QWidget* hidden : {child<QFrame>(form, "mpmPanel"), child<QFrame>(form, "DelayPanel"),
                            child<QFrame>(form, "SaveToFilePanel")}) {
        EXPECT_FALSE(isShown(hidden)) << hidden->objectName().toStdString();
        EXPECT_EQ(hidden->pos(), QPoint(44, 24));
    }
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    EXPECT_EQ(rig.text("lblPitchRange"), QString::fromUtf8("Pitchrange(\u00b18%): 000 - 000"));
    EXPECT_EQ(rig.text("lblCounterStatus"), "OFF");
    EXPECT_FALSE(child<QPushButton>(form, "cmdReset")->isEnabled());
    EXPECT_FALSE(item(form, "mnuFileSaveToFile")->isEnabled());
    EXPECT_FALSE(item(form, "mnuQuickSave")->isEnabled());
    EXPECT_EQ(form.focusWidget(), child<QPushButton>(form, "cmdBeat"));

    // Every control and menu item is reachable by its name.
    for (const char* name : {"Image1",
                             "Bevel1",
                             "Bevel2",
                             "lblTimer",
                             "lblBeats",
                             "cmdBeat",
                             "cmdReset",
                             "lblMyName",
                             "label534",
                             "Shape1",
                             "lblMedelBPM",
                             "lblFastSaveActive",
                             "cboBPMToFastwarning",
                             "Label5",
                             "lblMPM23",
                             "lblBPMinMPM",
                             "lblFastSaveActive2",
                             "cboMPMToFastwarning",
                             "Label20",
                             "txtDelayBpm",
                             "cmdMetronomeDelay",
                             "lblDelayMedel",
                             "lblTripletsON",
                             "cboTimeToFastwarning"}) {
        EXPECT_NE(form.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    }
    const QStringList menus = {QStringLiteral("&File"), QStringLiteral("&View"),
                               QStringLiteral("&Help")};
    QStringList shown;
    for (QAction* action : form.menuBar()->actions()) {
        shown << action->text();
    }
    EXPECT_EQ(shown, menus);
    EXPECT_FALSE(item(form, "mnuPlayerOne")->isVisible());
}

struct WorkedRow {
    double at;
    const char *beats, *value, *mean, *pitch, *timer;
};

void checkWorkedExample(WindowRig& rig, const char* sep) {
    const auto local = [&](const char* text) {
        return QString::fromUtf8(text).replace(QLatin1Char('.'), QString::fromLatin1(sep));
    };
    rig.tapAt(0);
    EXPECT_EQ(rig.text("lblBeats"), "Beat: 1");
    EXPECT_EQ(rig.text("lblCounterStatus"), "On");
    EXPECT_EQ(rig.text("lblCounterStatusMPM"), "On");
    EXPECT_EQ(rig.text("lblCounterStatusMSPB"), "On");
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    EXPECT_TRUE(child<QPushButton>(*rig.form, "cmdReset")->isEnabled());

    const WorkedRow rows[] = {
        {0.47, "Beats:  2", "127.5", "127.5", "117 - 138", "Time: 00.47"},
        {0.94, "Beats:  3", "127.5", "127.5", "117 - 138", "Time: 00.94"},
        {1.405, "Beats:  4", "128.0", "128.0", "118 - 138", "Time: 01.41"},
    };
    for (const WorkedRow& row : rows) {
        rig.tapAt(row.at);
        EXPECT_EQ(rig.text("lblBeats"), row.beats);
        EXPECT_EQ(rig.text("lblBPM_Value"), local(row.value)) << row.at;
        EXPECT_EQ(rig.text("lblMedelBPM"), local(row.mean)) << row.at;
        EXPECT_EQ(rig.text("lblPitchRange"),
                  QString::fromUtf8("Pitchrange(\u00b18%): ") + QString::fromUtf8(row.pitch));
        EXPECT_EQ(rig.text("lblTimer"), local(row.timer));
    }
    EXPECT_EQ(rig.form->tap().currentBpmValue, 1'281'139);
    EXPECT_EQ(rig.form->tap().intervalCount, 4);
}

TEST(MainWindow, FourPressWorkedExampleWithFullStop) {
    LocaleGuard locale(QLocale(QLocale::English, QLocale::UnitedStates));
    WindowRig rig;
    checkWorkedExample(rig, ".");
}

TEST(MainWindow, FourPressWorkedExampleWithComma) {
    LocaleGuard locale(QLocale(QLocale::German, QLocale::Germany));
    WindowRig rig;
    checkWorkedExample(rig, ",");
}

TEST(MainWindow, TooFastPressIsShownButNotCounted) {
    WindowRig rig;
    rig.tapAt(0);
    rig.tapAt(0.2);  // 300 BPM
    EXPECT_TRUE(isShown(child<QLabel>(*rig.form, "cboBPMToFastwarning")));
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    EXPECT_EQ(rig.text("lblTimer"), "Time: 0");
    EXPECT_EQ(rig.form->tap().intervalCount, 1);
    EXPECT_EQ(rig.form->tap().currentBpmValue, 3'000'000);
    // Save is offered from the first press that yields a tempo, fast or not.
    EXPECT_TRUE(item(*rig.form, "mnuFileSaveToFile")->isEnabled());

    rig.tapAt(0.5);  // one interval since the first press: 120 BPM
    EXPECT_FALSE(isShown(child<QLabel>(*rig.form, "cboBPMToFastwarning")));
    EXPECT_EQ(rig.text("lblBPM_Value"), "120.0");
    EXPECT_EQ(rig.text("lblPitchRange"), QString::fromUtf8("Pitchrange(\u00b18%): 110 - 130"));
    EXPECT_EQ(rig.text("lblBeats"), "Beats:  3");
}

TEST(MainWindow, PauseOfTwoAndAHalfSecondsTimesOut) {
    WindowRig rig;
    rig.tapAt(0);
    rig.tapAt(0.5);
    rig.tapAt(1.0);
    ASSERT_NE(rig.form->idleTimer(), nullptr);
    EXPECT_TRUE(rig.form->idleTimer()->Active());
    rig.idleFor(2.4);
    EXPECT_EQ(rig.text("lblCounterStatus"), "On");
    rig.idleFor(0.2);
    EXPECT_EQ(rig.text("lblCounterStatus"), "Timeout");
    EXPECT_EQ(rig.text("lblCounterStatusMPM"), "Timeout");
    EXPECT_FALSE(rig.form->idleTimer()->Active());
    EXPECT_FALSE(rig.form->tap().measuring());
    // The values stay on screen; the next press starts afresh.
    EXPECT_EQ(rig.text("lblBPM_Value"), "120.0");
    EXPECT_EQ(rig.text("lblBeats"), "Beats:  3");
    rig.tapAt(rig.nowSeconds + 0.1);
    EXPECT_EQ(rig.text("lblBeats"), "Beat: 1");
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    EXPECT_EQ(rig.text("lblCounterStatus"), "On");
}

TEST(MainWindow, TooFastPressKeepsTheMeasurementAlive) {
    WindowRig rig;
    rig.tapAt(0);
    rig.tapAt(0.1);  // 600 BPM: not counted, but it moves the last tick
    ASSERT_TRUE(isShown(child<QLabel>(*rig.form, "cboBPMToFastwarning")));
    rig.idleFor(2.4);  // 2.5 s after the first press, 2.4 s after the fast one
    EXPECT_EQ(rig.text("lblCounterStatus"), "On");
    rig.idleFor(0.2);
    EXPECT_EQ(rig.text("lblCounterStatus"), "Timeout");
}

TEST(MainWindow, ResetClearsEverything) {
    WindowRig rig;
    rig.tapAt(0);
    rig.tapAt(0.5);
    child<QPushButton>(*rig.form, "cmdReset")->click();
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    EXPECT_EQ(rig.text("lblMedelBPM"), "000");
    EXPECT_EQ(rig.text("lblBeats"), "Beat: 0");
    EXPECT_EQ(rig.text("lblTimer"), "Time: 0");
    EXPECT_EQ(rig.text("lblCounterStatus"), "Off");
    EXPECT_EQ(rig.text("lblMPM23"), "2/3=00");
    EXPECT_EQ(rig.text("lblDelayWhole"), "Whole: 0");
    EXPECT_FALSE(child<QPushButton>(*rig.form, "cmdReset")->isEnabled());
    EXPECT_FALSE(item(*rig.form, "mnuFileSaveToFile")->isEnabled());
    EXPECT_EQ(rig.form->idleTimer(), nullptr);
    EXPECT_EQ(rig.form->tap().currentBpmValue, 0);
    EXPECT_FALSE(rig.form->tap().measuring());
    EXPECT_EQ(rig.form->focusWidget(), child<QPushButton>(*rig.form, "cmdBeat"));
}

TEST(MainWindow, SaveItemsFollowTheFirstTempo) {
    struct Case {
        int mode;
        bool enabledAfterSecond;
    };
    for (const Case c : {Case{kModeBpm, true}, Case{kModeMpm, true}, Case{kModeDelay, false}}) {
        WindowRig rig;
        if (c.mode == kModeMpm) {
            item(*rig.form, "mnuViewMPM")->trigger();
        } else if (c.mode == kModeDelay) {
            item(*rig.form, "mnuViewTimeCounter")->trigger();
        }
        rig.tapAt(0);
        EXPECT_FALSE(item(*rig.form, "mnuFileSaveToFile")->isEnabled());
        EXPECT_FALSE(item(*rig.form, "mnuQuickSave")->isEnabled());
        rig.tapAt(0.5);
        EXPECT_EQ(item(*rig.form, "mnuFileSaveToFile")->isEnabled(), c.enabledAfterSecond)
            << c.mode;
        EXPECT_EQ(item(*rig.form, "mnuQuickSave")->isEnabled(), c.enabledAfterSecond) << c.mode;
    }
}

TEST(MainWindow, FailureInAHandlerIsReportedAndTheProgramGoesOn) {
    WindowRig rig;
    rig.tapAt(0);
    rig.tapAt(0);  // no time has passed: the tempo cannot be computed
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.boxes[0].caption, "Error");
    EXPECT_TRUE(rig.dialogs.boxes[0].text.startsWith(QStringLiteral("Error in WriteValues\n")));
    // One support address: the Help menu's.
    EXPECT_TRUE(rig.dialogs.boxes[0].text.endsWith(QStringLiteral("Please contact author, ") +
                                                   QString::fromLatin1(build::kAuthorMail)));
    EXPECT_EQ(rig.dialogs.boxes[0].icon, Dialogs::Icon::Error);
    EXPECT_EQ(rig.form->tap().intervalCount, 1);
    EXPECT_EQ(rig.form->tap().bpmSum, 0);

    rig.tapAt(0.5);
    EXPECT_EQ(rig.text("lblBPM_Value"), "120.0");
    EXPECT_EQ(rig.dialogs.boxes.size(), 1u);
}

TEST(MainWindow, FailingErrorBoxFallsBackWithoutRecursion) {
    WindowRig rig;
    rig.dialogs.failuresToThrow = 1;
    rig.services.ErrorHandler(QStringLiteral("SomeOperation"), false);
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.boxes[0].text, "Error in ErrorHandler");
    EXPECT_EQ(rig.dialogs.boxes[0].icon, Dialogs::Icon::Question);

    // Even the fallback box failing is swallowed; nothing more is shown.
    rig.dialogs.failuresToThrow = 2;
    rig.services.ErrorHandler(QStringLiteral("SomeOperation"), false);
    EXPECT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.failuresToThrow, 0);
}

// Sound that comes and goes: without an output the commands stay available
// and each request for sound looks again; one found later is used at once. An
// output lost while clicking turns the metronome off in the window and says
// so; asking again clicks again. The beat light follows the clicks heard.
TEST(MainWindow, SoundThatComesAndGoes) {
    WindowRig rig(0);
    auto* metronome = item(*rig.form, "mnuFileMetronome");
    auto* credit = child<QLabel>(*rig.form, "lblMyName");
    auto* strip = child<PictureStrip>(*rig.form, "Image1");
    EXPECT_TRUE(child<QPushButton>(*rig.form, "cmdMetronomeDelay")->isEnabled());
    rig.form->refreshFileCommands();
    ASSERT_TRUE(metronome->isEnabled());
    metronome->trigger();
    EXPECT_FALSE(metronome->isChecked());
    EXPECT_EQ(credit->text(), QStringLiteral("No sound output found"));

    rig.audio.devices = 1;  // a sound server came up
    metronome->trigger();
    EXPECT_TRUE(metronome->isChecked());
    EXPECT_NE(credit->text(), QStringLiteral("No sound output found"));
    EXPECT_EQ(strip->beatLight(), PictureStrip::BeatLight::Armed);
    metronome->trigger();
    EXPECT_EQ(strip->beatLight(), PictureStrip::BeatLight::Off);

    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("120"));
    rig.audio.nextClick = static_cast<double>(rig.clock.micros) / 1e6 + 0.02;
    rig.key(Qt::Key_M);
    ASSERT_NE(rig.audio.clicking, 0u);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return strip->beatLight() == PictureStrip::BeatLight::Lit; }));
    rig.audio.nextClick.reset();
    rig.audio.lost = true;  // the server went away
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.form->parts().metronome.delayMetronomeOn(); }));
    EXPECT_EQ(rig.audio.clicking, 0u);
    EXPECT_EQ(credit->text(), QStringLiteral("Sound lost: metronome off"));
    EXPECT_EQ(strip->beatLight(), PictureStrip::BeatLight::Off);

    rig.audio.lost = false;
    rig.key(Qt::Key_M);
    EXPECT_TRUE(rig.form->parts().metronome.delayMetronomeOn());
    EXPECT_NE(rig.audio.clicking, 0u);
}

}  // namespace
}  // namespace pulsaro::testing
