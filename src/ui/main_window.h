#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/result_file.h"
#include "core/tap_model.h"
#include "ui/tap_signals.h"

class QAction;
class QCheckBox;
class QKeyEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace pulsaro {

class Dialogs;
class PictureStrip;
class ShapeWidget;
class TPrivataFunktioner;
class TTickTimer;
class TTrayIcon;
class WindowMessageEvent;

// Display names of the three player shortcuts, at most 50 characters each.
struct PlayerNames {
    std::array<QString, 3> names;
};

// What the main window needs from outside; tests pass fakes.
struct MainWindowServices {
    Clock& clock;
    TPrivataFunktioner& funcs;
    AudioOutput& audio;
    // Whether the desktop has a notification area; empty: ask the desktop.
    std::function<bool()> trayAvailable = {};
};

// The one main window. Its controls are public members named like their
// object names, so the shared operations and the tests can reach them.
class TfrmPulsaro final : public QMainWindow {
    Q_OBJECT

public:
    explicit TfrmPulsaro(MainWindowServices services, QWidget* parent = nullptr);
    ~TfrmPulsaro() override;

    // Handlers and commands.
    // A press of Beat (key or mouse) at the instant it arrived.
    void tapBeat(const TapInstant& at);
    void cmdResetClick();
    void DoFullReset();
    void mnuFileExitClick();
    void mnuFileClick();
    void mnuViewBPMClick();
    void mnuViewMPMClick();
    void mnuViewTimeCounterClick();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void FormKeyPress(QChar key);
    void bpmPanelMouseDown(Qt::MouseButton button);
    void DelayPanelDblClick();
    void DelayPanelMouseUp(Qt::MouseButton button, QPoint panelPos);
    bool txtDelayBpmKeyPress(QChar key);
    void txtDelayBpmChange();
    void txtDelayBpmEdited();
    void txtDelayBpmKeyDown(int key);

    // Saving and copying.
    void mnuFileSaveToFileClick();
    void PrepareSaveFields();
    void txtNamesChange(const char* handler);
    void chkLockGroupNameClick();
    void chkLockAlbumNameClick();
    void cmdSaveToFileClick();
    void mnuQuickSaveClick();
    // True when the record was written.
    bool BeginSaveToFileBPM(SaveType type);
    bool BeginSaveToFileMPM(SaveType type);
    void cmdCancelSaveToFileClick();
    void cmdNewFileClick();
    void HideSavingIndicators();
    void CopyResultsToClipboard();
    void popcopybpmvaluePopup();
    // Makes path the current result file and shows it in the save panel.
    void setCurrentResultFile(const QString& path);
    // Marks set at start-up for names read back: the lock boxes are checked
    // when the save panel next opens.
    bool pendingArtistLock = false;
    bool pendingAlbumLock = false;

    // Player shortcuts, Help menu.
    void mnuPlayerClick(int player);
    void mnuHelpAboutClick();
    void mnuHelpWebPageClick();
    void mnuHelpSendMailClick();
    void mnuFileOptionsClick();
    // The sound output, for the settings dialog's preview.
    AudioOutput& audio() { return audio_; }

    // The tray icon and its menu.
    std::unique_ptr<TTrayIcon> TrayIcon;
    void TrayIconDblClick();
    void TrayIconMinimizeToTray();
    void mnuRestoreFromTrayClick();
    void mnuAboutFromTrayClick();
    // A second start of the program handed over to this one.
    void SingleInstanceInstanceStarted(const QStringList& arguments);

    // Opacity, always on top and the window menu.
    void mnuViewTransparancyModeClick();
    void mnuViewAlwaysOnTopClick();
    // A command of the window menu: 800, 802, 804, or kMinimizeCommand.
    void WinMsg(int command);
    static constexpr int kDeleteSettingsCommand = 800;
    static constexpr int kAlwaysOnTopCommand = 802;
    static constexpr int kTransparencyCommand = 804;
    static constexpr int kMinimizeCommand = 0xF020;
    static constexpr int kCloseCommand = 0xF060;
    // The program's own window menu, opened by a right-click on Image1.
    QMenu* windowMenu = nullptr;

    // The metronome.
    std::uint32_t CreateMetronomeTimer(std::uint32_t user, Fixed bpm,
                                       std::optional<BeatGrid> grid = std::nullopt);
    void KillMetronomeTimer();
    void MetronomeDelay();
    void cmdMetronomeDelayClick();
    void mnuFileMetronomeClick();

    // State the shared operations and other parts read or change.
    const TapModel& tapModel() const { return tap_; }
    const TapState& tap() const { return tap_.state(); }
    std::int32_t displayMode() const { return displayMode_; }
    bool soundOutput() const { return soundOutput_; }
    std::int32_t escCounter() const { return escCounter_; }
    std::int32_t tripletsFlag() const { return tripletsFlag_; }
    std::int32_t typedTempoFlag() const { return typedTempoFlag_; }
    void setTypedTempoFlag(std::int32_t flag) { typedTempoFlag_ = flag; }
    TTickTimer* idleTimer() const { return idleTimer_.get(); }
    bool copyMenuAutoPopup() const { return copyMenuAutoPopup_; }

    // Runs when the window is asked to close: writes the exit settings.
    void FormCloseQuery();
    // Centre the window on the desktop when it is first shown.
    void setCentreOnDesktopWhenShown(bool centre) { centreOnShow_ = centre; }
    bool centreOnDesktopWhenShown() const { return centreOnShow_; }

    // -1 once the settings were deleted: nothing is written at exit then.
    int SettingsDeleted = 0;
    // The result file that saving appends to.
    QString currentResultFile;
    PlayerNames playerNames;

    // Metronome state: the id of the last clicking started (0: none, or
    // refused; not cleared by a stop), and whether the delay panel's
    // metronome counts as running.
    std::uint32_t MetronomeTimerId = 0;
    bool DelayMetronomeOn = false;

    // Controls of the client area.
    QWidget* clientArea = nullptr;
    PictureStrip* Image1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* lblTimer = nullptr;
    QLabel* lblBeats = nullptr;
    QFrame* bpmPanel = nullptr;
    QFrame* mpmPanel = nullptr;
    QFrame* DelayPanel = nullptr;
    QFrame* SaveToFilePanel = nullptr;
    QPushButton* cmdBeat = nullptr;
    QPushButton* cmdReset = nullptr;
    QLabel* lblMyName = nullptr;

    QLabel* label534 = nullptr;
    ShapeWidget* Shape1 = nullptr;
    QLabel* lblBPM_Value = nullptr;
    QLabel* lblMedelBPM = nullptr;
    QLabel* lblPitchRange = nullptr;
    QLabel* lblCounterStatus = nullptr;
    QLabel* lblFastSaveActive = nullptr;
    QLabel* cboBPMToFastwarning = nullptr;

    QLabel* Label5 = nullptr;
    QLabel* lblMPM23 = nullptr;
    QLabel* lblMPM2 = nullptr;
    QLabel* lblMPM3 = nullptr;
    QLabel* lblMPM4 = nullptr;
    QLabel* lblMPM8 = nullptr;
    QLabel* lblBPMinMPM = nullptr;
    QLabel* lblCounterStatusMPM = nullptr;
    QLabel* lblFastSaveActive2 = nullptr;
    QLabel* cboMPMToFastwarning = nullptr;

    QLabel* Label20 = nullptr;
    QLineEdit* txtDelayBpm = nullptr;
    QPushButton* cmdMetronomeDelay = nullptr;
    QLabel* lblDelay2xWhole = nullptr;
    QLabel* lblDelayWhole = nullptr;
    QLabel* lblDelayHalf = nullptr;
    QLabel* lblDelayQuarter = nullptr;
    QLabel* lblDelayEight = nullptr;
    QLabel* lblDelaySixteenth = nullptr;
    QLabel* lblDelayThirtySecond = nullptr;
    QLabel* lblDelayMedel = nullptr;
    QLabel* lblCounterStatusMSPB = nullptr;
    QLabel* lblTripletsON = nullptr;
    QLabel* cboTimeToFastwarning = nullptr;

    // The save panel.
    QLabel* lblSaveCaption = nullptr;
    QLabel* lblArtist = nullptr;
    QLineEdit* txtNameOfArtist = nullptr;
    QCheckBox* chkLockGroupName = nullptr;
    QLabel* lblAlbum = nullptr;
    QLineEdit* txtAlbumName = nullptr;
    QCheckBox* chkLockAlbumName = nullptr;
    QLabel* lblTrack = nullptr;
    QLineEdit* txtTrackName = nullptr;
    QLabel* lblFileName = nullptr;
    QPushButton* cmdSaveToFile = nullptr;
    QPushButton* cmdCancelSaveToFile = nullptr;
    QPushButton* cmdNewFile = nullptr;

    // Menus.
    QMenu* mnuFile = nullptr;
    QAction* mnuFileSaveToFile = nullptr;
    QAction* mnuQuickSave = nullptr;
    QAction* mnuFileMetronome = nullptr;
    QAction* mnuFileCopyToClipboard = nullptr;
    QAction* mnuFileOptions = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuViewAlwaysOnTop = nullptr;
    QAction* mnuViewTransparancyMode = nullptr;
    QAction* mnuPlayerOne = nullptr;
    QAction* mnuPlayerTwo = nullptr;
    QAction* mnuPlayerThree = nullptr;
    QAction* mnuAvdelare = nullptr;
    QAction* mnuViewBPM = nullptr;
    QAction* mnuViewMPM = nullptr;
    QAction* mnuViewTimeCounter = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpWebPage = nullptr;
    QAction* mnuHelpSendMail = nullptr;
    QAction* mnuHelpAbout = nullptr;
    QMenu* popcopybpmvalue = nullptr;
    QAction* mnuCopyBPM = nullptr;
    // The tray icon's menu.
    QMenu* popTrayPopup = nullptr;
    QAction* mnuRestoreFromTray = nullptr;
    QAction* mnuAlwaysOnTop = nullptr;
    QAction* mnuTransparency = nullptr;
    QAction* mnuAboutFromTray = nullptr;
    QAction* mnuExitFromTray = nullptr;

    // The delay table's labels, longest note first.
    QLabel* delayLabel(std::size_t row) const;

    // Whether the panel is switched on (regardless of the window being shown).
    static bool shown(const QWidget* widget);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class KeyPreview;

    void FormCreate();
    void buildMenus();
    void buildClientArea();
    void buildBpmPanel();
    void buildMpmPanel();
    void buildDelayPanel();
    void watchMouse();

    void installKeyPreview();
    std::int32_t visibleMode() const;
    void showPress(const TapPress& press);
    void measurementEnded(Fixed tempo, const BeatGrid& grid);
    void tmrIdleTimer();
    void startIdleTimer();
    void startMetronomeAtRunEnd(Fixed tempo, const BeatGrid& grid);
    void loadClickSounds();
    void toggleNameLock(int digit);
    void buildSavePanel();
    void connectToggle(QAction* item, void (TfrmPulsaro::*command)());
    // Writes the record with the names of a full save; on success clears what
    // a save clears and resets the measurement.
    bool finishSave(Record& record);

    // The whole key preview: menu shortcuts, dialog keys, then the window's
    // handlers. True when the key must not reach the focused control.
    bool previewKey(const QKeyEvent& event);

    // A key while the menu bar holds the keyboard: the bar keeps only the keys
    // that move through it; any other key gives the keyboard back to the
    // control that had it and, unless it is ESC, acts there. True when the
    // bar must not see the key.
    bool menuBarKey(const QKeyEvent& event);
    void leaveMenuBar();

    // Menu shortcut keys; true when the key was taken by a menu item.
    bool menuShortcut(int key, Qt::KeyboardModifiers modifiers);
    // ENTER and the dialog keys of buttons; true when the key was taken.
    bool dialogKey(int key, bool autoRepeat);

    // Private messages.
    void SET_CHECK_MINIMZED();
    void SET_OPACITY(const WindowMessageEvent& message);
    void METROSOUND_CHANGED();
    void SET_PLAYER_NAME(const WindowMessageEvent& message);
    void MINIMIZE_TO_TRAY(const WindowMessageEvent& message);
    void ACTIVATE_AND_FOCUS();
    void BEAT_ACTIVATE_AND_FOCUS(const WindowMessageEvent& message);

    // Start-up steps whose work belongs to the settings and desktop parts.
    void checkSoundOutput();
    void extendWindowMenus();
    void buildTrayIcon(std::function<bool()> trayAvailable);
    void decideOpacityAvailable();

    Clock& clock_;
    TPrivataFunktioner& funcs_;
    AudioOutput& audio_;
    std::unique_ptr<KeyPreview> keyPreview_;
    // The control that had the keyboard before the menu bar took it.
    QPointer<QWidget> focusBeforeMenuBar_;
    QMetaObject::Connection focusWatch_;
    std::unique_ptr<TTickTimer> idleTimer_;

    TapModel tap_;
    TapSignals tapSignals_;
    std::int32_t displayMode_ = kModeNone;
    bool soundOutput_ = false;
    std::int32_t escCounter_ = 0;
    std::int32_t tripletsFlag_ = 0;
    std::int32_t typedTempoFlag_ = 0;
    bool copyMenuAutoPopup_ = false;
    bool centreOnShow_ = false;
};

}  // namespace pulsaro
