// The metronome as the window drives it: the menu mode, the delay panel's
// M, the restart when a counting run ends, and the stop points.

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <span>
#include <tuple>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "core/wav.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/metronome/beat_light.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/studio/studio.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

constexpr Fixed kLowestDelayTempo = 500'000;
constexpr Fixed kHighestDelayTempo = 2'500'000;
// Above this the menu command leaves the metronome as it is.
constexpr Fixed kHighestMenuTempo = 2'500'000;

const char* const kSoundNames[] = {"sound", "sound1", "sound2"};

QString soundResource(const QString& name) {
    return QStringLiteral(":/sounds/") + name + QStringLiteral(".wav");
}

}  // namespace

void MainWindow::loadClickSounds() {
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

void MainWindow::selectClickSoundLater() {
    // After the handler that asks for it, as a change of the stored sound
    // may still be on its way.
    QMetaObject::invokeMethod(this, &MainWindow::selectClickSound, Qt::QueuedConnection);
}

void MainWindow::selectClickSound() {
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

std::uint32_t MainWindow::startClicks(Fixed bpm, std::optional<BeatGrid> grid) {
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

void MainWindow::stopClicks() {
    if (metronomeClicksId_ != 0) {
        audio_.stopClicks(metronomeClicksId_);
    }
    clicksRunning_ = false;
    beatLight_->stop();
    if (studio_ != nullptr) {
        studio_->clicksStopped();
    }
}

void MainWindow::startMetronomeAtRunEnd(Fixed tempo, const BeatGrid& grid) {
    stopClicks();
    // The clicks carry on the beat the user tapped.
    metronomeClicksId_ = startClicks(tempo, grid);
}

void MainWindow::toggleMetronome() {
    services_.guard("mnuFileMetronomeClick", [&] {
        selectClickSoundLater();
        if (tap_.tempo() > kHighestMenuTempo) {
            return;
        }
        if (metronomeArmed_) {
            stopClicks();
            metronomeArmed_ = false;
            showMetronomeState();
            return;
        }
        if (!lookForSound()) {
            return;
        }
        metronomeArmed_ = true;
        showMetronomeState();
        const bool runJustEnded = tap_.status() == RunStatus::TimedOut;
        if (runJustEnded && shown(bpmPanel_) && tap_.tempo() > 0) {
            stopClicks();
            metronomeClicksId_ = startClicks(tap_.tempo(), tap_.grid());
        }
    });
}

void MainWindow::toggleDelayMetronome() {
    services_.guard("MetronomeDelay", [&] {
        if (delayMetronomeOn_) {
            stopClicks();
            delayMetronomeOn_ = false;
            delayPanel_->setMetronomeOn(false);
            showMetronomeState();
            return;
        }
        const std::optional<Fixed> typed = delayPanel_->typedTempo();
        if (!typed || *typed < kLowestDelayTempo || *typed > kHighestDelayTempo ||
            !lookForSound()) {
            return;
        }
        const Fixed tempo = *typed;
        delayPanel_->setMetronomeOn(true);
        delayMetronomeOn_ = true;
        stopClicks();
        std::optional<BeatGrid> grid;
        if (studio_ != nullptr && studio_->settings().link) {
            // The session takes the typed tempo, its first click a bar's first beat.
            grid = gridFromNow();
            studio_->tempoChosen(tempo, *grid);
            showCreditLine();
        }
        metronomeClicksId_ = startClicks(tempo, grid);
        showMetronomeState();
    });
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimising stops the clicking, and the delay panel's M with it.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && metronomeClicksId_ != 0) {
        stopClicks();
        delayMetronomeOn_ = false;
        delayPanel_->setMetronomeOn(false);
    }
}

}  // namespace pulsaro
