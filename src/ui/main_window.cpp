#include "ui/main_window.h"

#include "ui/key_map.h"

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
#include "ui/accessibility.h"
#include "ui/qt_text.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"
#include "ui/tray_icon.h"
#include "ui/widgets.h"

namespace pulsaro {

namespace {

constexpr int kIdleTimerPeriodMs = 200;
constexpr int kPitchPercent = 8;

// A tempo rounded to whole or half BPM, as the panels show it.
long double halfRounded(SharedOperations& funcs, Fixed value) {
    return toLongDouble(SharedOperations::readFixed(funcs.SpecRoundedBPMValue(value)));
}

std::string decimalSeparator() {
    return SharedOperations::decimalSeparator();
}

}  // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      clock_(services.clock),
      funcs_(services.funcs),
      audio_(services.audio),
      tapSignals_(tap_) {
    setObjectName(QStringLiteral("frmPulsaro"));
    setWindowTitle(tr8(res::kAppTitle));
    setFont(windowFont(8));
    buildMenus();
    buildClientArea();
    buildTrayIcon(std::move(services.trayAvailable));
    // Fixed size: the client area below the menu bar is 258 x 222.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // Take the final size now: placing the window at start-up needs it.
    layout()->activate();
    adjustSize();
    new KeyMap(*this);
    watchMouse();
    FormCreate();
    makeAccessible(*this);
    connect(&tapSignals_, &TapSignals::tapPressed, this, &MainWindow::showPress);
    connect(&tapSignals_, &TapSignals::ended, this, &MainWindow::measurementEnded);
}

bool MainWindow::shown(const QWidget* widget) {
    return !widget->isHidden();
}

MainWindow::~MainWindow() {
    // FormDestroy: the clicking stops with the window.
    KillMetronomeTimer();
}

void MainWindow::FormCreate() {
    funcs_.guard("FormCreate", [&] {
        for (QWidget* panel : {SaveToFilePanel, bpmPanel, mpmPanel, DelayPanel}) {
            panel->move(44, 24);
        }
        clientArea->setFixedSize(258, 222);
        funcs_.SetFormPos(*this);
        lblMyName->setText(funcs_.SetVersionInfo());
        funcs_.GetRegistryData(*this);
        // A settings failure must not leave the window without a panel.
        if (displayMode_ == kModeNone) {
            mnuViewBPMClick();
        }
        loadClickSounds();
        selectClickSoundLater();
        // Asking the sound system for its devices takes a noticeable part of
        // a second, so it is done as soon as the window is on screen.
        cmdMetronomeDelay->setEnabled(false);
        QMetaObject::invokeMethod(this, &MainWindow::checkSoundOutput, Qt::QueuedConnection);
        extendWindowMenus();
        updateCommands();
    });
}

void MainWindow::checkSoundOutput() {
    funcs_.guard("FormCreate", [&] {
        soundOutput_ = audio_.outputDeviceCount() > 0;
        cmdMetronomeDelay->setEnabled(soundOutput_);
    });
}

// --- Tapping ---------------------------------------------------------------

void MainWindow::tapBeat(const TapInstant& at) {
    funcs_.guard("cmdBeatClick", [&] {
        if (!tap_.state().measuring()) {
            tap_.press(at, visibleMode());
        } else {
            funcs_.guard("WriteValues", [&] { tap_.press(at, visibleMode()); });
        }
    });
}

std::int32_t MainWindow::visibleMode() const {
    if (shown(bpmPanel)) {
        return kModeBpm;
    }
    if (shown(mpmPanel)) {
        return kModeMpm;
    }
    if (shown(DelayPanel)) {
        return kModeDelay;
    }
    return kModeNone;
}

void MainWindow::startIdleTimer() {
    idleTimer_.reset();
    idleTimer_ =
        std::make_unique<TTickTimer>(kIdleTimerPeriodMs, [this](TTickTimer&) { tmrIdleTimer(); });
    idleTimer_->OneShot = false;
    idleTimer_->SetActive(true);
}

void MainWindow::showPress(const TapPress& press) {
    if (press.kind == PressKind::First) {
        KillMetronomeTimer();
        clearDisplays();
        cmdReset->setEnabled(true);
        for (QLabel* status : {lblCounterStatus, lblCounterStatusMPM, lblCounterStatusMSPB}) {
            status->setText(tr8(res::kOn));
        }
        startIdleTimer();
        lblBeats->setText(tr8(res::kBeatOne));
        return;
    }
    lblBeats->setText(tr8(res::kBeatsPrefix) + QStringLiteral(" %1").arg(press.beatNumber));
    if (press.kind == PressKind::Uncounted) {
        return;
    }
    const std::string sep = SharedOperations::decimalSeparator();
    saveAllowed_ = quickSaveAllowed_ =
        press.tempo != 0 && (displayMode_ == kModeBpm || displayMode_ == kModeMpm);
    updateCommands();

    if (press.kind == PressKind::TooFast) {
        if (shown(bpmPanel)) {
            cboBPMToFastwarning->setVisible(true);
        }
        if (shown(DelayPanel)) {
            cboTimeToFastwarning->setVisible(true);
        }
        if (shown(mpmPanel)) {
            cboMPMToFastwarning->setVisible(true);
        }
        return;
    }

    lblTimer->setText(tr8(res::kTime) +
                      fromStd(formatPattern(toLongDouble(press.elapsed), " 00.00", sep)));
    if (shown(bpmPanel)) {
        bpmShownTempo_ = press.tempo;
        bpmShownMean_ = press.mean;
        lblPitchRange->setText(funcs_.CalcPitch(kPitchPercent, press.tempo));
        cboBPMToFastwarning->setVisible(false);
        lblBPM_Value->setText(fromStd(formatDecimals(halfRounded(funcs_, press.tempo), 1, sep)));
        lblMedelBPM->setText(fromStd(formatPattern(halfRounded(funcs_, press.mean), "0.0", sep)));
    }
    if (shown(mpmPanel)) {
        cboMPMToFastwarning->setVisible(false);
        showMpm(press.tempo);
        lblBPMinMPM->setText(
            fromStd(formatPattern(halfRounded(funcs_, press.tempo), "BPM: 0.0", sep)));
    }
    if (shown(DelayPanel)) {
        cboTimeToFastwarning->setVisible(false);
        showDelayTimes(delayTable(), press.tempo);
        lblDelayMedel->setText(
            fromStd(formatPattern(halfRounded(funcs_, press.mean), "Avg: 0.0", sep)));
        delayShowsMean_ = true;
    }
}

void MainWindow::tmrIdleTimer() {
    funcs_.guard("tmrIdleTimer", [&] { tap_.checkPause(clock_.tickCountMs()); });
}

void MainWindow::measurementEnded(Fixed tempo, const BeatGrid& grid) {
    for (QLabel* status : {lblCounterStatus, lblCounterStatusMPM, lblCounterStatusMSPB}) {
        status->setText(tr8(res::kTimeout));
    }
    if (idleTimer_) {
        idleTimer_->SetActive(false);
    }
    const std::int32_t measured = tap_.state().measurementMode;
    const bool handOver = measured == displayMode_ && measured != kModeDelay &&
                          !shown(SaveToFilePanel) && metronomeArmed_ && tempo > kMetronomeMinimum;
    if (handOver) {
        startMetronomeAtRunEnd(tempo, grid);
    }
}

// --- Reset and closing -----------------------------------------------------

void MainWindow::cmdResetClick() {
    DoFullReset();
}

void MainWindow::DoFullReset() {
    funcs_.guard("DoFullReset:1", [&] {
        audio_.purge();
        KillMetronomeTimer();
        idleTimer_.reset();
    });
    funcs_.guard("DoFullReset:2", [&] {
        clearDisplays();
        DelayMetronomeOn = false;
        cmdMetronomeDelay->setToolTip(tr8(res::kHintMetronomeOff));
        tap_.reset();
        lblMedelBPM->setText(tr8(res::kIdleBpm));
        bpmShownMean_.reset();
        if (shown(DelayPanel)) {
            focusTempoBoxLater();
        }
    });
}

void MainWindow::mnuFileExitClick() {
    close();
}

void MainWindow::FormCloseQuery() {
    funcs_.guard("FormCloseQuery", [&] {
        if (SettingsDeleted == -1) {
            return;
        }
        // A key that cannot be written is skipped without a word.
        if (auto key = RegistryKey::openForWriting(funcs_.store(), settings::kKeyPath, true)) {
            // One replace of the file for all of them.
            key->batch([&] {
                if (displayMode_ != kModeNone) {
                    key->writeInteger(settings::kLastUsedCounter, displayMode_);
                }
                key->writeInteger(settings::kAlwaysOnTop, alwaysOnTop_ ? 1 : 0);
                key->writeInteger(settings::kMetronomeActive, metronomeArmed_ ? 1 : 0);
                const bool translucent = translucent_ && funcs_.opacityAvailable();
                key->writeInteger(settings::kTransparencyActive, translucent ? 1 : 0);
                if (!key->valueExists(settings::kTransparency)) {
                    key->writeInteger(settings::kTransparency, settings::kDefaultOpacity);
                }
                key->writeInteger(settings::kTop, y());
                key->writeInteger(settings::kLeft, x());
                // The locked names in the same replace.
                SharedOperations::storeLockedNames(*key, txtNameOfArtist->text(),
                                                   txtAlbumName->text(), *this);
            });
        } else {
            funcs_.SaveReadAlbumInfo(txtNameOfArtist->text(), txtAlbumName->text(), nullptr,
                                     nullptr, 0, *this);
        }
    });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (centreOnShow_) {
        centreOnShow_ = false;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect desktop = screen->availableGeometry();
            const QSize size = frameGeometry().size();
            move(desktop.left() + (desktop.width() - size.width()) / 2,
                 desktop.top() + (desktop.height() - size.height()) / 2);
        }
    }
}

// --- Display modes and the File menu ---------------------------------------

void MainWindow::mnuViewBPMClick() {
    funcs_.guard("mnuViewBPMClick", [&] {
        if (shown(bpmPanel)) {
            return;
        }
        showPanel(bpmPanel);
        cmdBeat->setEnabled(true);
        copyMenuAutoPopup_ = true;
        if (displayMode_ != kModeNone) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeBpm;
        updateCommands();
    });
}

void MainWindow::mnuViewMPMClick() {
    funcs_.guard("mnuViewMPMClick", [&] {
        if (shown(mpmPanel)) {
            return;
        }
        if (shown(SaveToFilePanel)) {
            cmdCancelSaveToFileClick();
        }
        showPanel(mpmPanel);
        cmdBeat->setEnabled(true);
        if (displayMode_ != kModeNone) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeMpm;
        if (tap_.tempo() > 0) {
            showMpm(tap_.tempo());
        }
        copyMenuAutoPopup_ = true;
        updateCommands();
    });
}

void MainWindow::mnuViewTimeCounterClick() {
    funcs_.guard("mnuViewTimeCounter", [&] {
        if (shown(DelayPanel)) {
            return;
        }
        if (shown(SaveToFilePanel)) {
            cmdCancelSaveToFileClick();
        }
        showPanel(DelayPanel);
        saveAllowed_ = false;
        cmdBeat->setEnabled(true);
        if (displayMode_ != kModeNone) {
            txtDelayBpm->setFocus(Qt::OtherFocusReason);
            txtDelayBpm->selectAll();
        } else {
            focusTempoBoxLater();
        }
        displayMode_ = kModeDelay;
        if (tap_.tempo() > 0) {
            showDelayTimes(delayTable(), tap_.tempo());
            txtDelayBpm->selectAll();
            if (bpmShownMean_) {
                lblDelayMedel->setText(fromStd(formatPattern(halfRounded(funcs_, *bpmShownMean_),
                                                             "Avg: 0.0", decimalSeparator())));
                delayShowsMean_ = true;
            }
        }
        const bool idleMean = !delayShowsMean_;
        if (tap_.tempo() != 0) {
            lblDelayMedel->setVisible(!idleMean);
        } else if (idleMean) {
            lblDelayMedel->setVisible(true);
        }
        copyMenuAutoPopup_ = false;
        updateCommands();
    });
}

bool MainWindow::valuesShown() const {
    if (shown(mpmPanel)) {
        return mpmShowsTempo_;
    }
    if (shown(DelayPanel)) {
        return !txtDelayBpm->text().isEmpty();
    }
    if (shown(bpmPanel)) {
        return bpmShownTempo_.has_value();
    }
    return false;
}

void MainWindow::refreshFileCommands() {
    funcs_.guard("mnuFileClick", [&] {
        const bool fromDelay = tap_.state().measurementMode == kModeDelay;
        std::optional<bool> saving;
        if (shown(DelayPanel) && !fromDelay) {
            saving = false;
        } else if (bpmShownTempo_ && shown(bpmPanel) && !fromDelay) {
            saving = true;
        } else if (shown(mpmPanel) && mpmShowsTempo_ && !fromDelay) {
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
    state.soundOutput = soundOutput_;
    state.metronomeArmed = metronomeArmed_;
    state.alwaysOnTop = alwaysOnTop_;
    state.translucent = translucent_;
    state.opacityAvailable = funcs_.opacityAvailable();
    state.savePanelOpen = shown(SaveToFilePanel);
    state.displayMode = displayMode_;
    return state;
}

void MainWindow::updateCommands() {
    commands_->update(commandState());
}

// --- Focus -------------------------------------------------------------------

void MainWindow::focusTempoBox() {
    funcs_.guard("ACTIVATE_AND_FOCUS", [&] {
        txtDelayBpm->setFocus(Qt::OtherFocusReason);
        txtDelayBpm->selectAll();
    });
}

void MainWindow::focusBeat(bool enableReset) {
    funcs_.guard("BEAT_ACTIVATE_AND_FOCUS", [&] {
        cmdBeat->setFocus(Qt::OtherFocusReason);
        if (enableReset) {
            cmdReset->setEnabled(true);
        }
    });
}

void MainWindow::focusTempoBoxLater() {
    // After the handler that asks for it, which may still move the focus.
    QMetaObject::invokeMethod(this, &MainWindow::focusTempoBox, Qt::QueuedConnection);
}

}  // namespace pulsaro
