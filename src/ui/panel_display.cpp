// What the value panels show: their idle texts, which panel is on show, the
// MPM values and the delay table.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/tempo_math.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"

namespace pulsaro {

void MainWindow::clearDisplays() {
    funcs_.guard("ResetControls", [&] {
        typedTempoFlag_ = 0;
        const QString idle = tr8(res::kIdleMpmSuffix);
        lblMPM2->setText(tr8(res::kHalf) + idle);
        lblMPM3->setText(tr8(res::kThird) + idle);
        lblMPM23->setText(tr8(res::kTwoThirds) + idle);
        lblMPM4->setText(tr8(res::kQuarter) + idle);
        lblMPM8->setText(tr8(res::kEighth) + idle);
        mpmShowsTempo_ = false;
        for (std::size_t row = 0; row < kDelayRows; ++row) {
            delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) + tr8(res::kDelayIdleValue));
        }
        txtDelayBpm->clear();
        lblDelayMedel->setText(tr8(res::kIdleDelayMean));
        delayShowsMean_ = false;
        quickSaveAllowed_ = false;
        lblDelayMedel->setVisible(true);
        const QString off = tr8(res::kOff);
        lblCounterStatus->setText(off);
        lblCounterStatusMPM->setText(off);
        lblCounterStatusMSPB->setText(off);
        lblBPM_Value->setText(tr8(res::kIdleBpm));
        bpmShownTempo_.reset();
        lblBPMinMPM->setText(tr8(res::kIdleBpmInMpm));
        lblTimer->setText(tr8(res::kIdleTimer));
        lblBeats->setText(tr8(res::kIdleBeats));
        lblPitchRange->setText(tr8(res::kIdlePitchRange));

        saveAllowed_ = false;
        updateCommands();
        cboBPMToFastwarning->setVisible(false);
        cboMPMToFastwarning->setVisible(false);
        cboTimeToFastwarning->setVisible(false);
        cmdReset->setEnabled(false);
        if (cmdBeat->isVisible() && cmdBeat->isEnabled() && cmdBeat->window()->isVisible()) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
    });
}

void MainWindow::showPanel(QFrame* panel) {
    funcs_.guard("MakePanelVisible", [&] {
        panel->setVisible(true);
        for (QWidget* other : {bpmPanel, mpmPanel, DelayPanel, SaveToFilePanel}) {
            if (other != panel) {
                other->setVisible(false);
            }
        }
        updateCommands();
    });
}

void MainWindow::showMpm(Fixed tempo) {
    funcs_.guard("CalculateMPM", [&] {
        const MpmTexts texts = mpmTexts(tempo, SharedOperations::decimalSeparator());
        lblBPMinMPM->setText(fromStd(texts.bpm));
        lblMPM2->setText(tr8(res::kHalf) + fromStd(texts.half));
        lblMPM23->setText(tr8(res::kTwoThirds) + fromStd(texts.twoThirds));
        lblMPM3->setText(tr8(res::kThird) + fromStd(texts.third));
        lblMPM4->setText(tr8(res::kQuarter) + fromStd(texts.quarter));
        lblMPM8->setText(tr8(res::kEighth) + fromStd(texts.eighth));
        mpmShowsTempo_ = true;
    });
}

void MainWindow::showDelayTimes(DelayTable table, Fixed tempo) {
    funcs_.guard("CalculateDelayTime", [&] {
        const std::string sep = SharedOperations::decimalSeparator();
        if (table == DelayTable::Unknown) {
            for (std::size_t row = 0; row < kDelayRows; ++row) {
                delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) +
                                         tr8(res::kDelayUnknownValue));
            }
            return;
        }
        const auto values = delayTexts(table == DelayTable::Triplets, tempo, sep);
        for (std::size_t row = 0; row < kDelayRows; ++row) {
            delayLabel(row)->setText(tr8(res::kDelayPrefixes[row]) + fromStd(values[row]));
        }
        if (typedTempoFlag_ != 1) {
            txtDelayBpm->setText(fromStd(delayBoxText(tempo, sep)));
        }
    });
}

}  // namespace pulsaro
