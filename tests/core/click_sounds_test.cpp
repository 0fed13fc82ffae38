#include "core/wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// The files tools/make_clicks writes at build time (the folder comes from CMake).
#ifndef PULSARO_SOUNDS_DIR
#error "PULSARO_SOUNDS_DIR must name the generated sounds folder"
#endif

namespace pulsaro {
namespace {

std::vector<std::uint8_t> readSoundFile(const std::string& name) {
    std::ifstream in(std::string(PULSARO_SOUNDS_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One channel of a sound between two times in seconds.
std::vector<float> window(const PcmSound& sound, int channel, double from, double to) {
    const auto frame = [&](double t) {
        return std::min(sound.frames(), static_cast<std::size_t>(t * sound.sampleRate));
    };
    std::vector<float> out;
    for (std::size_t i = frame(from); i < frame(to); ++i) {
        out.push_back(sound.samples[i * sound.channels + static_cast<std::size_t>(channel)]);
    }
    return out;
}

float peak(const std::vector<float>& x) {
    float p = 0;
    for (float v : x) {
        p = std::max(p, std::abs(v));
    }
    return p;
}

float lowest(const std::vector<float>& x) {
    float p = 1;
    for (float v : x) {
        p = std::min(p, std::abs(v));
    }
    return p;
}

double energy(const std::vector<float>& x) {
    double e = 0;
    for (float v : x) {
        e += double{v} * v;
    }
    return e;
}

// Frequency from the sign changes between the first and the last one.
double zeroCrossingHz(const std::vector<float>& x, std::uint32_t rate) {
    std::vector<std::size_t> at;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if ((x[i - 1] < 0) != (x[i] < 0)) {
            at.push_back(i);
        }
    }
    if (at.size() < 2) {
        return 0;
    }
    return 0.5 * static_cast<double>(at.size() - 1) * rate / static_cast<double>(at.back() - at[0]);
}

TEST(ClickSounds, HaveTheirExactLayoutAndTheirCharacter) {
    constexpr double end = 1.0;  // past the end of every sound
    struct Case {
        const char* file;
        WavInfo layout;
        std::size_t attack;  // frames of quiet lead-in (attackFrame)
        std::function<void(const PcmSound&)> character;
    };
    const Case cases[] = {
        {"sound.wav",
         {1, 1, 22050, 8, 16, 660, 0, false, 704},
         184,
         [](const PcmSound& s) {  // a dull thump that rises after ~8 ms and stays up
             EXPECT_LT(peak(window(s, 0, 0, 0.007)), 0.02f);
             EXPECT_GT(lowest(window(s, 0, 0.012, end)), 0.9f);
         }},
        {"sound1.wav",
         {1, 1, 22050, 16, 16, 830, 0, true, 952},
         0,
         [](const PcmSound& s) {  // a full-scale tick, gone within 10 ms
             EXPECT_GT(peak(window(s, 0, 0, 0.001)), 0.99f);
             EXPECT_LT(energy(window(s, 0, 0.010, end)), 1e-3 * energy(window(s, 0, 0, end)));
         }},
        {"sound2.wav",
         {1, 2, 44100, 16, 18, 10588, 2647, false, 10646},
         5,
         [](const PcmSound& s) {  // a 580 Hz knock, decaying, a little different per side
             for (int c = 0; c < 2; ++c) {
                 SCOPED_TRACE(c == 0 ? "left" : "right");
                 EXPECT_NEAR(zeroCrossingHz(window(s, c, 0, 0.05), s.sampleRate), 580, 10);
                 EXPECT_LT(peak(window(s, c, 0.05, end)), 0.1f * peak(window(s, c, 0, 0.01)));
             }
             EXPECT_NE(peak(window(s, 0, 0, end)), peak(window(s, 1, 0, end)));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<std::uint8_t> file = readSoundFile(c.file);
        const WavInfo info = readWavInfo(file);
        const WavInfo& want = c.layout;
        EXPECT_EQ(info.formatTag, want.formatTag);
        EXPECT_EQ(info.channels, want.channels);
        EXPECT_EQ(info.sampleRate, want.sampleRate);
        EXPECT_EQ(info.bitsPerSample, want.bitsPerSample);
        EXPECT_EQ(info.formatChunkSize, want.formatChunkSize);
        EXPECT_EQ(info.dataBytes, want.dataBytes);
        EXPECT_EQ(info.factFrames, want.factFrames);
        EXPECT_EQ(info.hasInfoList, want.hasInfoList);
        EXPECT_EQ(info.fileBytes, want.fileBytes);
        EXPECT_EQ(file.size(), want.fileBytes);

        const PcmSound sound = decodeWav(file);
        ASSERT_EQ(sound.sampleRate, want.sampleRate);
        ASSERT_EQ(sound.channels, want.channels);
        ASSERT_EQ(sound.frames(), want.dataBytes / (want.channels * want.bitsPerSample / 8));
        EXPECT_EQ(attackFrame(sound), c.attack);
        c.character(sound);
    }
}

}  // namespace
}  // namespace pulsaro
