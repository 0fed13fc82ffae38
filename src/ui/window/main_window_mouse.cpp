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

#include "ui/common/app_services.h"
#include "ui/common/string_resources.h"
#include "ui/common/tick_timer.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/mpm_panel.h"
#include "ui/panels/widgets.h"
#include "ui/window/main_window.h"

namespace pulsaro {

// --- Mouse -------------------------------------------------------------------

void MainWindow::watchMouse() {
    for (QWidget* widget :
         {static_cast<QWidget*>(clientArea_), static_cast<QWidget*>(pictureStrip_),
          static_cast<QWidget*>(bpmPanel_), static_cast<QWidget*>(mpmPanel_),
          static_cast<QWidget*>(delayPanel_), static_cast<QWidget*>(beatButton_),
          static_cast<QWidget*>(resetButton_)}) {
        widget->installEventFilter(this);
    }
    for (QFrame* panel : {static_cast<QFrame*>(bpmPanel_), static_cast<QFrame*>(mpmPanel_),
                          static_cast<QFrame*>(delayPanel_)}) {
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
    const bool inDelayPanel = widget == delayPanel_ || widget->parentWidget() == delayPanel_;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        // The second of two quick presses arrives as a double-click only.
        case QEvent::MouseButtonDblClick: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == beatButton_ && mouse.button() == Qt::LeftButton) {
                beatPressStamp_ = mouse.timestamp();
            }
            if (qobject_cast<QLabel*>(widget) == nullptr && mouse.button() == Qt::MiddleButton) {
                nextModeOnMiddleButton(mouse.button());
                return true;
            }
            if (event->type() == QEvent::MouseButtonDblClick && inDelayPanel &&
                mouse.button() == Qt::LeftButton) {
                delayPanel_->toggleTriplets();
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonRelease: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == delayPanel_) {
                delayPanelMouseUp(mouse.button(), mouse.position().toPoint());
            }
            return false;
        }
        case QEvent::ContextMenu: {
            if (widget == pictureStrip_) {
                desktop_->showWindowMenu(static_cast<const QContextMenuEvent&>(*event).globalPos());
                return true;
            }
            const bool copyTarget =
                widget == bpmPanel_ || widget == mpmPanel_ || widget == delayPanel_ ||
                (qobject_cast<QLabel*>(widget) != nullptr && widget->parentWidget() != clientArea_);
            if (copyTarget) {
                if (copyMenuAutoPopup_) {
                    copyMenu_->popup(static_cast<const QContextMenuEvent&>(*event).globalPos());
                }
                return true;
            }
            return false;
        }
        default:
            return false;
    }
}

void MainWindow::nextModeOnMiddleButton(Qt::MouseButton button) {
    if (button != Qt::MiddleButton) {
        return;
    }
    if (isShown(bpmPanel_)) {
        showMpmMode();
    } else if (isShown(mpmPanel_)) {
        showDelayMode();
    } else if (isShown(delayPanel_)) {
        showBpmMode();
    }
}

void MainWindow::delayPanelMouseUp(Qt::MouseButton button, QPoint panelPos) {
    services_.guard("pnlDelayTimeCalculatorMouseUp", [&] {
        if (button == Qt::RightButton) {
            copyMenu_->popup(delayPanel_->mapToGlobal(panelPos));
        }
    });
}

}  // namespace pulsaro
