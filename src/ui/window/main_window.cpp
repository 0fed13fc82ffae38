#include "ui/window/main_window.h"
#include "ui/help/about_box.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/saving/result_saver.h"

#include "ui/window/key_map.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <optional>

#include "audio/audio_output.h"
#include "core/number_format.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "core/tempo_math.h"
#include "platform/now_playing.h"
#include "ui/analysis/file_analysis.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/common/tick_timer.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/help/help_commands.h"
#include "ui/listening/listening_controller.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/mpm_panel.h"
#include "ui/panels/save_panel.h"
#include "ui/panels/tempo_text.h"
#include "ui/panels/widgets.h"
#include "ui/settings/settings_binding.h"
#include "ui/studio/studio.h"
#include "ui/window/accessibility.h"
#include "ui/window/screen_place.h"

namespace pulsaro {

namespace {

constexpr int kIdleTimerPeriodMs = 200;
constexpr int kPitchPercent = 8;

// A tempo rounded to whole or half BPM, as the panels show it; a failure is
// reported and the tempo rounded to a whole number instead.
long double halfRounded(AppServices& services, Fixed value) {
    QString text;
    if (!services.guard("SpecRoundedBPMValue",
                        [&] { text = fromStd(halfRoundedText(value, decimalSeparator())); })) {
        text = fromStd(wholeRoundedText(value, decimalSeparator()));
    }
    return toLongDouble(readFixed(text));
}

}  // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      clock_(services.clock),
      services_(services.app),
      audio_(services.audio),
      studio_(services.studio),
      tapSignals_(tap_) {
    setObjectName(QStringLiteral("frmPulsaro"));
    setWindowTitle(tr8(res::kAppTitle));
    setFont(windowFont(8));
    // Audio files dropped on the window are analysed.
    setAcceptDrops(true);
    analyser_ = services.analyser;
    buildMenus();
    buildClientArea();
    help_ = new HelpCommands({services_, *this, *commands_, *playerSeparator_}, this);
    desktop_ = new DesktopPresence(
        {services_, *this, *commands_, *metronome_, *help_, std::move(services.trayAvailable)},
        this);
    connect(desktop_, &DesktopPresence::commandsChanged, this, &MainWindow::updateCommands);
    settings_ = new SettingsBinding(services_, *this);
    connectListening(services);
    parts_ = std::make_unique<WindowParts>(WindowParts{*this, *metronome_, *saver_, *desktop_,
                                                       *help_, *settings_, *listening_, studio_});
    // Fixed size: the client area below the menu bar is 258 x 222.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // Take the final size now: placing the window at start-up needs it.
    layout()->activate();
    adjustSize();
    new KeyMap(*this);
    watchMouse();
    connectStudio();
    restoreAtStart();
    makeAccessible(*this);
    connect(&tapSignals_, &TapSignals::tapPressed, this, &MainWindow::showPress);
    connect(&tapSignals_, &TapSignals::ended, this, &MainWindow::measurementEnded);
}

MainWindow::~MainWindow() {
    // FormDestroy: the clicking stops with the window.
    metronome_->stopClicks();
    // The worker stops before the tap model it tells goes.
    delete listening_;
}

void MainWindow::restoreAtStart() {
    services_.guard("FormCreate", [&] {
        for (QWidget* panel :
             {static_cast<QWidget*>(savePanel_), static_cast<QWidget*>(bpmPanel_),
              static_cast<QWidget*>(mpmPanel_), static_cast<QWidget*>(delayPanel_)}) {
            panel->move(44, 24);
        }
        clientArea_->setFixedSize(258, 222);
        settings_->restore();
        if (studio_ != nullptr) {
            // With everything off nothing is opened at all.
            const StudioSettings studio = StudioSettings::read(services_.store());
            if (studio.anyOn()) {
                studio_->apply(studio);
            }
        }
        showCreditLine();
        // A settings failure must not leave the window without a panel.
        if (displayMode_ == kModeNone) {
            showBpmMode();
        }
        metronome_->loadClickSounds();
        metronome_->selectClickSoundLater();
        // Asking the sound system for its devices takes a noticeable part of
        // a second, so it is done as soon as the window is on screen.
        QMetaObject::invokeMethod(metronome_, &MetronomeController::checkSoundOutput,
                                  Qt::QueuedConnection);
        updateCommands();
    });
}

// --- Tapping ---------------------------------------------------------------

void MainWindow::tapBeat(const TapInstant& at) {
    services_.guard("cmdBeatClick", [&] {
        if (!tap_.state().measuring()) {
            tap_.press(at, visibleMode());
        } else {
            services_.guard("WriteValues", [&] { tap_.press(at, visibleMode()); });
        }
    });
}

TapInstant MainWindow::eventInstant(std::uint64_t eventMs) {
    const TapInstant arrival = instantOf(clock_);
    return clock_.followsEventTimes() ? eventTimes_.map(arrival, eventMs, tap_.state().measuring())
                                      : arrival;
}

std::int32_t MainWindow::visibleMode() const {
    if (isShown(bpmPanel_)) {
        return kModeBpm;
    }
    if (isShown(mpmPanel_)) {
        return kModeMpm;
    }
    if (isShown(delayPanel_)) {
        return kModeDelay;
    }
    return kModeNone;
}

void MainWindow::startIdleTimer() {
    idleTimer_.reset();
    idleTimer_ =
        std::make_unique<TickTimer>(kIdleTimerPeriodMs, [this](TickTimer&) { checkPause(); });
    idleTimer_->OneShot = false;
    idleTimer_->SetActive(true);
}

void MainWindow::showPress(const TapPress& press) {
    if (press.kind == PressKind::First) {
        metronome_->stopClicks();
        clearDisplays();
        resetButton_->setEnabled(true);
        showStatus(RunStatus::Measuring);
        startIdleTimer();
        beatsLabel_->setText(tr8(res::kBeatOne));
        return;
    }
    beatsLabel_->setText(tr8(res::kBeatsPrefix) + QStringLiteral(" %1").arg(press.beatNumber));
    if (press.kind == PressKind::Uncounted) {
        return;
    }
    const std::string sep = decimalSeparator();
    saveAllowed_ = quickSaveAllowed_ =
        press.tempo != 0 && (displayMode_ == kModeBpm || displayMode_ == kModeMpm);
    updateCommands();

    if (press.kind == PressKind::TooFast) {
        for (ModePanel* panel :
             {static_cast<ModePanel*>(bpmPanel_), static_cast<ModePanel*>(delayPanel_),
              static_cast<ModePanel*>(mpmPanel_)}) {
            if (isShown(panel)) {
                panel->setTooFast(true);
            }
        }
        return;
    }

    timeLabel_->setText(tr8(res::kTime) +
                        fromStd(formatPattern(toLongDouble(press.elapsed), " 00.00", sep)));
    if (isShown(bpmPanel_)) {
        BpmPanel::Reading reading;
        reading.tempo = press.tempo;
        reading.mean = press.mean;
        services_.guard("CalcPitch", [&] {
            reading.pitchRange =
                fromStd(pitchRangeText(kPitchPercent, press.tempo, decimalSeparator()));
        });
        reading.value = fromStd(formatDecimals(halfRounded(services_, press.tempo), 1, sep));
        reading.meanText = fromStd(formatPattern(halfRounded(services_, press.mean), "0.0", sep));
        if (const std::optional<double> within = tap_.tempoUncertainty()) {
            reading.uncertainty = uncertaintyText(*within, sep);
        }
        bpmPanel_->show(reading);
    }
    if (isShown(mpmPanel_)) {
        mpmPanel_->setTooFast(false);
        showMpm(press.tempo);
        mpmPanel_->showTempoLine(
            fromStd(formatPattern(halfRounded(services_, press.tempo), "BPM: 0.0", sep)));
    }
    if (isShown(delayPanel_)) {
        delayPanel_->setTooFast(false);
        delayPanel_->showTimes(press.tempo);
        delayPanel_->showMean(
            fromStd(formatPattern(halfRounded(services_, press.mean), "Avg: 0.0", sep)));
    }
}

void MainWindow::checkPause() {
    services_.guard("tmrIdleTimer", [&] { tap_.checkPause(clock_.tickCountMs()); });
}

void MainWindow::measurementEnded(Fixed tempo, const BeatGrid& grid) {
    showStatus(RunStatus::TimedOut);
    if (tap_.fusion() == FusionOutcome::Locked) {
        // The run took the music's own tempo.
        showTempo(tempo);
    }
    if (studio_ != nullptr && tempo > 0) {
        studio_->tempoChosen(tempo, grid);
        showCreditLine();
    }
    if (idleTimer_) {
        idleTimer_->SetActive(false);
    }
    const std::int32_t measured = tap_.state().measurementMode;
    const bool handOver = measured == displayMode_ && measured != kModeDelay &&
                          !isShown(savePanel_) && metronome_->armed() && tempo > kMetronomeMinimum;
    if (handOver) {
        metronome_->startAtRunEnd(tempo, grid);
    }
}

void MainWindow::useTempo(Fixed tempo, std::optional<BeatGrid> grid) {
    services_.guard("UseTempo", [&] {
        if (tap_.state().measuring()) {
            idleTimer_.reset();
            tap_.stop();
            showStatus(RunStatus::Idle);
        }
        tap_.setTypedTempo(tempo);
        showTempo(tempo);
        resetButton_->setEnabled(true);
        metronome_->followTempo(tempo, grid);
        // Saving it is decided at once, not when the File menu next opens.
        refreshFileCommands();
    });
}

void MainWindow::showTempo(Fixed tempo) {
    const std::string sep = decimalSeparator();
    if (isShown(bpmPanel_)) {
        BpmPanel::Reading reading;
        reading.tempo = tempo;
        reading.mean = tempo;
        reading.pitchRange = fromStd(pitchRangeText(kPitchPercent, tempo, sep));
        reading.value = fromStd(formatDecimals(halfRounded(services_, tempo), 1, sep));
        reading.meanText = fromStd(formatPattern(halfRounded(services_, tempo), "0.0", sep));
        bpmPanel_->show(reading);
    } else if (isShown(mpmPanel_)) {
        showMpm(tempo);
        mpmPanel_->showTempoLine(
            fromStd(formatPattern(halfRounded(services_, tempo), "BPM: 0.0", sep)));
    } else if (isShown(delayPanel_)) {
        delayPanel_->showTimes(tempo);
    }
}

// --- Reset and closing -----------------------------------------------------

void MainWindow::resetAll() {
    services_.guard("DoFullReset:1", [&] {
        metronome_->silence();
        idleTimer_.reset();
    });
    services_.guard("DoFullReset:2", [&] {
        clearDisplays();
        metronome_->releaseDelayMetronome();
        tap_.reset();
        bpmPanel_->clearMean();
        if (isShown(delayPanel_)) {
            focusTempoBoxLater();
        }
    });
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimising stops the clicking, and the delay panel's M with it.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        metronome_->clicksId() != 0) {
        metronome_->stopWithDelayMetronome();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    settings_->saveExitSettings();
    event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (centreOnShow_) {
        centreOnShow_ = false;
        centreOnScreen(*this, true);
    } else if (!event->spontaneous()) {
        // Only now is the frame known: the whole of it goes on the screen.
        moveOnScreen(*this, pos());
    }
}

// --- Display modes and the File menu ---------------------------------------

void MainWindow::showBpmMode() {
    services_.guard("mnuViewBPMClick", [&] {
        if (isShown(bpmPanel_)) {
            return;
        }
        showPanel(bpmPanel_);
        beatButton_->setEnabled(true);
        copyMenuAutoPopup_ = true;
        if (displayMode_ != kModeNone) {
            beatButton_->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeBpm;
        updateCommands();
    });
}

void MainWindow::showMpmMode() {
    services_.guard("mnuViewMPMClick", [&] {
        if (isShown(mpmPanel_)) {
            return;
        }
        if (isShown(savePanel_)) {
            closeSavePanel();
        }
        showPanel(mpmPanel_);
        beatButton_->setEnabled(true);
        if (displayMode_ != kModeNone) {
            beatButton_->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeMpm;
        if (tap_.tempo() > 0) {
            showMpm(tap_.tempo());
        }
        copyMenuAutoPopup_ = true;
        updateCommands();
    });
}

void MainWindow::showDelayMode() {
    services_.guard("mnuViewTimeCounter", [&] {
        if (isShown(delayPanel_)) {
            return;
        }
        if (isShown(savePanel_)) {
            closeSavePanel();
        }
        showPanel(delayPanel_);
        saveAllowed_ = false;
        beatButton_->setEnabled(true);
        if (displayMode_ != kModeNone) {
            delayPanel_->focusTempoBox();
        } else {
            focusTempoBoxLater();
        }
        displayMode_ = kModeDelay;
        if (tap_.tempo() > 0) {
            delayPanel_->showTimes(tap_.tempo());
            delayPanel_->tempoBox()->selectAll();
            if (const std::optional<Fixed> mean = bpmPanel_->mean()) {
                delayPanel_->showMean(fromStd(
                    formatPattern(halfRounded(services_, *mean), "Avg: 0.0", decimalSeparator())));
            }
        }
        const bool idleMean = !delayPanel_->showsMean();
        if (tap_.tempo() != 0) {
            delayPanel_->setMeanVisible(!idleMean);
        } else if (idleMean) {
            delayPanel_->setMeanVisible(true);
        }
        copyMenuAutoPopup_ = false;
        updateCommands();
    });
}

bool MainWindow::valuesShown() const {
    if (isShown(mpmPanel_)) {
        return mpmPanel_->hasTempo();
    }
    if (isShown(delayPanel_)) {
        return !delayPanel_->tempoText().isEmpty();
    }
    if (isShown(bpmPanel_)) {
        return bpmPanel_->tempo().has_value();
    }
    return false;
}

void MainWindow::refreshFileCommands() {
    services_.guard("mnuFileClick", [&] {
        const bool fromDelay = tap_.state().measurementMode == kModeDelay;
        std::optional<bool> saving;
        if (isShown(delayPanel_) && !fromDelay) {
            saving = false;
        } else if (bpmPanel_->tempo() && isShown(bpmPanel_) && !fromDelay) {
            saving = true;
        } else if (isShown(mpmPanel_) && mpmPanel_->hasTempo() && !fromDelay) {
            saving = true;
        } else if (fromDelay) {
            saving = false;
        }
        if (saving) {
            saveAllowed_ = quickSaveAllowed_ = *saving;
        }
        updateCommands();
    });
}

CommandState MainWindow::commandState() const {
    CommandState state;
    state.saveAllowed = saveAllowed_;
    state.quickSaveAllowed = quickSaveAllowed_;
    state.copyAllowed = valuesShown();
    state.metronomeArmed = metronome_->armed();
    state.alwaysOnTop = desktop_->alwaysOnTop();
    state.translucent = desktop_->translucent();
    state.opacityAvailable = services_.opacityAvailable();
    state.savePanelOpen = isShown(savePanel_);
    state.displayMode = displayMode_;
    state.listening = listening_->listening();
    state.heardTempo = listening_->usableTempo().has_value();
    state.playingFile = nowPlaying_ != nullptr && nowPlaying_->current() &&
                        !nowPlaying_->current()->localFile.isEmpty();
    return state;
}

void MainWindow::updateCommands() {
    commands_->update(commandState());
}

// --- The save panel ----------------------------------------------------------

void MainWindow::showSavePanel() {
    resetButton_->setEnabled(false);
    showStatus(RunStatus::Idle);
    // The measurement ends; its values stay.
    tap_.stop();
    beatButton_->setEnabled(false);
    savePanel_->raise();
    savePanel_->move(44, 24);
    for (QFrame* panel : {static_cast<QFrame*>(mpmPanel_), static_cast<QFrame*>(bpmPanel_),
                          static_cast<QFrame*>(delayPanel_)}) {
        panel->setVisible(false);
    }
    savePanel_->setVisible(true);
    saveAllowed_ = quickSaveAllowed_ = false;
    updateCommands();
}

void MainWindow::closeSavePanel() {
    services_.guard("cmdCancelSaveToFileClick", [&] {
        beatButton_->setEnabled(true);
        resetButton_->setEnabled(true);
        if (displayMode_ == kModeBpm) {
            showPanel(bpmPanel_);
        } else if (displayMode_ == kModeMpm) {
            showPanel(mpmPanel_);
        }
        // After the handler: the panel change may still move the focus.
        QMetaObject::invokeMethod(
            this, [this] { focusBeat(false); }, Qt::QueuedConnection);
    });
}

// --- Focus -------------------------------------------------------------------

void MainWindow::focusTempoBox() {
    services_.guard("ACTIVATE_AND_FOCUS", [&] { delayPanel_->focusTempoBox(); });
}

void MainWindow::focusBeat(bool enableReset) {
    services_.guard("BEAT_ACTIVATE_AND_FOCUS", [&] {
        beatButton_->setFocus(Qt::OtherFocusReason);
        if (enableReset) {
            resetButton_->setEnabled(true);
        }
    });
}

void MainWindow::focusTempoBoxLater() {
    // After the handler that asks for it, which may still move the focus.
    QMetaObject::invokeMethod(this, &MainWindow::focusTempoBox, Qt::QueuedConnection);
}

}  // namespace pulsaro
