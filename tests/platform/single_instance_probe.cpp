// Runs the single-instance guard the way the program does and reports on
// stdout, one line each: "primary", "handed-over", or "received <JSON array>"
// for each hand-over. A primary runs until its stdin closes. PROBE_WAIT_MS sets
// the wait (the program's is 10 s); PROBE_START_AT (milliseconds since the
// epoch) holds the check back until then, so copies can run it together.

#include <unistd.h>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/single_instance.h"

namespace {

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int waitMs = qEnvironmentVariableIsSet("PROBE_WAIT_MS")
                           ? qEnvironmentVariableIntValue("PROBE_WAIT_MS")
                           : 10000;
    if (qEnvironmentVariableIsSet("PROBE_START_AT")) {
        std::this_thread::sleep_until(std::chrono::system_clock::time_point(
            std::chrono::milliseconds(qEnvironmentVariable("PROBE_START_AT").toLongLong())));
    }
    pulsaro::TSingleInstance guard{std::chrono::milliseconds(waitMs)};
    if (guard.start(QCoreApplication::arguments().mid(1)) ==
        pulsaro::TSingleInstance::Role::HandedOver) {
        say("handed-over");
        return 0;
    }
    say("primary");
    guard.setInstanceStarted([](const QStringList& arguments) {
        say("received " +
            QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact));
    });
    // A closed stdin ends the primary the ordinary way, so its destructors run.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return QCoreApplication::exec();
}
