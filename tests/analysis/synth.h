#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace pulsaro::analysis::testing {

constexpr double kRate = 11025;

// Pseudo-random numbers from a fixed seed, so every run hears the same audio.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed) {}
    double next() {  // -1..1
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
    }

private:
    std::uint32_t state_;
};

enum class Kit { Clicks, Drums, Waltz };

// One tempo's stretch of a beat: from `from` to `to` seconds, beats at
// firstBeat + k * 60 / bpm, each moved by up to jitterMs at random. Drums is
// kick on beats 1 and 3, snare on 2 and 4, a hat on every eighth; Waltz is
// the kick on 1 of 3, snares on 2 and 3, the same hats.
inline void addBeats(std::vector<float>& out, Kit kit, double bpm, double firstBeat, double from,
                     double to, double jitterMs, Noise& noise) {
    const double period = 60.0 / bpm;
    const auto hit = [&](double at, int voice) {
        const auto start = static_cast<std::int64_t>(std::lround(at * kRate));
        for (std::int64_t i = 0; i < static_cast<std::int64_t>(0.15 * kRate); ++i) {
            const std::int64_t n = start + i;
            if (n < 0 || n >= static_cast<std::int64_t>(out.size())) {
                continue;
            }
            const double t = static_cast<double>(i) / kRate;
            double v = 0;
            switch (voice) {
                case 0:  // click
                    v = 0.8 * std::sin(2 * std::numbers::pi * 1000 * t) * std::exp(-t * 300);
                    break;
                case 1:  // kick: a falling sine
                    v = 0.9 *
                        std::sin(2 * std::numbers::pi * (50 * t + 60 * (1 - std::exp(-t * 30)))) *
                        std::exp(-t * 18);
                    break;
                case 2:  // snare
                    v = 0.5 * noise.next() * std::exp(-t * 25) +
                        0.2 * std::sin(2 * std::numbers::pi * 190 * t) * std::exp(-t * 30);
                    break;
                default:  // hat
                    v = 0.12 * noise.next() * std::exp(-t * 90);
            }
            out[static_cast<std::size_t>(n)] += static_cast<float>(v);
        }
    };
    const double k0 = std::ceil((from - firstBeat) / period);
    for (double k = k0; firstBeat + k * period < to; k += 1) {
        const double at = firstBeat + k * period + jitterMs * 1e-3 * noise.next();
        const auto beat = static_cast<std::int64_t>(k);
        if (kit == Kit::Clicks) {
            hit(at, 0);
            continue;
        }
        const std::int64_t meter = kit == Kit::Waltz ? 3 : 2;
        hit(at, (beat % meter + meter) % meter == 0 ? 1 : 2);
        hit(at, 3);
        hit(at + period / 2, 3);
    }
}

}  // namespace pulsaro::analysis::testing
