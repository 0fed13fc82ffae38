#include "core/wav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>

namespace pulsaro {

namespace {

std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

bool tagIs(std::span<const std::uint8_t> b, std::size_t at, const char (&tag)[5]) {
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

struct Parsed {
    WavInfo info;
    std::size_t dataOffset = 0;
};

Parsed parse(std::span<const std::uint8_t> file) {
    if (file.size() < 12 || !tagIs(file, 0, "RIFF") || !tagIs(file, 8, "WAVE")) {
        throw WavError("Not a RIFF/WAVE file");
    }
    // Compared in 64 bits so a RIFF size near 4 GiB cannot wrap.
    const std::uint64_t riffEnd = std::uint64_t{8} + u32(file, 4);
    if (riffEnd > file.size()) {
        throw WavError("The WAVE file is truncated");
    }
    const std::size_t end = static_cast<std::size_t>(riffEnd);

    Parsed p;
    p.info.fileBytes = file.size();
    bool haveFmt = false;
    bool haveData = false;
    std::size_t at = 12;
    while (at < end) {
        if (end - at < 8) {
            throw WavError("The WAVE file is truncated");
        }
        const std::size_t body = at + 8;
        const std::uint32_t size = u32(file, at + 4);
        if (size > end - body) {
            throw WavError("The WAVE file is truncated");
        }
        if (tagIs(file, at, "fmt ")) {
            if (haveFmt) {
                throw WavError("The WAVE file has two format chunks");
            }
            if (size != 16 && size != 18) {
                throw WavError("Unsupported WAVE format chunk");
            }
            haveFmt = true;
            p.info.formatTag = u16(file, body);
            p.info.channels = u16(file, body + 2);
            p.info.sampleRate = u32(file, body + 4);
            p.info.bitsPerSample = u16(file, body + 14);
            p.info.formatChunkSize = size;
        } else if (tagIs(file, at, "data")) {
            if (haveData) {
                throw WavError("The WAVE file has two data chunks");
            }
            haveData = true;
            p.info.dataBytes = size;
            p.dataOffset = body;
        } else if (tagIs(file, at, "fact")) {
            if (size < 4) {
                throw WavError("Damaged WAVE fact chunk");
            }
            p.info.factFrames = u32(file, body);
        } else if (tagIs(file, at, "LIST")) {
            if (size >= 4 && tagIs(file, body, "INFO")) {
                p.info.hasInfoList = true;
            }
        }
        // Odd chunks carry a pad byte; many writers leave it off the last
        // one, so a missing final pad is accepted.
        at = body + size + (size & 1u);
    }

    if (!haveFmt) {
        throw WavError("The WAVE file has no format chunk");
    }
    if (!haveData) {
        throw WavError("The WAVE file has no data chunk");
    }
    if (p.info.formatTag != 1) {
        throw WavError("The WAVE file is not PCM");
    }
    if (p.info.bitsPerSample != 8 && p.info.bitsPerSample != 16) {
        throw WavError("Only 8-bit and 16-bit WAVE files are supported");
    }
    if (p.info.channels != 1 && p.info.channels != 2) {
        throw WavError("Only mono and stereo WAVE files are supported");
    }
    if (p.info.sampleRate == 0) {
        throw WavError("The WAVE file has a sample rate of zero");
    }
    return p;
}

// Windowed-sinc interpolation: zero crossings on each side of the kernel.
// Eight keep the passband flat enough for a click while staying cheap.
constexpr int kZeroCrossings = 8;

double blackman(double u) {
    return 0.42 + 0.5 * std::cos(std::numbers::pi * u) + 0.08 * std::cos(2 * std::numbers::pi * u);
}

// One channel from oldRate to outFrames frames at newRate. The cutoff follows
// the lower of the two Nyquist frequencies so that going down in rate does not
// alias. Samples outside the sound count as silence, and each output sample
// is divided by the whole kernel's weight so that the gain stays 1.
std::vector<float> resample(const std::vector<float>& in, std::uint32_t oldRate,
                            std::uint32_t newRate, std::size_t outFrames) {
    if (oldRate == newRate) {
        std::vector<float> out = in;
        out.resize(outFrames, 0.0f);
        return out;
    }
    const double step = static_cast<double>(oldRate) / newRate;
    const double cutoff = std::min(1.0, 1.0 / step);
    const double halfWidth = kZeroCrossings / cutoff;
    const auto n = static_cast<std::int64_t>(in.size());
    std::vector<float> out(outFrames);
    for (std::size_t j = 0; j < outFrames; ++j) {
        const double x = static_cast<double>(j) * step;
        const auto first = static_cast<std::int64_t>(std::ceil(x - halfWidth));
        const auto last = static_cast<std::int64_t>(std::floor(x + halfWidth));
        double sum = 0;
        double weights = 0;
        for (std::int64_t i = first; i <= last; ++i) {
            const double t = x - static_cast<double>(i);
            const double a = std::numbers::pi * cutoff * t;
            const double sinc = a == 0 ? 1.0 : std::sin(a) / a;
            const double w = sinc * blackman(t / halfWidth);
            weights += w;
            if (i >= 0 && i < n) {
                sum += w * in[static_cast<std::size_t>(i)];
            }
        }
        out[j] = static_cast<float>(sum / weights);
    }
    return out;
}

}  // namespace

WavInfo readWavInfo(std::span<const std::uint8_t> file) {
    return parse(file).info;
}

PcmSound decodeWav(std::span<const std::uint8_t> file) {
    const Parsed p = parse(file);
    PcmSound sound;
    sound.sampleRate = p.info.sampleRate;
    sound.channels = p.info.channels;
    const std::size_t bytesPerSample = p.info.bitsPerSample / 8u;
    // A trailing partial frame is dropped rather than half played.
    const std::size_t frameBytes = bytesPerSample * p.info.channels;
    const std::size_t count = p.info.dataBytes / frameBytes * p.info.channels;
    sound.samples.resize(count);
    const std::uint8_t* data = file.data() + p.dataOffset;
    for (std::size_t i = 0; i < count; ++i) {
        if (bytesPerSample == 1) {
            sound.samples[i] = static_cast<float>(data[i] - 128) / 128.0f;
        } else {
            const auto v = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            sound.samples[i] = static_cast<float>(v) / 32768.0f;
        }
    }
    return sound;
}

PcmSound convertSound(const PcmSound& sound, std::uint32_t sampleRate, std::uint16_t channels) {
    if (sampleRate == 0 || channels == 0) {
        throw std::invalid_argument("convertSound: no target rate or channels");
    }
    PcmSound out;
    out.sampleRate = sampleRate;
    out.channels = channels;
    if (sound.samples.empty()) {
        return out;
    }
    if (sound.sampleRate == 0 || (sound.channels != 1 && sound.channels != 2)) {
        throw std::invalid_argument("convertSound: the sound is neither mono nor stereo");
    }

    // The distinct signals the output needs, at the old rate: the mono one;
    // the stereo mean for mono output; left, right (and the mean for any
    // further channel) for wider output. Output channel c takes plane
    // min(c, planes - 1).
    const std::size_t frames = sound.frames();
    std::vector<std::vector<float>> planes;
    auto mean = [&] {
        std::vector<float> m(frames);
        for (std::size_t f = 0; f < frames; ++f) {
            m[f] = 0.5f * (sound.samples[2 * f] + sound.samples[2 * f + 1]);
        }
        return m;
    };
    if (sound.channels == 1) {
        planes.push_back(sound.samples);
    } else if (channels == 1) {
        planes.push_back(mean());
    } else {
        for (std::size_t c = 0; c < 2; ++c) {
            std::vector<float> side(frames);
            for (std::size_t f = 0; f < frames; ++f) {
                side[f] = sound.samples[2 * f + c];
            }
            planes.push_back(std::move(side));
        }
        if (channels > 2) {
            planes.push_back(mean());
        }
    }

    // round(frames * newRate / oldRate), halves up, in integers.
    const std::uint64_t outFrames64 =
        (std::uint64_t{frames} * sampleRate * 2 + sound.sampleRate) / (2ull * sound.sampleRate);
    const auto outFrames = static_cast<std::size_t>(outFrames64);
    for (auto& plane : planes) {
        plane = resample(plane, sound.sampleRate, sampleRate, outFrames);
    }

    out.samples.resize(outFrames * channels);
    for (std::size_t c = 0; c < channels; ++c) {
        const auto& plane = planes[std::min(c, planes.size() - 1)];
        for (std::size_t f = 0; f < outFrames; ++f) {
            out.samples[f * channels + c] = plane[f];
        }
    }
    return out;
}

std::size_t attackFrame(const PcmSound& sound) {
    if (sound.channels == 0) {
        return 0;
    }
    float peak = 0;
    for (float v : sound.samples) {
        peak = std::max(peak, std::fabs(v));
    }
    const float threshold = kAttackFraction * peak;
    const auto first = std::find_if(sound.samples.begin(), sound.samples.end(),
                                    [&](float v) { return std::fabs(v) >= threshold; });
    return static_cast<std::size_t>(first - sound.samples.begin()) / sound.channels;
}

}  // namespace pulsaro
