// What the window's panels show together: their idle texts, which panel is
// on show and the status of the measurement.

#include <QLabel>
#include <QPushButton>

#include "core/tempo_math.h"
#include "ui/bpm_panel.h"
#include "ui/delay_panel.h"
#include "ui/main_window.h"
#include "ui/mpm_panel.h"
#include "ui/qt_text.h"
#include "ui/save_panel.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"

namespace pulsaro {

void MainWindow::clearDisplays() {
    funcs_.guard("ResetControls", [&] {
        mpmPanel->clear();
        delayPanel->clear();
        quickSaveAllowed_ = false;
        showStatus(RunStatus::Idle);
        bpmPanel->clear();
        lblTimer->setText(tr8(res::kIdleTimer));
        lblBeats->setText(tr8(res::kIdleBeats));
        saveAllowed_ = false;
        updateCommands();
        cmdReset->setEnabled(false);
        if (cmdBeat->isVisible() && cmdBeat->isEnabled() && cmdBeat->window()->isVisible()) {
            cmdBeat->setFocus(Qt::OtherFocusReason);
        }
    });
}

void MainWindow::showPanel(QFrame* panel) {
    funcs_.guard("MakePanelVisible", [&] {
        panel->setVisible(true);
        for (QFrame* other : {static_cast<QFrame*>(bpmPanel), static_cast<QFrame*>(mpmPanel),
                              static_cast<QFrame*>(delayPanel), static_cast<QFrame*>(savePanel)}) {
            if (other != panel) {
                other->setVisible(false);
            }
        }
        updateCommands();
    });
}

void MainWindow::showStatus(RunStatus status) {
    for (ModePanel* panel : {static_cast<ModePanel*>(bpmPanel), static_cast<ModePanel*>(mpmPanel),
                             static_cast<ModePanel*>(delayPanel)}) {
        panel->setStatus(status);
    }
}

void MainWindow::showMpm(Fixed tempo) {
    funcs_.guard("CalculateMPM",
                 [&] { mpmPanel->show(mpmTexts(tempo, SharedOperations::decimalSeparator())); });
}

}  // namespace pulsaro
