// Keyboard and mouse commands of the main window.

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <optional>

#include "ui/key_preview.h"
#include "ui/main_window.h"
#include "ui/privata_funktioner.h"
#include "ui/string_resources.h"
#include "ui/tick_timer.h"
#include "ui/widgets.h"
#include "ui/window_messages.h"

namespace pulsaro {

namespace {

Qt::KeyboardModifiers plainModifiers(Qt::KeyboardModifiers modifiers) {
    return modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

// The character a key would put into a text box: printable text typed
// without a command modifier (AltGr, seen as Ctrl+Alt, still types), or
// backspace. Editing commands (Ctrl+A, Ctrl+V, Delete, ...) are none.
std::optional<QChar> typedCharacter(const QKeyEvent& event) {
    const QString text = event.text();
    if (text.size() != 1) {
        return std::nullopt;
    }
    const QChar c = text.front();
    if (c == QChar(8)) {
        return c;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool command =
        modifiers.testFlag(Qt::ControlModifier) != modifiers.testFlag(Qt::AltModifier);
    if (!c.isPrint() || command) {
        return std::nullopt;
    }
    return c;
}

}  // namespace

void TfrmPulsaro::installKeyPreview() {
    keyPreview_ = std::make_unique<KeyPreview>(*this);
    QCoreApplication::instance()->installEventFilter(keyPreview_.get());
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (qobject_cast<QMenuBar*>(now) != nullptr && now->window() == this &&
                old != nullptr && old != now && old->window() == this) {
                focusBeforeMenuBar_ = old;
            }
        });
}

bool TfrmPulsaro::menuBarKey(const QKeyEvent& event) {
    const int key = event.key();
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
            return false;
        default:
            break;
    }
    // A title's access letter opens its menu.
    if (!event.modifiers().testFlag(Qt::ControlModifier)) {
        for (const QAction* title : menuBar()->actions()) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(title->text());
            if (!mnemonic.isEmpty() && mnemonic[0].key() == key && title->isVisible()) {
                return false;
            }
        }
    }
    leaveMenuBar();
    if (key != Qt::Key_Escape) {
        QKeyEvent again(event.type(), key, event.modifiers(), event.nativeScanCode(),
                        event.nativeVirtualKey(), event.nativeModifiers(), event.text(),
                        event.isAutoRepeat(), static_cast<quint16>(event.count()));
        QCoreApplication::sendEvent(focusWidget() != nullptr ? focusWidget() : this, &again);
    }
    return true;
}

void TfrmPulsaro::leaveMenuBar() {
    QWidget* back = focusBeforeMenuBar_;
    if (back == nullptr || !back->isVisible() || !back->isEnabled()) {
        back = cmdBeat;
    }
    // The bar lets go of the keyboard when it loses the focus.
    back->setFocus(Qt::OtherFocusReason);
}

bool TfrmPulsaro::previewKey(const QKeyEvent& event) {
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = plainModifiers(event.modifiers());
    if (menuShortcut(key, modifiers) || dialogKey(key, event.isAutoRepeat())) {
        return true;
    }
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    FormKeyDown(keypad ? Qt::Key_unknown : key, modifiers);
    // An Alt chord is a command key, not a typed character (AltGr, seen as
    // Ctrl+Alt on some systems, still types).
    const bool altChord =
        modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier);
    const QString text = event.text();
    if (text.size() == 1 && !altChord) {
        FormKeyPress(text.front());
    }
    return false;
}

bool TfrmPulsaro::menuShortcut(int key, Qt::KeyboardModifiers modifiers) {
    QAction* item = nullptr;
    bool fileItem = false;
    if (modifiers == Qt::NoModifier) {
        switch (key) {
            case Qt::Key_F1:
                item = mnuHelpAbout;
                break;
            case Qt::Key_F2:
                item = mnuQuickSave;
                fileItem = true;
                break;
            case Qt::Key_F3:
                item = mnuFileSaveToFile;
                fileItem = true;
                break;
            case Qt::Key_F4:
                item = mnuFileMetronome;
                fileItem = true;
                break;
            case Qt::Key_F5:
                item = mnuViewBPM;
                break;
            case Qt::Key_F6:
                item = mnuViewMPM;
                break;
            case Qt::Key_F7:
                item = mnuViewTimeCounter;
                break;
            default:
                break;
        }
    } else if (modifiers == Qt::ControlModifier) {
        switch (key) {
            case Qt::Key_C:
                item = mnuFileCopyToClipboard;
                fileItem = true;
                break;
            case Qt::Key_O:
                item = mnuViewAlwaysOnTop;
                break;
            case Qt::Key_T:
                item = mnuViewTransparancyMode;
                break;
            default:
                break;
        }
    }
    if (item == nullptr) {
        return false;
    }
    // The File menu decides its items afresh, as when it opens.
    if (fileItem) {
        mnuFileClick();
    }
    if (!item->isEnabled()) {
        return false;
    }
    item->trigger();
    return true;
}

bool TfrmPulsaro::dialogKey(int key, bool autoRepeat) {
    const bool saving = shown(SaveToFilePanel);
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // A held key presses once.
        if (autoRepeat) {
            return true;
        }
        // The focused button, else the default one: Save while saving.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* button = focused != nullptr ? focused : saving ? cmdSaveToFile : cmdBeat;
        if (button->isEnabled() && button->isVisible()) {
            button->click();
        }
        return true;
    }
    if (key == Qt::Key_Escape && saving) {
        cmdCancelSaveToFile->click();
        return true;
    }
    return false;
}

void TfrmPulsaro::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    funcs_.guard("MainFormKeyDown", [&] {
        if (key == Qt::Key_Escape) {
            if (modifiers.testFlag(Qt::ShiftModifier)) {
                setWindowState(windowState() | Qt::WindowMinimized);
            } else if (tap_.state().intervalCount == 0 || escCounter_ > 0) {
                close();
            } else {
                escCounter_ += 1;
            }
        } else if ((key == Qt::Key_1 || key == Qt::Key_2) &&
                   modifiers.testFlag(Qt::ControlModifier) && shown(SaveToFilePanel)) {
            toggleNameLock(key == Qt::Key_1 ? 1 : 2);
        }
    });
}

void TfrmPulsaro::FormKeyPress(QChar key) {
    const QChar upper = key.toUpper();
    if (upper == QLatin1Char('R') && cmdReset->isEnabled()) {
        DoFullReset();
    } else if (upper == QLatin1Char('M') && shown(DelayPanel) && soundOutput_) {
        MetronomeDelay();
    } else if (upper == QLatin1Char('S') && mnuFileSaveToFile->isEnabled() && shown(bpmPanel)) {
        mnuFileSaveToFileClick();
    } else if (upper == QLatin1Char('Q') && mnuQuickSave->isEnabled() && !shown(DelayPanel)) {
        mnuQuickSaveClick();
    }
}

// --- Mouse -------------------------------------------------------------------

void TfrmPulsaro::watchMouse() {
    for (QWidget* widget : {static_cast<QWidget*>(clientArea), static_cast<QWidget*>(Image1),
                            static_cast<QWidget*>(bpmPanel), static_cast<QWidget*>(mpmPanel),
                            static_cast<QWidget*>(DelayPanel), static_cast<QWidget*>(cmdBeat),
                            static_cast<QWidget*>(cmdReset)}) {
        widget->installEventFilter(this);
    }
    for (QFrame* panel : {bpmPanel, mpmPanel, DelayPanel}) {
        for (QLabel* label : panel->findChildren<QLabel*>()) {
            label->installEventFilter(this);
        }
    }
    txtDelayBpm->installEventFilter(this);
}

bool TfrmPulsaro::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtDelayBpm) {
        if (event->type() == QEvent::KeyPress) {
            const auto& keyEvent = static_cast<const QKeyEvent&>(*event);
            txtDelayBpmKeyDown(keyEvent.key());
            if (const std::optional<QChar> typed = typedCharacter(keyEvent)) {
                return !txtDelayBpmKeyPress(*typed);
            }
        }
        return false;
    }
    if (watched == lblFileName && event->type() == QEvent::Enter) {
        // lblFileNameMouseEnter: the hint shows the whole path.
        lblFileName->setToolTip(currentResultFile);
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) {
        return false;
    }
    const bool inDelayPanel = widget == DelayPanel || widget->parentWidget() == DelayPanel;
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (qobject_cast<QLabel*>(widget) == nullptr && mouse.button() == Qt::MiddleButton) {
                bpmPanelMouseDown(mouse.button());
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonDblClick: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            // The second of two quick presses arrives as a double-click only.
            if (qobject_cast<QLabel*>(widget) == nullptr && mouse.button() == Qt::MiddleButton) {
                bpmPanelMouseDown(mouse.button());
                return true;
            }
            if (inDelayPanel && mouse.button() == Qt::LeftButton) {
                DelayPanelDblClick();
                return true;
            }
            return false;
        }
        case QEvent::MouseButtonRelease: {
            const auto& mouse = static_cast<const QMouseEvent&>(*event);
            if (widget == DelayPanel) {
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
                widget == bpmPanel || widget == mpmPanel || widget == DelayPanel ||
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

void TfrmPulsaro::bpmPanelMouseDown(Qt::MouseButton button) {
    if (button != Qt::MiddleButton) {
        return;
    }
    if (shown(bpmPanel)) {
        mnuViewMPMClick();
    } else if (shown(mpmPanel)) {
        mnuViewTimeCounterClick();
    } else if (shown(DelayPanel)) {
        mnuViewBPMClick();
    }
}

void TfrmPulsaro::DelayPanelMouseUp(Qt::MouseButton button, QPoint panelPos) {
    funcs_.guard("pnlDelayTimeCalculatorMouseUp", [&] {
        if (button == Qt::RightButton) {
            popcopybpmvalue->popup(DelayPanel->mapToGlobal(panelPos));
        }
    });
}

}  // namespace pulsaro
