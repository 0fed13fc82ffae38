// Synthesises the metronome's three click sounds as RIFF/WAVE files:
//   make_clicks <output folder>  ->  sound.wav, sound1.wav, sound2.wav
// Every chunk size is fixed; the program fails (and with it the build) when
// a file does not come out at its exact size.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Byte sizes of the pieces of a RIFF/WAVE file.
constexpr std::size_t kRiffHeader = 12;  // "RIFF", size, "WAVE"
constexpr std::size_t kChunkHeader = 8;  // id, size
constexpr std::size_t kFactChunk = kChunkHeader + 4;

class Bytes {
public:
    void u8(std::uint8_t v) { data_.push_back(v); }
    void u16(std::uint16_t v) {
        for (int i = 0; i < 2; ++i) {
            data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void id(std::string_view fourCc) { data_.insert(data_.end(), fourCc.begin(), fourCc.end()); }
    void append(const std::vector<std::uint8_t>& bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
    }
    // A chunk with its header, padded to an even size as RIFF requires.
    void chunk(std::string_view fourCc, const Bytes& payload) {
        id(fourCc);
        u32(static_cast<std::uint32_t>(payload.size()));
        append(payload.data_);
        if (payload.size() % 2 != 0) {
            data_.push_back(0);
        }
    }
    std::size_t size() const { return data_.size(); }
    const std::vector<std::uint8_t>& data() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
};

struct Format {
    std::uint16_t channels;
    std::uint32_t sampleRate;
    std::uint16_t bitsPerSample;
    bool withExtraSize;  // the 18-byte form of the "fmt " chunk
};

Bytes formatChunk(const Format& f) {
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(f.channels * f.bitsPerSample / 8);
    Bytes fmt;
    fmt.u16(1);  // PCM
    fmt.u16(f.channels);
    fmt.u32(f.sampleRate);
    fmt.u32(f.sampleRate * blockAlign);
    fmt.u16(blockAlign);
    fmt.u16(f.bitsPerSample);
    if (f.withExtraSize) {
        fmt.u16(0);
    }
    return fmt;
}

// Wraps the chunks in the RIFF header.
Bytes riffWave(const Bytes& chunks) {
    Bytes file;
    file.id("RIFF");
    file.u32(static_cast<std::uint32_t>(4 + chunks.size()));
    file.id("WAVE");
    file.append(chunks.data());
    return file;
}

std::uint8_t toUnsigned8(double x) {
    return static_cast<std::uint8_t>(std::clamp(128L + std::lround(x * 127.0), 0L, 255L));
}

void putSigned16(Bytes& out, double x) {
    const long v = std::clamp(std::lround(x * 32767.0), -32768L, 32767L);
    out.u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
}

// Fixed-seed noise (xorshift32) so the tick comes out the same byte for byte
// on every build.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    double next() {  // in [-1, 1)
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t state_;
};

// SOUND: 8-bit mono 22050 Hz, 660 samples. About 8 ms of near-silence, then
// a soft-clipped 18 Hz half wave whose flat top is still held when the file
// ends: a dull thump that stays close to full scale.
constexpr std::size_t kSoundSamples = 660;
constexpr std::size_t kSoundBytes =
    kRiffHeader + kChunkHeader + 16 + kChunkHeader + kSoundSamples;  // 704
static_assert(kSoundBytes == 704);

Bytes makeSound() {
    constexpr double rate = 22050.0;
    constexpr std::size_t onset = 176;  // 7.98 ms
    Bytes samples;
    for (std::size_t n = 0; n < kSoundSamples; ++n) {
        const double t = static_cast<double>(n) / rate;
        double x = 0.008 * std::sin(kTwoPi * 40.0 * t);  // about one step: near-silence
        if (n >= onset) {
            const double u = static_cast<double>(n - onset) / rate;
            x = 0.98 * std::tanh(4.0 * std::sin(kTwoPi * 18.0 * u));
        }
        samples.u8(toUnsigned8(x));
    }
    Bytes chunks;
    chunks.chunk("fmt ", formatChunk({1, 22050, 8, false}));
    chunks.chunk("data", samples);
    return riffWave(chunks);
}

// SOUND1: 16-bit mono 22050 Hz, 415 samples, then an INFO list naming this
// program. Differenced noise (bright) with a 3.5 kHz edge, starting at full
// scale and gone within about 10 ms.
constexpr std::size_t kSound1Samples = 415;
constexpr std::string_view kSound1Software =
    "Pulsaro make_clicks: tick of xorshift32 noise, seed 10600";
constexpr std::uint32_t kSound1Seed = 10600;
constexpr std::size_t kSound1Software0 = kSound1Software.size() + 1;  // with its NUL
static_assert(kSound1Software0 % 2 == 0, "the INFO text must need no pad byte");
constexpr std::size_t kSound1List = kChunkHeader + 4 + kChunkHeader + kSound1Software0;
constexpr std::size_t kSound1Bytes =
    kRiffHeader + kChunkHeader + 16 + kChunkHeader + 2 * kSound1Samples + kSound1List;  // 952
static_assert(kSound1Bytes == 952);

Bytes makeSound1() {
    constexpr double rate = 22050.0;
    constexpr double decay = 0.0014;  // seconds per 1/e
    Noise noise(kSound1Seed);
    std::vector<double> x(kSound1Samples);
    double previous = noise.next();
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = static_cast<double>(n) / rate;
        const double white = noise.next();
        const double bright = 0.5 * (white - previous);
        previous = white;
        x[n] = std::exp(-t / decay) * (0.75 * bright + 0.25 * std::cos(kTwoPi * 3500.0 * t));
    }
    double peak = 0.0;
    for (double v : x) {
        peak = std::max(peak, std::abs(v));
    }
    Bytes samples;
    for (double v : x) {
        putSigned16(samples, v / peak);
    }
    Bytes software;
    software.id(kSound1Software);
    software.u8(0);
    Bytes info;
    info.id("INFO");
    info.chunk("ISFT", software);
    Bytes chunks;
    chunks.chunk("fmt ", formatChunk({1, 22050, 16, false}));
    chunks.chunk("data", samples);
    chunks.chunk("LIST", info);
    return riffWave(chunks);
}

// SOUND2: 16-bit stereo 44100 Hz, 2647 frames (60 ms). A 580 Hz knock with
// a faster-dying inharmonic overtone; the right side is a little later in
// phase and quieter, so the click has some width.
constexpr std::size_t kSound2Frames = 2647;
constexpr std::size_t kSound2Bytes =
    kRiffHeader + kChunkHeader + 18 + kFactChunk + kChunkHeader + 4 * kSound2Frames;  // 10646
static_assert(kSound2Bytes == 10646);

Bytes makeSound2() {
    constexpr double rate = 44100.0;
    constexpr double pitch = 580.0;
    constexpr std::size_t fadeFrames = 132;  // 3 ms, so the file ends at zero
    std::vector<double> left(kSound2Frames);
    std::vector<double> right(kSound2Frames);
    for (std::size_t n = 0; n < kSound2Frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        double envelope = (1.0 - std::exp(-t / 0.00025)) * std::exp(-t / 0.011);
        const std::size_t framesToEnd = kSound2Frames - 1 - n;
        if (framesToEnd < fadeFrames) {
            envelope *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(framesToEnd) /
                                             static_cast<double>(fadeFrames));
        }
        const double overtone = 0.12 * std::exp(-t / 0.004);
        left[n] = envelope *
                  (std::sin(kTwoPi * pitch * t) + overtone * std::sin(kTwoPi * 1.47 * pitch * t));
        right[n] = 0.92 * envelope *
                   (std::sin(kTwoPi * pitch * t - 0.3) +
                    overtone * std::sin(kTwoPi * 1.47 * pitch * t - 0.5));
    }
    double peak = 0.0;
    for (std::size_t n = 0; n < kSound2Frames; ++n) {
        peak = std::max({peak, std::abs(left[n]), std::abs(right[n])});
    }
    Bytes samples;
    for (std::size_t n = 0; n < kSound2Frames; ++n) {
        putSigned16(samples, 0.9 * left[n] / peak);
        putSigned16(samples, 0.9 * right[n] / peak);
    }
    Bytes fact;
    fact.u32(static_cast<std::uint32_t>(kSound2Frames));
    Bytes chunks;
    chunks.chunk("fmt ", formatChunk({2, 44100, 16, true}));
    chunks.chunk("fact", fact);
    chunks.chunk("data", samples);
    return riffWave(chunks);
}

bool write(const std::filesystem::path& path, const Bytes& file, std::size_t expectedBytes) {
    if (file.size() != expectedBytes) {
        std::cerr << "make_clicks: " << path.filename().string() << " came out at " << file.size()
                  << " bytes, not " << expectedBytes << "\n";
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data().data()),
              static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::cerr << "make_clicks: cannot write " << path.string() << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_clicks <output folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "make_clicks: cannot create " << folder.string() << ": " << error.message()
                  << "\n";
        return 1;
    }
    const bool ok = write(folder / "sound.wav", makeSound(), kSoundBytes) &&
                    write(folder / "sound1.wav", makeSound1(), kSound1Bytes) &&
                    write(folder / "sound2.wav", makeSound2(), kSound2Bytes);
    return ok ? 0 : 1;
}
