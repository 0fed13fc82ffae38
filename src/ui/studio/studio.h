#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "core/fixed_point.h"
#include "core/studio_settings.h"
#include "core/tap_model.h"

namespace pulsaro {

class GlobalShortcut;
class LinkSession;
class MidiPorts;

// The tempo's ways out to other music software and the taps that come back:
// an Ableton Link session, JACK MIDI clock and tap ports, a key that taps
// from any window. It follows the tap model and the metronome; none of them
// is open until the settings turn it on.
class Studio final : public QObject {
    Q_OBJECT

public:
    // What could not be turned on, in words for the settings dialog; empty
    // where everything asked for is on.
    struct Problems {
        QString midi;
        QString key;
    };

    Studio(LinkSession& link, MidiPorts& midi, GlobalShortcut& key, QObject* parent = nullptr);
    ~Studio() override;

    Problems apply(const StudioSettings& settings);
    const StudioSettings& settings() const { return settings_; }
    const Problems& problems() const { return problems_; }
    bool keyAvailable() const;

    // A tempo the user tapped (its last counted beat) or typed (its first
    // click): the session takes it on.
    void tempoChosen(Fixed tempo, const BeatGrid& grid);
    // The session's tempo and beat grid the metronome clicks on while Link
    // is on and the session has a tempo.
    std::optional<std::pair<Fixed, BeatGrid>> sessionGrid() const;
    // "Link: 2 peers, 120.0 BPM" while Link is on, else empty.
    QString linkLine(const std::string& separator) const;

    // The metronome started on this grid, or stopped: the MIDI clock follows.
    void clicksStarted(Fixed tempo, const BeatGrid& grid);
    void clicksStopped();

signals:
    // A tap from the MIDI input, timed by its event.
    void midiTapped(const pulsaro::TapInstant& at);
    // The global key; the window system's stamp of the press.
    void keyTapped(std::uint64_t eventTimeMs);
    // The session's tempo or peers changed (on the GUI thread).
    void sessionChanged();

private:
    void takeMidiTaps();

    LinkSession& link_;
    MidiPorts& midi_;
    GlobalShortcut& key_;
    StudioSettings settings_;
    Problems problems_;
    std::unique_ptr<QSocketNotifier> tapNotifier_;
    bool clockRunning_ = false;
};

}  // namespace pulsaro
