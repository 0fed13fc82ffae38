#pragma once

#include <QDialog>

#include "core/studio_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTabWidget;

namespace pulsaro {

class AppServices;
class MainWindow;
class StudioTab;
class ListeningTab;

// The settings dialog of File > Settings: reads the stored settings when it
// is made, writes them and tells the main window on OK. Its controls are
// public members named like their object names, for the tests.
class SettingsDialog final : public QDialog {
    Q_OBJECT

public:
    SettingsDialog(MainWindow& form, AppServices& services);
    ~SettingsDialog() override;

    // Handlers; the controls' signals call them, tests may too.
    void tabSaveToFileShow();
    void tabPlayerShow();
    void tabMetronomeShow();
    void cboFileTypeChange();
    void cmdGenerateFileClick();
    void cmdSelectFileName2Click();
    void txtPlayerOneChange();
    void txtPlayerTwoChange();
    void cmdSelectCDPlayerClick();
    void cmdBrowsePlayerTwoClick();
    void cmdBrowsePlayerThreeClick();
    void cboMetronomeSoundChange();
    void cmdMetronomePreviewClick();
    void trbTranspEnter();
    void trbTranspChange();
    void cmdOKClick();
    void cmdCancelClick();

    // Set anew each time the dialog is made.
    bool OpacitySliderEntered = false;
    bool OpacitySliderChanged = false;
    bool MetronomeSoundChanged = false;
    int OpacityAtOpen = 0;
    // Whether the file type was changed since the last default file name;
    // false at program start and kept from one opening to the next.
    static inline bool FileTypeChanged = false;

    QTabWidget* PageControl1 = nullptr;
    QLabel* lblMyName = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

    // Filesaving.
    QWidget* tabSaveToFile = nullptr;
    QLabel* lblFileType = nullptr;
    QComboBox* cboFileType = nullptr;
    QLabel* lblDelimiter = nullptr;
    QComboBox* cboDelimiter = nullptr;
    QLabel* lblFileName = nullptr;
    QLineEdit* txtFileName = nullptr;
    QPushButton* cmdSelectFileName2 = nullptr;
    QLabel* lblQuickSaveNote = nullptr;
    QPushButton* cmdGenerateFile = nullptr;

    // Shortcuts.
    QWidget* tabPlayer = nullptr;
    QLabel* lbltxtPlayerOne = nullptr;
    QLineEdit* txtPlayerOne = nullptr;
    QPushButton* cmdSelectCDPlayer = nullptr;
    QLabel* lbltxtPlayerTwo = nullptr;
    QLineEdit* txtPlayerTwo = nullptr;
    QPushButton* cmdBrowsePlayerTwo = nullptr;
    QLabel* lbltxtPlayerThree = nullptr;
    QLineEdit* txtPlayerThree = nullptr;
    QPushButton* cmdBrowsePlayerThree = nullptr;

    // Misc.
    QWidget* tabMetronome = nullptr;
    QGroupBox* grpMetronome = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cboMetronomeSound = nullptr;
    QPushButton* cmdMetronomePreview = nullptr;
    QLabel* lblNoSoundCardInstalled = nullptr;
    QGroupBox* grpOpacity = nullptr;
    QSlider* trbTransp = nullptr;
    QLabel* lblCurrentTransparant = nullptr;
    QLabel* lblWrongOS = nullptr;
    QGroupBox* grpTrayicon = nullptr;
    QCheckBox* chkMinimizeToTray = nullptr;
    QLabel* lblTrayHint = nullptr;
    QGroupBox* grpCenterWindow = nullptr;
    QCheckBox* chkCenterForm = nullptr;

    // Other music software.
    StudioTab* tabStudio = nullptr;
    ListeningTab* tabListening = nullptr;
    // A change on that page: tried at once, so what cannot work says why.
    void studioChange();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFileTab();
    void buildPlayerTab();
    void buildMiscTab();
    void connectHandlers();
    void restoreAtStart();
    // Shortcut 2 or 3 (its label, edit box and browse button) on or off; the
    // text stays either way.
    void enablePlayerGroup(int player, bool enabled);
    void browseProgram(QLineEdit* box, int player);

    MainWindow& form_;
    AppServices& services_;
    // What was in effect when the dialog opened, for Cancel.
    StudioSettings studioAtOpen_;
};

// Shows the settings dialog modally on the main window; QDialog's result.
int runSettingsDialog(MainWindow& form, AppServices& services);

}  // namespace pulsaro
