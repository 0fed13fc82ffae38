#include <QApplication>
#include <QDBusConnection>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_capture.h"
#include "audio/audio_output.h"
#include "audio/midi_ports.h"
#include "core/clock.h"
#include "core/settings_store.h"
#include "platform/global_shortcut.h"
#include "platform/link_session.h"
#include "platform/now_playing.h"
#include "platform/settings_location.h"
#include "platform/single_instance.h"
#include "ui/analysis/command_line_analysis.h"
#include "ui/common/app_services.h"
#include "ui/common/build_info.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/panels/widgets.h"
#include "ui/studio/studio.h"
#include "ui/window/main_window.h"

namespace {

constexpr char kUsage[] =
    "Usage: pulsaro [--help | --version]\n"
    "       pulsaro --analyze FILE_OR_FOLDER...\n"
    "\n"
    "Tap the beat and read the tempo: BPM, measures per minute and delay times,\n"
    "with a metronome and results kept in a delimited text file.\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n"
    "  --analyze FILE_OR_FOLDER...\n"
    "              find the tempo of audio files (folders are searched) and print\n"
    "              one TAB-separated line per file: file, bpm, uncertainty,\n"
    "              first_beat_s, artist, album, title, note; opens no window.\n"
    "              Exit status 0 when every file has a tempo, 1 when any has\n"
    "              not, 2 when no file or folder is named.\n"
    "\n"
    "Keys: SPACE or ENTER tap, R reset, F2 quick save, F3 save, F4 metronome,\n"
    "F5/F6/F7 BPM, MPM and delay modes, F8 analyse files, ESC close.\n"
    "Starting it while it runs brings the running copy to the front.\n";

// "Pulsaro 6.5 (build 2968)" from the project version 6.5.0.2968.
std::string versionLine() {
    const std::string version = pulsaro::build::kVersion;
    const auto first = version.find('.');
    const auto second = version.find('.', first + 1);
    const auto third = version.rfind('.');
    return "Pulsaro " + version.substr(0, second) + " (build " + version.substr(third + 1) + ")";
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before anything starts: no window, no contact with a running
    // copy.
    if (argc >= 2 && std::string_view(argv[1]) == "--analyze") {
        return pulsaro::runAnalyzeCommand(std::vector<std::string>(argv + 2, argv + argc),
                                          std::cout, std::cerr);
    }
    if (argc == 2) {
        const std::string_view option = argv[1];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--version") {
            std::printf("%s\n", versionLine().c_str());
            return 0;
        }
    }
    // Environment the libraries read is settled here, before any thread runs.
    pulsaro::prepareSoundEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(pulsaro::tr8(pulsaro::res::kAppTitle));
    QApplication::setApplicationDisplayName(pulsaro::tr8(pulsaro::res::kAppTitle));
    // Ties the windows to the installed desktop entry (its icon and name).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.orviksoftware.Pulsaro"));
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
    pulsaro::AppServices services(dialogs, store);
    pulsaro::SteadyClock clock;
    const auto audio = pulsaro::makePortAudioOutput();
    // Other music software: each opens only when the settings turn it on.
    const auto link = pulsaro::makeAbletonLinkSession();
    const auto midi = pulsaro::makeJackMidiPorts();
    const auto tapKey = pulsaro::makeGlobalShortcut();
    pulsaro::Studio studio(*link, *midi, *tapKey);

    // Listening: the sound server is reached only when the user listens; the
    // media players are asked over the session bus.
    pulsaro::NowPlaying nowPlaying(QDBusConnection::sessionBus());
    pulsaro::MainWindow frmPulsaro({clock,
                                    services,
                                    *audio,
                                    {},
                                    &studio,
                                    nullptr,
                                    [] { return pulsaro::makePulseCapture(11025, "Pulsaro"); },
                                    [] { return pulsaro::listCaptureInputs(); },
                                    &nowPlaying});
    // A request to start maximised opens the window in its normal fixed size.
    frmPulsaro.setWindowState(frmPulsaro.windowState() & ~Qt::WindowMaximized);
    frmPulsaro.show();
    singleInstance.setInstanceStarted([&frmPulsaro](const QStringList& arguments) {
        frmPulsaro.parts().desktop.anotherCopyStarted(arguments);
    });
    return QApplication::exec();
}
