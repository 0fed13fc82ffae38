#include "analysis/beat_fit.h"

#include "core/tempo_fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace pulsaro::analysis {

namespace {

// Sums about the first point of a range, so that hours of seconds lose no
// precision in the squares.
struct Sums {
    double n = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;

    void add(double dx, double dy) {
        n += 1;
        x += dx;
        y += dy;
        xx += dx * dx;
        xy += dx * dy;
        yy += dy * dy;
    }
    double sxx() const { return xx - x * x / n; }
    double sxy() const { return xy - x * y / n; }
    double syy() const { return yy - y * y / n; }
    double sse() const {
        const double s = sxx();
        return s > 0 ? std::max(0.0, syy() - sxy() * sxy() / s) : 0.0;
    }
};

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Least squares through the used points of several parts that share one
// period but each have their own intercept.
BeatLine fitParts(const std::vector<std::int64_t>& indices, const std::vector<double>& times,
                  const std::vector<std::size_t>& bounds, const std::vector<bool>& used) {
    double sxx = 0, sxy = 0, syy = 0, n = 0;
    std::size_t parts = 0;
    std::vector<Sums> partSums;
    for (std::size_t p = 0; p + 1 < bounds.size(); ++p) {
        Sums s;
        const std::size_t b = bounds[p];
        for (std::size_t i = b; i < bounds[p + 1]; ++i) {
            if (used[i]) {
                s.add(static_cast<double>(indices[i] - indices[b]), times[i] - times[b]);
            }
        }
        partSums.push_back(s);
        if (s.n >= 2) {
            sxx += s.sxx();
            sxy += s.sxy();
            syy += s.syy();
            n += s.n;
            ++parts;
        }
    }
    BeatLine line;
    if (sxx <= 0) {
        return line;
    }
    line.period = sxy / sxx;
    line.count = static_cast<std::size_t>(n);
    line.dof = static_cast<std::int64_t>(n) - static_cast<std::int64_t>(parts) - 1;
    const double sse = std::max(0.0, syy - sxy * sxy / sxx);
    line.rms = std::sqrt(sse / std::max(1.0, n));
    line.periodSe = line.dof > 0 ? std::sqrt(sse / static_cast<double>(line.dof) / sxx) : 0;
    // The phase of the part with the most beats.
    std::size_t best = 0;
    for (std::size_t p = 0; p < partSums.size(); ++p) {
        if (partSums[p].n > partSums[best].n) {
            best = p;
        }
    }
    const Sums& s = partSums[best];
    const std::size_t b = bounds[best];
    line.intercept =
        times[b] + (s.y - line.period * s.x) / s.n - line.period * static_cast<double>(indices[b]);
    return line;
}

// Drops points far off the line and fits again, until nothing more drops.
BeatLine robustFit(const std::vector<std::int64_t>& indices, const std::vector<double>& times,
                   const std::vector<std::size_t>& bounds, std::vector<bool>& used) {
    BeatLine line = fitParts(indices, times, bounds, used);
    for (int round = 0; round < 4 && line.period > 0; ++round) {
        std::vector<double> residuals;
        std::vector<double> intercepts;
        // Each part's own intercept under the shared period.
        for (std::size_t p = 0; p + 1 < bounds.size(); ++p) {
            std::vector<double> r;
            for (std::size_t i = bounds[p]; i < bounds[p + 1]; ++i) {
                if (used[i]) {
                    r.push_back(times[i] - line.period * static_cast<double>(indices[i]));
                }
            }
            intercepts.push_back(median(r));
        }
        std::vector<double> all(times.size(), 0.0);
        for (std::size_t p = 0; p + 1 < bounds.size(); ++p) {
            for (std::size_t i = bounds[p]; i < bounds[p + 1]; ++i) {
                all[i] = times[i] - line.period * static_cast<double>(indices[i]) - intercepts[p];
                if (used[i]) {
                    residuals.push_back(std::abs(all[i]));
                }
            }
        }
        // Beyond four robust deviations, and never tighter than tracker jitter.
        const double limit = std::max(0.025, 4.0 * 1.4826 * median(residuals));
        bool dropped = false;
        for (std::size_t i = bounds.front(); i < bounds.back(); ++i) {
            if (used[i] && std::abs(all[i]) > limit) {
                used[i] = false;
                dropped = true;
            }
        }
        if (!dropped) {
            break;
        }
        line = fitParts(indices, times, bounds, used);
    }
    return line;
}

// Splits [begin, end) recursively where two lines fit much better than one.
void split(const std::vector<std::int64_t>& indices, const std::vector<double>& times,
           std::size_t begin, std::size_t end, const SegmentationLimits& limits,
           std::vector<std::size_t>& starts) {
    const std::size_t n = end - begin;
    Sums total;
    for (std::size_t i = begin; i < end; ++i) {
        total.add(static_cast<double>(indices[i] - indices[begin]), times[i] - times[begin]);
    }
    const double rms = std::sqrt(total.sse() / total.n);
    if (rms <= limits.rmsSeconds || n < 2 * limits.minBeats) {
        starts.push_back(begin);
        return;
    }
    double bestCost = total.sse();
    std::size_t bestK = 0;
    {
        // Freed before recursing: junk may be split many levels deep.
        // Prefix sums from the left, suffix sums from the right.
        std::vector<Sums> left(n + 1), right(n + 1);
        for (std::size_t k = 0; k < n; ++k) {
            left[k + 1] = left[k];
            left[k + 1].add(static_cast<double>(indices[begin + k] - indices[begin]),
                            times[begin + k] - times[begin]);
        }
        for (std::size_t k = n; k-- > 0;) {
            right[k] = right[k + 1];
            right[k].add(static_cast<double>(indices[begin + k] - indices[begin]),
                         times[begin + k] - times[begin]);
        }
        for (std::size_t k = limits.minBeats; k + limits.minBeats <= n; ++k) {
            const double cost = left[k].sse() + right[k].sse();
            if (cost < bestCost) {
                bestCost = cost;
                bestK = k;
            }
        }
    }
    // A lone outlier lowers the cost a little; a real break halves it at least.
    // Where the tempo breaks many times no one break halves it, but a stretch
    // that scatters like junk is no single line, so it is split at its best.
    if (bestK == 0 || (bestCost > 0.5 * total.sse() && rms <= limits.junkRmsSeconds)) {
        starts.push_back(begin);
        return;
    }
    split(indices, times, begin, begin + bestK, limits, starts);
    split(indices, times, begin + bestK, end, limits, starts);
}

}  // namespace

double BeatLine::bpmUncertainty95() const {
    if (period <= 0 || dof < 1) {
        return 0;
    }
    return studentT975(dof) * periodSe * 60.0 / (period * period);
}

std::vector<std::int64_t> beatIndices(const std::vector<double>& times) {
    std::vector<std::int64_t> indices(times.size(), 0);
    if (times.size() < 2) {
        return indices;
    }
    std::vector<double> gaps(times.size() - 1);
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        gaps[i] = times[i + 1] - times[i];
    }
    // The typical gap over the 16 gaps around each one follows a changing tempo.
    constexpr std::size_t kHalf = 8;
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        const std::size_t lo = i > kHalf ? i - kHalf : 0;
        const std::size_t hi = std::min(gaps.size(), i + kHalf + 1);
        const double typical =
            median(std::vector<double>(gaps.begin() + static_cast<std::ptrdiff_t>(lo),
                                       gaps.begin() + static_cast<std::ptrdiff_t>(hi)));
        const auto step = typical > 0 ? std::llround(gaps[i] / typical) : 1;
        indices[i + 1] = indices[i] + std::max<std::int64_t>(1, step);
    }
    return indices;
}

BeatLine fitLine(const std::vector<std::int64_t>& indices, const std::vector<double>& times,
                 std::size_t begin, std::size_t end) {
    const std::vector<bool> used(times.size(), true);
    return fitParts(indices, times, {begin, end}, used);
}

BeatSegmentation segmentBeats(const std::vector<std::int64_t>& indices,
                              const std::vector<double>& times, const SegmentationLimits& limits) {
    BeatSegmentation result;
    result.used.assign(times.size(), true);
    if (times.size() < 3) {
        return result;
    }
    std::vector<std::size_t> starts;
    split(indices, times, 0, times.size(), limits, starts);
    starts.push_back(times.size());

    // A part the tracker wandered through fits no line of its own; its beats
    // are left out, and the parts on either side may still join across it.
    std::vector<BeatRun> runs;
    for (std::size_t p = 0; p + 1 < starts.size(); ++p) {
        BeatRun part;
        part.partStarts = {starts[p]};
        part.begin = starts[p];
        part.end = starts[p + 1];
        std::vector<bool> used = result.used;
        part.line = robustFit(indices, times, {part.begin, part.end}, used);
        if (part.line.period <= 0 || part.line.rms > limits.junkRmsSeconds ||
            part.line.count < limits.minBeats) {
            for (std::size_t i = part.begin; i < part.end; ++i) {
                result.used[i] = false;
            }
            continue;
        }
        runs.push_back(std::move(part));
    }
    const auto refit = [&](BeatRun& run) {
        std::vector<std::size_t> bounds = run.partStarts;
        bounds.push_back(run.end);
        run.line = robustFit(indices, times, bounds, result.used);
    };
    // Neighbours of one tempo join into a run fitted with one period; a run
    // too short to be a section of its own is left out, which may let its
    // neighbours join in turn.
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
            BeatRun& a = runs[r];
            BeatRun& b = runs[r + 1];
            const double spread = std::hypot(a.line.bpmUncertainty95(), b.line.bpmUncertainty95());
            const double diff = std::abs(a.line.bpm() - b.line.bpm());
            if (diff <= std::max(limits.sameTempoRatio * a.line.bpm(), spread)) {
                a.partStarts.insert(a.partStarts.end(), b.partStarts.begin(), b.partStarts.end());
                a.end = b.end;
                refit(a);
                runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(r + 1));
                changed = true;
                break;
            }
        }
        if (changed || runs.size() < 2) {
            continue;
        }
        auto shortest = std::min_element(
            runs.begin(), runs.end(),
            [](const auto& a, const auto& b) { return a.line.count < b.line.count; });
        if (shortest->line.count < limits.minSectionBeats) {
            for (std::size_t i = shortest->begin; i < shortest->end; ++i) {
                result.used[i] = false;
            }
            runs.erase(shortest);
            changed = true;
        }
    }
    result.runs = std::move(runs);
    return result;
}

}  // namespace pulsaro::analysis
