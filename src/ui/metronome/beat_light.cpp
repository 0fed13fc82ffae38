#include "ui/metronome/beat_light.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_output.h"
#include "core/clock.h"

namespace pulsaro {

namespace {

// How long the light stays lit for one click.
constexpr int kLitMs = 90;
// How soon to ask again while the output cannot tell yet (a stream that is
// starting) when the next click will be heard.
constexpr int kAskAgainMs = 50;

}  // namespace

BeatLightDriver::BeatLightDriver(PictureStrip& strip, AudioOutput& audio, Clock& clock)
    : QObject(&strip), strip_(strip), audio_(audio), clock_(clock) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &BeatLightDriver::timedOut);
}

void BeatLightDriver::setArmed(bool armed) {
    armed_ = armed;
    if (strip_.beatLight() != PictureStrip::BeatLight::Lit) {
        strip_.setBeatLight(armed_ || following_ ? PictureStrip::BeatLight::Armed
                                                 : PictureStrip::BeatLight::Off);
    }
}

void BeatLightDriver::follow() {
    following_ = true;
    setArmed(armed_);
    lookAhead();
}

void BeatLightDriver::stop() {
    following_ = false;
    timer_.stop();
    strip_.setBeatLight(PictureStrip::BeatLight::Off);
    setArmed(armed_);
}

void BeatLightDriver::timedOut() {
    if (lightNext_) {
        light();
    } else {
        strip_.setBeatLight(PictureStrip::BeatLight::Armed);
        lookAhead();
    }
}

void BeatLightDriver::lookAhead() {
    if (!following_) {
        return;
    }
    if (audio_.outputLost()) {
        stop();
        if (onOutputLost) {
            onOutputLost();
        }
        return;
    }
    const std::optional<double> next = audio_.nextClickHeardAt(now());
    lightNext_ = next.has_value();
    if (!next) {
        timer_.start(kAskAgainMs);
        return;
    }
    const double wait = std::max(0.0, *next - now());
    timer_.start(static_cast<int>(std::lround(wait * 1000)));
}

void BeatLightDriver::light() {
    strip_.setBeatLight(PictureStrip::BeatLight::Lit);
    lightNext_ = false;
    timer_.start(kLitMs);
}

double BeatLightDriver::now() const {
    return static_cast<double>(clock_.performanceCount()) /
           static_cast<double>(clock_.performanceFrequency());
}

}  // namespace pulsaro
