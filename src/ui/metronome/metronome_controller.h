#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

#include "core/fixed_point.h"
#include "core/tap_model.h"

class QWidget;

namespace pulsaro {

class AppServices;
class AudioOutput;
class BeatLightDriver;
class Clock;
class DelayPanel;
class PictureStrip;
class Studio;

// The metronome: whether the File menu has it armed, the delay panel's M, the
// clicks the sound output plays and the beat light that shows them, the
// hand-over when a tapped run ends, the clicks that follow a Link session,
// and whether there is sound to click with at all.
class MetronomeController final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        AppServices& services;
        AudioOutput& audio;
        Clock& clock;
        const TapModel& tap;
        Studio* studio;
        PictureStrip& pictureStrip;
        DelayPanel& delayPanel;
        // The restart of the File menu's command happens only while it shows.
        const QWidget& bpmPanel;
    };

    MetronomeController(const Parts& parts, QObject* parent);

    // Armed by the File menu (its check mark, kept in the settings).
    bool armed() const { return armed_; }
    void setArmed(bool armed);
    bool delayMetronomeOn() const { return delayOn_; }
    // The id of the last clicking started (0: none, or refused; not cleared
    // by a stop).
    std::uint32_t clicksId() const { return clicksId_; }

    // The File menu's command; right after a run it starts at once.
    void toggle();
    // The delay panel's M: clicks at the typed tempo.
    void toggleDelayMetronome();
    // A run ended where the window lets the metronome take over: the clicks
    // carry on the beat the user tapped.
    void startAtRunEnd(Fixed tempo, const BeatGrid& grid);
    void stopClicks();
    // Stops the clicking, and the delay panel's M with it.
    void stopWithDelayMetronome();
    // The delay panel's M off, without touching the clicks.
    void releaseDelayMetronome();
    // A reset: the sound output drops what it plays, the clicks stop.
    void silence();

    bool soundOutput() const { return soundOutput_; }
    // Asked whenever the user wants sound: looks for an output again when
    // none was found or the last one was lost. True when there is one.
    bool lookForSound();
    // The first look, once the window is on screen (it takes a while).
    void checkSoundOutput();
    // What the window says about the sound output in place of its credit
    // line; empty while there is nothing to say.
    const QString& soundNotice() const { return soundNotice_; }
    // Plays the click sound index once (the settings dialog's preview).
    void preview(int index);

    void loadClickSounds();
    // The click sound follows the stored choice: now, or once the running
    // handler has returned.
    void selectClickSound();
    void selectClickSoundLater();

    // A tempo chosen outside a tapped run (an analysed file): Link takes it,
    // and clicks that run go on at it, from the next beat on.
    // With a grid (the heard beats) the clicks and Link start on it.
    void followTempo(Fixed tempo, std::optional<BeatGrid> grid = std::nullopt);
    // A run locked to the heard music follows it: Link and the MIDI clock
    // take the new grid, running clicks move onto it.
    void followMusic(Fixed tempo, const BeatGrid& grid);
    // The Link session's tempo or grid moved: clicks that follow it move too.
    void sessionChanged();

signals:
    // Enabling or check marks of the commands may have changed.
    void commandsChanged();
    // The sound notice changed.
    void noticeChanged();

private:
    // Clicks at bpm, from the beat of grid on when given; the id, or 0 when
    // the output refused.
    std::uint32_t startClicks(Fixed bpm, std::optional<BeatGrid> grid);
    void soundLost();
    void showState();
    void showSoundNotice(const char* notice);
    // The grid a typed tempo starts on when something must know its beats
    // beforehand (the MIDI clock, Link): far enough ahead to be heard.
    BeatGrid gridFromNow() const;
    // Whether clicks run at tempo on grid already (within a tenth of a ms).
    bool clicksOn(Fixed tempo, const BeatGrid& grid) const;

    AppServices& services_;
    AudioOutput& audio_;
    Clock& clock_;
    const TapModel& tap_;
    Studio* studio_;
    DelayPanel& delayPanel_;
    const QWidget& bpmPanel_;
    BeatLightDriver* beatLight_;

    bool armed_ = false;
    bool delayOn_ = false;
    std::uint32_t clicksId_ = 0;
    // Whether clicks run, and the tempo and grid they were started on.
    bool clicksRunning_ = false;
    Fixed clickTempo_ = 0;
    BeatGrid clickGrid_;
    bool soundOutput_ = false;
    QString soundNotice_;
};

}  // namespace pulsaro
