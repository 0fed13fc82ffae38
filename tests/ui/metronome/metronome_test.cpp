// The metronome as the window drives it, against a sound output that records.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "core/settings_names.h"
#include "ui/fakes.h"
#include "ui/metronome/metronome_controller.h"

namespace pulsaro::testing {
namespace {

constexpr char kHintOff[] = "Activate metronome. Shortcut M.";
constexpr char kHintOn[] = "Disable metronome. Shortcut M.";

// Three presses interval seconds apart, then the pause that ends the run.
void countAndTimeOut(WindowRig& rig, double interval) {
    const double first = rig.nowSeconds + 1;
    rig.tapAt(first);
    rig.tapAt(first + interval);
    rig.tapAt(first + 2 * interval);
    rig.idleFor(3);
}

void startDelayMetronome(WindowRig& rig, const QString& tempo) {
    rig.key(Qt::Key_F7);
    rig.typeText(tempo);
    rig.key(Qt::Key_M);
}

TEST(Metronome, RunEndRestartFollowsTheTappedBeat) {
    struct Case {
        const char* what;
        std::function<void(WindowRig&)> before;  // after checking the menu item
        double interval;
        Fixed clicks;  // 0: no clicking
    };
    const Case cases[] = {
        {"BPM mode", [](WindowRig&) {}, 0.5, 1'200'000},
        {"MPM mode", [](WindowRig& r) { r.key(Qt::Key_F6); }, 0.5, 1'200'000},
        {"delay mode", [](WindowRig& r) { r.key(Qt::Key_F7); }, 0.5, 0},
        {"exactly 50 BPM", [](WindowRig&) {}, 1.2, 0},
        {"item not checked", [](WindowRig& r) { r.key(Qt::Key_F4); }, 0.5, 0},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        rig.key(Qt::Key_F4);  // armed: nothing has been counted yet
        EXPECT_TRUE(rig.audio.starts.empty()) << c.what;
        c.before(rig);
        countAndTimeOut(rig, c.interval);
        if (c.clicks == 0) {
            EXPECT_TRUE(rig.audio.starts.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(rig.audio.starts.size(), 1u) << c.what;
        EXPECT_EQ(rig.audio.starts[0].tempo, c.clicks) << c.what;
        // The clicks continue from the last press: 1 s + 2 intervals.
        ASSERT_TRUE(rig.audio.starts[0].grid.has_value()) << c.what;
        EXPECT_DOUBLE_EQ(rig.audio.starts[0].grid->beatSeconds, 1 + 2 * c.interval) << c.what;
        EXPECT_EQ(rig.form->parts().metronome.clicksId(), rig.audio.clicking) << c.what;
    }

    // No upper bound on this path: a run ending on a too-fast press at 300 BPM.
    WindowRig fast;
    fast.key(Qt::Key_F4);
    fast.tapAt(1);
    fast.tapAt(1.2);
    fast.idleFor(3);
    ASSERT_EQ(fast.audio.starts.size(), 1u);
    EXPECT_EQ(fast.audio.starts[0].tempo, 3'000'000);
}

// Presses every 500 ms, held alternately 40 and 250 ms (the long hold with
// key auto-repeat): how long a key or button is held never moves a beat, so
// the tempo is 120.0 and the clicks that take over stay on the presses' grid.
TEST(Metronome, EveryTapIsTimedAtItsPress) {
    struct Way {
        const char* what;
        std::function<void(QWidget* beat, bool down)> act;
    };
    const auto key = [](Qt::Key which) {
        return [which](QWidget* beat, bool down) {
            down ? QTest::keyPress(beat, which) : QTest::keyRelease(beat, which);
        };
    };
    const Way ways[] = {
        {"SPACE", key(Qt::Key_Space)},
        {"ENTER", key(Qt::Key_Return)},
        {"mouse",
         [](QWidget* beat, bool down) {
             down ? QTest::mousePress(beat, Qt::LeftButton)
                  : QTest::mouseRelease(beat, Qt::LeftButton);
         }},
    };
    for (const Way& way : ways) {
        WindowRig rig;
        rig.key(Qt::Key_F4);
        QWidget* beat = child<QPushButton>(*rig.form, "cmdBeat");
        ASSERT_EQ(rig.form->focusWidget(), beat) << way.what;
        for (int press = 0; press < 4; ++press) {
            const double held = press % 2 == 0 ? 0.040 : 0.250;
            way.act(beat, true);
            rig.clock.advanceMs(held * 1000);
            if (press % 2 == 1 && way.what[0] != 'm') {
                const Qt::Key held = way.what[0] == 'S' ? Qt::Key_Space : Qt::Key_Return;
                for (int repeat = 0; repeat < 3; ++repeat) {
                    QKeyEvent again(QEvent::KeyPress, held, Qt::NoModifier, QString(), true);
                    QCoreApplication::sendEvent(beat, &again);
                }
                // X11's repeats where Qt cannot tell: a release and a press
                // with one timestamp.
                for (quint64 time = 1000; time < 1003; ++time) {
                    QKeyEvent up(QEvent::KeyRelease, held, Qt::NoModifier);
                    QKeyEvent down(QEvent::KeyPress, held, Qt::NoModifier);
                    up.setTimestamp(time);
                    down.setTimestamp(time);
                    QCoreApplication::sendEvent(beat, &up);
                    QCoreApplication::sendEvent(beat, &down);
                }
            }
            way.act(beat, false);
            rig.clock.advanceMs((0.5 - held) * 1000);
        }
        rig.nowSeconds = 2.0;
        EXPECT_EQ(rig.text("lblBPM_Value"), "120.0") << way.what;
        EXPECT_EQ(rig.text("lblBeats"), "Beats:  4") << way.what;
        rig.idleFor(3);
        ASSERT_EQ(rig.audio.starts.size(), 1u) << way.what;
        EXPECT_EQ(rig.audio.starts[0].tempo, 1'200'000) << way.what;
        ASSERT_TRUE(rig.audio.starts[0].grid.has_value()) << way.what;
        // The fourth press, at 1.5 s on the counter.
        EXPECT_DOUBLE_EQ(rig.audio.starts[0].grid->beatSeconds, 1.5) << way.what;
    }
}

// A busy GUI thread: presses stamped every 500 ms by the window system
// arrive 0 to 150 ms late; the tempo and the grid follow the stamps.
TEST(Metronome, PressesAreTimedByTheWindowSystemsStamps) {
    WindowRig rig;
    rig.clock.eventTimes = true;
    rig.key(Qt::Key_F4);
    QWidget* beat = child<QPushButton>(*rig.form, "cmdBeat");
    const double lateMs[] = {0, 40, 150, 5, 90};
    for (int press = 0; press < 5; ++press) {
        const auto stamp = static_cast<quint64>(1000 + 500 * press);
        rig.clock.micros = static_cast<std::int64_t>((stamp + lateMs[press]) * 1000);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        down.setTimestamp(stamp);
        up.setTimestamp(stamp + 60);
        QCoreApplication::sendEvent(beat, &down);
        // The release, 60 ms later, arrives as soon as the thread is free.
        rig.clock.micros = std::max<std::int64_t>(rig.clock.micros, (stamp + 60) * 1000);
        QCoreApplication::sendEvent(beat, &up);
    }
    rig.nowSeconds = static_cast<double>(rig.clock.micros) / 1e6;
    EXPECT_EQ(rig.text("lblBPM_Value"), "120.0");
    rig.idleFor(3);
    ASSERT_EQ(rig.audio.starts.size(), 1u);
    ASSERT_TRUE(rig.audio.starts[0].grid.has_value());
    // The last press's stamp, 3000 ms, on the tap clock.
    EXPECT_NEAR(rig.audio.starts[0].grid->beatSeconds, 3.0, 1e-9);
}

TEST(Metronome, MenuCommandStartsAtOnceOnlyRightAfterATimeout) {
    WindowRig rig;
    countAndTimeOut(rig, 0.5);
    const auto sounds = [&] { return rig.audio.selections; };
    const int before = sounds();
    rig.key(Qt::Key_F4);
    QCoreApplication::processEvents();
    EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
    ASSERT_EQ(rig.audio.starts.size(), 1u);
    EXPECT_EQ(rig.audio.starts[0].tempo, 1'200'000);
    EXPECT_TRUE(rig.audio.starts[0].grid.has_value());
    EXPECT_NE(rig.audio.clicking, 0u);
    EXPECT_EQ(sounds(), before + 1);  // the sound is read again

    rig.key(Qt::Key_F4);
    EXPECT_FALSE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_EQ(rig.audio.clicking, 0u);

    // During a run it only arms.
    rig.tapAt(rig.nowSeconds + 1);
    rig.key(Qt::Key_F4);
    EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_EQ(rig.audio.starts.size(), 1u);

    // Above 250 BPM the command changes nothing at all.
    WindowRig fast;
    fast.tapAt(1);
    fast.tapAt(1.2);  // too fast: 300 BPM becomes the current tempo
    fast.idleFor(3);
    fast.key(Qt::Key_F4);
    EXPECT_FALSE(item(*fast.form, "mnuFileMetronome")->isChecked());
    EXPECT_TRUE(fast.audio.starts.empty());
}

TEST(Metronome, DelayPanelMTogglesWithinFiftyToTwoHundredFifty) {
    struct Case {
        const char* typed;
        Fixed clicks;
    };
    for (const Case c : {Case{"120", 1'200'000}, Case{"50", 500'000}, Case{"250", 2'500'000},
                         Case{"49.99", 0}, Case{"250.1", 0}, Case{"", 0}, Case{".", 0}}) {
        WindowRig rig;
        startDelayMetronome(rig, QString::fromLatin1(c.typed));
        if (c.clicks == 0) {
            EXPECT_TRUE(rig.audio.starts.empty()) << c.typed;
            EXPECT_EQ(child<QPushButton>(*rig.form, "cmdMetronomeDelay")->toolTip(), kHintOff)
                << c.typed;
            continue;
        }
        ASSERT_EQ(rig.audio.starts.size(), 1u) << c.typed;
        EXPECT_EQ(rig.audio.starts[0].tempo, c.clicks) << c.typed;
        EXPECT_FALSE(rig.audio.starts[0].grid.has_value()) << c.typed;  // at once
        EXPECT_TRUE(rig.form->parts().metronome.delayMetronomeOn()) << c.typed;
        EXPECT_EQ(child<QPushButton>(*rig.form, "cmdMetronomeDelay")->toolTip(), kHintOn)
            << c.typed;
        // The button does what M does: the second press is silence.
        child<QPushButton>(*rig.form, "cmdMetronomeDelay")->click();
        EXPECT_EQ(rig.audio.clicking, 0u) << c.typed;
        EXPECT_FALSE(rig.form->parts().metronome.delayMetronomeOn()) << c.typed;
        EXPECT_EQ(child<QPushButton>(*rig.form, "cmdMetronomeDelay")->toolTip(), kHintOff)
            << c.typed;
    }

    // Without a sound device M does nothing.
    WindowRig silent(0);
    startDelayMetronome(silent, QStringLiteral("120"));
    EXPECT_TRUE(silent.audio.starts.empty());
}

TEST(Metronome, EveryStopPoint) {
    struct Case {
        const char* what;
        std::function<void(WindowRig&)> stop;
        bool delayOnAfter;
        int purges;
    };
    const Case cases[] = {
        {"reset", [](WindowRig& r) { r.key(Qt::Key_R); }, false, 1},
        {"first tap of a run", [](WindowRig& r) { r.tapAt(r.nowSeconds + 1); }, true, 0},
        {"minimise",
         [](WindowRig& r) {
             r.key(Qt::Key_Escape, Qt::ShiftModifier);
             QCoreApplication::processEvents();
         },
         false, 0},
        {"M again", [](WindowRig& r) { r.key(Qt::Key_M); }, false, 0},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        startDelayMetronome(rig, QStringLiteral("120"));
        ASSERT_NE(rig.audio.clicking, 0u) << c.what;
        c.stop(rig);
        EXPECT_EQ(rig.audio.clicking, 0u) << c.what;
        EXPECT_EQ(rig.form->parts().metronome.delayMetronomeOn(), c.delayOnAfter) << c.what;
        EXPECT_EQ(child<QPushButton>(*rig.form, "cmdMetronomeDelay")->toolTip(),
                  c.delayOnAfter ? kHintOn : kHintOff)
            << c.what;
        EXPECT_EQ(rig.audio.purges, c.purges) << c.what;
    }

    // After a first tap left the flag on, M first only stops, then starts.
    WindowRig rig;
    startDelayMetronome(rig, QStringLiteral("120"));
    rig.tapAt(1);
    rig.idleFor(3);
    child<QLineEdit>(*rig.form, "txtDelayBpm")->setFocus();
    child<QLineEdit>(*rig.form, "txtDelayBpm")->selectAll();
    rig.typeText(QStringLiteral("100"));
    rig.key(Qt::Key_M);
    EXPECT_EQ(rig.audio.starts.size(), 1u);
    EXPECT_FALSE(rig.form->parts().metronome.delayMetronomeOn());
    rig.key(Qt::Key_M);
    ASSERT_EQ(rig.audio.starts.size(), 2u);
    EXPECT_EQ(rig.audio.starts.back().tempo, 1'000'000);

    // The clicking ends with the window.
    rig.form.reset();
    EXPECT_EQ(rig.audio.clicking, 0u);
}

TEST(Metronome, StoredSoundChoiceSelectsTheClick) {
    struct Case {
        std::optional<std::int32_t> stored;
        int selected;
    };
    for (const Case c :
         {Case{std::nullopt, 0}, Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{5, 0}, Case{-1, 0}}) {
        WindowRig rig(1, [&](RegistryKey& key) {
            if (c.stored) {
                key.writeInteger(settings::kMetronomeSound, *c.stored);
            }
        });
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.audio.selected, c.selected) << c.stored.value_or(-99);
    }
    // The three built-in clicks are handed to the output, decoded.
    WindowRig rig;
    for (const PcmSound& sound : rig.audio.loaded) {
        EXPECT_GT(sound.frames(), 0u);
    }
}

}  // namespace
}  // namespace pulsaro::testing
