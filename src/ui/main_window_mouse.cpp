// Mouse commands of the main window: the middle button, the copy menu, the
// window menu, the delay panel's double-click and the file name's hint.

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <optional>

#include "ui/bpm_panel.h"
#include "ui/delay_panel.h"
#include "ui/main_window.h"
#include "ui/mpm_panel.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"
#include "ui/widgets.h"

namespace pulsaro {

// --- Mouse -------------------------------------------------------------------

void MainWindow::watchMouse() {
    for (QWidget* widget : {static_cast<QWidget*>(clientArea), static_cast<QWidget*>(Image1),
                            static_cast<QWidget*>(bpmPanel), static_cast<QWidget*>(mpmPanel),
                            static_cast<QWidget*>(delayPanel), static_cast<QWidget*>(cmdBeat),
                            static_cast<QWidget*>(cmdReset)}) {
        widget->installEventFilter(this);
    }
    for (QFrame* panel : {static_cast<QFrame*>(bpmPanel), static_cast<QFrame*>(mpmPanel),
                          static_cast<QFrame*>(delayPanel)}) {
        for (QLabel* label : panel->findChildren<QLabel*>()) {
            label->installEventFilter(this);
        }
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) {
        return false;
    }
    const bool inDelayPanel = widget == delayPanel || widget->parentWidget() == delayPanel;
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == cmdBeat && mouse.button() == Qt::LeftButton) {
                beatPressStamp_ = mouse.timestamp();
            }
            if (qobject_cast<QLabel*>(widget) == nullptr && mouse.button() == Qt::MiddleButton) {
                bpmPanelMouseDown(mouse.button());
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonDblClick: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == cmdBeat && mouse.button() == Qt::LeftButton) {
                beatPressStamp_ = mouse.timestamp();
            }
            // The second of two quick presses arrives as a double-click only.
            if (qobject_cast<QLabel*>(widget) == nullptr && mouse.button() == Qt::MiddleButton) {
                bpmPanelMouseDown(mouse.button());
                return true;
            }
            if (inDelayPanel && mouse.button() == Qt::LeftButton) {
                delayPanel->toggleTriplets();
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonRelease: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == delayPanel) {
                DelayPanelMouseUp(mouse.button(), mouse.position().toPoint());
            }
            return false;
        }
        case QEvent::ContextMenu: {
            if (widget == Image1 && windowMenu != nullptr) {
                windowMenu->popup(static_cast<const QContextMenuEvent&>(*event).globalPos());
                return true;
            }
            const bool copyTarget =
                widget == bpmPanel || widget == mpmPanel || widget == delayPanel ||
                (qobject_cast<QLabel*>(widget) != nullptr && widget->parentWidget() != clientArea);
            if (copyTarget) {
                if (copyMenuAutoPopup_) {
                    popcopybpmvalue->popup(
                        static_cast<const QContextMenuEvent&>(*event).globalPos());
                }
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void MainWindow::bpmPanelMouseDown(Qt::MouseButton button) {
    if (button != Qt::MiddleButton) {
        return;
    }
    if (shown(bpmPanel)) {
        mnuViewMPMClick();
    } else if (shown(mpmPanel)) {
        mnuViewTimeCounterClick();
    } else if (shown(delayPanel)) {
        mnuViewBPMClick();
    }
}

void MainWindow::DelayPanelMouseUp(Qt::MouseButton button, QPoint panelPos) {
    funcs_.guard("pnlDelayTimeCalculatorMouseUp", [&] {
        if (button == Qt::RightButton) {
            popcopybpmvalue->popup(delayPanel->mapToGlobal(panelPos));
        }
    });
}

}  // namespace pulsaro
