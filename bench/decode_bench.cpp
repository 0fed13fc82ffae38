// Decodes files the way the analysis does (blocks of 4096 samples) and says
// how much audio came out; bench/decode_bench.sh times it. With "walk" it
// lists folders instead and says how many files it found.
//
//     decode_bench RATE FILE...     e.g. decode_bench 22050 mix.mp3
//     decode_bench walk FOLDER...
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "media/audio_decoder.h"
#include "media/audio_files.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RATE FILE... | walk FOLDER...\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "walk") {
        const std::vector<std::filesystem::path> inputs(argv + 2, argv + argc);
        const auto entries = pulsaro::media::collectAudioFiles(inputs);
        std::printf("%zu entries\n", entries.size());
        return 0;
    }
    const int rate = std::atoi(argv[1]);
    std::vector<float> block(4096);
    try {
        for (int i = 2; i < argc; ++i) {
            pulsaro::media::AudioDecoder decoder(argv[i], rate);
            double sum = 0.0;  // used, so the decode cannot be optimised away
            while (const std::size_t n = decoder.read(block)) {
                for (std::size_t k = 0; k < n; ++k) {
                    sum += static_cast<double>(block[k] * block[k]);
                }
            }
            std::printf("%s: %.3f s decoded (container says %.3f s), %d skipped, energy %.1f\n",
                        argv[i], decoder.secondsDecoded(), decoder.durationSeconds(),
                        decoder.skippedPackets(), sum);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
