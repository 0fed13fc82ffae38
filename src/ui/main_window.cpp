#include "ui/main_window.h"

#include "ui/key_preview.h"

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
#include "ui/privata_funktioner.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"
#include "ui/tray_icon.h"
#include "ui/widgets.h"
#include "ui/window_messages.h"

namespace pulsaro {

namespace {

constexpr int kIdleTimerPeriodMs = 200;
constexpr int kPitchPercent = 8;

}  // namespace

TfrmPulsaro::TfrmPulsaro(MainWindowServices services, QWidget* parent)
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
    installKeyPreview();
    watchMouse();
    FormCreate();
    makeAccessible(*this);
    connect(&tapSignals_, &TapSignals::tapPressed, this, &TfrmPulsaro::showPress);
    connect(&tapSignals_, &TapSignals::ended, this, &TfrmPulsaro::measurementEnded);
}

bool TfrmPulsaro::shown(const QWidget* widget) {
    return !widget->isHidden();
}

TfrmPulsaro::~TfrmPulsaro() {
    // FormDestroy: the clicking stops with the window.
    KillMetronomeTimer();
    // Focus moves while the widgets are torn down; this window no longer cares.
    disconnect(focusWatch_);
}

void TfrmPulsaro::FormCreate() {
    funcs_.guard("FormCreate", [&] {
        funcs_.ArrangePanels(*this);
        clientArea->setFixedSize(258, 222);
        funcs_.SetFormPos(*this);
        lblMyName->setText(funcs_.SetVersionInfo());
        funcs_.GetRegistryData(*this);
        // A settings failure must not leave the window without a panel.
        if (displayMode_ == kModeNone) {
            mnuViewBPMClick();
        }
        loadClickSounds();
        QCoreApplication::postEvent(this,
                                    new WindowMessageEvent(WindowMessage::METROSOUND_CHANGED));
        // Asking the sound system for its devices takes a noticeable part of
        // a second, so it is done as soon as the window is on screen.
        cmdMetronomeDelay->setEnabled(false);
        QMetaObject::invokeMethod(this, &TfrmPulsaro::checkSoundOutput, Qt::QueuedConnection);
        extendWindowMenus();
        sendMessage(*this, WindowMessage::SET_CHECK_MINIMZED);
        decideOpacityAvailable();
    });
}

void TfrmPulsaro::checkSoundOutput() {
    funcs_.guard("FormCreate", [&] {
        soundOutput_ = audio_.outputDeviceCount() > 0;
        cmdMetronomeDelay->setEnabled(soundOutput_);
    });
}

// --- Tapping ---------------------------------------------------------------

void TfrmPulsaro::tapBeat(const TapInstant& at) {
    funcs_.guard("cmdBeatClick", [&] {
        if (!tap_.state().measuring()) {
            tap_.press(at, visibleMode());
        } else {
            funcs_.guard("WriteValues", [&] { tap_.press(at, visibleMode()); });
        }
    });
}

std::int32_t TfrmPulsaro::visibleMode() const {
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

void TfrmPulsaro::startIdleTimer() {
    idleTimer_.reset();
    idleTimer_ =
        std::make_unique<TTickTimer>(kIdleTimerPeriodMs, [this](TTickTimer&) { tmrIdleTimer(); });
    idleTimer_->OneShot = false;
    idleTimer_->SetActive(true);
}

void TfrmPulsaro::showPress(const TapPress& press) {
    if (press.kind == PressKind::First) {
        KillMetronomeTimer();
        funcs_.ResetControls(*this);
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
    const std::string sep = TPrivataFunktioner::decimalSeparator();
    const bool canSave = press.tempo != 0 && (displayMode_ == kModeBpm || displayMode_ == kModeMpm);
    mnuFileSaveToFile->setEnabled(canSave);
    mnuQuickSave->setEnabled(canSave);

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
    const auto halfRounded = [&](Fixed value) {
        return toLongDouble(TPrivataFunktioner::readFixed(funcs_.SpecRoundedBPMValue(value)));
    };
    if (shown(bpmPanel)) {
        lblPitchRange->setText(funcs_.CalcPitch(kPitchPercent, press.tempo));
        cboBPMToFastwarning->setVisible(false);
        lblBPM_Value->setText(fromStd(formatDecimals(halfRounded(press.tempo), 1, sep)));
        lblMedelBPM->setText(fromStd(formatPattern(halfRounded(press.mean), "0.0", sep)));
    }
    if (shown(mpmPanel)) {
        cboMPMToFastwarning->setVisible(false);
        funcs_.CalculateMPM(*this, press.tempo);
        lblBPMinMPM->setText(fromStd(formatPattern(halfRounded(press.tempo), "BPM: 0.0", sep)));
    }
    if (shown(DelayPanel)) {
        cboTimeToFastwarning->setVisible(false);
        funcs_.CalculateDelayTime(*this, tripletsFlag_, press.tempo);
        lblDelayMedel->setText(fromStd(formatPattern(halfRounded(press.mean), "Avg: 0.0", sep)));
    }
}

void TfrmPulsaro::tmrIdleTimer() {
    funcs_.guard("tmrIdleTimer", [&] { tap_.checkPause(clock_.tickCountMs()); });
}

void TfrmPulsaro::measurementEnded(Fixed tempo, const BeatGrid& grid) {
    for (QLabel* status : {lblCounterStatus, lblCounterStatusMPM, lblCounterStatusMSPB}) {
        status->setText(tr8(res::kTimeout));
    }
    if (idleTimer_) {
        idleTimer_->SetActive(false);
    }
    const std::int32_t measured = tap_.state().measurementMode;
    const bool handOver = measured == displayMode_ && measured != kModeDelay &&
                          !shown(SaveToFilePanel) && mnuFileMetronome->isChecked() &&
                          tempo > kMetronomeMinimum;
    if (handOver) {
        startMetronomeAtRunEnd(tempo, grid);
    }
}

// --- Reset and closing -----------------------------------------------------

void TfrmPulsaro::cmdResetClick() {
    DoFullReset();
}

void TfrmPulsaro::DoFullReset() {
    funcs_.guard("DoFullReset:1", [&] {
        audio_.purge();
        KillMetronomeTimer();
        idleTimer_.reset();
    });
    funcs_.guard("DoFullReset:2", [&] {
        funcs_.ResetControls(*this);
        DelayMetronomeOn = false;
        cmdMetronomeDelay->setToolTip(tr8(res::kHintMetronomeOff));
        tap_.reset();
        lblMedelBPM->setText(tr8(res::kIdleBpm));
        if (shown(DelayPanel)) {
            QCoreApplication::postEvent(this,
                                        new WindowMessageEvent(WindowMessage::ACTIVATE_AND_FOCUS));
        }
    });
}

void TfrmPulsaro::mnuFileExitClick() {
    close();
}

void TfrmPulsaro::FormCloseQuery() {
    funcs_.guard("FormCloseQuery", [&] {
        if (SettingsDeleted == -1) {
            return;
        }
        // A key that cannot be written is skipped without a word.
        if (auto key = RegistryKey::openForWriting(funcs_.store(), settings::kKeyPath, true)) {
            // One replace of the file for all of them.
            key->batch([&] {
                if (mnuViewMPM->isChecked()) {
                    key->writeInteger(settings::kLastUsedCounter, kModeMpm);
                } else if (mnuViewBPM->isChecked()) {
                    key->writeInteger(settings::kLastUsedCounter, kModeBpm);
                } else if (mnuViewTimeCounter->isChecked()) {
                    key->writeInteger(settings::kLastUsedCounter, kModeDelay);
                }
                key->writeInteger(settings::kAlwaysOnTop, mnuViewAlwaysOnTop->isChecked() ? 1 : 0);
                key->writeInteger(settings::kMetronomeActive,
                                  mnuFileMetronome->isChecked() ? 1 : 0);
                key->writeInteger(settings::kTransparencyActive,
                                  mnuViewTransparancyMode->isChecked() ? 1 : 0);
                if (!key->valueExists(settings::kTransparency)) {
                    key->writeInteger(settings::kTransparency, settings::kDefaultOpacity);
                }
                key->writeInteger(settings::kTop, y());
                key->writeInteger(settings::kLeft, x());
                // The locked names in the same replace.
                TPrivataFunktioner::storeLockedNames(*key, txtNameOfArtist->text(),
                                                     txtAlbumName->text(), *this);
            });
        } else {
            funcs_.SaveReadAlbumInfo(txtNameOfArtist->text(), txtAlbumName->text(), nullptr,
                                     nullptr, 0, *this);
        }
    });
}

void TfrmPulsaro::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void TfrmPulsaro::showEvent(QShowEvent* event) {
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

void TfrmPulsaro::mnuViewBPMClick() {
    funcs_.guard("mnuViewBPMClick", [&] {
        if (shown(bpmPanel)) {
            return;
        }
        mnuViewBPM->setChecked(true);
        funcs_.MakePanelVisible(*this, QStringLiteral("bpm"));
        cmdBeat->setEnabled(true);
        copyMenuAutoPopup_ = true;
        if (displayMode_ != kModeNone) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeBpm;
    });
}

void TfrmPulsaro::mnuViewMPMClick() {
    funcs_.guard("mnuViewMPMClick", [&] {
        if (shown(mpmPanel)) {
            return;
        }
        if (shown(SaveToFilePanel)) {
            cmdCancelSaveToFileClick();
        }
        mnuViewMPM->setChecked(true);
        funcs_.MakePanelVisible(*this, QStringLiteral("mpm"));
        cmdBeat->setEnabled(true);
        if (displayMode_ != kModeNone) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
        displayMode_ = kModeMpm;
        if (tap_.tempo() > 0) {
            funcs_.CalculateMPM(*this, tap_.tempo());
        }
        copyMenuAutoPopup_ = true;
    });
}

void TfrmPulsaro::mnuViewTimeCounterClick() {
    funcs_.guard("mnuViewTimeCounter", [&] {
        if (shown(DelayPanel)) {
            return;
        }
        if (shown(SaveToFilePanel)) {
            cmdCancelSaveToFileClick();
        }
        funcs_.MakePanelVisible(*this, QStringLiteral("delay"));
        mnuViewTimeCounter->setChecked(true);
        mnuFileSaveToFile->setEnabled(false);
        cmdBeat->setEnabled(true);
        if (displayMode_ != kModeNone) {
            txtDelayBpm->setFocus(Qt::OtherFocusReason);
            txtDelayBpm->selectAll();
        } else {
            QCoreApplication::postEvent(this,
                                        new WindowMessageEvent(WindowMessage::ACTIVATE_AND_FOCUS));
        }
        displayMode_ = kModeDelay;
        if (tap_.tempo() > 0) {
            funcs_.CalculateDelayTime(*this, tripletsFlag_, tap_.tempo());
            txtDelayBpm->selectAll();
            if (lblMedelBPM->text() != tr8(res::kIdleBpm)) {
                lblDelayMedel->setText(tr8(res::kAvgPrefix) + lblMedelBPM->text());
            }
        }
        const bool idleMean = lblDelayMedel->text() == tr8(res::kIdleDelayMean);
        if (tap_.tempo() != 0) {
            lblDelayMedel->setVisible(!idleMean);
        } else if (idleMean) {
            lblDelayMedel->setVisible(true);
        }
        copyMenuAutoPopup_ = false;
    });
}

void TfrmPulsaro::mnuFileClick() {
    funcs_.guard("mnuFileClick", [&] {
        mnuFileMetronome->setEnabled(soundOutput_);

        if (shown(mpmPanel)) {
            mnuFileCopyToClipboard->setEnabled(lblMPM23->text() != tr8(res::kIdleMpm23));
        } else if (shown(DelayPanel)) {
            mnuFileCopyToClipboard->setEnabled(!txtDelayBpm->text().isEmpty());
        } else if (shown(bpmPanel)) {
            mnuFileCopyToClipboard->setEnabled(lblBPM_Value->text() != tr8(res::kIdleBpm));
        }

        const bool fromDelay = tap_.state().measurementMode == kModeDelay;
        std::optional<bool> saving;
        if (shown(DelayPanel) && !fromDelay) {
            saving = false;
        } else if (lblBPM_Value->text() != tr8(res::kIdleBpm) && shown(bpmPanel) && !fromDelay) {
            saving = true;
        } else if (shown(mpmPanel) && lblMPM23->text() != tr8(res::kIdleMpm23) && !fromDelay) {
            saving = true;
        } else if (fromDelay) {
            saving = false;
        }
        if (saving) {
            mnuFileSaveToFile->setEnabled(*saving);
            mnuQuickSave->setEnabled(*saving);
        }
    });
}

// --- Private messages ------------------------------------------------------

bool TfrmPulsaro::event(QEvent* event) {
    switch (static_cast<int>(event->type())) {
        case static_cast<int>(WindowMessage::SET_CHECK_MINIMZED):
            SET_CHECK_MINIMZED();
            return true;
        case static_cast<int>(WindowMessage::SET_OPACITY):
            SET_OPACITY(static_cast<WindowMessageEvent&>(*event));
            return true;
        case static_cast<int>(WindowMessage::METROSOUND_CHANGED):
            METROSOUND_CHANGED();
            return true;
        case static_cast<int>(WindowMessage::SET_PLAYER_NAME):
            SET_PLAYER_NAME(static_cast<WindowMessageEvent&>(*event));
            return true;
        case static_cast<int>(WindowMessage::MINIMIZE_TO_TRAY):
            MINIMIZE_TO_TRAY(static_cast<WindowMessageEvent&>(*event));
            return true;
        case static_cast<int>(WindowMessage::ACTIVATE_AND_FOCUS):
            ACTIVATE_AND_FOCUS();
            return true;
        case static_cast<int>(WindowMessage::BEAT_ACTIVATE_AND_FOCUS):
            BEAT_ACTIVATE_AND_FOCUS(static_cast<WindowMessageEvent&>(*event));
            return true;
        default:
            return QMainWindow::event(event);
    }
}

void TfrmPulsaro::MINIMIZE_TO_TRAY(const WindowMessageEvent& message) {
    TrayIcon->SetMinimizeToTray(message.first() == 1);
}

void TfrmPulsaro::ACTIVATE_AND_FOCUS() {
    funcs_.guard("ACTIVATE_AND_FOCUS", [&] {
        txtDelayBpm->setFocus(Qt::OtherFocusReason);
        txtDelayBpm->selectAll();
    });
}

void TfrmPulsaro::BEAT_ACTIVATE_AND_FOCUS(const WindowMessageEvent& message) {
    funcs_.guard("BEAT_ACTIVATE_AND_FOCUS", [&] {
        cmdBeat->setFocus(Qt::OtherFocusReason);
        if (message.first() == 1) {
            cmdReset->setEnabled(true);
        }
    });
}

}  // namespace pulsaro
