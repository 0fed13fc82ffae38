// Runs the tempo analyser over audio files, decoded as the program decodes
// them, and writes a CSV for the corpus scorer (file,bpm,beats_file,cpu_s,
// wall_s), one beat file per track. cpu_s includes the decoding.
//
//   tempo_corpus_runner OUT.csv BEATS_DIR RATE FILE...
//   tempo_corpus_runner --hours H RATE   (feeds H hours of a drum loop; for memory)
//   tempo_corpus_runner --live OUT.csv RATE FILE[=TAPPED_BPM]...
//       feeds each file in blocks of 50 ms as listening does and writes every
//       live estimate (file,t,bpm,uncertainty,state,cpu_s); a tempo after '='
//       is given as the taps' prior from the first second on.

#include "analysis/live_tempo.h"
#include "analysis/tempo_analyser.h"
#include "media/audio_decoder.h"

#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <span>
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

const char* stateName(pulsaro::analysis::LockState s) {
    switch (s) {
        case pulsaro::analysis::LockState::Listening:
            return "listening";
        case pulsaro::analysis::LockState::Locked:
            return "locked";
        case pulsaro::analysis::LockState::NoBeat:
            return "no beat";
    }
    return "?";
}

int runLive(int argc, char** argv) {
    std::ofstream csv(argv[2]);
    const double rate = std::atof(argv[3]);
    csv << "file,t,bpm,uncertainty,state,cpu_s\n";
    for (int i = 4; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<double> prior;
        if (const auto eq = arg.rfind('='); eq != std::string::npos) {
            prior = std::atof(arg.c_str() + eq + 1);
            arg.resize(eq);
        }
        const std::filesystem::path file = arg;
        pulsaro::media::AudioDecoder decoder(file, static_cast<int>(rate));
        pulsaro::analysis::LiveTempo live({rate});
        std::vector<float> block(static_cast<std::size_t>(rate / 20));
        double fed = 0;
        const double cpu0 = threadSeconds();
        while (const std::size_t n = decoder.read(block)) {
            live.feed(std::span(block).first(n));
            fed += static_cast<double>(n) / rate;
            if (prior && fed >= 1.0) {
                live.setTempoPrior(prior);
            }
            if (const auto h = live.update()) {
                csv << file.filename().string() << "," << h->fedSeconds << "," << h->bpm << ","
                    << h->uncertainty << "," << stateName(h->state) << "," << threadSeconds() - cpu0
                    << "\n";
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--hours") {
        return feedHours(std::atof(argv[2]), std::atof(argv[3]));
    }
    if (argc >= 5 && std::string(argv[1]) == "--live") {
        return runLive(argc, argv);
    }
    if (argc < 5) {
        std::cerr << "usage: tempo_corpus_runner OUT.csv BEATS_DIR RATE FILE...\n"
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
        pulsaro::media::AudioDecoder decoder(wav, static_cast<int>(rate));
        pulsaro::analysis::AnalysisOptions options;
        options.sampleRate = rate;
        if (decoder.durationSeconds() > 0) {
            options.expectedSeconds = decoder.durationSeconds();
        }
        pulsaro::analysis::TempoAnalyser analyser(options);
        std::vector<float> block(4096);
        while (const std::size_t n = decoder.read(block)) {
            analyser.feed(std::span(block).first(n));
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
