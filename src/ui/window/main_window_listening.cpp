// The window's side of listening: the Listen command's controller, the heard
// line in the credit line's place, the mark in the picture strip, the heard
// tempo taken as the current one, and the playing track's names and file.

#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include "audio/audio_capture.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "platform/now_playing.h"
#include "ui/common/app_services.h"
#include "ui/listening/listening_controller.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/widgets.h"
#include "ui/saving/result_saver.h"
#include "ui/window/main_window.h"

namespace pulsaro {

void MainWindow::connectListening(MainWindowServices& services) {
    listening_ = new ListeningController(
        {services_, tap_, std::move(services.capture), std::move(services.listInputs)}, this);
    nowPlaying_ = services.nowPlaying;
    connect(listening_, &ListeningController::heardChanged, this, &MainWindow::showHeardLine);
    connect(listening_, &ListeningController::commandsChanged, this, &MainWindow::updateCommands);
    connect(&tapSignals_, &TapSignals::moved, metronome_, &MetronomeController::followMusic);
    connect(saver_, &ResultSaver::panelOpened, this, &MainWindow::offerPlayingNames);
    if (nowPlaying_ != nullptr) {
        connect(nowPlaying_, &NowPlaying::changed, this, &MainWindow::updateCommands);
    }
    // Left on, listening starts again once the window is up.
    services_.guard("ListenAtStart", [&] {
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            if (key->findInteger(settings::kListening).value_or(0) == 1) {
                QTimer::singleShot(0, listening_, [this] { listening_->setListening(true); });
            }
        }
    });
}

void MainWindow::showHeardLine() {
    const QString& line = listening_->line();
    pictureStrip_->setListening(listening_->listening());
    if (line.isEmpty()) {
        heardLabel_->hide();
        creditLabel_->show();
        return;
    }
    // A long cause is cut short on the line; the whole of it is the tooltip.
    heardLabel_->setText(
        heardLabel_->fontMetrics().elidedText(line, Qt::ElideRight, heardLabel_->width()));
    heardLabel_->setToolTip(line);
    heardLabel_->setAccessibleName(line);
    creditLabel_->hide();
    heardLabel_->show();
}

void MainWindow::useHeardTempo() {
    const std::optional<Fixed> tempo = listening_->usableTempo();
    if (!tempo) {
        return;
    }
    // The clicks, Link and the MIDI clock on the music's own beats.
    useTempo(*tempo, listening_->heardGrid());
}

void MainWindow::analysePlayingFile() {
    if (nowPlaying_ == nullptr) {
        return;
    }
    if (const auto track = nowPlaying_->current(); track && !track->localFile.isEmpty()) {
        analyseFiles({track->localFile});
    }
}

void MainWindow::offerPlayingNames() {
    if (nowPlaying_ == nullptr) {
        return;
    }
    services_.guard("PlayingNames", [&] {
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            if (key->findInteger(settings::kNamesFromPlayer).value_or(1) == 0) {
                return;
            }
        }
        if (const auto track = nowPlaying_->current()) {
            saver_->fillEmptyNames(track->artist, track->album, track->title);
        }
    });
}

}  // namespace pulsaro
