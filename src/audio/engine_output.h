#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "audio/audio_output.h"
#include "core/click_engine.h"
#include "core/stream_clock.h"

namespace pulsaro {

// Where the output stood when a block was rendered: frame blockFrame starts
// to be heard at tapSeconds + latencySeconds (tap-clock seconds), and every
// later frame 1 / rate after the one before it.
struct StreamTiming {
    std::int64_t blockFrame = 0;
    double tapSeconds = 0;
    double latencySeconds = 0;
};

// Figures about the rendering, gathered only once enabled (the probe reads
// them; the program leaves them off and pays nothing for them).
struct RenderStats {
    std::uint64_t blocks = 0;
    std::uint64_t frames = 0;
    double cpuSecondsTotal = 0;
    double cpuSecondsMax = 0;
    double latencyMin = 0;  // both 0 before any timing was published
    double latencyMax = 0;
    std::uint64_t underflows = 0;  // blocks the device ran out of data before
    std::uint64_t dropouts = 0;    // times the stream's clock showed frames lost
    std::uint64_t framesSkipped = 0;
    double clockDifferenceMax = 0;  // largest |heard - counted| seen, seconds
};

// What both outputs share: the decoded sounds, the click engine (made once,
// when the output's format is first known, and kept for the whole run), the
// selected sound, the click ids, and the mapping between the tap clock and
// output frames.
//
// Threads: the AudioOutput calls and the protected GUI-side helpers run on
// one thread (the GUI). renderBlock and publishTiming run on the render
// thread; they never lock, allocate or wait. latestTiming and stats may be
// read from any thread.
class EngineOutput : public AudioOutput {
public:
    EngineOutput();
    EngineOutput(const EngineOutput&) = delete;
    EngineOutput& operator=(const EngineOutput&) = delete;
    ~EngineOutput() override;

    void loadSounds(const std::array<PcmSound, 3>& sounds) override;
    void selectSound(int index) override;
    std::uint32_t startClicks(Fixed tempo, std::optional<BeatGrid> grid) override;
    void stopClicks(std::uint32_t id) override;
    void playOnce(int index) override;
    void purge() override;

    // Any thread; see RenderStats.
    void enableStats(bool on) { statsOn_.store(on, std::memory_order_relaxed); }
    RenderStats stats() const;
    // The newest timing the render side published, if any.
    std::optional<StreamTiming> latestTiming() const;

    // GUI thread: see AudioOutput; nothing also before a stream published
    // its timing.
    std::optional<double> nextClickHeardAt(double after) const override;
    bool outputLost() const override { return false; }

    // GUI thread: the format the first stream fixed; 0 before it.
    double outputRate() const { return engine_ ? engine_->sampleRate() : 0; }
    int outputChannels() const { return engine_ ? engine_->channels() : 0; }

protected:
    // --- GUI thread: what a backend provides --------------------------------
    // Makes sure a command sent next reaches the render side: the engine
    // exists (see makeEngine) and a stream is open or will be started by
    // commandSent. False when there is no output; the command is then dropped.
    virtual bool prepareOutput() = 0;
    // True while rendered blocks take the commands sent.
    virtual bool outputRunning() = 0;
    // Called after each command that wants sound has been queued: starts the
    // stream, or opens a new one when the running one stopped before taking
    // the command.
    virtual void commandSent() = 0;
    // The timing to place a grid with; may start the stream to learn it.
    virtual std::optional<StreamTiming> timingForGrid() { return latestTiming(); }

    // --- GUI thread: helpers for backends -----------------------------------
    // Creates the engine for this format on the first call and converts the
    // sounds to it; later calls keep the engine whatever they ask for.
    ClickEngine& makeEngine(std::uint32_t sampleRate, int channels);
    ClickEngine* engine() { return engine_.get(); }
    const ClickEngine* engine() const { return engine_.get(); }
    // Just before a stream starts, while no render thread runs: the old
    // stream's timing no longer holds.
    void beginStream();
    // When no stream will take what was queued: queues one purge (at most one
    // until the next stream starts) so that nothing left in the engine sounds
    // when a stream runs again, and the queue cannot fill up meanwhile.
    void cancelPending();

    // --- render thread -------------------------------------------------------
    // The timing of the block about to be rendered.
    void publishTiming(const StreamTiming& timing);
    // When the block about to be rendered will be heard, on the stream's own
    // clock: frames the output lost since the last block are skipped, so the
    // clicks stay on real time's grid.
    // afterUnderrun: the device reported running dry since the last block.
    void followStreamClock(double heardAt, bool afterUnderrun);
    void renderBlock(float* out, std::size_t frames);
    void countUnderflow();

private:
    std::array<PcmSound, 3> sounds_;
    std::unique_ptr<ClickEngine> engine_;
    std::unique_ptr<StreamClock> streamClock_;
    int selected_ = 0;
    std::uint32_t lastId_ = 0;
    std::uint32_t activeId_ = 0;  // the id whose clicks were started last
    bool purgeQueued_ = false;

    // Seqlock over one StreamTiming: odd while the render thread writes,
    // 0 before the first block. The fields are atomics so that a reader racing
    // a writer reads torn values (discarded) instead of undefined behaviour.
    std::atomic<std::uint64_t> timingSeq_{0};
    std::atomic<std::int64_t> timingFrame_{0};
    std::atomic<double> timingTap_{0};
    std::atomic<double> timingLatency_{0};

    std::atomic<bool> statsOn_{false};
    // Written by the render thread only; relaxed, since each is read alone.
    std::atomic<std::uint64_t> statBlocks_{0};
    std::atomic<std::uint64_t> statFrames_{0};
    std::atomic<double> statCpuTotal_{0};
    std::atomic<double> statCpuMax_{0};
    std::atomic<double> statLatencyMin_{std::numeric_limits<double>::infinity()};
    std::atomic<double> statLatencyMax_{0};
    std::atomic<std::uint64_t> statUnderflows_{0};
    std::atomic<std::uint64_t> statDropouts_{0};
    std::atomic<std::uint64_t> statSkipped_{0};
    std::atomic<double> statClockDifferenceMax_{0};
};

}  // namespace pulsaro
