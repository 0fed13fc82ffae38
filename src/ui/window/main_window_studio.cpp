// The window's side of the tempo sent to other music software: taps that
// come from a MIDI pedal or the global key, the Link session's line at the
// bottom, and the settings that turn each way out on.

#include <QLabel>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/help/about_box.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/tempo_text.h"
#include "ui/studio/studio.h"
#include "ui/window/main_window.h"

namespace pulsaro {

void MainWindow::connectStudio() {
    if (studio_ == nullptr) {
        return;
    }
    connect(studio_, &Studio::midiTapped, this, &MainWindow::tapBeat);
    connect(studio_, &Studio::keyTapped, this,
            [this](std::uint64_t eventMs) { tapBeat(eventInstant(eventMs)); });
    // Link's tempo or peers changed: the credit line, and clicks that follow
    // the session move to its grid.
    connect(studio_, &Studio::sessionChanged, this, &MainWindow::showCreditLine);
    connect(studio_, &Studio::sessionChanged, metronome_, &MetronomeController::sessionChanged);
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
    QString line = metronome_->soundNotice();
    if (line.isEmpty() && studio_ != nullptr) {
        line = studio_->linkLine(decimalSeparator());
    }
    creditLabel_->setText(line.isEmpty() ? creditLine() : line);
}

}  // namespace pulsaro
