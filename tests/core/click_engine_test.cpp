#include "core/click_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <variant>
#include <vector>

namespace pulsaro {
namespace {

constexpr Fixed bpm(std::int64_t beats) {
    return beats * kFixedScale;
}

TEST(PeriodFrames, IsExactForCommonTemposAndRates) {
    // BPM, frames at 44100 Hz, frames at 48000 Hz
    const std::tuple<std::int64_t, long double, long double> cases[] = {
        {50, 52920, 57600},     {64, 41343.75, 45000}, {120, 22050, 24000}, {128, 20671.875, 22500},
        {192, 13781.25, 15000}, {250, 10584, 11520},   {300, 8820, 9600}};
    for (const auto& [beats, at44100, at48000] : cases) {
        EXPECT_EQ(periodFrames(bpm(beats), 44100), at44100) << beats;
        EXPECT_EQ(periodFrames(bpm(beats), 48000), at48000) << beats;
    }
    EXPECT_THROW(periodFrames(0, 48000), ArithmeticError);
    EXPECT_THROW(periodFrames(-1, 48000), ArithmeticError);
}

// Click frames are rounded (halves away from zero), so the answer can be one
// off a plain division: at 128 BPM and 44100 Hz click 4 falls on 82687.5.
TEST(FirstClickAtOrAfter, AllowsForTheRoundedFrames) {
    const std::tuple<long double, std::int64_t, std::int64_t> cases[] = {
        // anchor, earliest, k
        {0, 82687, 4},     {0, 82688, 4}, {0, 82689, 5}, {-0.5L, 82687, 4},
        {-0.5L, 82688, 5}, {1000, 0, 0},  {-1e6L, 0, 49}};
    for (const auto& [anchor, earliest, k] : cases) {
        EXPECT_EQ(firstClickAtOrAfter(anchor, earliest, bpm(128), 44100), k)
            << static_cast<double>(anchor) << " " << earliest;
    }
}

// A click whose first sample is 1.0 and the rest 0.25, so each onset and its
// length show in the output.
constexpr std::int64_t kClickFrames = 32;

PcmSound click(std::int64_t rate, int channels) {
    PcmSound s{static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(channels), {}};
    s.samples.assign(kClickFrames * channels, 0.25f);
    std::fill_n(s.samples.begin(), channels, 1.0f);
    return s;
}

// The whole output of a long run against a model built from
// round(k * 60 * rate / tempo) in exact integers: every onset on its frame,
// every click its full length, silence between, whatever the block sizes.
TEST(ClickEngine, LongRunsPutEveryClickOnItsExactFrame) {
    struct Case {
        std::int64_t rate;
        Fixed tempo;
        int channels;
        std::int64_t seconds;
        std::vector<std::int64_t> blocks;  // cycled
        std::int64_t clicks;
    };
    const std::vector<std::int64_t> irregular = {64, 441, 512, 1000, 4096};
    const Case cases[] = {
        {44100, bpm(128), 1, 600, irregular, 1280},
        {48000, bpm(128), 2, 600, irregular, 1280},
        {44100, 1'273'456, 1, 600, irregular, 1274},  // 127.3456 BPM
        {48000, bpm(60000), 1, 1, irregular, 1000},   // 48 frames: many clicks a block
        {48000, bpm(120), 1, 10, {1000}, 20},         // every click on a block start
        {48000, bpm(120), 1, 10, {23999, 1, 24000}, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, tempo " << c.tempo);
        ClickEngine engine(static_cast<double>(c.rate), c.channels);
        engine.setSounds({click(c.rate, c.channels), PcmSound{}, PcmSound{}});
        ASSERT_TRUE(engine.startPeriodic(1, c.tempo, std::nullopt, 0));

        auto onset = [&](std::int64_t k) {  // halves up
            return (2 * k * 600'000 * c.rate + c.tempo) / (2 * c.tempo);
        };
        const std::int64_t frames = c.seconds * c.rate;
        std::vector<float> out(*std::max_element(c.blocks.begin(), c.blocks.end()) * c.channels);
        std::int64_t k = 0, last = -kClickFrames, firstMismatch = -1;
        for (std::int64_t position = 0, block = 0; position < frames; ++block) {
            const std::int64_t n = std::min(c.blocks[block % c.blocks.size()], frames - position);
            engine.render(out.data(), static_cast<std::size_t>(n));
            for (std::int64_t f = 0; f < n; ++f, ++position) {
                if (position == onset(k)) {
                    last = position;
                    ++k;
                }
                const std::int64_t age = position - last;
                const float expected = age == 0 ? 1.0f : age < kClickFrames ? 0.25f : 0.0f;
                for (int i = 0; i < c.channels; ++i) {
                    if (out[f * c.channels + i] != expected && firstMismatch < 0) {
                        firstMismatch = position;
                    }
                }
            }
        }
        EXPECT_EQ(firstMismatch, -1);
        EXPECT_EQ(k, c.clicks);
        EXPECT_EQ(engine.position(), frames);
    }
}

// Scenarios at 1000 Hz, so that 120 BPM is a click every 500 frames. Sound i
// holds i + 1 + j / 1000 at frame j, so the output shows which sound plays and
// from where.
constexpr double kRate = 1000;
const std::size_t kLengths[] = {300, 200, 700};

float soundValue(int sound, std::size_t frame) {
    return static_cast<float>(sound + 1) + static_cast<float>(frame) / 1000.0f;
}

std::array<PcmSound, ClickEngine::kSoundCount> rampSounds() {
    std::array<PcmSound, ClickEngine::kSoundCount> sounds;
    for (int i = 0; i < ClickEngine::kSoundCount; ++i) {
        sounds[i] = PcmSound{1000, 1, {}};
        for (std::size_t j = 0; j < kLengths[i]; ++j) {
            sounds[i].samples.push_back(soundValue(i, j));
        }
    }
    return sounds;
}

using Action = std::function<void(ClickEngine&)>;
using Step = std::variant<std::size_t, Action>;  // frames to render, or a call

Action start(std::uint32_t id, std::optional<long double> anchor = std::nullopt,
             std::int64_t firstK = 0, Fixed tempo = bpm(120)) {
    return [=](ClickEngine& e) { ASSERT_TRUE(e.startPeriodic(id, tempo, anchor, firstK)); };
}
Action stop(std::uint32_t id) {
    return [=](ClickEngine& e) { ASSERT_TRUE(e.stopPeriodic(id)); };
}
Action once(int sound) {
    return [=](ClickEngine& e) { ASSERT_TRUE(e.playOnce(sound)); };
}
Action select(int sound) {
    return [=](ClickEngine& e) { e.selectSound(sound); };
}
const Action purge = [](ClickEngine& e) { ASSERT_TRUE(e.purge()); };

TEST(ClickEngine, CommandsTakeEffectOnTheRightFrame) {
    struct Onset {
        std::size_t frame;
        int sound;  // -1: silence from here on
        std::size_t from = 0;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<Onset> onsets;
        std::array<std::size_t, ClickEngine::kSoundCount> attacks{};
    };
    using F = std::size_t;
    const Case cases[] = {
        {"a swap waits for the next click",
         {start(1), F{100}, select(1), F{1000}},
         {{0, 0}, {500, 1}, {1000, 1}}},
        {"purge silences the very next frame",
         {start(1), F{150}, purge, F{1000}},
         {{0, 0}, {150, -1}}},
        {"a stale stop does nothing; the live one lets the click play out",
         {start(1), F{550}, stop(2), F{500}, stop(1), F{1000}},
         {{0, 0}, {500, 0}, {1000, 0}}},
        {"a replaced click's id is stale",
         {start(1), F{100}, start(2), F{100}, stop(1), F{500}},
         {{0, 0}, {100, 0}, {600, 0}}},
        {"playOnce cuts a click and the next click cuts it",
         {start(1), F{100}, once(2), F{900}},
         {{0, 0}, {100, 2}, {500, 0}}},
        {"a silent click cuts what plays",
         {start(1), F{100}, once(2), select(-1), F{900}},
         {{0, 0}, {100, 2}, {500, -1}}},
        {"playOnce of no sound only stops",
         {once(2), F{100}, once(-1), F{100}},
         {{0, 2}, {100, -1}}},
        {"commands of one block apply in order", {start(1), purge, F{600}}, {}},
        {"without an anchor the grid starts at the block",
         {F{250}, start(1, std::nullopt, 2), F{1600}},
         {{1250, 0}, {1750, 0}}},
        {"an anchor in the past starts on the next grid frame",
         {F{1234}, start(1, 100.4L), F{1000}},
         {{1600, 0}, {2100, 0}}},
        {"an anchor ahead, half a frame off, rounds away",
         {F{1234}, start(1, 1300.5L), F{600}},
         {{1301, 0}, {1801, 0}}},
        {"a grid frame on the block start is played", {F{500}, start(1, 0.0L), F{100}}, {{500, 0}}},
        {"an anchor with a later first click",
         {F{1000}, start(1, 0.0L, 5), F{2100}},
         {{2500, 0}, {3000, 0}}},
        // 133.3333 BPM: 450.0001125 frames, so 10.7 + k periods gives
        // 1810.70045 -> 1811 (past) and 2260.70056 -> 2261.
        {"a fractional anchor and period",
         {F{2000}, start(1, 10.7L, 0, 1'333'333), F{500}},
         {{2261, 0}}},
        // Attacks on the beats (sound 0's at frame 100); a lead already due is left out.
        {"first click due at once", {start(1), F{600}}, {{0, 0, 100}, {400, 0}}, {100, 0, 0}},
        {"lead begun", {F{1234}, start(1, 1300.0L), F{600}}, {{1234, 0, 34}, {1700, 0}}, {100}},
        {"playOnce keeps its lead", {once(0), F{400}}, {{0, 0}}, {100, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClickEngine engine(kRate, 1);
        engine.setSounds(rampSounds(), c.attacks);
        std::vector<float> out;
        for (const Step& step : c.steps) {
            if (const auto* frames = std::get_if<std::size_t>(&step)) {
                out.resize(out.size() + *frames, -99.0f);
                engine.render(out.data() + out.size() - *frames, *frames);
            } else {
                std::get<Action>(step)(engine);
            }
        }
        std::vector<float> expected(out.size(), 0.0f);
        for (const Onset& o : c.onsets) {
            for (std::size_t f = o.frame, age = o.from; f < expected.size(); ++f, ++age) {
                expected[f] =
                    o.sound >= 0 && age < kLengths[o.sound] ? soundValue(o.sound, age) : 0;
            }
        }
        const auto wrong = std::mismatch(out.begin(), out.end(), expected.begin());
        EXPECT_EQ(wrong.first, out.end()) << "first wrong frame " << wrong.first - out.begin();
    }
}

TEST(ClickEngine, IdleFramesCountFromTheLastSound) {
    ClickEngine engine(kRate, 1);
    engine.setSounds(rampSounds());
    std::vector<float> out(1000);
    const std::tuple<std::optional<Action>, std::size_t, bool, std::int64_t> cases[] = {
        // command, frames then rendered, busy, idle frames
        {{}, 100, false, 100},   {start(1), 600, true, 0},  // clicks at 100 and 600
        {stop(1), 100, true, 0},                            // the click at 600 sounds to 900
        {{}, 400, false, 300},   {purge, 100, false, 400},  // nothing to silence: still idle
        {once(1), 50, true, 0},                             // sound 1 from 1300 to 1500
        {{}, 1000, false, 850},
    };
    for (const auto& [command, frames, busy, idle] : cases) {
        if (command) {
            (*command)(engine);
            // A queued command counts, so an idle check cannot stop the
            // stream under it.
            EXPECT_TRUE(engine.busy());
            EXPECT_EQ(engine.idleFrames(), 0);
        }
        engine.render(out.data(), frames);
        EXPECT_EQ(engine.busy(), busy) << engine.position();
        EXPECT_EQ(engine.idleFrames(), idle) << engine.position();
    }
}

TEST(ClickEngine, RefusesWhatItCannotPlay) {
    ClickEngine engine(kRate, 1);
    EXPECT_THROW(engine.setSounds({PcmSound{44100, 1, {1.0f}}, {}, {}}), std::invalid_argument);
    EXPECT_THROW(engine.setSounds({PcmSound{1000, 2, {1.0f, 1.0f}}, {}, {}}),
                 std::invalid_argument);
    EXPECT_THROW(engine.setSounds({PcmSound{1000, 1, {1.0f}}, {}, {}}, {2, 0, 0}),
                 std::invalid_argument);
    EXPECT_THROW(engine.startPeriodic(1, 0, std::nullopt, 0), ArithmeticError);
    // 70000 BPM at 1000 Hz is less than a frame per click.
    EXPECT_THROW(engine.startPeriodic(1, bpm(70000), std::nullopt, 0), std::invalid_argument);

    // The queue holds 64 commands until a block takes them.
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(engine.stopPeriodic(1));
    }
    EXPECT_FALSE(engine.purge());
    float frame = 0;
    engine.render(&frame, 1);
    EXPECT_TRUE(engine.purge());
}

}  // namespace
}  // namespace pulsaro
