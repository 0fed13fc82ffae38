#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/audio_decoder.h"

namespace pulsaro::media::test {

// A private folder under $TMPDIR (never the user's home), removed afterwards.
class TempDir {
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / "pulsaro-media-XXXXXX") {
        if (::mkdtemp(path_.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }
    std::filesystem::path path() const { return path_; }

private:
    std::string path_;
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

// Where the burst nearest `second` is: the energy centroid within 2 ms of the
// loudest sample within 100 ms; -1 when nothing there is loud.
inline double clickAt(const std::vector<float>& samples, int rate, double second) {
    const auto at = [&](long i) { return samples[static_cast<std::size_t>(i)]; };
    const long size = static_cast<long>(samples.size());
    const long centre = std::lround(second * rate);
    if (centre >= size) {
        return -1.0;
    }
    long loudest = centre;
    for (long i = centre - rate / 10, end = std::min(size, centre + rate / 10); i < end; ++i) {
        loudest = std::abs(at(i)) > std::abs(at(loudest)) ? i : loudest;
    }
    if (std::abs(at(loudest)) < 0.3F) {
        return -1.0;
    }
    double energy = 0.0, moment = 0.0;
    for (long i = loudest - rate / 500; i <= std::min(size - 1, loudest + rate / 500); ++i) {
        energy += double{at(i)} * at(i);
        moment += double{at(i)} * at(i) * static_cast<double>(i);
    }
    return moment / energy / rate;
}

}  // namespace pulsaro::media::test
