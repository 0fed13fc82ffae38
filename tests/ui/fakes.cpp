#include "fakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "ui/tick_timer.h"

namespace pulsaro::testing {

Dialogs::Answer ScriptedDialogs::messageBox(QWidget*, const QString& caption, const QString& text,
                                            Icon icon, Buttons) {
    if (failuresToThrow > 0) {
        --failuresToThrow;
        throw std::runtime_error("message box failed");
    }
    boxes.push_back({caption, text, icon});
    return answer;
}

WindowRig::WindowRig(int audioDevices) {
    audio.devices = audioDevices;
    form = std::make_unique<TfrmPulsaro>(MainWindowServices{clock, funcs, audio});
    form->show();
    QApplication::setActiveWindow(form.get());
    QCoreApplication::processEvents();
}

WindowRig::~WindowRig() {
    form.reset();
    QCoreApplication::processEvents();
}

void WindowRig::tapAt(double seconds) {
    clock.advanceMs((seconds - nowSeconds) * 1000.0);
    nowSeconds = seconds;
    form->cmdBeat->click();
}

void WindowRig::idleFor(double seconds) {
    const double stepMs = 200;
    for (double done = 0; done < seconds * 1000.0; done += stepMs) {
        clock.advanceMs(stepMs);
        if (TTickTimer* timer = form->idleTimer();
            timer != nullptr && timer->systemTimerId() != 0) {
            dispatchTickForTesting(timer->systemTimerId());
        }
    }
    nowSeconds += seconds;
}

void WindowRig::key(int key, Qt::KeyboardModifiers modifiers) {
    QWidget* target = form->focusWidget() != nullptr ? form->focusWidget() : form.get();
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

void WindowRig::typeText(const QString& text) {
    for (const QChar c : text) {
        QWidget* target = form->focusWidget() != nullptr ? form->focusWidget() : form.get();
        QTest::keyClick(target, c.toLatin1());
    }
}

QString WindowRig::text(const char* objectName) const {
    const QString name = QString::fromLatin1(objectName);
    if (auto* label = form->findChild<QLabel*>(name)) {
        return label->text();
    }
    if (auto* edit = form->findChild<QLineEdit*>(name)) {
        return edit->text();
    }
    if (auto* button = form->findChild<QAbstractButton*>(name)) {
        return button->text();
    }
    throw std::invalid_argument("no control named " + name.toStdString());
}

}  // namespace pulsaro::testing
