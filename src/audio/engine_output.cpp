#include "audio/engine_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <thread>

namespace pulsaro {

namespace {

// Periods of 1 000 000 ms and 1 ms as fixed-point BPM (60 000 / ms x 10 000).
constexpr Fixed kSlowestTempo = 600;
constexpr Fixed kFastestTempo = 600'000'000;
// Differences between the stream's clock and the frames counted that are
// taken for the clock's own noise rather than for a dropout.
constexpr double kStreamClockTolerance = 0.0015;

bool validSound(int index) {
    return index >= 0 && index < ClickEngine::kSoundCount;
}

// CPU time of the calling thread, for the stats only.
double threadCpuSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

}  // namespace

EngineOutput::EngineOutput() = default;
EngineOutput::~EngineOutput() = default;

void EngineOutput::loadSounds(const std::array<PcmSound, 3>& sounds) {
    // Sounds reach the engine only when it is made; an engine that exists
    // already may be rendering and keeps the sounds it has.
    if (!engine_) {
        sounds_ = sounds;
    }
}

void EngineOutput::selectSound(int index) {
    selected_ = validSound(index) ? index : kNoSound;
    if (engine_) {
        engine_->selectSound(selected_);
    }
}

std::uint32_t EngineOutput::startClicks(Fixed tempo, std::optional<BeatGrid> grid) {
    if (tempo < kSlowestTempo || tempo > kFastestTempo) {
        return 0;
    }
    lastId_ = lastId_ == std::numeric_limits<std::uint32_t>::max() ? 1 : lastId_ + 1;
    activeId_ = lastId_;
    if (!prepareOutput()) {
        return activeId_;
    }
    std::optional<long double> anchor;
    if (grid) {
        if (const std::optional<StreamTiming> timing = timingForGrid()) {
            // Frame F is heard at tapSeconds + latency + (F - blockFrame) / rate;
            // solved for the frame heard at the grid's beat. The engine skips
            // the beats of the grid that can no longer be heard in time.
            const long double rate = engine_->sampleRate();
            const long double frame = static_cast<long double>(timing->blockFrame) +
                                      (static_cast<long double>(grid->beatSeconds) -
                                       timing->tapSeconds - timing->latencySeconds) *
                                          rate;
            // A grid no clock could give (not finite, ages away) starts at once.
            if (std::isfinite(frame) && std::fabs(frame) < 0x1p60L) {
                anchor = frame;
            }
        }
    }
    if (engine_->startPeriodic(activeId_, tempo, anchor, 0)) {
        commandSent();
    }
    return activeId_;
}

void EngineOutput::stopClicks(std::uint32_t id) {
    // Only the id started last can still click; checking here keeps stale
    // ids out of the engine's queue.
    if (id == 0 || id != activeId_ || !engine_) {
        return;
    }
    activeId_ = 0;
    if (outputRunning()) {
        engine_->stopPeriodic(id);
    } else {
        cancelPending();
    }
}

void EngineOutput::playOnce(int index) {
    if (!validSound(index)) {
        // Only stops; with no stream running nothing sounds.
        if (engine_ && outputRunning()) {
            engine_->playOnce(kNoSound);
        }
        return;
    }
    if (!prepareOutput()) {
        return;
    }
    if (engine_->playOnce(index)) {
        commandSent();
    }
}

void EngineOutput::purge() {
    activeId_ = 0;
    if (!engine_) {
        return;
    }
    if (outputRunning()) {
        engine_->purge();
    } else {
        cancelPending();
    }
}

RenderStats EngineOutput::stats() const {
    RenderStats s;
    s.blocks = statBlocks_.load(std::memory_order_relaxed);
    s.frames = statFrames_.load(std::memory_order_relaxed);
    s.cpuSecondsTotal = statCpuTotal_.load(std::memory_order_relaxed);
    s.cpuSecondsMax = statCpuMax_.load(std::memory_order_relaxed);
    s.latencyMax = statLatencyMax_.load(std::memory_order_relaxed);
    s.latencyMin = std::min(statLatencyMin_.load(std::memory_order_relaxed), s.latencyMax);
    s.underflows = statUnderflows_.load(std::memory_order_relaxed);
    s.dropouts = statDropouts_.load(std::memory_order_relaxed);
    s.framesSkipped = statSkipped_.load(std::memory_order_relaxed);
    s.clockDifferenceMax = statClockDifferenceMax_.load(std::memory_order_relaxed);
    return s;
}

std::optional<StreamTiming> EngineOutput::latestTiming() const {
    for (;;) {
        const std::uint64_t before = timingSeq_.load(std::memory_order_acquire);
        if (before == 0) {
            return std::nullopt;
        }
        if ((before & 1U) != 0) {
            // The render thread is between its two stores; it never waits,
            // so the next look finds a whole timing.
            std::this_thread::yield();
            continue;
        }
        // Acquire on each field: a field stored by a newer block brings that
        // block's odd count with it, so the second look below sees the
        // change; and the second look cannot move before these loads.
        StreamTiming timing;
        timing.blockFrame = timingFrame_.load(std::memory_order_acquire);
        timing.tapSeconds = timingTap_.load(std::memory_order_acquire);
        timing.latencySeconds = timingLatency_.load(std::memory_order_acquire);
        if (timingSeq_.load(std::memory_order_relaxed) == before) {
            return timing;
        }
    }
}

ClickEngine& EngineOutput::makeEngine(std::uint32_t sampleRate, int channels) {
    if (!engine_) {
        auto engine = std::make_unique<ClickEngine>(static_cast<double>(sampleRate), channels);
        std::array<PcmSound, ClickEngine::kSoundCount> converted;
        std::array<std::size_t, ClickEngine::kSoundCount> attacks{};
        for (std::size_t i = 0; i < converted.size(); ++i) {
            if (sounds_[i].channels != 0) {
                converted[i] =
                    convertSound(sounds_[i], sampleRate, static_cast<std::uint16_t>(channels));
                // Measured on the sound as it is played, once, here rather
                // than in the callback.
                attacks[i] = attackFrame(converted[i]);
            }
        }
        engine->setSounds(std::move(converted), attacks);
        engine->selectSound(selected_);
        streamClock_ =
            std::make_unique<StreamClock>(static_cast<double>(sampleRate), kStreamClockTolerance);
        engine_ = std::move(engine);
        sounds_ = {};  // the engine holds the only copy that is used
    }
    return *engine_;
}

void EngineOutput::beginStream() {
    timingSeq_.store(0, std::memory_order_relaxed);
    if (streamClock_) {
        streamClock_->reset();
    }
    purgeQueued_ = false;
}

void EngineOutput::cancelPending() {
    if (engine_ && !purgeQueued_) {
        engine_->purge();
        purgeQueued_ = true;
    }
}

void EngineOutput::publishTiming(const StreamTiming& timing) {
    // Seqlock writer: odd count, fields, even count. Each field store is a
    // release, so a reader that sees it also sees the odd count before it;
    // the even count releases the whole timing.
    const std::uint64_t seq = timingSeq_.load(std::memory_order_relaxed);
    const std::uint64_t odd = (seq & ~std::uint64_t{1}) + 1;
    timingSeq_.store(odd, std::memory_order_relaxed);
    timingFrame_.store(timing.blockFrame, std::memory_order_release);
    timingTap_.store(timing.tapSeconds, std::memory_order_release);
    timingLatency_.store(timing.latencySeconds, std::memory_order_release);
    timingSeq_.store(odd + 1, std::memory_order_release);

    if (statsOn_.load(std::memory_order_relaxed)) {
        const double latency = timing.latencySeconds;
        if (latency < statLatencyMin_.load(std::memory_order_relaxed)) {
            statLatencyMin_.store(latency, std::memory_order_relaxed);
        }
        if (latency > statLatencyMax_.load(std::memory_order_relaxed)) {
            statLatencyMax_.store(latency, std::memory_order_relaxed);
        }
    }
}

void EngineOutput::followStreamClock(double heardAt, bool afterUnderrun) {
    const std::int64_t lost = streamClock_->framesLost(engine_->position(), heardAt, afterUnderrun);
    if (lost > 0) {
        engine_->skip(lost);
        statDropouts_.store(statDropouts_.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
        statSkipped_.store(
            statSkipped_.load(std::memory_order_relaxed) + static_cast<std::uint64_t>(lost),
            std::memory_order_relaxed);
    }
    if (statsOn_.load(std::memory_order_relaxed)) {
        const double difference = std::fabs(streamClock_->lastDifference());
        if (difference > statClockDifferenceMax_.load(std::memory_order_relaxed)) {
            statClockDifferenceMax_.store(difference, std::memory_order_relaxed);
        }
    }
}

std::optional<double> EngineOutput::nextClickHeardAt(double after) const {
    if (!engine_ || activeId_ == 0) {
        return std::nullopt;
    }
    const std::optional<StreamTiming> timing = latestTiming();
    const std::int64_t next = engine_->nextClickFrame();
    if (!timing || next < 0) {
        return std::nullopt;
    }
    const auto heardAt = [&](std::int64_t frame) {
        return timing->tapSeconds + timing->latencySeconds +
               static_cast<double>(frame - timing->blockFrame) / engine_->sampleRate();
    };
    // A click already rendered may still be on its way to the speaker.
    if (const std::int64_t last = engine_->lastClickFrame(); last >= 0 && heardAt(last) > after) {
        return heardAt(last);
    }
    return heardAt(next);
}

void EngineOutput::renderBlock(float* out, std::size_t frames) {
    if (!statsOn_.load(std::memory_order_relaxed)) {
        engine_->render(out, frames);
        return;
    }
    const double begin = threadCpuSeconds();
    engine_->render(out, frames);
    const double cpu = threadCpuSeconds() - begin;
    statCpuTotal_.store(statCpuTotal_.load(std::memory_order_relaxed) + cpu,
                        std::memory_order_relaxed);
    if (cpu > statCpuMax_.load(std::memory_order_relaxed)) {
        statCpuMax_.store(cpu, std::memory_order_relaxed);
    }
    statFrames_.store(statFrames_.load(std::memory_order_relaxed) + frames,
                      std::memory_order_relaxed);
    statBlocks_.store(statBlocks_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void EngineOutput::countUnderflow() {
    statUnderflows_.store(statUnderflows_.load(std::memory_order_relaxed) + 1,
                          std::memory_order_relaxed);
}

}  // namespace pulsaro
