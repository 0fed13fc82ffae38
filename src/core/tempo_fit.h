#pragma once

#include <cstdint>
#include <optional>

namespace pulsaro {

// A straight line through the press times of a run: beat index against
// seconds. Its slope is the beat period; the spread of the presses about the
// line says how exact the tempo read from them is. Keeps sums only, so a run
// of any length costs the same.
class TempoFit {
public:
    void clear();
    // The press of beat `index` (counted from the run's first press) at
    // `seconds` on any clock.
    void add(std::int64_t index, double seconds);
    std::int64_t presses() const { return n_; }
    // The tempo of the line (BPM); nothing before two presses.
    std::optional<double> tempo() const;
    // Half the width of the tempo's 95 % confidence interval (BPM), from the
    // slope's standard error and Student's t; nothing before three presses.
    std::optional<double> uncertainty95() const;

private:
    std::int64_t n_ = 0;
    // Sums about the first press, so large clock values cost no precision.
    double firstSeconds_ = 0;
    double sumX_ = 0, sumXX_ = 0, sumY_ = 0, sumYY_ = 0, sumXY_ = 0;
};

// Student's t at 97.5 % for the given degrees of freedom (>= 1).
double studentT975(std::int64_t degreesOfFreedom);

}  // namespace pulsaro
