#include "ui/fakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include <QAction>
#include "core/settings_names.h"
#include "ui/common/tick_timer.h"

namespace pulsaro::testing {

Dialogs::Answer ScriptedDialogs::messageBox(QWidget*, const QString& caption, const QString& text,
                                            Icon icon, Buttons) {
    if (failuresToThrow > 0) {
        --failuresToThrow;
        throw std::runtime_error("message box failed");
    }
    boxes.push_back({caption, text, icon});
    if (whileShown) {
        whileShown();
    }
    return answer;
}

QString ScriptedDialogs::openFileName(QWidget*, const QString& caption, const QString& folder,
                                      const QString& filter, const FileDialogOptions& options) {
    fileRequests.push_back({false, caption, folder, filter, options});
    if (fileAnswers.empty()) {
        return {};
    }
    QString chosen = fileAnswers.front();
    fileAnswers.pop_front();
    return chosen;
}

QString ScriptedDialogs::saveFileName(QWidget*, const QString& caption, const QString& folder,
                                      const QString& filter, const FileDialogOptions& options) {
    fileRequests.push_back({true, caption, folder, filter, options});
    if (fileAnswers.empty()) {
        return {};
    }
    QString chosen = fileAnswers.front();
    fileAnswers.pop_front();
    return chosen;
}

std::uint32_t RecordingAudio::startClicks(Fixed tempo, std::optional<BeatGrid> grid) {
    const std::uint32_t id = tempo > 0 ? ++nextId_ : 0;
    starts.push_back({tempo, grid, id});
    if (id != 0) {
        clicking = id;
    }
    return id;
}

void RecordingAudio::stopClicks(std::uint32_t id) {
    if (id == clicking) {
        clicking = 0;
    }
}

void RecordingAudio::purge() {
    ++purges;
    clicking = 0;
}

WindowRig::WindowRig(int audioDevices, const Prepare& prepare)
    : desktop(home.path() + QStringLiteral("/Desktop")),
      store((home.path() + QStringLiteral("/config")).toStdString()) {
    audio.devices = audioDevices;
    QDir().mkpath(desktop);
    services.setDesktopLookup([this] { return (desktop + QLatin1Char('/')).toStdString(); });
    if (prepare) {
        auto key = RegistryKey::openForWriting(store, settings::kKeyPath, true);
        prepare(*key);
    }
    restart();
}

void WindowRig::restart() {
    form.reset();
    form = std::make_unique<MainWindow>(
        MainWindowServices{clock, services, audio, trayAvailable, studio, analyser, capture});
    form->show();
    QApplication::setActiveWindow(form.get());
    QCoreApplication::processEvents();
}

std::optional<RegistryKey> WindowRig::settings() const {
    return RegistryKey::openReadOnly(store, settings::kKeyPath);
}

WindowRig::~WindowRig() {
    form.reset();
    QCoreApplication::processEvents();
}

void WindowRig::tapAt(double seconds) {
    clock.advanceMs((seconds - nowSeconds) * 1000.0);
    nowSeconds = seconds;
    child<QPushButton>(*form, "cmdBeat")->click();
}

void WindowRig::idleFor(double seconds) {
    const double stepMs = 200;
    for (double done = 0; done < seconds * 1000.0; done += stepMs) {
        clock.advanceMs(stepMs);
        if (TickTimer* timer = form->idleTimer(); timer != nullptr && timer->systemTimerId() != 0) {
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

QAction* item(const QWidget& window, const char* objectName) {
    auto* found = window.findChild<QAction*>(QString::fromLatin1(objectName));
    if (found == nullptr) {
        throw std::invalid_argument(std::string("no menu item named ") + objectName);
    }
    return found;
}

}  // namespace pulsaro::testing
