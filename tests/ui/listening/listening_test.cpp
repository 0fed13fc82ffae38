#include <gtest/gtest.h>
#include <QAction>
#include <QLabel>
#include <QtTest>

#include <atomic>
#include <mutex>

#include "analysis/synth.h"
#include "audio/audio_capture.h"
#include "core/settings_names.h"
#include "ui/fakes.h"
#include "ui/listening/listening_controller.h"
#include "ui/panels/widgets.h"
#include "ui/window/main_window.h"

namespace pulsaro {
namespace {

using analysis::testing::kRate;
using namespace pulsaro::testing;

// The music the fake capture plays: drums at 128 BPM, beats at 0.21 s +
// k * 60 / 128 of the stream, the stream's frame 0 heard at 1 s on the clock.
constexpr double kStreamStart = 1.0;
constexpr double kFirstBeat = 0.21;
constexpr double kPeriod = 60.0 / 128.0;

double beatOnClock(int k) {
    return kStreamStart + kFirstBeat + k * kPeriod;
}

// Hands over its audio as fast as it is read; start() fails with `refuse`
// when set, and `failNow` turns it Failed while running.
class FakeCapture final : public AudioCapture {
public:
    struct Script {
        std::vector<float> audio;
        std::string refuse;
        std::atomic<bool> failNow{false};
        std::atomic<int> starts{0};
    };
    explicit FakeCapture(Script& script) : script_(script) {}

    void start(const std::string&) override {
        if (!script_.refuse.empty()) {
            throw CaptureError(script_.refuse);
        }
        ++script_.starts;
        at_ = 0;
    }
    void stop() override {}
    CaptureState state() const override {
        return script_.failNow ? CaptureState::Failed : CaptureState::Running;
    }
    std::string failure() const override { return "the input \"USB Audio\" is gone"; }
    double sampleRate() const override { return kRate; }
    std::size_t read(std::span<float> out) override {
        const std::size_t n = std::min(out.size(), script_.audio.size() - at_);
        std::copy_n(script_.audio.begin() + static_cast<std::ptrdiff_t>(at_), n, out.begin());
        at_ += n;
        return n;
    }
    double heardAt(std::int64_t frame) const override {
        return kStreamStart + static_cast<double>(frame) / kRate;
    }
    std::uint64_t droppedFrames() const override { return 0; }

private:
    Script& script_;
    std::size_t at_ = 0;
};

struct ListeningRig {
    FakeCapture::Script script;
    WindowRig rig{1, [](RegistryKey&) {}};

    ListeningRig() {
        script.audio.assign(static_cast<std::size_t>(30 * kRate), 0.0f);
        analysis::testing::Noise noise(3);
        analysis::testing::addBeats(script.audio, analysis::testing::Kit::Drums, 128, kFirstBeat, 0,
                                    30, 2, noise);
        rig.capture = [this] { return std::make_unique<FakeCapture>(script); };
        rig.restart();
    }
    QString heard() const { return child<QLabel>(*rig.form, "lblHeard")->accessibleName(); }
    bool listening() const { return item(*rig.form, "mnuFileListen")->isChecked(); }
};

TEST(Listening, TapsLockOntoTheHeardBeatsAndTheClicksFollow) {
    ListeningRig l;
    l.rig.key(Qt::Key_F4);  // the metronome armed
    l.rig.key(Qt::Key_F9);
    ASSERT_TRUE(l.listening());
    EXPECT_TRUE(child<PictureStrip>(*l.rig.form, "Image1")->listening()) << l.heard().toStdString();
    // The whole track heard (the fake hands it over at once).
    QTRY_VERIFY_WITH_TIMEOUT(l.heard().startsWith(QStringLiteral("Heard: 128.00 BPM \u00b1 0.0")) &&
                                 l.heard().endsWith(QStringLiteral(", locked")),
                             20000);
    EXPECT_FALSE(child<QLabel>(*l.rig.form, "lblMyName")->isVisible());

    // Four taps up to 20 ms off the music's beats, a little slow.
    const double offsets[] = {0.02, -0.015, 0.02, -0.01};
    for (int k = 0; k < 4; ++k) {
        l.rig.tapAt(beatOnClock(66 + k) + offsets[k]);
    }
    l.rig.idleFor(3);
    EXPECT_NEAR(static_cast<double>(l.rig.form->parts().window.tap().currentBpmValue), 1'280'000,
                100);
    ASSERT_FALSE(l.rig.audio.starts.empty());
    const RecordingAudio::Start& clicks = l.rig.audio.starts.back();
    ASSERT_TRUE(clicks.grid.has_value());
    EXPECT_NEAR(clicks.grid->beatSeconds, beatOnClock(69), 0.006);
    EXPECT_NEAR(static_cast<double>(toLongDouble(clicks.tempo)), 128.0, 0.02);
    EXPECT_TRUE(l.heard().endsWith(QStringLiteral(", taps on it"))) << l.heard().toStdString();

    // Taps a third faster are kept, and the window says so.
    for (int k = 0; k < 5; ++k) {
        l.rig.tapAt(beatOnClock(80) + k * kPeriod * 0.75);
    }
    l.rig.idleFor(3);
    EXPECT_TRUE(l.heard().endsWith(QStringLiteral("taps kept: other tempo")));
    EXPECT_GT(l.rig.form->parts().window.tap().currentBpmValue, 1'700'000);

    // Off again: the credit line is back, and the choice is kept.
    l.rig.key(Qt::Key_F9);
    EXPECT_FALSE(l.listening());
    EXPECT_FALSE(child<PictureStrip>(*l.rig.form, "Image1")->listening());
    EXPECT_TRUE(child<QLabel>(*l.rig.form, "lblMyName")->isVisible());
    EXPECT_EQ(l.rig.settings()->findInteger(settings::kListening), 0);
}

TEST(Listening, FaultsAreSaidAndListeningStartsAgainWhenAsked) {
    ListeningRig l;
    l.script.refuse =
        "cannot reach the sound server: Connection refused (no server is running "
        "for this user)";
    l.rig.key(Qt::Key_F9);
    EXPECT_FALSE(l.listening());
    QLabel* line = child<QLabel>(*l.rig.form, "lblHeard");
    EXPECT_EQ(line->toolTip(),
              QStringLiteral("Not listening: ") + QString::fromStdString(l.script.refuse));
    // Cut short to fit, never clipped.
    EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
    EXPECT_TRUE(line->text().endsWith(QChar(0x2026)));

    // Asked again with the server back; then the input goes away.
    l.script.refuse.clear();
    l.rig.key(Qt::Key_F9);
    EXPECT_TRUE(l.listening());
    QTRY_VERIFY_WITH_TIMEOUT(l.heard().startsWith(QStringLiteral("Heard: 128.00")), 20000);
    // Taps at another tempo start the clicks on their own grid; the heard
    // tempo taken then moves the clicks onto the music's beats.
    l.rig.key(Qt::Key_F4);
    for (int k = 0; k < 5; ++k) {
        l.rig.tapAt(40 + k * kPeriod * 0.75);
    }
    l.rig.idleFor(3);
    ASSERT_FALSE(l.rig.audio.starts.empty());
    EXPECT_GT(l.rig.audio.starts.back().tempo, 1'700'000);
    l.rig.key(Qt::Key_F9, Qt::ShiftModifier);
    const RecordingAudio::Start& clicks = l.rig.audio.starts.back();
    EXPECT_NEAR(static_cast<double>(clicks.tempo), 1'280'000, 100);
    EXPECT_NEAR(static_cast<double>(l.rig.form->parts().window.tap().currentBpmValue), 1'280'000,
                100);
    ASSERT_TRUE(clicks.grid.has_value());
    const double beats = (clicks.grid->beatSeconds - beatOnClock(0)) / kPeriod;
    EXPECT_NEAR((beats - std::round(beats)) * kPeriod, 0, 0.006);

    l.script.failNow = true;
    QTRY_VERIFY_WITH_TIMEOUT(!l.listening(), 5000);
    EXPECT_EQ(l.heard(), QStringLiteral("Not listening: the input \"USB Audio\" is gone"));
    EXPECT_FALSE(item(*l.rig.form, "mnuFileUseHeard")->isEnabled());

    // Left on at the end, it listens at the next start.
    l.script.failNow = false;
    l.rig.key(Qt::Key_F9);
    ASSERT_TRUE(l.listening());
    l.rig.restart();
    QTRY_VERIFY_WITH_TIMEOUT(l.listening(), 2000);
    EXPECT_EQ(l.script.starts, 3);
}

}  // namespace
}  // namespace pulsaro
