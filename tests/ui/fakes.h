#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/window/main_window.h"

// Readable failure messages for texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace pulsaro::testing {

// A clock moved by hand: counter in microseconds, tick in milliseconds.
class FakeClock final : public Clock {
public:
    std::int64_t performanceCount() override { return micros; }
    std::int64_t performanceFrequency() override { return 1'000'000; }
    std::uint64_t tickCountMs() override {
        return startMs + static_cast<std::uint64_t>(micros / 1000);
    }

    bool followsEventTimes() const override { return eventTimes; }

    void advanceMs(double ms) { micros += static_cast<std::int64_t>(ms * 1000.0); }

    // Whether event stamps are on this clock's time line (milliseconds since
    // its start).
    bool eventTimes = false;

    std::uint64_t startMs = 5'000'000;
    std::int64_t micros = 0;
};

// Records every message box instead of showing it.
class ScriptedDialogs final : public Dialogs {
public:
    struct Box {
        QString caption;
        QString text;
        Icon icon;
    };

    struct FileRequest {
        bool save;
        QString caption;
        QString folder;
        QString filter;
        FileDialogOptions options;
    };

    Answer messageBox(QWidget*, const QString& caption, const QString& text, Icon icon,
                      Buttons) override;
    QString openFileName(QWidget*, const QString& caption, const QString& folder,
                         const QString& filter, const FileDialogOptions& options = {}) override;
    QString saveFileName(QWidget*, const QString& caption, const QString& folder,
                         const QString& filter, const FileDialogOptions& options = {}) override;
    // Each answer is one name; the request is recorded like the others.
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& folder,
                              const QString& filter) override {
        const QString chosen = openFileName(parent, caption, folder, filter);
        return chosen.isEmpty() ? QStringList() : QStringList{chosen};
    }

    std::vector<Box> boxes;
    std::vector<FileRequest> fileRequests;
    // What the next file dialogs answer, first first; when none is left the
    // dialog counts as cancelled (an empty name).
    std::deque<QString> fileAnswers;
    // When set, the next message box fails instead of showing.
    int failuresToThrow = 0;
    // Runs while a message box is "open".
    std::function<void()> whileShown;
    Answer answer = Answer::Ok;
};

// Records what the window asks of the sound output; clicks are never heard.
class RecordingAudio final : public AudioOutput {
public:
    struct Start {
        Fixed tempo;
        std::optional<BeatGrid> grid;
        std::uint32_t id;
    };

    int outputDeviceCount() override { return devices; }
    void loadSounds(const std::array<PcmSound, 3>& sounds) override { loaded = sounds; }
    void selectSound(int index) override {
        selected = index;
        ++selections;
    }
    std::uint32_t startClicks(Fixed tempo, std::optional<BeatGrid> grid) override;
    void stopClicks(std::uint32_t id) override;
    void playOnce(int index) override { played.push_back(index); }
    void purge() override;
    std::optional<double> nextClickHeardAt(double) const override { return nextClick; }
    bool outputLost() const override { return lost; }

    int devices = 1;
    // What the output says about the clicks it plays.
    std::optional<double> nextClick;
    bool lost = false;
    std::array<PcmSound, 3> loaded;
    int selected = -2;  // none chosen yet
    int selections = 0;
    std::vector<Start> starts;
    std::vector<int> played;
    int purges = 0;
    // The id clicking now; 0 when silent.
    std::uint32_t clicking = 0;

private:
    std::uint32_t nextId_ = 0;
};

// The real main window with fakes around it, shown on the offscreen screen,
// with its own settings folder and desktop.
struct WindowRig {
    using Prepare = std::function<void(RegistryKey& settings)>;

    // prepare, when given, fills the settings key before the window starts.
    explicit WindowRig(int audioDevices = 1, const Prepare& prepare = {});
    ~WindowRig();

    // Starts another window on the same settings and desktop, as a restart.
    void restart();
    std::optional<RegistryKey> settings() const;

    // A Beat press at the current fake time, then the clock moves on.
    void tapAt(double seconds);
    // Moves the clock and lets the idle timer look at it.
    void idleFor(double seconds);
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void typeText(const QString& text);
    QString text(const char* objectName) const;

    QTemporaryDir home;
    QString desktop;
    FakeClock clock;
    ScriptedDialogs dialogs;
    RecordingAudio audio;
    SettingsStore store;
    AppServices services{dialogs, store};
    // The desktop's notification area, as the next start sees it.
    std::function<bool()> trayAvailable = [] { return false; };
    // The ways out to other music software the next start gets, if any.
    Studio* studio = nullptr;
    // What analyses audio files for the next start; none: the real analysis.
    FileAnalyser* analyser = nullptr;
    // What the next start listens through; empty: nothing to listen to.
    std::function<std::unique_ptr<AudioCapture>()> capture;
    std::unique_ptr<MainWindow> form;
    double nowSeconds = 0;
};

// A menu item of the window, found by its name.
QAction* item(const QWidget& window, const char* objectName);

// A control of the window, found by its name.
template <class Control = QWidget>
Control* child(const QWidget& window, const char* objectName) {
    auto* found = window.findChild<Control*>(QString::fromLatin1(objectName));
    if (found == nullptr) {
        throw std::invalid_argument(std::string("no control named ") + objectName);
    }
    return found;
}

}  // namespace pulsaro::testing
