// The window's side of the tempo sent to other music software: taps that
// come from a MIDI pedal or the global key, the Link session's line at the
// bottom, and the settings that turn each way out on.

#include <QLabel>
#include <cmath>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/help/about_box.h"
#include "ui/panels/tempo_text.h"
#include "ui/studio/studio.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {
// How far ahead a typed tempo's first beat lies when its grid must be known
// beforehand: more than the sound output's buffer, so that beat is heard.
constexpr double kTypedStartLead = 0.3;
}  // namespace

void MainWindow::connectStudio() {
    if (studio_ == nullptr) {
        return;
    }
    connect(studio_, &Studio::midiTapped, this, &MainWindow::tapBeat);
    connect(studio_, &Studio::keyTapped, this,
            [this](std::uint64_t eventMs) { tapBeat(eventInstant(eventMs)); });
    connect(studio_, &Studio::sessionChanged, this, &MainWindow::sessionChanged);
}

void MainWindow::applyStudioSettings(const StudioSettings& settings) {
    if (studio_ == nullptr) {
        return;
    }
    services_.guard("StudioSettings", [&] {
        if (settings != studio_->settings()) {
            studio_->apply(settings);
        }
    });
    // What is in effect is stored: an option that could not be turned on
    // stays off.
    services_.guard("StudioSettings", [&] {
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            key->batch([&] { studio_->settings().write(*key); });
        }
    });
    showCreditLine();
}

void MainWindow::showCreditLine() {
    QString line = soundNotice_;
    if (line.isEmpty() && studio_ != nullptr) {
        line = studio_->linkLine(decimalSeparator());
    }
    creditLabel_->setText(line.isEmpty() ? creditLine() : line);
}

void MainWindow::sessionChanged() {
    showCreditLine();
    // Clicks follow the session: a peer's new tempo is heard at once.
    if (clicksRunning_ && studio_->sessionGrid()) {
        const auto [tempo, grid] = *studio_->sessionGrid();
        const double period = 60.0 / static_cast<double>(toLongDouble(tempo));
        const double beats = (grid.beatSeconds - clickGrid_.beatSeconds) / period;
        const bool sameGrid =
            tempo == clickTempo_ && std::abs(beats - std::round(beats)) * period < 1e-4;
        if (!sameGrid) {
            metronomeClicksId_ = startClicks(tempo, grid);
        }
    }
}

BeatGrid MainWindow::gridFromNow() const {
    const TapInstant now = instantOf(clock_);
    return BeatGrid{
        static_cast<double>(now.count) / static_cast<double>(now.frequency) + kTypedStartLead, 0};
}

}  // namespace pulsaro
