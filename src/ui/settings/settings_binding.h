#pragma once

#include <QObject>

namespace pulsaro {

class AppServices;
class MainWindow;

// The window's settings: what start-up reads (the place, the display mode,
// the flags of the other parts, the result file, the locked names), what is
// written at exit, the settings dialog, and the deletion of every setting.
class SettingsBinding final : public QObject {
    Q_OBJECT

public:
    SettingsBinding(AppServices& services, MainWindow& window);

    // The place and the state of the last run, read from the settings.
    void restore();
    // Runs when the window is asked to close: writes the exit settings.
    void saveExitSettings();
    void openSettingsDialog();
    // Asks, then deletes every setting of the program and closes without
    // writing them again.
    void deleteSettings();
    bool settingsDeleted() const { return settingsDeleted_; }

private:
    void restorePlace();
    void restoreSettings();

    AppServices& services_;
    MainWindow& window_;
    // Once the settings were deleted nothing is written at exit.
    bool settingsDeleted_ = false;
};

}  // namespace pulsaro
