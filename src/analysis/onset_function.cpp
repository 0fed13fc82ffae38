#include "analysis/onset_function.h"

#include <qm-dsp/dsp/onsets/DetectionFunction.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pulsaro::analysis {

namespace {

// qm-dsp's tracker counts beat periods in hops of 512 samples at 44.1 kHz.
constexpr double kTrackerHopSeconds = 512.0 / 44100.0;

}  // namespace

OnsetFunction::OnsetFunction(double sampleRate) : sampleRate_(sampleRate) {
    if (!(sampleRate >= 8000.0) || !(sampleRate <= 384000.0)) {
        throw std::invalid_argument("OnsetFunction: unsupported sample rate");
    }
    hop_ = static_cast<std::size_t>(std::lround(sampleRate * kTrackerHopSeconds));
    frameLength_ = 2 * hop_;
    DFConfig config{};
    config.stepSize = static_cast<unsigned>(hop_);
    config.frameLength = static_cast<unsigned>(frameLength_);
    config.DFType = DF_COMPLEXSD;
    config.dbRise = 3;
    config.adaptiveWhitening = true;
    config.whiteningRelaxCoeff = -1;
    config.whiteningFloor = -1;
    df_ = std::make_unique<DetectionFunction>(config);
    frame_.assign(frameLength_, 0.0);
    lastLog_.assign(frameLength_ / 2 + 1, 0.0);
    const double binHz = sampleRate / static_cast<double>(frameLength_);
    lowBins_ = std::max<std::size_t>(2, static_cast<std::size_t>(std::ceil(200.0 / binHz)));
    highBin_ = std::min(frameLength_ / 2, static_cast<std::size_t>(2000.0 / binHz));
}

OnsetFunction::~OnsetFunction() = default;

double OnsetFunction::frameSeconds(double frame) const {
    // A frame's onset value rises when the onset enters its second half.
    const double absolute = frame + static_cast<double>(dropped_);
    return (absolute * static_cast<double>(hop_) + static_cast<double>(hop_)) / sampleRate_;
}

void OnsetFunction::keepLast(std::size_t frames) {
    if (broadband_.size() <= frames) {
        return;
    }
    const std::size_t drop = broadband_.size() - frames;
    for (std::vector<float>* v : {&broadband_, &low_, &high_}) {
        v->erase(v->begin(), v->begin() + static_cast<std::ptrdiff_t>(drop));
    }
    dropped_ += drop;
}

double OnsetFunction::meanSquare() const {
    return fed_ == 0 ? 0.0 : sumSquares_ / static_cast<double>(fed_);
}

void OnsetFunction::feed(std::span<const float> samples) {
    std::size_t i = 0;
    while (i < samples.size()) {
        const std::size_t n = std::min(frameLength_ - filled_, samples.size() - i);
        for (std::size_t k = 0; k < n; ++k) {
            const double v = samples[i + k];
            sumSquares_ += v * v;
            frame_[filled_ + k] = v;
        }
        filled_ += n;
        i += n;
        fed_ += n;
        if (filled_ == frameLength_) {
            processFrame();
            // The frames overlap by half: keep the second half as the next first.
            std::copy(frame_.begin() + static_cast<std::ptrdiff_t>(hop_), frame_.end(),
                      frame_.begin());
            filled_ = frameLength_ - hop_;
        }
    }
}

void OnsetFunction::processFrame() {
    broadband_.push_back(static_cast<float>(df_->processTimeDomain(frame_.data())));
    const double* mag = df_->getSpectrumMagnitude();
    double lowFlux = 0, highFlux = 0;
    const std::size_t bins = frameLength_ / 2 + 1;
    for (std::size_t b = 1; b < bins; ++b) {
        // Log compression so quiet hats count next to loud kicks.
        const double l = std::log1p(1000.0 * mag[b]);
        const double rise = l - lastLog_[b];
        lastLog_[b] = l;
        if (rise <= 0) {
            continue;
        }
        if (b < lowBins_) {
            lowFlux += rise;
        } else if (b >= highBin_) {
            highFlux += rise;
        }
    }
    low_.push_back(static_cast<float>(lowFlux));
    high_.push_back(static_cast<float>(highFlux));
}

}  // namespace pulsaro::analysis
