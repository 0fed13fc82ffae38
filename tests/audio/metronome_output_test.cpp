// The metronome as the window drives it, rendered offline: where the clicks
// land in frames, which sound they are, and what each command does to them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/backend_logging.h"
#include "audio/offline_output.h"

namespace pulsaro {
namespace {

constexpr Fixed bpm(int whole) {
    return Fixed{whole} * kFixedScale;
}

// Every sound is a block of one constant value, so a click's first frame and
// its sound can both be read off the output.
constexpr std::array<float, 3> kSoundValues{0.5f, -0.25f, 0.75f};

std::array<PcmSound, 3> sounds(std::uint32_t rate, std::size_t longFrames = 200,
                               std::size_t lead = 0) {
    std::array<PcmSound, 3> result;
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i].sampleRate = rate;
        result[i].channels = 1;
        result[i].samples.assign(i == 2 ? longFrames : 200, kSoundValues[i]);
        result[i].samples.insert(result[i].samples.begin(), lead, 0.0f);
    }
    return result;
}

struct Onset {
    std::int64_t frame;
    float value;
    bool operator==(const Onset&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Onset& onset) {
        return out << "{frame " << onset.frame << ", " << onset.value << "}";
    }
};

// Renders in blocks of uneven sizes (a click must not depend on where a
// block starts) and notes each frame where the first channel leaves silence.
class Recorder {
public:
    explicit Recorder(OfflineOutput& output) : output_(output) {}

    void renderUntil(std::int64_t frame) {
        static constexpr std::array<std::int64_t, 4> kBlocks{997, 64, 4096, 1};
        while (output_.position() < frame) {
            const std::int64_t size =
                std::min(kBlocks[(next_++) % kBlocks.size()], frame - output_.position());
            const std::int64_t start = output_.position();
            const std::vector<float> block = output_.render(static_cast<std::size_t>(size));
            for (std::int64_t f = 0; f < size; ++f) {
                const float sample = block[static_cast<std::size_t>(f * output_.channels())];
                if (sample != 0 && previous_ == 0) {
                    onsets.push_back({start + f, sample});
                }
                previous_ = sample;
            }
            lastBlock = block;
        }
    }
    void renderFor(std::int64_t frames) { renderUntil(output_.position() + frames); }

    std::vector<Onset> onsets;
    std::vector<float> lastBlock;

private:
    OfflineOutput& output_;
    std::size_t next_ = 0;
    float previous_ = 0;
};

// Taps every beat end at tapClock t; the window's timeout, 2.5 s later, starts
// the metronome on the grid of those taps. The first click must be heard on
// the grid (frame f is heard at clockAtFrame0 + latency + f / rate), so on the
// first beat after the timeout, and the rest follow exactly one period apart.
struct InStepCase {
    const char* name;
    std::uint32_t rate;
    int channels;
    Fixed tempo;
    double lastTap;
    double clockAtFrame0;
    double latency;
    std::vector<std::int64_t> expected;
    std::size_t lead = 0;  // silence ahead of each sound's attack, on the beats
    friend void PrintTo(const InStepCase& c, std::ostream* out) { *out << c.name; }
};

class InStepWithTheTaps : public testing::TestWithParam<InStepCase> {};

TEST_P(InStepWithTheTaps, FirstClickOnTheGridThenEveryPeriod) {
    const InStepCase& c = GetParam();
    OfflineOutput output(c.rate, c.channels);
    output.loadSounds(sounds(c.rate, 200, c.lead));
    output.setClockMapping(c.clockAtFrame0, c.latency);
    Recorder recorder(output);

    const double timeout = c.lastTap + 2.5;
    recorder.renderUntil(static_cast<std::int64_t>((timeout - c.clockAtFrame0) * c.rate));
    ASSERT_TRUE(recorder.onsets.empty());
    ASSERT_NE(output.startClicks(c.tempo, BeatGrid{c.lastTap}), 0u);
    recorder.renderUntil(c.expected.back() + 1000);

    std::vector<Onset> expected;
    for (std::int64_t frame : c.expected) {
        expected.push_back({frame, kSoundValues[0]});
    }
    EXPECT_EQ(recorder.onsets, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Grid, InStepWithTheTaps,
    testing::Values(
        // 120 BPM: beats 500 ms apart, the first heard at t + 3.0 s, i.e. frame
        // (1003.25 + 3.0 - 1000 - 0.0125) x 48000, then every 24000 frames.
        InStepCase{"bpm120_48k_stereo",
                   48000,
                   2,
                   bpm(120),
                   1003.25,
                   1000.0,
                   0.0125,
                   {299400, 323400, 347400, 371400, 395400, 419400}},
        // 128 BPM at 44.1 kHz: a period of 20671.875 frames, a latency of
        // 545.13 frames; the first click heard on the sixth beat after the
        // last tap (t + 2.8125 s), at frame 547878.06, each later one rounded
        // from the exact grid, never from the click before.
        InStepCase{"bpm128_44k1_mono",
                   44100,
                   1,
                   bpm(128),
                   5000.1234,
                   4990.5,
                   0.0123612,
                   {547878, 568550, 589222, 609894, 630566, 651237},
                   369}),
    [](const testing::TestParamInfo<InStepCase>& info) { return std::string(info.param.name); });

TEST(MetronomeOutput, RefusesTemposOutsideTheRange) {
    struct Case {
        Fixed tempo;
        bool accepted;
    };
    // The period must lie within 1 ms (60000 BPM) and 1 000 000 ms (0.06 BPM).
    const std::array<Case, 7> cases{{{0, false},
                                     {-bpm(120), false},
                                     {599, false},
                                     {600, true},
                                     {bpm(60000), true},
                                     {bpm(60000) + 1, false},
                                     {bpm(120), true}}};
    OfflineOutput output(48000, 2);
    output.loadSounds(sounds(48000));
    std::uint32_t lastId = 0;
    for (const Case& c : cases) {
        const std::uint32_t id = output.startClicks(c.tempo, std::nullopt);
        if (c.accepted) {
            EXPECT_GT(id, lastId) << "tempo " << c.tempo;
            lastId = id;
        } else {
            EXPECT_EQ(id, 0u) << "tempo " << c.tempo;
        }
    }
}

TEST(MetronomeOutput, IdsSoundsAndPurge) {
    constexpr std::int64_t kPeriod240 = 12000;  // 240 BPM at 48 kHz
    OfflineOutput output(48000, 2);
    output.loadSounds(sounds(48000, 30000));
    Recorder recorder(output);
    recorder.renderFor(5000);

    // Without a grid the first click falls on the next block.
    const std::uint32_t first = output.startClicks(bpm(120), BeatGrid{12.0});
    recorder.renderFor(1000);
    ASSERT_EQ(recorder.onsets, (std::vector<Onset>{{5000, kSoundValues[0]}}))
        << "a grid with no clock mapping starts at once";

    // A new start replaces the clicking; the old id stops nothing.
    const std::uint32_t second = output.startClicks(bpm(240), std::nullopt);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    const std::int64_t start = output.position();
    output.stopClicks(first);
    output.stopClicks(0);
    recorder.renderUntil(start + 2 * kPeriod240 + 1);
    EXPECT_EQ(recorder.onsets.back(), (Onset{start + 2 * kPeriod240, kSoundValues[0]}));
    EXPECT_EQ(recorder.onsets.size(), 4u);

    // The selected sound changes the next click; no sound leaves them silent.
    output.selectSound(1);
    recorder.renderUntil(start + 3 * kPeriod240 + 1);
    EXPECT_EQ(recorder.onsets.back(), (Onset{start + 3 * kPeriod240, kSoundValues[1]}));
    output.selectSound(AudioOutput::kNoSound);
    recorder.renderUntil(start + 5 * kPeriod240 + 1);
    EXPECT_EQ(recorder.onsets.size(), 5u);
    output.selectSound(0);
    recorder.renderUntil(start + 6 * kPeriod240 + 1);
    EXPECT_EQ(recorder.onsets.back(), (Onset{start + 6 * kPeriod240, kSoundValues[0]}));

    // Stopping under the current id ends the clicking for good.
    output.stopClicks(second);
    output.stopClicks(second);
    recorder.renderFor(4 * kPeriod240);
    EXPECT_EQ(recorder.onsets.size(), 6u);

    // Purge cuts a long sound from the next block on.
    output.playOnce(2);
    const std::int64_t played = output.position();
    recorder.renderFor(1000);
    EXPECT_EQ(recorder.onsets.back(), (Onset{played, kSoundValues[2]}));
    output.purge();
    recorder.renderFor(50);
    EXPECT_EQ(recorder.lastBlock, std::vector<float>(recorder.lastBlock.size(), 0.0f));
    recorder.renderFor(30000);
    EXPECT_EQ(recorder.onsets.size(), 7u);
}

// The device runs dry once (an underrun): real time goes on by a gap the
// frames never filled. Told when each block is heard, the output skips what
// was lost once two blocks after a reported underrun agree, and every later
// click lands on real time's grid; clicks due inside the gap are lost, none is
// doubled. Left alone: a gap within the clock's noise, a gap the device never
// reported (the clicks after it stay late), and a time reported wrong for one
// block (a loaded machine) with no sound lost.
TEST(MetronomeOutput, ClicksStayOnRealTimeAcrossADropout) {
    constexpr std::uint32_t kRate = 48000;
    constexpr std::int64_t kBlock = 480;
    constexpr std::int64_t kPeriod = 24000;  // 120 BPM
    struct Dropout {
        std::int64_t at;  // real frame where the gap starts (a block boundary)
        std::int64_t length;
        std::int64_t lateAfter;  // how late the clicks after it are
        bool reported = true;
        bool onlyReported = false;  // no gap: one block's time is reported late
    };
    for (const Dropout& d :
         {Dropout{30240, 480, 0}, Dropout{47520, 960, 0}, Dropout{9600, 100000, 0},
          Dropout{24480, 1111, 0}, Dropout{24960, 23, 23}, Dropout{30240, 1440, 1440, false},
          Dropout{47520, 1440, 0, true, true}}) {
        SCOPED_TRACE(testing::Message() << "gap of " << d.length << " at " << d.at);
        OfflineOutput output(kRate, 1);
        output.loadSounds(sounds(kRate));
        output.selectSound(0);
        ASSERT_NE(output.startClicks(bpm(120), std::nullopt), 0U);
        std::vector<std::int64_t> onsets;  // in real frames
        std::int64_t real = 0;
        float previous = 0;
        std::vector<float> block(kBlock);
        while (real < 8 * kPeriod) {
            const bool underrun = real == d.at;
            double heardAt = static_cast<double>(real) / kRate;
            if (underrun && d.onlyReported) {
                heardAt += static_cast<double>(d.length) / kRate;
            } else if (underrun) {
                real += d.length;
                heardAt = static_cast<double>(real) / kRate;
                previous = 0;
            }
            output.render(block.data(), kBlock, heardAt, underrun && d.reported);
            for (std::int64_t f = 0; f < kBlock; ++f) {
                const float sample = block[static_cast<std::size_t>(f)];
                if (sample != 0 && previous == 0) {
                    onsets.push_back(real + f);
                }
                previous = sample;
            }
            real += kBlock;
        }
        std::vector<std::int64_t> expected;
        for (std::int64_t k = 0; k * kPeriod < real; ++k) {
            const std::int64_t due = k * kPeriod;
            const std::int64_t gapEnd = d.onlyReported ? d.at : d.at + d.length;
            if (due < d.at) {
                expected.push_back(due);
            } else if (due + d.lateAfter >= gapEnd && due + d.lateAfter < real) {
                expected.push_back(due + d.lateAfter);
            }
        }
        EXPECT_EQ(onsets, expected);
    }
}

// What the sound libraries write straight to the standard error stream while
// they are loaded and probed never reaches the terminal; the program's own
// lines before and after do, nesting included.
TEST(QuietStandardError, HidesOnlyWhatIsWrittenWhileItLives) {
    char path[] = "/tmp/pulsaro-stderr-XXXXXX";
    const int capture = ::mkstemp(path);
    ASSERT_NE(capture, -1);
    std::fflush(stderr);
    const int terminal = ::dup(STDERR_FILENO);
    ::dup2(capture, STDERR_FILENO);
    const auto say = [](const char* text) { ASSERT_GT(::write(STDERR_FILENO, text, 6), 0); };
    say("ours1\n");
    {
        const QuietStandardError quiet;
        say("lib-1\n");
        {
            const QuietStandardError nested;
            say("lib-2\n");
        }
        say("lib-3\n");
    }
    say("ours2\n");
    ::dup2(terminal, STDERR_FILENO);
    ::close(terminal);
    ::close(capture);
    std::stringstream written;
    written << std::ifstream(path).rdbuf();
    std::remove(path);
    EXPECT_EQ(written.str(), "ours1\nours2\n");
}

TEST(QuietStandardError, KnowsTheSoundLibrariesLines) {
    for (const char* line :
         {"Expression 'alsa_snd_pcm_poll_descriptors_revents( self->pcm, pfds, self->nfds, "
          "&revents )' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 3665",
          "ALSA lib pcm.c:2664:(snd_pcm_open_noupdate) Unknown PCM cards.pcm.rear",
          "jack server is not running or cannot be started"}) {
        EXPECT_TRUE(isLibraryLine(line)) << line;
    }
    for (const char* line : {"pulsaro: cannot initialise the sound library; the metronome is off",
                             "QStandardPaths: XDG_RUNTIME_DIR not set", ""}) {
        EXPECT_FALSE(isLibraryLine(line)) << line;
    }
}

}  // namespace
}  // namespace pulsaro
