#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/event_time.h"
#include "core/result_file.h"
#include "core/studio_settings.h"
#include "core/tap_model.h"
#include "ui/window/commands.h"
#include "ui/window/tap_signals.h"

class QAction;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace pulsaro {

class DesktopPresence;
class HelpCommands;
class SettingsBinding;
class AnalysisWindow;
class AudioCapture;
class ListeningController;
class NowPlaying;
class FileAnalyser;
class MetronomeController;
class ResultSaver;
class Studio;

class Dialogs;
class PictureStrip;
class BpmPanel;
class DelayPanel;
class MpmPanel;
class SavePanel;
class AppServices;
class TickTimer;
class TrayIcon;

// What the main window needs from outside; tests pass fakes.
struct MainWindowServices {
    Clock& clock;
    AppServices& app;
    AudioOutput& audio;
    // Whether the desktop has a notification area; empty: ask the desktop.
    std::function<bool()> trayAvailable = {};
    // The tempo's ways out to other music software; none: the window has
    // none of them.
    Studio* studio = nullptr;
    // What analyses audio files; none: the decoder and the tempo analysis,
    // with the preferred range from the settings.
    FileAnalyser* analyser = nullptr;
    // What listens to the sound server; empty: nothing can be listened to.
    std::function<std::unique_ptr<AudioCapture>()> capture = {};
    // The playing track of the desktop's media players; none: not asked.
    NowPlaying* nowPlaying = nullptr;
};

class MainWindow;

// The objects the window is made of, each the owner of its own state; the
// command table runs its commands on them.
struct WindowParts {
    MainWindow& window;
    MetronomeController& metronome;
    ResultSaver& saver;
    DesktopPresence& desktop;
    HelpCommands& help;
    SettingsBinding& settings;
    ListeningController& listening;
    // The ways out to other music software, or none.
    Studio* studio;
};

// The one main window: it builds the panels, the menus (from the command
// table) and the key map, and wires them to the tap model, the metronome and
// the result file. Its controls are private; tests find them by object name.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The objects the window is made of.
    const WindowParts& parts() const { return *parts_; }

    void resetAll();
    // Makes tempo the current tempo, as a typed one: the panel on show, the
    // metronome, Link and the MIDI clock follow it (on grid when given).
    void useTempo(Fixed tempo, std::optional<BeatGrid> grid = std::nullopt);
    // The tempo heard while listening becomes the current tempo, the clicks
    // on its beats.
    void useHeardTempo();
    // The file the playing track is in, analysed in the results window.
    void analysePlayingFile();
    // The results window, with files and folders to analyse added.
    void analyseFiles(const QStringList& paths);
    void showBpmMode();
    void showMpmMode();
    void showDelayMode();
    // The File menu's saving and copying items, decided afresh from the
    // measurement (as when the menu opens).
    void refreshFileCommands();
    // What enabling and check marks depend on now.
    CommandState commandState() const;
    // One pass over every command's enabling and check mark.
    void updateCommands();

    // Turns the ways out to other music software on or off as settings says
    // and stores what is in effect; what could not be turned on is in the
    // studio's problems().
    void applyStudioSettings(const StudioSettings& settings);

    const TapState& tap() const { return tap_.state(); }
    std::int32_t displayMode() const { return displayMode_; }
    // The timer that ends a measurement after a pause (none between them).
    TickTimer* idleTimer() const { return idleTimer_.get(); }
    // Centre the window on the desktop when it is first shown.
    void setCentreOnDesktopWhenShown(bool centre) { centreOnShow_ = centre; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class KeyMap;

    // A press of Beat (key or mouse) at the instant it happened.
    void tapBeat(const TapInstant& at);
    // When an input event stamped eventMs by the window system happened: its
    // stamp mapped onto the tap clock where the clock follows event times,
    // else the moment it arrived. Every stamp seen makes the mapping better.
    TapInstant eventInstant(std::uint64_t eventMs);
    void nextModeOnMiddleButton(Qt::MouseButton button);
    void delayPanelMouseUp(Qt::MouseButton button, QPoint panelPos);
    // The keyboard to the tempo box (its text selected) or to Beat.
    void focusTempoBox();
    void focusBeat(bool enableReset);
    // Every display back to its idle text; no warnings, Reset disabled.
    void clearDisplays();
    // Shows panel (a mode panel or the save panel) and hides the others.
    void showPanel(QFrame* panel);
    // The status of the measurement on every value panel.
    void showStatus(RunStatus status);
    // The MPM panel's values for tempo.
    void showMpm(Fixed tempo);

    // Controls of the client area.
    QWidget* clientArea_ = nullptr;
    PictureStrip* pictureStrip_ = nullptr;
    QFrame* timeSlot_ = nullptr;
    QFrame* beatsSlot_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QLabel* beatsLabel_ = nullptr;
    BpmPanel* bpmPanel_ = nullptr;
    MpmPanel* mpmPanel_ = nullptr;
    DelayPanel* delayPanel_ = nullptr;
    SavePanel* savePanel_ = nullptr;
    QPushButton* beatButton_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QLabel* creditLabel_ = nullptr;
    QLabel* heardLabel_ = nullptr;

    // Menus.
    QMenu* fileMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QAction* playerSeparator_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* copyMenu_ = nullptr;

    void restoreAtStart();
    void buildMenus();
    void buildClientArea();
    void watchMouse();

    std::int32_t visibleMode() const;
    void showPress(const TapPress& press);
    void measurementEnded(Fixed tempo, const BeatGrid& grid);
    void checkPause();
    void startIdleTimer();
    // The save panel in the mode panel's place, the measurement stopped.
    void showSavePanel();
    // Back from the save panel to the mode panel.
    void closeSavePanel();

    // Private messages.
    void focusTempoBoxLater();

    // The credit line, or what it says in its place.
    void showCreditLine();
    // Listening: the heard line in the credit line's place and the mark.
    void showHeardLine();
    void connectListening(MainWindowServices& services);
    // A tempo's values on the panel on show.
    void showTempo(Fixed tempo);
    // The playing track's names for the save panel's empty boxes.
    void offerPlayingNames();
    void connectStudio();

    Clock& clock_;
    AppServices& services_;
    AudioOutput& audio_;
    Studio* studio_ = nullptr;
    std::unique_ptr<TickTimer> idleTimer_;

    TapModel tap_;
    TapSignals tapSignals_;
    EventTimeMap eventTimes_;
    // The stamp of the mouse press on Beat that is being handled.
    std::uint64_t beatPressStamp_ = 0;
    std::int32_t displayMode_ = kModeNone;
    std::int32_t escCounter_ = 0;
    bool copyMenuAutoPopup_ = false;
    CommandSet* commands_ = nullptr;
    // The File menu's saving items, as the measurement last decided them.
    bool saveAllowed_ = false;
    bool quickSaveAllowed_ = false;
    MetronomeController* metronome_ = nullptr;
    ResultSaver* saver_ = nullptr;
    DesktopPresence* desktop_ = nullptr;
    HelpCommands* help_ = nullptr;
    SettingsBinding* settings_ = nullptr;
    ListeningController* listening_ = nullptr;
    NowPlaying* nowPlaying_ = nullptr;
    std::unique_ptr<FileAnalyser> ownAnalyser_;
    FileAnalyser* analyser_ = nullptr;
    AnalysisWindow* analysisWindow_ = nullptr;
    std::unique_ptr<WindowParts> parts_;
    // Whether the panel on show has values to copy.
    bool valuesShown() const;
    bool centreOnShow_ = false;
};

}  // namespace pulsaro
