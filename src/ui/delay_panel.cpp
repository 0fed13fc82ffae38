// The delay time calculator's panel: the tempo box and the triplets switch.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/main_window.h"
#include "ui/shared_operations.h"

namespace pulsaro {

namespace {

constexpr Fixed kLowestTypedTempo = 500'000;
constexpr Fixed kHighestTypedTempo = 2'500'000;

}  // namespace

void MainWindow::DelayPanelDblClick() {
    // Reported like every handler: a failure must not escape into the event loop.
    funcs_.guard("DelayPanelDblClick", [&] {
        tripletsFlag_ = tripletsFlag_ == 0 ? 1 : 0;
        lblTripletsON->setVisible(tripletsFlag_ == 1);
        const QString text = txtDelayBpm->text();
        if (funcs_.IsNumeric(text)) {
            const Fixed tempo = SharedOperations::readFixed(text);
            // A zero tempo has no delay times: show the unknown table
            // instead of failing on the division.
            showDelayTimes(tempo == 0 ? DelayTable::Unknown : delayTable(), tempo);
        }
    });
}

bool MainWindow::txtDelayBpmKeyPress(QChar key) {
    bool accepted = false;
    funcs_.guard("txtDelayBpmKeyPress", [&] {
        accepted = key == QChar(8) || key == QLatin1Char(',') || key == QLatin1Char('.') ||
                   (key >= QLatin1Char('0') && key <= QLatin1Char('9'));
        if (accepted) {
            typedTempoFlag_ = 1;
            cmdReset->setEnabled(true);
        }
    });
    return accepted;
}

void MainWindow::txtDelayBpmChange() {
    funcs_.guard("txtDelayBpmChange", [&] {
        if (typedTempoFlag_ != 1) {
            return;
        }
        const QString text = txtDelayBpm->text();
        if (funcs_.IsNumeric(text)) {
            const Fixed tempo = SharedOperations::readFixed(text);
            if (tempo >= kLowestTypedTempo && tempo <= kHighestTypedTempo) {
                tap_.setTypedTempo(tempo);
                showDelayTimes(delayTable(), tempo);
            }
        } else {
            showDelayTimes(DelayTable::Unknown, 0);
            tap_.setTypedTempo(0);
        }
    });
}

void MainWindow::txtDelayBpmEdited() {
    // Pasting, cutting, deleting and undoing edit the tempo as typing does.
    if (typedTempoFlag_ != 1) {
        typedTempoFlag_ = 1;
        cmdReset->setEnabled(true);
        txtDelayBpmChange();
    }
}

}  // namespace pulsaro
