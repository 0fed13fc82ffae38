// The keys of the main window that are not menu shortcuts:
//
//   SPACE, ENTER on Beat   tap, timed as the key goes down; a held key taps once
//   SPACE in the tempo box  back to Beat
//   ENTER elsewhere         the focused button, else the default one (Save while saving)
//   ESC                     cancel the save panel; otherwise close, except that the
//                           first ESC ever during a measurement is ignored
//   Shift+ESC               minimise
//   Ctrl+1, Ctrl+2          lock or unlock the artist, the album (save panel)
//   R                       reset
//   M                       delay panel: metronome at the typed tempo on or off
//   S                       BPM panel: save
//   Q                       QuickSave (not in the delay panel)
//   tempo box characters    digits, the separators and backspace only
//
// The menu shortcuts (F1 to F7, Ctrl+C, Ctrl+O, Ctrl+T) are rows of the
// command table in commands.cpp.

#include "ui/window/key_map.h"
#include "ui/panels/widgets.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <optional>

#include "ui/common/app_services.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/save_panel.h"
#include "ui/saving/result_saver.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

Qt::KeyboardModifiers plainModifiers(Qt::KeyboardModifiers modifiers) {
    return modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

bool isEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
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

// The letter of a letter command: any text but that of an Alt chord (AltGr,
// seen as Ctrl+Alt on some systems, still counts).
std::optional<QChar> commandLetter(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = plainModifiers(event.modifiers());
    const bool altChord =
        modifiers.testFlag(Qt::AltModifier) && !modifiers.testFlag(Qt::ControlModifier);
    const QString text = event.text();
    if (text.size() != 1 || altChord) {
        return std::nullopt;
    }
    return text.front().toUpper();
}

}  // namespace

KeyMap::KeyMap(MainWindow& window) : QObject(&window), window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (qobject_cast<QMenuBar*>(now) != nullptr && now->window() == &window_ &&
                old != nullptr && old != now && old->window() == &window_) {
                focusBeforeMenuBar_ = old;
            }
        });
}

KeyMap::~KeyMap() {
    // Focus moves while the widgets are torn down; the window no longer cares.
    disconnect(focusWatch_);
}

bool KeyMap::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if ((!press && event->type() != QEvent::KeyRelease) || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != &window_) {
        return false;
    }
    const auto& key = static_cast<const QKeyEvent&>(*event);
    // Every stamp teaches the mapping of event times onto the tap clock.
    window_.eventInstant(key.timestamp());
    if (widget == static_cast<QWidget*>(window_.menuBar())) {
        // Keys reach the bar only while it holds the keyboard.
        return press && menuBarKey(key);
    }
    QWidget* focus = window_.focusWidget();
    if (widget != (focus != nullptr ? focus : &window_)) {
        return false;
    }
    return press ? keyPress(key) : keyRelease(key);
}

bool KeyMap::keyPress(const QKeyEvent& event) {
    MainWindow& w = window_;
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = plainModifiers(event.modifiers());
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    QWidget* focus = w.focusWidget();
    const bool saving = isShown(w.savePanel_);

    // ENTER presses the focused button, else the default one: Save while
    // saving, Beat otherwise. SPACE presses the focused button.
    QPushButton* pressed = nullptr;
    if (isEnter(key)) {
        auto* focused = qobject_cast<QPushButton*>(focus);
        pressed = focused != nullptr ? focused
                  : saving           ? w.savePanel_->saveButton()
                                     : w.beatButton_;
    } else if (key == Qt::Key_Space && focus == w.beatButton_) {
        pressed = w.beatButton_;
    }
    if (pressed != nullptr) {
        // A held key presses once.
        if (repeats(event) || !pressed->isEnabled() || !pressed->isVisible()) {
            return true;
        }
        if (pressed == w.beatButton_) {
            // The beat is timed here, as the key goes down.
            const TapInstant at = w.eventInstant(event.timestamp());
            w.beatButton_->setDown(true);
            w.tapBeat(at);
        } else {
            pressed->click();
        }
        return true;
    }

    // The menu shortcuts.
    if (w.commands_->runKey(QKeyCombination(modifiers, static_cast<Qt::Key>(key)))) {
        return true;
    }

    if (key == Qt::Key_Escape) {
        if (saving) {
            w.savePanel_->cancelButton()->click();
            return true;
        }
        w.services_.guard("MainFormKeyDown", [&] {
            if (modifiers.testFlag(Qt::ShiftModifier)) {
                w.setWindowState(w.windowState() | Qt::WindowMinimized);
            } else if (w.tap_.state().intervalCount == 0 || w.escCounter_ > 0) {
                w.close();
            } else {
                w.escCounter_ += 1;
            }
        });
    } else if ((key == Qt::Key_1 || key == Qt::Key_2) && !keypad &&
               modifiers.testFlag(Qt::ControlModifier) && saving) {
        w.savePanel_->toggleLock(key == Qt::Key_1 ? 1 : 2);
    }

    if (const std::optional<QChar> letter = commandLetter(event)) {
        const CommandState state = w.commandState();
        if (*letter == QLatin1Char('R') && w.resetButton_->isEnabled()) {
            w.resetAll();
        } else if (*letter == QLatin1Char('M') && isShown(w.delayPanel_)) {
            w.metronome_->toggleDelayMetronome();
        } else if (*letter == QLatin1Char('S') && state.saveAllowed && isShown(w.bpmPanel_)) {
            w.saver_->openPanel(w.displayMode_);
        } else if (*letter == QLatin1Char('Q') && state.quickSaveAllowed &&
                   !isShown(w.delayPanel_)) {
            w.saver_->quickSave();
        }
    }

    // The tempo box: SPACE goes back to Beat; only digits, the separators and
    // backspace are typed.
    if (focus == w.delayPanel_->tempoBox()) {
        if (key == Qt::Key_Space) {
            w.beatButton_->setFocus(Qt::OtherFocusReason);
        }
        if (const std::optional<QChar> typed = typedCharacter(event)) {
            return !w.delayPanel_->acceptTyped(*typed);
        }
    }
    return false;
}

bool KeyMap::repeats(const QKeyEvent& event) const {
    // Events made without a window system carry no time (0).
    return event.isAutoRepeat() || (event.key() == lastReleasedKey_ && event.timestamp() != 0 &&
                                    event.timestamp() == lastReleaseTime_);
}

bool KeyMap::keyRelease(const QKeyEvent& event) {
    // The release of a tapping key does nothing but let the button up.
    if (event.key() == Qt::Key_Space || isEnter(event.key())) {
        lastReleasedKey_ = event.key();
        lastReleaseTime_ = event.timestamp();
        if (window_.beatButton_->isDown() && !event.isAutoRepeat()) {
            window_.beatButton_->setDown(false);
        }
        return window_.focusWidget() == window_.beatButton_;
    }
    return false;
}

bool KeyMap::menuBarKey(const QKeyEvent& event) {
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
        for (const QAction* title : window_.menuBar()->actions()) {
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
        QWidget* focus = window_.focusWidget();
        QCoreApplication::sendEvent(focus != nullptr ? focus : &window_, &again);
    }
    return true;
}

void KeyMap::leaveMenuBar() {
    QWidget* back = focusBeforeMenuBar_;
    if (back == nullptr || !back->isVisible() || !back->isEnabled()) {
        back = window_.beatButton_;
    }
    // The bar lets go of the keyboard when it loses the focus.
    back->setFocus(Qt::OtherFocusReason);
}

}  // namespace pulsaro
