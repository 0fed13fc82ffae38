// What the window's panels show together: their idle texts, which panel is
// on show and the status of the measurement.

#include <QLabel>
#include <QPushButton>

#include "core/tempo_math.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/mpm_panel.h"
#include "ui/panels/save_panel.h"
#include "ui/panels/tempo_text.h"
#include "ui/window/main_window.h"

namespace pulsaro {

void MainWindow::clearDisplays() {
    services_.guard("ResetControls", [&] {
        mpmPanel_->clear();
        delayPanel_->clear();
        quickSaveAllowed_ = false;
        showStatus(RunStatus::Idle);
        bpmPanel_->clear();
        timeLabel_->setText(tr8(res::kIdleTimer));
        beatsLabel_->setText(tr8(res::kIdleBeats));
        saveAllowed_ = false;
        updateCommands();
        resetButton_->setEnabled(false);
        if (beatButton_->isVisible() && beatButton_->isEnabled() &&
            beatButton_->window()->isVisible()) {
            beatButton_->setFocus(Qt::OtherFocusReason);
        }
    });
}

void MainWindow::showPanel(QFrame* panel) {
    services_.guard("MakePanelVisible", [&] {
        panel->setVisible(true);
        for (QFrame* other :
             {static_cast<QFrame*>(bpmPanel_), static_cast<QFrame*>(mpmPanel_),
              static_cast<QFrame*>(delayPanel_), static_cast<QFrame*>(savePanel_)}) {
            if (other != panel) {
                other->setVisible(false);
            }
        }
        updateCommands();
    });
}

void MainWindow::showStatus(RunStatus status) {
    for (ModePanel* panel : {static_cast<ModePanel*>(bpmPanel_), static_cast<ModePanel*>(mpmPanel_),
                             static_cast<ModePanel*>(delayPanel_)}) {
        panel->setStatus(status);
    }
}

void MainWindow::showMpm(Fixed tempo) {
    services_.guard("CalculateMPM", [&] { mpmPanel_->show(mpmTexts(tempo, decimalSeparator())); });
}

}  // namespace pulsaro
