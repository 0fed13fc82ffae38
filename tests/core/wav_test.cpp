#include "core/wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pulsaro {

void PrintTo(const WavInfo& i, std::ostream* os) {
    *os << "{" << i.formatTag << ", " << i.channels << ", " << i.sampleRate << ", "
        << i.bitsPerSample << ", " << i.formatChunkSize << ", " << i.dataBytes << ", "
        << i.factFrames << ", " << i.hasInfoList << ", " << i.fileBytes << "}";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian integer of n bytes.
Bytes le(std::uint32_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) {
        b.insert(b.end(), p.begin(), p.end());
    }
    return b;
}

Bytes tag(const char* t) {
    return Bytes(t, t + 4);
}

Bytes chunk(const char* id, const Bytes& body, bool pad = true) {
    return cat({tag(id), le(static_cast<std::uint32_t>(body.size()), 4), body,
                pad && body.size() % 2 ? Bytes{0} : Bytes{}});
}

Bytes fmt(std::uint16_t format, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
          std::size_t size = 16) {
    Bytes body = cat({le(format, 2), le(channels, 2), le(rate, 4),
                      le(rate * channels * bits / 8, 4), le(channels * bits / 8, 2), le(bits, 2)});
    body.resize(size, 0);  // an 18-byte chunk ends in a zero extra size
    return chunk("fmt ", body);
}

Bytes riff(std::initializer_list<Bytes> chunks, const char* form = "WAVE") {
    const Bytes inner = cat({tag(form), cat(chunks)});
    return cat({tag("RIFF"), le(static_cast<std::uint32_t>(inner.size()), 4), inner});
}

Bytes cut(Bytes b) {
    b.pop_back();
    return b;
}

TEST(ReadWavInfo, AcceptsWellFormedFilesAndRejectsTheRest) {
    const Bytes pcm8 = fmt(1, 1, 8000, 8);
    const Bytes data4 = chunk("data", {0, 0, 0, 0});
    const std::tuple<std::string, Bytes, std::optional<WavInfo>> cases[] = {
        // name, file, fields (none: WavError)
        {"8-bit mono, odd data padded", riff({pcm8, chunk("data", {0, 128, 255})}),
         WavInfo{1, 1, 8000, 8, 16, 3, 0, false, 48}},
        {"16-bit mono, LIST INFO after data",
         riff({fmt(1, 1, 22050, 16), data4,
               chunk("LIST", cat({tag("INFO"), chunk("INAM", {'C'})}))}),
         WavInfo{1, 1, 22050, 16, 16, 4, 0, true, 70}},
        {"16-bit stereo, 18-byte fmt after fact",
         riff({chunk("fact", le(2, 4)), fmt(1, 2, 44100, 16, 18), chunk("data", Bytes(8))}),
         WavInfo{1, 2, 44100, 16, 18, 8, 2, false, 66}},
        {"odd unknown chunk skipped with its pad", riff({chunk("junk", {1, 2, 3}), pcm8, data4}),
         WavInfo{1, 1, 8000, 8, 16, 4, 0, false, 60}},
        {"LIST of another type", riff({pcm8, chunk("LIST", tag("adtl")), data4}),
         WavInfo{1, 1, 8000, 8, 16, 4, 0, false, 60}},
        {"last odd chunk without its pad", riff({pcm8, chunk("data", {1, 2, 3}, false)}),
         WavInfo{1, 1, 8000, 8, 16, 3, 0, false, 47}},
        {"truncated file", cut(riff({pcm8, data4})), std::nullopt},
        {"chunk longer than the file", riff({pcm8, cut(data4)}), std::nullopt},
        {"chunk header cut short", riff({pcm8, data4, tag("LIST")}), std::nullopt},
        {"IEEE float", riff({fmt(3, 1, 8000, 16), data4}), std::nullopt},
        {"24-bit", riff({fmt(1, 1, 8000, 24), chunk("data", Bytes(6))}), std::nullopt},
        {"three channels", riff({fmt(1, 3, 8000, 8), chunk("data", Bytes(6))}), std::nullopt},
        {"zero rate", riff({fmt(1, 1, 0, 8), data4}), std::nullopt},
        {"fmt of 14 bytes", riff({fmt(1, 1, 8000, 8, 14), data4}), std::nullopt},
        {"two fmt chunks", riff({pcm8, pcm8, data4}), std::nullopt},
        {"missing data", riff({pcm8}), std::nullopt},
        {"missing fmt", riff({data4}), std::nullopt},
        {"not WAVE", riff({pcm8, data4}, "AVI "), std::nullopt},
        {"header only", cat({tag("RIFF"), le(0, 4)}), std::nullopt},
    };
    for (const auto& [name, file, expected] : cases) {
        SCOPED_TRACE(name);
        if (expected) {
            EXPECT_EQ(readWavInfo(file), *expected);
        } else {
            EXPECT_THROW(readWavInfo(file), WavError);
            EXPECT_THROW(decodeWav(file), WavError);
        }
    }
}

TEST(DecodeWav, MapsSampleValuesToFullScale) {
    Bytes pcm16;
    for (const std::uint32_t v : {0x8000u, 0u, 0x7fffu, 0xffffu, 0x4000u, 0xc000u}) {
        pcm16 = cat({pcm16, le(v, 2)});
    }
    const std::tuple<Bytes, std::uint16_t, std::vector<float>> cases[] = {
        // 8-bit is unsigned around 128
        {riff({fmt(1, 1, 8000, 8), chunk("data", {0, 128, 255})}), 1, {-1.0f, 0, 127.0f / 128}},
        // 16-bit is signed
        {riff({fmt(1, 1, 8000, 16), chunk("data", pcm16)}),
         1,
         {-1.0f, 0, 32767.0f / 32768, -1.0f / 32768, 0.5f, -0.5f}},
        // stereo stays interleaved; a partial last frame is dropped
        {riff({fmt(1, 2, 8000, 16), chunk("data", Bytes(pcm16.begin(), pcm16.end() - 2))}),
         2,
         {-1.0f, 0, 32767.0f / 32768, -1.0f / 32768}},
    };
    for (const auto& [file, channels, samples] : cases) {
        const PcmSound sound = decodeWav(file);
        EXPECT_EQ(sound.sampleRate, 8000u);
        EXPECT_EQ(sound.channels, channels);
        EXPECT_EQ(sound.samples, samples);
    }
}

PcmSound sine(std::uint32_t rate, std::size_t frames, double hz) {
    PcmSound s{rate, 1, std::vector<float>(frames)};
    for (std::size_t i = 0; i < frames; ++i) {
        s.samples[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * i / rate));
    }
    return s;
}

// 1 kHz at 22050 Hz mono to 48000 Hz stereo: the same duration and the same
// sine on both channels (edges, where the sound starts from silence, apart).
TEST(ConvertSound, KeepsDurationAndShapeAndCopiesChannels) {
    const std::tuple<std::uint32_t, std::size_t, std::uint32_t, std::size_t> counts[] = {
        {22050, 2205, 48000, 4800}, {44100, 1000, 48000, 1088}, {48000, 3, 22050, 1},
        {8000, 7, 44100, 39},       {48000, 1000, 48000, 1000}, {44100, 0, 48000, 0}};
    for (const auto& [from, frames, to, expected] : counts) {
        EXPECT_EQ(convertSound(sine(from, frames, 100), to, 1).frames(), expected)
            << from << " " << to;
    }

    const PcmSound out = convertSound(sine(22050, 2205, 1000), 48000, 2);
    ASSERT_EQ(out.frames(), 4800u);
    double worst = 0;
    for (std::size_t f = 100; f < 4700; ++f) {
        const double ideal = 0.5 * std::sin(2 * std::numbers::pi * 1000 * f / 48000);
        worst = std::max(worst, std::abs(out.samples[2 * f] - ideal));
        ASSERT_EQ(out.samples[2 * f], out.samples[2 * f + 1]) << f;
    }
    EXPECT_LT(worst, 1e-3);
}

TEST(ConvertSound, MixesChannelsAndKeepsHighTonesFromAliasing) {
    const PcmSound stereo{48000, 2, {0.5f, -0.25f, 1.0f, 0.0f}};
    EXPECT_EQ(convertSound(stereo, 48000, 1).samples, (std::vector<float>{0.125f, 0.5f}));
    EXPECT_EQ(convertSound(stereo, 48000, 2).samples, stereo.samples);
    EXPECT_EQ(convertSound(stereo, 48000, 3).samples,
              (std::vector<float>{0.5f, -0.25f, 0.125f, 1.0f, 0.0f, 0.5f}));

    // 15 kHz lies above 22050 Hz's Nyquist frequency: it must vanish, not
    // fold back to 7 kHz.
    const PcmSound low = convertSound(sine(48000, 4800, 15000), 22050, 1);
    double energy = 0;
    for (std::size_t f = 100; f + 100 < low.frames(); ++f) {
        energy += low.samples[f] * low.samples[f];
    }
    EXPECT_LT(std::sqrt(energy / static_cast<double>(low.frames() - 200)), 0.01);
}

}  // namespace
}  // namespace pulsaro
