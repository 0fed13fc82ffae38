#include <QApplication>

#include "audio/audio_output.h"
#include "core/clock.h"
#include "core/settings_store.h"
#include "platform/settings_location.h"
#include "platform/single_instance.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/privata_funktioner.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/widgets.h"

int main(int argc, char* argv[]) {
    // Environment the libraries read is settled here, before any thread runs.
    // A JACK client must never start a server of its own: that server would
    // take the sound card away from the user's own sound setup.
    if (!qEnvironmentVariableIsSet("JACK_NO_START_SERVER")) {
        qputenv("JACK_NO_START_SERVER", "1");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(pulsaro::tr8(pulsaro::res::kAppTitle));
    QApplication::setApplicationDisplayName(pulsaro::tr8(pulsaro::res::kAppTitle));
    // Tooltips and message boxes in the window's face too.
    QApplication::setFont(pulsaro::windowFont(8));

    // A second start hands its arguments to the running copy, which comes to
    // the front, and ends without a window.
    pulsaro::TSingleInstance singleInstance;
    if (singleInstance.start(QCoreApplication::arguments().mid(1)) ==
        pulsaro::TSingleInstance::Role::HandedOver) {
        return 0;
    }

    pulsaro::QtDialogs dialogs;
    pulsaro::SettingsStore store(pulsaro::settingsRoot());
    pulsaro::TPrivataFunktioner funcs(dialogs, store);
    pulsaro::SteadyClock clock;
    const auto audio = pulsaro::makePortAudioOutput();

    pulsaro::TfrmPulsaro frmPulsaro({clock, funcs, *audio});
    // A request to start maximised opens the window in its normal fixed size.
    frmPulsaro.setWindowState(frmPulsaro.windowState() & ~Qt::WindowMaximized);
    frmPulsaro.show();
    singleInstance.setInstanceStarted([&frmPulsaro](const QStringList& arguments) {
        frmPulsaro.SingleInstanceInstanceStarted(arguments);
    });
    return QApplication::exec();
}
