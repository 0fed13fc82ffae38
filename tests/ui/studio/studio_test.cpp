// The window with its ways out to other music software, through fakes of the
// Link session, the MIDI ports and the global key.

#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "audio/midi_ports.h"
#include "core/settings_names.h"
#include "platform/global_shortcut.h"
#include "platform/link_session.h"
#include "ui/fakes.h"
#include "ui/panels/bpm_panel.h"
#include "ui/settings/options_dialog.h"
#include "ui/settings/studio_tab.h"
#include "ui/studio/studio.h"

namespace pulsaro::testing {
namespace {

struct FakeLink final : LinkSession {
    void setEnabled(bool on, int q) override {
        ++enables;
        on_ = on;
        quantum = q;
    }
    bool enabled() const override { return on_; }
    void publish(double bpm, double beatSeconds, std::int64_t beatIndex) override {
        published.push_back({bpm, beatSeconds, beatIndex});
        state_ = {bpm, beatSeconds, state_.peers};
    }
    State state() const override { return on_ ? state_ : State{}; }
    void setChangeHandler(std::function<void()> handler) override { changed = std::move(handler); }
    // A peer sets the session.
    void peerSets(double bpm, double beatSeconds) {
        state_ = {bpm, beatSeconds, 1};
        changed();
    }
    struct Published {
        double bpm, beatSeconds;
        std::int64_t beatIndex;
    };
    bool on_ = false;
    int enables = 0, quantum = 0;
    State state_;
    std::vector<Published> published;
    std::function<void()> changed;
};

struct FakeMidi final : MidiPorts {
    FakeMidi() { [[maybe_unused]] const int made = pipe(fds); }
    ~FakeMidi() override {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    std::string configure(const Options& o) override {
        ++configures;
        options = o;
        return (o.clockOut || o.tapIn) ? refusal : std::string();
    }
    void startClock(Fixed tempo, double anchor) override { clock.push_back({tempo, anchor}); }
    void stopClock() override { ++stops; }
    std::vector<TapInstant> takeTaps() override {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(fds[0], &byte, 1);
        return std::exchange(waiting, {});
    }
    int tapNotifier() const override { return options.tapIn && refusal.empty() ? fds[0] : -1; }
    void pedal(const TapInstant& at) {
        waiting.push_back(at);
        [[maybe_unused]] const auto put = ::write(fds[1], "t", 1);
    }
    int fds[2] = {-1, -1};
    int configures = 0, stops = 0;
    Options options;
    std::string refusal;
    std::vector<std::pair<Fixed, double>> clock;
    std::vector<TapInstant> waiting;
};

struct FakeKey final : GlobalShortcut {
    bool available() const override { return true; }
    QString setKey(const QKeySequence& key) override {
        keys.push_back(key.toString());
        return {};
    }
    QStringList keys;
};

struct StudioRig {
    explicit StudioRig(const WindowRig::Prepare& prepare = {})
        : window(1, [&](RegistryKey& key) {
              if (prepare) {
                  prepare(key);
              }
          }) {}
    void start() {
        window.studio = &studio;
        window.restart();
    }
    QString credit() const { return window.text("lblMyName"); }
    FakeLink link;
    FakeMidi midi;
    FakeKey key;
    Studio studio{link, midi, key};
    WindowRig window;
};

void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

TEST(Studio, NothingIsOpenedWhileEverythingIsOff) {
    StudioRig rig;
    rig.start();
    rig.window.key(Qt::Key_F4);
    rig.window.tapAt(1);
    rig.window.tapAt(1.5);
    rig.window.tapAt(2);
    rig.window.idleFor(3);
    EXPECT_EQ(rig.link.enables, 0);
    EXPECT_TRUE(rig.link.published.empty());
    EXPECT_EQ(rig.midi.configures, 0);
    EXPECT_TRUE(rig.midi.clock.empty());
    EXPECT_TRUE(rig.key.keys.isEmpty());
    ASSERT_FALSE(rig.window.audio.starts.empty());
    EXPECT_EQ(rig.window.audio.starts.back().tempo, 1'200'000);
}

// One session: the tapped run goes to Link and the clicks and the MIDI
// clock follow the session; a peer's tempo moves them; a pedal and the key
// tap; the credit line tells the session.
TEST(Studio, TapsReachTheSessionAndTheClicksFollowIt) {
    StudioRig rig([](RegistryKey& key) {
        key.writeInteger(settings::kLinkEnabled, 1);
        key.writeInteger(settings::kLinkQuantum, 3);
        key.writeInteger(settings::kMidiClockOut, 1);
        key.writeInteger(settings::kMidiTapIn, 1);
        key.writeString(settings::kGlobalTapKey, "Ctrl+Alt+Space");
    });
    rig.start();
    EXPECT_TRUE(rig.link.enabled());
    EXPECT_EQ(rig.link.quantum, 3);
    EXPECT_TRUE(rig.midi.options.clockOut && rig.midi.options.tapIn);
    EXPECT_EQ(rig.key.keys.value(0), QStringLiteral("Ctrl+Alt+Space"));

    rig.window.key(Qt::Key_F4);
    for (double t : {10.0, 10.5, 11.01, 11.5}) {
        rig.window.tapAt(t);
    }
    EXPECT_TRUE(rig.window.form->findChild<QLabel*>(QStringLiteral("lblBPM_Value"))
                    ->toolTip()
                    .contains(QStringLiteral("\u00b1 ")));
    rig.window.idleFor(3);
    settle();
    ASSERT_EQ(rig.link.published.size(), 1u);
    EXPECT_DOUBLE_EQ(rig.link.published[0].bpm, 120.0);
    // The fake clock moves in whole microseconds.
    EXPECT_NEAR(rig.link.published[0].beatSeconds, 11.5, 2e-6);
    EXPECT_EQ(rig.link.published[0].beatIndex, 3);
    ASSERT_FALSE(rig.window.audio.starts.empty());
    EXPECT_EQ(rig.window.audio.starts.back().tempo, 1'200'000);
    EXPECT_EQ(rig.window.audio.starts.back().grid->beatSeconds, rig.link.published[0].beatSeconds);
    ASSERT_FALSE(rig.midi.clock.empty());
    EXPECT_EQ(rig.midi.clock.back(),
              std::make_pair(Fixed{1'200'000}, rig.link.published[0].beatSeconds));
    EXPECT_EQ(rig.credit(), QStringLiteral("Link: 0 peers, 120.0 BPM"));

    // A peer's tempo is heard at once, on the peer's beats.
    rig.link.peerSets(100.5, 13.25);
    settle();
    EXPECT_EQ(rig.window.audio.starts.back().tempo, 1'005'000);
    EXPECT_NEAR(rig.window.audio.starts.back().grid->beatSeconds, 13.25, 1e-9);
    EXPECT_EQ(rig.midi.clock.back(), std::make_pair(Fixed{1'005'000}, 13.25));
    EXPECT_EQ(rig.credit(), QStringLiteral("Link: 1 peer, 100.5 BPM"));
    // The same grid a beat later restarts nothing.
    const std::size_t starts = rig.window.audio.starts.size();
    rig.link.peerSets(100.5, 13.25 + 60 / 100.5);
    settle();
    EXPECT_EQ(rig.window.audio.starts.size(), starts);

    // The longest line fits the credit label.
    rig.link.state_ = {999.9, 0, 99};
    rig.link.changed();
    settle();
    auto* credit = rig.window.form->findChild<QLabel*>(QStringLiteral("lblMyName"));
    EXPECT_EQ(credit->text(), QStringLiteral("Link: 99 peers, 999.9 BPM"));
    EXPECT_LE(credit->fontMetrics().horizontalAdvance(credit->text()), credit->width());

    // A pedal press and the global key tap, each at its own instant.
    rig.window.clock.advanceMs(20'000);
    rig.midi.pedal({40'000'000, 1'000'000, 40'000});
    settle();
    EXPECT_EQ(rig.window.text("lblBeats"), QStringLiteral("Beat: 1"));
    rig.window.clock.advanceMs(500);
    emit rig.key.activated(0);
    settle();
    EXPECT_EQ(rig.window.text("lblBeats"), QStringLiteral("Beats:  2"));
    // The new run stopped the clicks and the MIDI clock with them, and a
    // peer's tempo does not start them again.
    EXPECT_GE(rig.midi.stops, 1);
    const std::size_t stopped = rig.window.audio.starts.size();
    rig.link.peerSets(90, 50);
    settle();
    EXPECT_EQ(rig.window.audio.starts.size(), stopped);
}

// An option that cannot work says why and stays off, also in the settings.
TEST(Studio, AnOptionThatCannotWorkSaysWhyAndStaysOff) {
    StudioRig rig;
    rig.midi.refusal = "No JACK server is running.";
    rig.start();
    SettingsDialog dialog(*rig.window.form, rig.window.services);
    StudioTab* page = dialog.tabStudio;
    page->chkClockOut->setChecked(true);
    EXPECT_FALSE(page->chkClockOut->isChecked());
    EXPECT_EQ(page->lblMidiProblem->text(), QStringLiteral("No JACK server is running."));
    page->chkLink->setChecked(true);
    EXPECT_TRUE(rig.link.enabled());
    dialog.cmdOKClick();
    const auto stored = StudioSettings::read(rig.window.store);
    EXPECT_TRUE(stored.link);
    EXPECT_FALSE(stored.clockOut);

    SettingsDialog again(*rig.window.form, rig.window.services);
    EXPECT_TRUE(again.tabStudio->chkLink->isChecked());
    again.tabStudio->chkLink->setChecked(false);
    EXPECT_FALSE(rig.link.enabled());
    again.cmdCancelClick();
    EXPECT_TRUE(rig.link.enabled());
}

// The key box takes one combination at once; Esc, the Tab keys and the
// dialog's access letters keep their meaning, other Alt+letters are keys.
// Each row: the key pressed, then the key in effect and the focus (so the page).
TEST(Studio, TheKeyBoxTakesOneCombinationAndLeavesTheDialogItsKeys) {
    StudioRig rig;
    rig.start();
    SettingsDialog dialog(*rig.window.form, rig.window.services);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    const char* const presses[][3] = {{"Alt+T", "", "chkLink"},
                                      {"Alt+K", "", "keyTap"},
                                      {"Ctrl+Alt+Space", "Ctrl+Alt+Space", "keyTap"},
                                      {"Alt+Q", "Alt+Q", "keyTap"},
                                      {"Tab", "Alt+Q", "cmdClearKey"},
                                      {"Shift+Tab", "Alt+Q", "keyTap"},
                                      {"Alt+B", "Alt+Q", "spnQuantum"},
                                      {"Alt+K", "Alt+Q", "keyTap"},
                                      {"Ctrl+Tab", "Alt+Q", "cboListenInput"},
                                      {"Ctrl+Shift+Backtab", "Alt+Q", "keyTap"},
                                      {"Esc", "", ""}};
    for (const auto& [press, tapKey, focus] : presses) {
        const QKeyCombination key = QKeySequence(QString::fromLatin1(press))[0];
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        EXPECT_EQ(rig.studio.settings().tapKey, tapKey) << press;
        const QWidget* now = dialog.isVisible() ? QApplication::focusWidget() : nullptr;
        EXPECT_EQ(now != nullptr ? now->objectName().toStdString() : "", focus) << press;
    }
}

}  // namespace
}  // namespace pulsaro::testing
