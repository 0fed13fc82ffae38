#include "ui/privata_funktioner.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <array>

#include "core/number_format.h"
#include "core/tempo_math.h"
#include "platform/desktop.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"

namespace pulsaro {

TPrivataFunktioner::TPrivataFunktioner(Dialogs& dialogs, SettingsStore& store)
    : dialogs_(dialogs),
      store_(store),
      desktop_(desktopFolder),
      opacityAvailable_(windowOpacitySupported),
      openUrl_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

TPrivataFunktioner::~TPrivataFunktioner() = default;

void TPrivataFunktioner::ErrorHandler(const QString& name, bool quit) noexcept {
    try {
        QString message = tr8(res::kErrorIn);
        message.replace(QStringLiteral("%s"), name);
        message += QLatin1Char('\n') + tr8(res::kErrorContact);
        dialogs_.messageBox(nullptr, tr8(res::kErrorCaption), message, Dialogs::Icon::Error,
                            Dialogs::Buttons::Ok);
        if (quit) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
    } catch (...) {
        try {
            dialogs_.messageBox(nullptr, tr8(res::kErrorCaption), tr8(res::kErrorInErrorHandler),
                                Dialogs::Icon::Question, Dialogs::Buttons::Ok);
        } catch (...) {
            // Nothing is left to report with.
        }
    }
}

void TPrivataFunktioner::ResetControls(TfrmPulsaro& form) {
    guard("ResetControls", [&] {
        form.setTypedTempoFlag(0);
        const QString idle = tr8(res::kIdleMpmSuffix);
        form.lblMPM2->setText(tr8(res::kHalf) + idle);
        form.lblMPM3->setText(tr8(res::kThird) + idle);
        form.lblMPM23->setText(tr8(res::kTwoThirds) + idle);
        form.lblMPM4->setText(tr8(res::kQuarter) + idle);
        form.lblMPM8->setText(tr8(res::kEighth) + idle);
        for (std::size_t row = 0; row < kDelayRows; ++row) {
            form.delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) +
                                          tr8(res::kDelayIdleValue));
        }
        form.txtDelayBpm->clear();
        form.lblDelayMedel->setText(tr8(res::kIdleDelayMean));
        form.mnuQuickSave->setEnabled(false);
        form.lblDelayMedel->setVisible(true);
        const QString off = tr8(res::kOff);
        form.lblCounterStatus->setText(off);
        form.lblCounterStatusMPM->setText(off);
        form.lblCounterStatusMSPB->setText(off);
        form.lblBPM_Value->setText(tr8(res::kIdleBpm));
        form.lblBPMinMPM->setText(tr8(res::kIdleBpmInMpm));
        form.lblTimer->setText(tr8(res::kIdleTimer));
        form.lblBeats->setText(tr8(res::kIdleBeats));
        form.lblPitchRange->setText(tr8(res::kIdlePitchRange));

        form.mnuFileSaveToFile->setEnabled(false);
        form.cboBPMToFastwarning->setVisible(false);
        form.cboMPMToFastwarning->setVisible(false);
        form.cboTimeToFastwarning->setVisible(false);
        form.cmdReset->setEnabled(false);
        if (form.cmdBeat->isVisible() && form.cmdBeat->isEnabled() &&
            form.cmdBeat->window()->isVisible()) {
            form.cmdBeat->setFocus(Qt::OtherFocusReason);
        }
    });
}

void TPrivataFunktioner::MakePanelVisible(TfrmPulsaro& form, const QString& panel) {
    guard("MakePanelVisible", [&] {
        QWidget* target = nullptr;
        if (panel == QLatin1String("bpm")) {
            target = form.bpmPanel;
        } else if (panel == QLatin1String("mpm")) {
            target = form.mpmPanel;
        } else if (panel == QLatin1String("delay")) {
            target = form.DelayPanel;
        } else if (panel == QLatin1String("save")) {
            target = form.SaveToFilePanel;
        } else {
            return;
        }
        target->setVisible(true);
        for (QWidget* other :
             {form.bpmPanel, form.mpmPanel, form.DelayPanel, form.SaveToFilePanel}) {
            if (other != target) {
                other->setVisible(false);
            }
        }
    });
}

void TPrivataFunktioner::ArrangePanels(TfrmPulsaro& form) {
    for (QWidget* panel : {form.SaveToFilePanel, form.bpmPanel, form.mpmPanel, form.DelayPanel}) {
        panel->move(44, 24);
    }
}

std::string TPrivataFunktioner::decimalSeparator() {
    return QLocale().decimalPoint().toStdString();
}

Fixed TPrivataFunktioner::readFixed(const QString& text) {
    return parseFixed(text.toStdString(), decimalSeparator());
}

bool TPrivataFunktioner::IsNumeric(const QString& text) const {
    return isNumeric(text.toStdString(), decimalSeparator());
}

QString TPrivataFunktioner::CalcPitch(int percent, Fixed tempo) {
    QString text;
    guard("CalcPitch", [&] { text = fromStd(pitchRangeText(percent, tempo, decimalSeparator())); });
    return text;
}

QString TPrivataFunktioner::SpecRoundedBPMValue(Fixed tempo) {
    QString text;
    if (!guard("SpecRoundedBPMValue",
               [&] { text = fromStd(halfRoundedText(tempo, decimalSeparator())); })) {
        text = fromStd(wholeRoundedText(tempo, decimalSeparator()));
    }
    return text;
}

void TPrivataFunktioner::CalculateMPM(TfrmPulsaro& form, Fixed tempo) {
    guard("CalculateMPM", [&] {
        const MpmTexts texts = mpmTexts(tempo, decimalSeparator());
        form.lblBPMinMPM->setText(fromStd(texts.bpm));
        form.lblMPM2->setText(tr8(res::kHalf) + fromStd(texts.half));
        form.lblMPM23->setText(tr8(res::kTwoThirds) + fromStd(texts.twoThirds));
        form.lblMPM3->setText(tr8(res::kThird) + fromStd(texts.third));
        form.lblMPM4->setText(tr8(res::kQuarter) + fromStd(texts.quarter));
        form.lblMPM8->setText(tr8(res::kEighth) + fromStd(texts.eighth));
    });
}

void TPrivataFunktioner::CalculateDelayTime(TfrmPulsaro& form, int kind, Fixed tempo) {
    guard("CalculateDelayTime", [&] {
        if (kind == 0 || kind == 1) {
            const auto values = delayTexts(kind == 1, tempo, decimalSeparator());
            for (std::size_t row = 0; row < kDelayRows; ++row) {
                form.delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) + fromStd(values[row]));
            }
        } else if (kind == 2) {
            for (std::size_t row = 0; row < kDelayRows; ++row) {
                form.delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) +
                                              tr8(res::kDelayUnknownValue));
            }
        }
        if (kind != 2 && form.typedTempoFlag() != 1) {
            form.txtDelayBpm->setText(fromStd(delayBoxText(tempo, decimalSeparator())));
        }
    });
}

}  // namespace pulsaro
