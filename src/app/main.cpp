#include <QApplication>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/settings_store.h"
#include "platform/settings_location.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/privata_funktioner.h"
#include "ui/string_resources.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(pulsaro::res::kAppTitle));
    QApplication::setApplicationDisplayName(QString::fromUtf8(pulsaro::res::kAppTitle));

    pulsaro::QtDialogs dialogs;
    pulsaro::SettingsStore store(pulsaro::settingsRoot());
    pulsaro::TPrivataFunktioner funcs(dialogs, store);
    pulsaro::SteadyClock clock;
    const auto audio = pulsaro::makePortAudioOutput();

    pulsaro::TfrmPulsaro frmPulsaro({clock, funcs, *audio});
    // A request to start maximised opens the window in its normal fixed size.
    frmPulsaro.setWindowState(frmPulsaro.windowState() & ~Qt::WindowMaximized);
    frmPulsaro.show();
    return QApplication::exec();
}
