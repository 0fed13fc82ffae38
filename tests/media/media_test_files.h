#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <vector>

#include "media/audio_decoder.h"

namespace pulsaro::media::test {

// A private folder under $TMPDIR (never the user's home), removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "pulsaro-media-XXXXXX");
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline bool haveFfmpeg() {
    static const bool found = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
    return found;
}

// Runs the ffmpeg tool quietly; false if it failed.
inline bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
}

// Ten seconds of stereo at 44.1 kHz: faint noise and a 2 kHz burst (a
// Gaussian of 0.3 ms) centred exactly on every whole second.
inline const char* kClickSource =
    "-f lavfi -i \"aevalsrc='0.04*(random(0)-0.5)+0.9*sin(2*PI*2000*t)*"
    "exp(-((t-floor(t+0.5))^2)/(2*0.0003^2))':c=stereo:s=44100:d=10\"";

// Where the burst nearest `second` is: the energy centroid around the loudest
// sample within 100 ms; -1 when there is no burst there.
inline double clickAt(const std::vector<float>& samples, int rate, double second) {
    const long centre = std::lround(second * rate);
    const long reach = rate / 10;
    long loudest = -1;
    for (long i = std::max(0L, centre - reach);
         i < std::min<long>(static_cast<long>(samples.size()), centre + reach); ++i) {
        if (std::abs(samples[i]) > 0.3F &&
            (loudest < 0 || std::abs(samples[i]) > std::abs(samples[loudest]))) {
            loudest = i;
        }
    }
    if (loudest < 0) {
        return -1.0;
    }
    double energy = 0.0;
    double moment = 0.0;
    for (long i = std::max(0L, loudest - rate / 500);
         i <= loudest + rate / 500 && i < static_cast<long>(samples.size()); ++i) {
        energy += double{samples[i]} * samples[i];
        moment += double{samples[i]} * samples[i] * static_cast<double>(i);
    }
    return moment / energy / rate;
}

}  // namespace pulsaro::media::test
