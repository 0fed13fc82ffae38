#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "analysis/live_tempo.h"
#include "core/beat_fusion.h"
#include "core/fixed_point.h"
#include "core/tap_model.h"

namespace pulsaro {

class AppServices;
class AudioCapture;

// Listening to the music: the capture from the sound server, the live tempo
// analysis on a worker thread, and what the window says about them. What is
// heard reaches the tap model, which joins it with the taps; the taps' tempo
// in turn guides the analysis.
class ListeningController final : public QObject, private TapObserver {
    Q_OBJECT

public:
    using CaptureFactory = std::function<std::unique_ptr<AudioCapture>()>;

    struct Parts {
        AppServices& services;
        TapModel& tap;
        CaptureFactory makeCapture;
    };

    ListeningController(const Parts& parts, QObject* parent);
    ~ListeningController() override;

    bool listening() const { return capture_ != nullptr; }
    // The Listen command. Starting reads the chosen input from the settings;
    // a failure to start is said in the window and leaves listening off.
    void toggle();
    void setListening(bool on);

    // The heard tempo while it is locked, as a tempo the window can use.
    std::optional<Fixed> usableTempo() const;
    // The locked heard beat on the tap clock.
    std::optional<BeatGrid> heardGrid() const;

    // What the window shows: empty while not listening and nothing to say.
    // Begins with "Heard" while listening.
    const QString& line() const { return line_; }
    // The whole cause of the last failure, for the line's tooltip.
    const QString& cause() const { return cause_; }

signals:
    // line() or the heard tempo changed.
    void heardChanged();
    // Enabling or check marks of the commands may have changed.
    void commandsChanged();

private:
    void start();
    void stop();
    void run();
    void received(const analysis::HeardTempo& heard, double beatClockSeconds);
    void failed(const QString& cause, bool running);
    void showLine();

    // TapObserver: the taps guide the analysis.
    void pressed(const TapPress& press) override;
    void measurementEnded(Fixed tempo, const BeatGrid& grid) override;
    void cleared() override;

    AppServices& services_;
    TapModel& tap_;
    CaptureFactory makeCapture_;

    std::unique_ptr<AudioCapture> capture_;
    std::thread worker_;
    std::atomic<bool> stopWorker_{false};
    // The taps' tempo for the analysis (0: none), and whether it changed.
    std::atomic<double> prior_{0};
    std::atomic<bool> priorChanged_{false};

    std::optional<analysis::HeardTempo> heard_;
    std::optional<BeatGrid> heardGrid_;
    QString line_;
    QString cause_;
};

}  // namespace pulsaro
