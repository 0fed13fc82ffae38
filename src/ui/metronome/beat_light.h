#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "ui/panels/widgets.h"

namespace pulsaro {

class AudioOutput;
class Clock;

// Lights the picture strip's beat light as each click of the metronome is
// heard, and notices when the sound output is lost under it. It asks the
// output when the next click will be heard and sleeps until then, so no timer
// runs while the metronome is off.
class BeatLightDriver final : public QObject {
public:
    BeatLightDriver(PictureStrip& strip, AudioOutput& audio, Clock& clock);

    // Dim while the metronome is armed (waiting for a run to end) or clicks.
    void setArmed(bool armed);
    // The metronome started or stopped clicking.
    void follow();
    void stop();
    bool following() const { return following_; }

    // Called once when the output turns out to be lost while clicking.
    std::function<void()> onOutputLost;

private:
    void lookAhead();
    void light();
    void timedOut();
    double now() const;

    PictureStrip& strip_;
    AudioOutput& audio_;
    Clock& clock_;
    QTimer timer_;
    bool armed_ = false;
    bool following_ = false;
    // What the timer's next timeout does: light up, or look for the next click.
    bool lightNext_ = false;
};

}  // namespace pulsaro
