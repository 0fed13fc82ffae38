#include "ui/studio/studio.h"

#include <QKeySequence>
#include <QMetaObject>
#include <QPointer>
#include <cmath>

#include "audio/midi_ports.h"
#include "core/number_format.h"
#include "platform/global_shortcut.h"
#include "platform/link_session.h"

namespace pulsaro {

Studio::Studio(LinkSession& link, MidiPorts& midi, GlobalShortcut& key, QObject* parent)
    : QObject(parent), link_(link), midi_(midi), key_(key) {
    // Link calls from its own thread; the window hears of it on its own.
    QPointer<Studio> self(this);
    link_.setChangeHandler([self] {
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self) {
                    emit self->sessionChanged();
                }
            },
            Qt::QueuedConnection);
    });
    connect(&key_, &GlobalShortcut::activated, this, &Studio::keyTapped);
}

Studio::~Studio() {
    link_.setChangeHandler({});
}

bool Studio::keyAvailable() const {
    return key_.available();
}

Studio::Problems Studio::apply(const StudioSettings& settings) {
    const bool linkWas = settings_.link;
    settings_ = settings;
    problems_ = {};
    // With Link off and never on, the session is not touched at all.
    if (settings.link || link_.enabled()) {
        link_.setEnabled(settings.link, settings.quantum);
    }

    MidiPorts::Options options;
    options.clockOut = settings.clockOut;
    options.tapIn = settings.tapIn;
    options.tapNote = settings.tapNote;
    options.tapController = settings.tapController;
    tapNotifier_.reset();
    problems_.midi = QString::fromStdString(midi_.configure(options));
    if (!problems_.midi.isEmpty()) {
        settings_.clockOut = settings_.tapIn = false;
    }
    if (const int fd = midi_.tapNotifier(); fd >= 0) {
        tapNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(tapNotifier_.get(), &QSocketNotifier::activated, this, &Studio::takeMidiTaps);
    }
    if (!settings_.clockOut) {
        clockRunning_ = false;
    }

    problems_.key = key_.setKey(QKeySequence::fromString(QString::fromStdString(settings.tapKey),
                                                         QKeySequence::PortableText));
    if (!problems_.key.isEmpty()) {
        settings_.tapKey.clear();
    }
    if (linkWas != settings_.link) {
        emit sessionChanged();
    }
    return problems_;
}

void Studio::takeMidiTaps() {
    for (const TapInstant& at : midi_.takeTaps()) {
        emit midiTapped(at);
    }
}

void Studio::tempoChosen(Fixed tempo, const BeatGrid& grid) {
    if (settings_.link && tempo > 0) {
        link_.publish(static_cast<double>(toLongDouble(tempo)), grid.beatSeconds, grid.beatIndex);
    }
}

std::optional<std::pair<Fixed, BeatGrid>> Studio::sessionGrid() const {
    if (!settings_.link || !link_.enabled()) {
        return std::nullopt;
    }
    const LinkSession::State state = link_.state();
    if (!(state.tempo > 0)) {
        return std::nullopt;
    }
    const Fixed tempo = roundEven(static_cast<long double>(state.tempo) * 10'000);
    return std::make_pair(tempo, BeatGrid{state.beatSeconds, 0});
}

QString Studio::linkLine(const std::string& separator) const {
    if (!settings_.link || !link_.enabled()) {
        return {};
    }
    const LinkSession::State state = link_.state();
    const QString peers = state.peers == 1 ? QStringLiteral("Link: 1 peer")
                                           : QStringLiteral("Link: %1 peers").arg(state.peers);
    if (!(state.tempo > 0)) {
        return peers;
    }
    return peers + QStringLiteral(", %1 BPM")
                       .arg(QString::fromStdString(
                           formatDecimals(static_cast<long double>(state.tempo), 1, separator)));
}

void Studio::clicksStarted(Fixed tempo, const BeatGrid& grid) {
    if (settings_.clockOut) {
        midi_.startClock(tempo, grid.beatSeconds);
        clockRunning_ = true;
    }
}

void Studio::clicksStopped() {
    if (clockRunning_) {
        midi_.stopClock();
        clockRunning_ = false;
    }
}

}  // namespace pulsaro
