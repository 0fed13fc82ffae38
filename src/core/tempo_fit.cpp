#include "core/tempo_fit.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pulsaro {

void TempoFit::clear() {
    *this = TempoFit{};
}

void TempoFit::add(std::int64_t index, double seconds) {
    if (n_ == 0) {
        firstSeconds_ = seconds;
    }
    const double x = static_cast<double>(index);
    const double y = seconds - firstSeconds_;
    ++n_;
    sumX_ += x;
    sumXX_ += x * x;
    sumY_ += y;
    sumYY_ += y * y;
    sumXY_ += x * y;
}

namespace {

struct Line {
    double slope = 0;
    double sxx = 0;
    double residual = 0;  // sum of squared residuals
};

std::optional<Line> fit(std::int64_t n, double sx, double sxx, double sy, double syy, double sxy) {
    if (n < 2) {
        return std::nullopt;
    }
    const double count = static_cast<double>(n);
    const double cxx = sxx - sx * sx / count;
    const double cxy = sxy - sx * sy / count;
    const double cyy = syy - sy * sy / count;
    if (cxx <= 0) {
        return std::nullopt;
    }
    Line line;
    line.slope = cxy / cxx;
    line.sxx = cxx;
    line.residual = std::max(0.0, cyy - line.slope * cxy);
    if (line.slope <= 0) {
        return std::nullopt;
    }
    return line;
}

}  // namespace

std::optional<double> TempoFit::tempo() const {
    const auto line = fit(n_, sumX_, sumXX_, sumY_, sumYY_, sumXY_);
    if (!line) {
        return std::nullopt;
    }
    return 60.0 / line->slope;
}

std::optional<double> TempoFit::uncertainty95() const {
    if (n_ < 3) {
        return std::nullopt;
    }
    const auto line = fit(n_, sumX_, sumXX_, sumY_, sumYY_, sumXY_);
    if (!line) {
        return std::nullopt;
    }
    const double slopeError = std::sqrt(line->residual / static_cast<double>(n_ - 2) / line->sxx);
    // d(60 / slope) = 60 / slope^2 x d(slope)
    return studentT975(n_ - 2) * slopeError * 60.0 / (line->slope * line->slope);
}

double studentT975(std::int64_t degreesOfFreedom) {
    static constexpr std::array<double, 30> kTable = {
        12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
        2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
        2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    if (degreesOfFreedom < 1) {
        return kTable[0];
    }
    if (degreesOfFreedom <= 30) {
        return kTable[static_cast<std::size_t>(degreesOfFreedom - 1)];
    }
    // Beyond the table: the normal quantile with the first correction term.
    const double df = static_cast<double>(degreesOfFreedom);
    constexpr double z = 1.959964;
    return z + (z * z * z + z) / (4.0 * df);
}

}  // namespace pulsaro
