// Runs the tempo analyser over WAV files and writes a CSV for the corpus
// scorer (file,bpm,beats_file,cpu_s,wall_s), one beat file per track.
//
//   tempo_corpus_runner OUT.csv BEATS_DIR RATE FILE.wav...
//   tempo_corpus_runner --hours H RATE   (feeds H hours of a drum loop; for memory)

#include "analysis/tempo_analyser.h"
#include "core/wav.h"

#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double wallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// The decoding step: a file as mono samples at `rate`. The only part that
// changes when the program's decoder takes over. Whole-number rate ratios
// (44.1 kHz to 22050 or 11025) go through a fixed low-pass kernel; the core's
// general resampler, which works out every tap anew, is far slower.
std::vector<float> readMono(const std::string& path, std::uint32_t rate) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    const pulsaro::PcmSound sound = pulsaro::decodeWav(bytes);
    if (sound.sampleRate % rate != 0) {
        return pulsaro::convertSound(sound, rate, 1).samples;
    }
    const std::size_t factor = sound.sampleRate / rate;
    std::vector<float> mono(sound.frames());
    for (std::size_t f = 0; f < mono.size(); ++f) {
        float sum = 0;
        for (std::size_t c = 0; c < sound.channels; ++c) {
            sum += sound.samples[f * sound.channels + c];
        }
        mono[f] = sum / static_cast<float>(sound.channels);
    }
    if (factor == 1) {
        return mono;
    }
    // Blackman-windowed sinc over 8 zero crossings each side, cutoff at the
    // new Nyquist frequency.
    const std::size_t half = 8 * factor;
    std::vector<float> kernel(2 * half + 1);
    double total = 0;
    for (std::size_t i = 0; i < kernel.size(); ++i) {
        const double t =
            (static_cast<double>(i) - static_cast<double>(half)) / static_cast<double>(factor);
        const double w =
            0.42 + 0.5 * std::cos(M_PI * t / 8.0) + 0.08 * std::cos(2 * M_PI * t / 8.0);
        const double sinc = t == 0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
        kernel[i] = static_cast<float>(w * sinc);
        total += w * sinc;
    }
    for (float& k : kernel) {
        k = static_cast<float>(k / total);
    }
    std::vector<float> out(mono.size() / factor);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::size_t centre = j * factor;
        float sum = 0;
        for (std::size_t i = 0; i < kernel.size(); ++i) {
            const std::size_t at = centre + i;
            if (at >= half && at - half < mono.size()) {
                sum += kernel[i] * mono[at - half];
            }
        }
        out[j] = sum;
    }
    return out;
}

const char* outcomeName(pulsaro::analysis::Outcome o) {
    switch (o) {
        case pulsaro::analysis::Outcome::Constant:
            return "constant";
        case pulsaro::analysis::Outcome::TempoChanges:
            return "changes";
        case pulsaro::analysis::Outcome::NoBeat:
            return "nobeat";
    }
    return "?";
}

// Kick on 1 and 3, snare on 2 and 4, hats on eighths, at 128 BPM.
int feedHours(double hours, double rate) {
    pulsaro::analysis::AnalysisOptions options;
    options.sampleRate = rate;
    pulsaro::analysis::TempoAnalyser analyser(options);
    const auto beat = static_cast<std::size_t>(std::lround(rate * 60.0 / 128.0));
    std::vector<float> bar(4 * beat, 0.0f);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < beat / 4; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (std::size_t b = 0; b < 8; ++b) {
            noise = noise * 1664525u + 1013904223u;
            const double white = static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
            double v = 0.1 * white * std::exp(-t * 60);
            if (b % 4 == 0) {
                v += 0.8 * std::sin(2 * M_PI * 55 * t) * std::exp(-t * 20);
            } else if (b % 4 == 2) {
                v += 0.5 * white * std::exp(-t * 25);
            }
            bar[b * beat / 2 + i] += static_cast<float>(v);
        }
    }
    const auto bars = static_cast<std::size_t>(hours * 3600.0 * 128.0 / 4.0 / 60.0);
    for (std::size_t b = 0; b < bars; ++b) {
        analyser.feed(bar);
    }
    const double cpu0 = threadSeconds();
    const auto e = analyser.finish();
    std::printf("fed %.0f s: %s %.3f BPM +- %.3f, %zu beats, finish %.2f CPU s\n",
                analyser.secondsFed(), outcomeName(e.outcome), e.bpm, e.uncertainty, e.beats.size(),
                threadSeconds() - cpu0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--hours") {
        return feedHours(std::atof(argv[2]), std::atof(argv[3]));
    }
    if (argc < 5) {
        std::cerr << "usage: tempo_corpus_runner OUT.csv BEATS_DIR RATE FILE.wav...\n"
                     "       tempo_corpus_runner --hours H RATE\n";
        return 2;
    }
    const std::filesystem::path beatsDir = argv[2];
    std::filesystem::create_directories(beatsDir);
    const auto rate = static_cast<std::uint32_t>(std::atoi(argv[3]));
    std::ofstream csv(argv[1]);
    csv << "file,bpm,beats_file,cpu_s,wall_s,outcome,uncertainty,other_octave\n";
    for (int i = 4; i < argc; ++i) {
        const std::filesystem::path wav = argv[i];
        const double cpu0 = threadSeconds(), wall0 = wallSeconds();
        const std::vector<float> mono = readMono(wav.string(), rate);
        pulsaro::analysis::AnalysisOptions options;
        options.sampleRate = rate;
        pulsaro::analysis::TempoAnalyser analyser(options);
        // Blocks as a decoder hands them out.
        constexpr std::size_t kBlock = 4096;
        for (std::size_t at = 0; at < mono.size(); at += kBlock) {
            analyser.feed(std::span(mono).subspan(at, std::min(kBlock, mono.size() - at)));
        }
        const auto e = analyser.finish();
        const double cpu = threadSeconds() - cpu0, wall = wallSeconds() - wall0;
        const auto beatsFile = beatsDir / (wav.stem().string() + ".beats");
        std::ofstream beats(beatsFile);
        for (double t : e.beats) {
            beats << t << "\n";
        }
        csv << wav.filename().string() << ","
            << (e.outcome == pulsaro::analysis::Outcome::NoBeat ? std::nan("") : e.bpm) << ","
            << std::filesystem::absolute(beatsFile).string() << "," << cpu << "," << wall << ","
            << outcomeName(e.outcome) << "," << e.uncertainty << "," << e.otherOctaveBpm << "\n";
    }
    return 0;
}
