#include "ui/metronome/metronome_controller.h"

#include <QFile>
#include <QWidget>
#include <array>
#include <cmath>
#include <span>
#include <tuple>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "core/wav.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/metronome/beat_light.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/widgets.h"
#include "ui/studio/studio.h"

namespace pulsaro {

namespace {

constexpr Fixed kLowestDelayTempo = 500'000;
constexpr Fixed kHighestDelayTempo = 2'500'000;
// Above this the menu command leaves the metronome as it is.
constexpr Fixed kHighestMenuTempo = 2'500'000;

// How far ahead a typed tempo's first beat lies when its grid must be known
// beforehand: more than the sound output's buffer, so that beat is heard.
constexpr double kTypedStartLead = 0.3;

const char* const kSoundNames[] = {"sound", "sound1", "sound2"};

QString soundResource(const QString& name) {
    return QStringLiteral(":/sounds/") + name + QStringLiteral(".wav");
}

}  // namespace

MetronomeController::MetronomeController(const Parts& parts, QObject* parent)
    : QObject(parent),
      services_(parts.services),
      audio_(parts.audio),
      clock_(parts.clock),
      tap_(parts.tap),
      studio_(parts.studio),
      delayPanel_(parts.delayPanel),
      bpmPanel_(parts.bpmPanel),
      beatLight_(new BeatLightDriver(parts.pictureStrip, parts.audio, parts.clock)) {
    setObjectName(QStringLiteral("metronome"));
    beatLight_->onOutputLost = [this] { soundLost(); };
}

void MetronomeController::setArmed(bool armed) {
    armed_ = armed;
}

void MetronomeController::checkSoundOutput() {
    services_.guard("FormCreate", [&] { soundOutput_ = audio_.outputDeviceCount() > 0; });
}

bool MetronomeController::lookForSound() {
    if (!soundOutput_ || audio_.outputLost()) {
        soundOutput_ = audio_.outputDeviceCount() > 0;
        showSoundNotice(soundOutput_ ? nullptr : res::kNoSoundOutput);
        emit commandsChanged();
    }
    return soundOutput_;
}

void MetronomeController::soundLost() {
    services_.guard("SoundLost", [&] {
        stopClicks();
        clicksId_ = 0;
        armed_ = false;
        delayOn_ = false;
        delayPanel_.setMetronomeOn(false);
        showState();
        showSoundNotice(res::kSoundLost);
        emit commandsChanged();
    });
}

void MetronomeController::showState() {
    beatLight_->setArmed(armed_ || delayOn_);
}

void MetronomeController::showSoundNotice(const char* notice) {
    soundNotice_ = notice != nullptr ? tr8(notice) : QString();
    emit noticeChanged();
}

void MetronomeController::preview(int index) {
    audio_.playOnce(index < 0 ? AudioOutput::kNoSound : index);
}

void MetronomeController::loadClickSounds() {
    // Decoded once; the output converts them to its format and keeps them.
    std::array<PcmSound, 3> sounds;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        QFile file(soundResource(QString::fromLatin1(kSoundNames[i])));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            try {
                sounds[i] = decodeWav(std::span(
                    reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
            } catch (const WavError&) {
                sounds[i] = PcmSound{};  // a silent click
            }
        }
    }
    audio_.loadSounds(sounds);
}

void MetronomeController::selectClickSoundLater() {
    // After the handler that asks for it, as a change of the stored sound
    // may still be on its way.
    QMetaObject::invokeMethod(this, &MetronomeController::selectClickSound, Qt::QueuedConnection);
}

void MetronomeController::selectClickSound() {
    services_.guard("METROSOUND_CHANGED", [&] {
        // The stored choice: 1 and 2 pick the other sounds, anything else the first.
        QString name = QString::fromLatin1(kSoundNames[0]);
        services_.guard("GetMetronomeSound", [&] {
            std::int32_t stored = 0;
            if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
                stored = key->findInteger(settings::kMetronomeSound).value_or(0);
            }
            if (stored == 1 || stored == 2) {
                name = QString::fromLatin1(kSoundNames[stored]);
            }
        });
        int index = AudioOutput::kNoSound;
        for (int i = 0; i < 3; ++i) {
            if (name.compare(QLatin1String(kSoundNames[i]), Qt::CaseInsensitive) == 0 &&
                QFile::exists(soundResource(name.toLower()))) {
                index = i;
            }
        }
        // Takes effect at the next click; a running metronome goes on.
        audio_.selectSound(index);
    });
}

std::uint32_t MetronomeController::startClicks(Fixed bpm, std::optional<BeatGrid> grid) {
    // While Link is on the clicks keep to the session's beats and tempo; a
    // MIDI clock needs the grid before the first click.
    if (studio_ != nullptr) {
        if (const auto session = studio_->sessionGrid()) {
            std::tie(bpm, grid) = *session;
        } else if (!grid && studio_->settings().clockOut) {
            grid = gridFromNow();
        }
    }
    std::uint32_t id = 0;
    services_.guard("CreateMetronomeTimer", [&] { id = audio_.startClicks(bpm, grid); });
    if (id != 0) {
        beatLight_->follow();
        clicksRunning_ = true;
        clickTempo_ = bpm;
        clickGrid_ = grid.value_or(BeatGrid{});
        if (studio_ != nullptr && grid) {
            studio_->clicksStarted(bpm, *grid);
        }
    }
    return id;
}

void MetronomeController::stopClicks() {
    if (clicksId_ != 0) {
        audio_.stopClicks(clicksId_);
    }
    clicksRunning_ = false;
    beatLight_->stop();
    if (studio_ != nullptr) {
        studio_->clicksStopped();
    }
}

void MetronomeController::startAtRunEnd(Fixed tempo, const BeatGrid& grid) {
    stopClicks();
    // The clicks carry on the beat the user tapped.
    clicksId_ = startClicks(tempo, grid);
}

void MetronomeController::toggle() {
    services_.guard("mnuFileMetronomeClick", [&] {
        selectClickSoundLater();
        if (tap_.tempo() > kHighestMenuTempo) {
            return;
        }
        if (armed_) {
            stopClicks();
            armed_ = false;
            showState();
            return;
        }
        if (!lookForSound()) {
            return;
        }
        armed_ = true;
        showState();
        const bool runJustEnded = tap_.status() == RunStatus::TimedOut;
        if (runJustEnded && !bpmPanel_.isHidden() && tap_.tempo() > 0) {
            stopClicks();
            clicksId_ = startClicks(tap_.tempo(), tap_.grid());
        }
    });
}

void MetronomeController::toggleDelayMetronome() {
    services_.guard("MetronomeDelay", [&] {
        if (delayOn_) {
            stopClicks();
            delayOn_ = false;
            delayPanel_.setMetronomeOn(false);
            showState();
            return;
        }
        const std::optional<Fixed> typed = delayPanel_.typedTempo();
        if (!typed || *typed < kLowestDelayTempo || *typed > kHighestDelayTempo ||
            !lookForSound()) {
            return;
        }
        const Fixed tempo = *typed;
        delayPanel_.setMetronomeOn(true);
        delayOn_ = true;
        stopClicks();
        std::optional<BeatGrid> grid;
        if (studio_ != nullptr && studio_->settings().link) {
            // The session takes the typed tempo, its first click a bar's first beat.
            grid = gridFromNow();
            studio_->tempoChosen(tempo, *grid);
            emit noticeChanged();
        }
        clicksId_ = startClicks(tempo, grid);
        showState();
    });
}

void MetronomeController::stopWithDelayMetronome() {
    stopClicks();
    releaseDelayMetronome();
}

void MetronomeController::releaseDelayMetronome() {
    delayOn_ = false;
    delayPanel_.setMetronomeOn(false);
}

void MetronomeController::silence() {
    audio_.purge();
    stopClicks();
}

void MetronomeController::followTempo(Fixed tempo, std::optional<BeatGrid> heard) {
    services_.guard("FollowTempo", [&] {
        std::optional<BeatGrid> grid = heard;
        if (studio_ != nullptr && studio_->settings().link) {
            if (!grid) {
                grid = gridFromNow();
            }
            studio_->tempoChosen(tempo, *grid);
            emit noticeChanged();
        }
        if (clicksRunning_ && tempo >= kMetronomeMinimum && tempo <= kHighestMenuTempo) {
            clicksId_ = startClicks(tempo, grid);
        }
    });
}

void MetronomeController::followMusic(Fixed tempo, const BeatGrid& grid) {
    services_.guard("FollowMusic", [&] {
        if (studio_ != nullptr) {
            studio_->tempoChosen(tempo, grid);
            emit noticeChanged();
        }
        if (clicksRunning_ && !clicksOn(tempo, grid)) {
            clicksId_ = startClicks(tempo, grid);
        }
    });
}

void MetronomeController::sessionChanged() {
    // Clicks follow the session: a peer's new tempo is heard at once.
    if (clicksRunning_ && studio_->sessionGrid()) {
        const auto [tempo, grid] = *studio_->sessionGrid();
        if (!clicksOn(tempo, grid)) {
            clicksId_ = startClicks(tempo, grid);
        }
    }
}

bool MetronomeController::clicksOn(Fixed tempo, const BeatGrid& grid) const {
    const double period = 60.0 / static_cast<double>(toLongDouble(tempo));
    const double beats = (grid.beatSeconds - clickGrid_.beatSeconds) / period;
    return tempo == clickTempo_ && std::abs(beats - std::round(beats)) * period < 1e-4;
}

BeatGrid MetronomeController::gridFromNow() const {
    const TapInstant now = instantOf(clock_);
    return BeatGrid{
        static_cast<double>(now.count) / static_cast<double>(now.frequency) + kTypedStartLead, 0};
}

}  // namespace pulsaro
