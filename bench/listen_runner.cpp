// Listens to a sound server's input as the program does - the Pulse capture
// at the analysis's rate, the live tempo on a thread of its own - and prints
// every estimate, for bench/listen_bench.sh.
//
//   listen_runner --input SOURCE --seconds S [--track WAV]
//                 [--taps N --tap-error-ms E --bpm X --offset Y] [--metronome]
//
// Prints "t_seconds,bpm,uncertainty,state" per estimate, t in seconds of the
// capture stream (its first frame is 0; the report takes off the music's
// start), state "listening", "locked" or "no beat".
//
// --track: the track being played. The first seconds of the capture are
// cross-correlated with the track as the program's decoder gives it at the
// same rate, and "# music_start_s=X" says where its first sample came in the
// capture stream (stream seconds).
//
// --taps N: once the music's start is known, N taps at its true beats
// (beat k at Y + k x 60 / X seconds of the track), the first about 2 s into
// the music; each beat goes into the capture stream by the music's start and
// onto the steady clock by the capture's heardAt(), then moves by an error
// drawn uniformly from [-E, +E] ms (a fixed seed, so every run taps alike).
// The taps go into a TapModel as presses at those instants, pressed when the
// steady clock reaches them; its pause check ends the run. Each counted
// press's mean goes to the live tempo as its prior, as the program does, and
// every estimate goes to the model (the heard beat through heardAt() when
// locked, none otherwise). "# taps bpm=<tapped> fused=<outcome>
// fused_bpm=<tempo after the join>" when the run ends.
//
// --metronome: when the run ends, and each time the model's grid moves
// after, the program's PortAudio output clicks on the model's tempo and grid
// into the default sink, with the program's first click sound.
//
// Ends after S seconds with "# cpu_percent=P": user + system time over wall
// time, % of one core.

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QFile>

#include "analysis/live_tempo.h"
#include "audio/audio_capture.h"
#include "audio/audio_output.h"
#include "core/beat_fusion.h"
#include "core/clock.h"
#include "core/fixed_point.h"
#include "core/tap_model.h"
#include "core/wav.h"
#include "media/audio_decoder.h"

namespace {

using namespace pulsaro;
using Steady = std::chrono::steady_clock;

constexpr double kRate = 11025;
// The piece of the track looked for in the capture, and how much capture
// after the first sound is needed before looking.
constexpr double kTemplateSeconds = 1.5;
constexpr double kLookAfterSoundSeconds = 1.6;
// The capture kept for finding the music; no start found by then is none.
constexpr double kKeepSeconds = 20.0;
constexpr double kMinCorrelation = 0.5;
// A tap is planned once its frame is this close to the frames read, so that
// its heard time comes from recent timing.
constexpr double kPlanAheadSeconds = 0.4;
constexpr double kFirstTapAfterSeconds = 2.0;
constexpr auto kPoll = std::chrono::milliseconds(2);

double steadySeconds() {
    return std::chrono::duration<double>(Steady::now().time_since_epoch()).count();
}

struct Options {
    std::string input;
    double seconds = 0;
    std::string track;
    int taps = 0;
    double tapErrorMs = 0;
    double bpm = 0;
    double offset = 0;
    bool metronome = false;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: listen_runner --input SOURCE --seconds S [--track WAV]\n"
                 "       [--taps N --tap-error-ms E --bpm X --offset Y] [--metronome]\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                usage();
            }
            return argv[++i];
        };
        if (a == "--input") {
            o.input = value();
        } else if (a == "--seconds") {
            o.seconds = std::strtod(value(), nullptr);
        } else if (a == "--track") {
            o.track = value();
        } else if (a == "--taps") {
            o.taps = std::atoi(value());
        } else if (a == "--tap-error-ms") {
            o.tapErrorMs = std::strtod(value(), nullptr);
        } else if (a == "--bpm") {
            o.bpm = std::strtod(value(), nullptr);
        } else if (a == "--offset") {
            o.offset = std::strtod(value(), nullptr);
        } else if (a == "--metronome") {
            o.metronome = true;
        } else {
            usage();
        }
    }
    if (o.seconds <= 0 || (o.taps > 0 && (o.bpm <= 0 || o.track.empty())) ||
        (o.metronome && o.taps < 2)) {
        usage();
    }
    return o;
}

// --- where the track starts in the capture -------------------------------------

void fft(std::vector<std::complex<double>>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = 2 * std::numbers::pi / static_cast<double>(len) * (inverse ? 1 : -1);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (std::size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
    if (inverse) {
        for (auto& x : a) {
            x /= static_cast<double>(n);
        }
    }
}

struct Match {
    double frame = 0;  // where the template's first sample is, to a fraction
    double correlation = 0;
    double second = 0;  // the highest correlation further than 10 ms from the peak
};

// The normalised cross-correlation of the template with every stretch of
// the capture, and its peak.
std::optional<Match> findTemplate(std::span<const float> capture, std::span<const float> piece) {
    if (capture.size() <= piece.size() || piece.empty()) {
        return std::nullopt;
    }
    std::size_t n = 1;
    while (n < capture.size() + piece.size()) {
        n <<= 1;
    }
    std::vector<std::complex<double>> c(n), t(n);
    for (std::size_t i = 0; i < capture.size(); ++i) {
        c[i] = capture[i];
    }
    double pieceEnergy = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        t[i] = piece[i];
        pieceEnergy += static_cast<double>(piece[i]) * piece[i];
    }
    fft(c, false);
    fft(t, false);
    for (std::size_t i = 0; i < n; ++i) {
        c[i] *= std::conj(t[i]);
    }
    fft(c, true);
    std::vector<double> energy(capture.size() + 1, 0.0);
    for (std::size_t i = 0; i < capture.size(); ++i) {
        energy[i + 1] = energy[i] + static_cast<double>(capture[i]) * capture[i];
    }
    const std::size_t lags = capture.size() - piece.size() + 1;
    std::vector<double> r(lags, 0.0);
    std::size_t best = 0;
    for (std::size_t lag = 0; lag < lags; ++lag) {
        const double e = energy[lag + piece.size()] - energy[lag];
        r[lag] = e > 1e-12 && pieceEnergy > 1e-12 ? c[lag].real() / std::sqrt(e * pieceEnergy) : 0;
        if (r[lag] > r[best]) {
            best = lag;
        }
    }
    Match m;
    m.correlation = r[best];
    m.frame = static_cast<double>(best);
    if (best > 0 && best + 1 < lags) {
        const double a = r[best - 1], b = r[best], d = r[best + 1];
        const double denom = a - 2 * b + d;
        if (denom < 0) {
            m.frame += 0.5 * (a - d) / denom;
        }
    }
    const auto exclude = static_cast<std::size_t>(0.010 * kRate);
    for (std::size_t lag = 0; lag < lags; ++lag) {
        if ((lag + exclude < best || lag > best + exclude) && r[lag] > m.second) {
            m.second = r[lag];
        }
    }
    return m;
}

std::vector<float> decodeTrack(const std::string& path) {
    media::AudioDecoder decoder(path, static_cast<int>(kRate));
    std::vector<float> all;
    std::vector<float> block(8192);
    while (const std::size_t n = decoder.read(block)) {
        all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return all;
}

// Seconds from the nearest true beat to a moment of the track (positive:
// after it).
double offsetFromBeat(double trackSeconds, const Options& o) {
    const double period = 60.0 / o.bpm;
    const double beats = (trackSeconds - o.offset) / period;
    return (beats - std::round(beats)) * period;
}

// --- what the listening thread hands over -------------------------------------

struct Estimate {
    analysis::HeardTempo heard;
    double beatClock = 0;  // the heard beat on the steady clock (0: none)
    // The track's first sample on the steady clock, through heardAt (0 while
    // it is not found).
    double musicClock = 0;
};

struct PlannedTap {
    int index = 0;         // which tap of the run
    double beatTrack = 0;  // the true beat, seconds of the track
    double errorMs = 0;
    double at = 0;  // steady-clock seconds of the press
};

struct Shared {
    std::mutex mutex;
    std::deque<Estimate> estimates;
    std::deque<PlannedTap> taps;
    std::vector<std::string> notes;  // comment lines to print
    std::atomic<bool> stop{false};
    std::atomic<double> prior{0};
    std::atomic<bool> priorChanged{false};
    std::atomic<bool> failed{false};
};

const char* stateName(analysis::LockState s) {
    switch (s) {
        case analysis::LockState::Listening:
            return "listening";
        case analysis::LockState::Locked:
            return "locked";
        case analysis::LockState::NoBeat:
            return "no beat";
    }
    return "?";
}

const char* outcomeName(FusionOutcome o) {
    switch (o) {
        case FusionOutcome::TapsOnly:
            return "taps-only";
        case FusionOutcome::Locked:
            return "locked";
        case FusionOutcome::TempoDiffers:
            return "tempo-differs";
        case FusionOutcome::BeatDiffers:
            return "beat-differs";
    }
    return "?";
}

// The listening thread: reads the capture, feeds the live tempo, finds the
// music's start and plans the taps, as the reader of the capture must.
void listen(AudioCapture& capture, const Options& options, const std::vector<float>& track,
            Shared& shared) {
    analysis::LiveTempo live({capture.sampleRate()});
    std::array<float, 2048> block{};
    std::int64_t framesRead = 0;
    std::vector<float> kept;
    kept.reserve(static_cast<std::size_t>(kKeepSeconds * kRate));
    std::optional<std::int64_t> firstSound;
    std::optional<double> musicStart;  // capture frame of the track's first sample
    bool gaveUp = track.empty();
    double nextLook = 0;
    std::mt19937 random(20240601);
    std::uniform_real_distribution<double> error(-options.tapErrorMs, options.tapErrorMs);
    int tapsPlanned = 0;
    std::int64_t nextBeat = 0;
    const std::span<const float> piece(
        track.data(), std::min(track.size(), static_cast<std::size_t>(kTemplateSeconds * kRate)));

    auto note = [&](std::string line) {
        std::lock_guard lock(shared.mutex);
        shared.notes.push_back(std::move(line));
    };

    while (!shared.stop.load()) {
        if (shared.priorChanged.exchange(false)) {
            const double prior = shared.prior.load();
            live.setTempoPrior(prior > 0 ? std::optional<double>(prior) : std::nullopt);
        }
        if (capture.state() == CaptureState::Failed) {
            note("# capture failed: " + capture.failure());
            shared.failed = true;
            return;
        }
        const std::size_t n = capture.read(block);
        if (n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const auto got = std::span(block).first(n);
        live.feed(got);
        if (!musicStart && !gaveUp && kept.size() < kept.capacity()) {
            for (std::size_t i = 0; i < n && kept.size() < kept.capacity(); ++i) {
                if (!firstSound && std::fabs(got[i]) > 1e-4f) {
                    firstSound = framesRead + static_cast<std::int64_t>(i);
                    nextLook = static_cast<double>(*firstSound) + kLookAfterSoundSeconds * kRate;
                }
                kept.push_back(got[i]);
            }
        }
        framesRead += static_cast<std::int64_t>(n);

        if (!musicStart && !gaveUp && firstSound && static_cast<double>(framesRead) >= nextLook) {
            const auto m = findTemplate(kept, piece);
            if (m && m->correlation >= kMinCorrelation) {
                musicStart = m->frame;
                char line[160];
                std::snprintf(line, sizeof line, "# music_start_s=%.6f", *musicStart / kRate);
                note(line);
                std::snprintf(line, sizeof line,
                              "# music_found correlation=%.3f next_peak=%.3f after_s=%.3f",
                              m->correlation, m->second, static_cast<double>(framesRead) / kRate);
                note(line);
                // The first tap about 2 s into the music, or the next beat that
                // can still be planned.
                if (options.taps > 0) {
                    const double period = 60.0 / options.bpm;
                    const double earliest =
                        std::max(kFirstTapAfterSeconds,
                                 (static_cast<double>(framesRead) - *musicStart) / kRate +
                                     kPlanAheadSeconds);
                    nextBeat = static_cast<std::int64_t>(
                        std::ceil((earliest - options.offset) / period - 1e-9));
                }
            } else if (kept.size() >= kept.capacity()) {
                gaveUp = true;
                note("# music_start not found (correlation " +
                     std::to_string(m ? m->correlation : 0.0) + ")");
            } else {
                nextLook = static_cast<double>(framesRead) + 0.5 * kRate;
            }
            if (musicStart || gaveUp) {
                kept = {};
            }
        }

        while (musicStart && tapsPlanned < options.taps) {
            const double beat = options.offset + static_cast<double>(nextBeat) * 60.0 / options.bpm;
            const double frame = *musicStart + beat * kRate;
            if (frame - static_cast<double>(framesRead) > kPlanAheadSeconds * kRate) {
                break;
            }
            PlannedTap tap;
            tap.index = tapsPlanned;
            tap.beatTrack = beat;
            tap.errorMs = error(random);
            // heardAt takes whole frames: the fraction goes on by the rate.
            const auto whole = static_cast<std::int64_t>(std::floor(frame));
            tap.at = capture.heardAt(whole) + (frame - static_cast<double>(whole)) / kRate +
                     tap.errorMs / 1000;
            {
                std::lock_guard lock(shared.mutex);
                shared.taps.push_back(tap);
            }
            ++tapsPlanned;
            ++nextBeat;
        }

        if (const auto heard = live.update()) {
            Estimate e{*heard, 0, 0};
            if (heard->bpm > 0) {
                e.beatClock =
                    capture.heardAt(std::llround(heard->beatSeconds * capture.sampleRate()));
            }
            if (musicStart) {
                const auto whole = static_cast<std::int64_t>(std::floor(*musicStart));
                e.musicClock =
                    capture.heardAt(whole) + (*musicStart - static_cast<double>(whole)) / kRate;
                if (heard->state == analysis::LockState::Locked && options.bpm > 0) {
                    // Where the heard beat fell against the true ones, in the
                    // capture's own frames: what the analysis itself is off by.
                    const double track = heard->beatSeconds - *musicStart / kRate;
                    std::fprintf(stderr, "heard_beat t=%.3f offset_ms=%.3f\n", heard->fedSeconds,
                                 1000 * offsetFromBeat(track, options));
                }
            }
            std::lock_guard lock(shared.mutex);
            shared.estimates.push_back(e);
        }
    }
    if (capture.droppedFrames() > 0) {
        note("# dropped_frames=" + std::to_string(capture.droppedFrames()));
    }
}

// --- the model and the clicks -------------------------------------------------

std::array<PcmSound, 3> programSounds() {
    static const char* const names[] = {"sound", "sound1", "sound2"};
    std::array<PcmSound, 3> sounds;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        QFile file(QStringLiteral(":/sounds/%1.wav").arg(QString::fromLatin1(names[i])));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            try {
                sounds[i] = decodeWav(std::span(
                    reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
            } catch (const WavError&) {
                sounds[i] = PcmSound{};
            }
        }
    }
    return sounds;
}

double bpmOf(Fixed tempo) {
    return static_cast<double>(toLongDouble(tempo));
}

class Taps final : public TapObserver {
public:
    Taps(Shared& shared, AudioOutput* output, const Options& options)
        : shared_(shared), output_(output), options_(options) {}

    void pressed(const TapPress& press) override {
        if (press.kind == PressKind::Counted && press.mean > 0) {
            tappedBpm_ = bpmOf(press.mean);
            shared_.prior = tappedBpm_;
            shared_.priorChanged = true;
        }
    }
    void measurementEnded(Fixed tempo, const BeatGrid& grid) override {
        std::printf("# taps bpm=%.4f fused=%s fused_bpm=%.4f grid_s=%.6f grid_offset_ms=%.3f\n",
                    tappedBpm_, outcomeName(model_->fusion()), bpmOf(tempo), grid.beatSeconds,
                    gridOffsetMs(grid));
        std::fflush(stdout);
        if (output_ != nullptr && tempo > 0) {
            clicks_ = output_->startClicks(tempo, grid);
            std::printf("# clicks started id=%u\n", clicks_);
        }
    }
    void cleared() override {}
    void gridMoved(Fixed tempo, const BeatGrid& grid) override {
        ++moves_;
        std::fprintf(stderr, "grid_moved bpm=%.4f grid_offset_ms=%.3f\n", bpmOf(tempo),
                     gridOffsetMs(grid));
        if (output_ != nullptr && clicks_ != 0) {
            clicks_ = output_->startClicks(tempo, grid);
        }
        lastMovedBpm_ = bpmOf(tempo);
    }

    // The grid's beat against the nearest true beat, both on the steady
    // clock, the true one through the capture's heardAt: where the clicks
    // should sound if the output's timing and the capture's agree.
    double gridOffsetMs(const BeatGrid& grid) const {
        if (musicClock_ <= 0 || options_.bpm <= 0) {
            return std::nan("");
        }
        return 1000 * offsetFromBeat(grid.beatSeconds - musicClock_, options_);
    }

    TapModel* model_ = nullptr;
    double musicClock_ = 0;
    int moves_ = 0;
    double lastMovedBpm_ = 0;

private:
    Shared& shared_;
    AudioOutput* output_;
    const Options& options_;
    double tappedBpm_ = 0;
    std::uint32_t clicks_ = 0;
};

TapInstant instantAt(double seconds) {
    TapInstant at;
    at.frequency = 10'000'000;
    at.count = std::llround(seconds * static_cast<double>(at.frequency));
    at.tickMs = static_cast<std::uint64_t>(std::floor(seconds * 1000));
    return at;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const double wallStart = steadySeconds();
    if (options.metronome) {
        prepareSoundEnvironment();
    }
    std::vector<float> track;
    if (!options.track.empty()) {
        try {
            track = decodeTrack(options.track);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "listen_runner: %s\n", e.what());
            return 1;
        }
    }

    std::unique_ptr<AudioOutput> output;
    if (options.metronome) {
        output = makePortAudioOutput();
        if (output->outputDeviceCount() == 0) {
            std::fprintf(stderr, "listen_runner: no sound output\n");
            return 1;
        }
        output->loadSounds(programSounds());
        output->selectSound(0);
    }

    auto capture = makePulseCapture(kRate, "Pulsaro listen runner");
    try {
        capture->start(options.input);
    } catch (const CaptureError& e) {
        std::fprintf(stderr, "listen_runner: %s\n", e.what());
        return 1;
    }

    Shared shared;
    TapModel model;
    Taps taps(shared, output.get(), options);
    taps.model_ = &model;
    model.addObserver(taps);
    std::thread worker([&] { listen(*capture, options, track, shared); });

    std::deque<PlannedTap> due;
    std::vector<PlannedTap> pressed;
    bool runEnded = false;
    while (steadySeconds() - wallStart < options.seconds && !shared.failed.load()) {
        std::deque<Estimate> estimates;
        std::vector<std::string> notes;
        {
            std::lock_guard lock(shared.mutex);
            estimates.swap(shared.estimates);
            notes.swap(shared.notes);
            while (!shared.taps.empty()) {
                due.push_back(shared.taps.front());
                shared.taps.pop_front();
            }
        }
        for (const auto& line : notes) {
            std::printf("%s\n", line.c_str());
        }
        for (const Estimate& e : estimates) {
            if (e.musicClock > 0) {
                taps.musicClock_ = e.musicClock;
            }
            std::printf("%.3f,%.4f,%.4f,%s\n", e.heard.fedSeconds, e.heard.bpm, e.heard.uncertainty,
                        stateName(e.heard.state));
            if (e.heard.state == analysis::LockState::Locked && e.heard.bpm > 0) {
                model.hear(HeardGrid{e.heard.bpm, e.heard.uncertainty, e.beatClock});
            } else {
                model.hear(std::nullopt);
            }
        }
        const double now = steadySeconds();
        while (!due.empty() && due.front().at <= now) {
            try {
                model.press(instantAt(due.front().at), kModeBpm);
            } catch (const ArithmeticError&) {
            }
            pressed.push_back(due.front());
            due.pop_front();
        }
        if (!runEnded && !pressed.empty()) {
            runEnded = model.checkPause(static_cast<std::uint64_t>(std::floor(now * 1000)));
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(kPoll);
    }
    shared.stop = true;
    worker.join();
    for (const auto& line : shared.notes) {
        std::printf("%s\n", line.c_str());
    }
    if (output) {
        output->purge();
    }
    capture->stop();
    for (const PlannedTap& t : pressed) {
        std::printf("# tap %d beat_track_s=%.4f error_ms=%+.2f\n", t.index, t.beatTrack, t.errorMs);
    }
    if (options.taps > 0) {
        std::printf("# grid_moves=%d last_moved_bpm=%.4f final_fused=%s\n", taps.moves_,
                    taps.lastMovedBpm_, outcomeName(model.fusion()));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::printf("# cpu_percent=%.2f\n", 100 * cpu / (steadySeconds() - wallStart));
    model.removeObserver(taps);
    output.reset();
    return shared.failed.load() ? 1 : 0;
}
