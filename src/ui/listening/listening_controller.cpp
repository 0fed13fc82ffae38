#include "ui/listening/listening_controller.h"

#include <time.h>

#include <array>
#include <chrono>
#include <cmath>

#include "audio/audio_capture.h"
#include "core/number_format.h"
#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/tempo_text.h"

namespace pulsaro {

namespace {

// The analysis's best rate; the sound server resamples to it.
constexpr double kListenRate = 11025;
// The worker looks at the ring this often when it was empty.
constexpr auto kPoll = std::chrono::milliseconds(20);
// A pause of the worker's own this long (the computer slept) makes what was
// heard before stale.
constexpr double kGapSeconds = 2.0;

// Seconds since boot, suspend included (the steady clock stops in a suspend).
double bootSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

QString tempoText(double value) {
    return fromStd(formatDecimals(static_cast<long double>(value), 2, decimalSeparator()));
}

}  // namespace

ListeningController::ListeningController(const Parts& parts, QObject* parent)
    : QObject(parent),
      services_(parts.services),
      tap_(parts.tap),
      makeCapture_(parts.makeCapture),
      listInputs_(parts.listInputs) {
    setObjectName(QStringLiteral("listening"));
    tap_.addObserver(*this);
}

ListeningController::~ListeningController() {
    stop();
    tap_.removeObserver(*this);
}

void ListeningController::toggle() {
    setListening(!listening());
}

void ListeningController::setListening(bool on) {
    services_.guard("Listen", [&] {
        if (on == listening()) {
            return;
        }
        if (on) {
            start();
        } else {
            stop();
            cause_.clear();
        }
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            key->writeInteger(settings::kListening, listening() ? 1 : 0);
        }
        showLine();
        emit commandsChanged();
    });
}

void ListeningController::restart() {
    if (listening()) {
        setListening(false);
        setListening(true);
    }
}

std::vector<CaptureInput> ListeningController::inputs() const {
    std::vector<CaptureInput> found;
    if (listInputs_) {
        try {
            found = listInputs_();
        } catch (const std::exception&) {
            // No server: only what this computer plays is offered.
        }
    }
    return found;
}

void ListeningController::start() {
    std::string input;
    if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
        input = key->findString(settings::kListenInput).value_or(std::string());
    }
    cause_.clear();
    std::unique_ptr<AudioCapture> capture = makeCapture_ ? makeCapture_() : nullptr;
    if (!capture) {
        failed(tr8(res::kListenNoServer), false);
        return;
    }
    try {
        capture->start(input);
    } catch (const std::exception& e) {
        failed(QString::fromStdString(e.what()), false);
        return;
    }
    capture_ = std::move(capture);
    heard_ = analysis::HeardTempo{};
    stopWorker_ = false;
    priorChanged_ = true;
    worker_ = std::thread([this] { run(); });
}

void ListeningController::stop() {
    if (worker_.joinable()) {
        stopWorker_ = true;
        worker_.join();
    }
    if (capture_) {
        capture_->stop();
        capture_.reset();
    }
    heard_.reset();
    heardGrid_.reset();
    tap_.hear(std::nullopt);
}

// The worker: takes the samples out of the ring, feeds the analysis and
// posts each estimate to the GUI thread with its beat on the tap clock.
void ListeningController::run() {
    AudioCapture& capture = *capture_;
    analysis::LiveTempo live({capture.sampleRate()});
    std::array<float, 2048> block{};
    std::int64_t framesRead = 0;
    // The frame the analysis counts its seconds from (moved on by a restart).
    std::int64_t firstFrame = 0;
    double lastLook = bootSeconds();
    while (!stopWorker_.load()) {
        if (priorChanged_.exchange(false)) {
            const double prior = prior_.load();
            live.setTempoPrior(prior > 0 ? std::optional<double>(prior) : std::nullopt);
        }
        const double now = bootSeconds();
        if (now - lastLook > kGapSeconds) {
            // After a suspend the beats heard before no longer line up.
            live.restart();
            firstFrame = framesRead;
            QMetaObject::invokeMethod(
                this, [this] { received(analysis::HeardTempo{}, 0); }, Qt::QueuedConnection);
        }
        lastLook = now;
        if (capture.state() == CaptureState::Failed) {
            const QString cause = QString::fromStdString(capture.failure());
            QMetaObject::invokeMethod(
                this, [this, cause] { failed(cause, true); }, Qt::QueuedConnection);
            return;
        }
        const std::size_t n = capture.read(block);
        if (n == 0) {
            std::this_thread::sleep_for(kPoll);
            continue;
        }
        live.feed(std::span(block).first(n));
        framesRead += static_cast<std::int64_t>(n);
        if (const auto heard = live.update()) {
            double beatClock = 0;
            if (heard->bpm > 0) {
                const auto frame = firstFrame + static_cast<std::int64_t>(std::llround(
                                                    heard->beatSeconds * capture.sampleRate()));
                beatClock = capture.heardAt(frame);
            }
            const analysis::HeardTempo copy = *heard;
            QMetaObject::invokeMethod(
                this, [this, copy, beatClock] { received(copy, beatClock); }, Qt::QueuedConnection);
        }
    }
}

void ListeningController::received(const analysis::HeardTempo& heard, double beatClockSeconds) {
    if (!listening()) {
        return;
    }
    heard_ = heard;
    if (heard.state == analysis::LockState::Locked) {
        heardGrid_ = BeatGrid{beatClockSeconds, 0};
        tap_.hear(HeardGrid{heard.bpm, heard.uncertainty, beatClockSeconds});
    } else {
        heardGrid_.reset();
        tap_.hear(std::nullopt);
    }
    showLine();
    emit commandsChanged();
}

void ListeningController::failed(const QString& cause, bool running) {
    if (running) {
        stop();
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            key->writeInteger(settings::kListening, 0);
        }
    }
    cause_ = cause;
    showLine();
    emit commandsChanged();
}

std::optional<Fixed> ListeningController::usableTempo() const {
    if (!heard_ || heard_->state != analysis::LockState::Locked || !(heard_->bpm > 0)) {
        return std::nullopt;
    }
    return static_cast<Fixed>(std::llround(heard_->bpm * kFixedScale));
}

std::optional<BeatGrid> ListeningController::heardGrid() const {
    return heardGrid_;
}

void ListeningController::showLine() {
    QString line;
    if (!listening()) {
        if (!cause_.isEmpty()) {
            line = tr8(res::kListenStopped).arg(cause_);
        }
    } else if (!heard_ || (heard_->state != analysis::LockState::NoBeat && heard_->bpm <= 0)) {
        line = tr8(res::kHeardListening);
    } else if (heard_->state == analysis::LockState::NoBeat) {
        line = tr8(heard_->silence ? res::kHeardSilence : res::kHeardNoBeat);
    } else {
        line = tr8(res::kHeardTempo)
                   .arg(tempoText(heard_->bpm), tempoText(heard_->uncertainty),
                        tr8(heard_->state == analysis::LockState::Locked ? res::kHeardLocked
                                                                         : res::kHeardSettling));
        switch (tap_.fusion()) {
            case FusionOutcome::Locked:
                line += tr8(res::kHeardTapsLocked);
                break;
            case FusionOutcome::TempoDiffers:
                line += tr8(res::kHeardTapsOtherTempo);
                break;
            case FusionOutcome::BeatDiffers:
                line += tr8(res::kHeardTapsOffBeat);
                break;
            case FusionOutcome::TapsOnly:
                break;
        }
    }
    if (line != line_) {
        line_ = line;
        emit heardChanged();
    }
}

void ListeningController::pressed(const TapPress& press) {
    if (press.kind == PressKind::Counted && press.mean > 0) {
        prior_ = static_cast<double>(toLongDouble(press.mean));
        priorChanged_ = true;
    }
}

void ListeningController::measurementEnded(Fixed, const BeatGrid&) {
    // The window says how the run and the music came together.
    showLine();
}

void ListeningController::cleared() {
    prior_ = 0;
    priorChanged_ = true;
    showLine();
}

}  // namespace pulsaro
