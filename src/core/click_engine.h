#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/fixed_point.h"
#include "core/wav.h"

namespace pulsaro {

// Frame of click k of a metronome at tempo (fixed-point BPM) whose click 0
// falls at anchor: round(anchor + k * 60 * rate / tempo), computed from k so
// that rounding never accumulates. anchor may be fractional.
std::int64_t clickFrame(long double anchor, std::int64_t k, Fixed tempo, double sampleRate);

// The exact period in frames (60 * rate / tempo). Throws ArithmeticError for
// a tempo <= 0.
long double periodFrames(Fixed tempo, double sampleRate);

// The first k whose click frame is at or after earliest.
std::int64_t firstClickAtOrAfter(long double anchor, std::int64_t earliest, Fixed tempo,
                                 double sampleRate);

// Renders the metronome: one voice that plays a click sound, started at
// exact frames. A periodic click starts its sound's attack frames ahead of
// its beat, so that the attack, not the quiet before it, falls on the beat; a
// sound played once starts from its first frame. Commands come from one
// producer thread (the GUI) and are taken by the render thread at the start
// of each block through a fixed-size single-producer/single-consumer queue;
// render() never locks, allocates or waits.
//
// The sounds are given once, before rendering starts, already converted to
// the engine's rate and channel count; they stay alive and unchanged as long
// as the engine does. A sound index of -1 means no sound (clicks are silent).
class ClickEngine {
public:
    static constexpr int kSoundCount = 3;

    ClickEngine(double sampleRate, int channels);
    ClickEngine(const ClickEngine&) = delete;
    ClickEngine& operator=(const ClickEngine&) = delete;

    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

    // --- producer thread ---------------------------------------------------
    // Only before the first render(). attacks[i] is the frame of sound i
    // that a periodic click puts on its beat (see attackFrame), at most its
    // length.
    void setSounds(std::array<PcmSound, kSoundCount> sounds,
                   std::array<std::size_t, kSoundCount> attacks = {});
    // The sound of every later click (takes effect at the next click).
    void selectSound(int index);
    // Starts a periodic click under id (non-zero), replacing any other. Click
    // k falls at clickFrame(anchor, k, tempo, rate) for k >= firstK; without
    // an anchor click 0 falls on the first frame of the next block. A click
    // whose lead-in should have begun already (click 0 without an anchor, an
    // anchored one just ahead) begins that far into its sound, so its attack
    // still falls on its beat. False when the queue is full.
    bool startPeriodic(std::uint32_t id, Fixed tempo, std::optional<long double> anchor,
                       std::int64_t firstK);
    // Stops the periodic click if it runs under id; any other id does nothing.
    // The sound already playing plays on.
    bool stopPeriodic(std::uint32_t id);
    // Plays sound index once at the next block, cutting what plays.
    bool playOnce(int index);
    // Silences everything from the next block on: the voice and the
    // periodic click.
    bool purge();

    // --- render thread -----------------------------------------------------
    // Writes frames frames of interleaved float samples and advances the
    // frame position.
    void render(float* out, std::size_t frames);
    // Moves the timeline on by frames frames without a sound, for frames the
    // output lost: clicks that fell in them are lost, never played late, and
    // a sound that was playing goes on from where real time has it.
    void skip(std::int64_t frames);
    // Frames rendered (or skipped) so far (readable from any thread).
    std::int64_t position() const { return position_.load(std::memory_order_acquire); }
    // True while a periodic click runs, a sound plays or a command waits for
    // the next block (so an idle check right after a command never stops the
    // stream under it).
    bool busy() const;
    // Frames since the engine last had anything to play (0 while busy).
    std::int64_t idleFrames() const;
    // The beat frame of the next periodic click, or -1 when none runs
    // (readable from any thread; as of the last block).
    std::int64_t nextClickFrame() const { return nextClickFrame_.load(std::memory_order_acquire); }
    // The beat of the last periodic click begun, or -1 before any.
    std::int64_t lastClickFrame() const { return lastClickFrame_.load(std::memory_order_acquire); }

private:
    struct Command {
        enum class Kind : std::uint8_t { Start, Stop, PlayOnce, Purge } kind;
        std::uint32_t id = 0;
        Fixed tempo = 0;
        bool anchored = false;
        long double anchor = 0;
        std::int64_t firstK = 0;
        int sound = -1;
    };
    static constexpr std::size_t kQueueSize = 64;

    bool push(const Command& command);
    void apply(const Command& command, std::int64_t blockStart);
    void startVoice(int index, std::size_t fromFrame = 0);
    // Writes the voice (or silence) into frames [from, to) of the block.
    void writeVoice(float* out, std::size_t from, std::size_t to, std::int64_t blockStart);

    const double sampleRate_;
    const int channels_;
    std::array<PcmSound, kSoundCount> sounds_;
    std::array<std::int64_t, kSoundCount> attacks_{};
    std::atomic<int> selected_{0};

    std::array<Command, kQueueSize> queue_{};
    std::atomic<std::size_t> head_{0};  // written by the producer
    std::atomic<std::size_t> tail_{0};  // written by the render thread

    // Render-thread state.
    std::uint32_t periodicId_ = 0;
    Fixed tempo_ = 0;
    long double anchor_ = 0;
    std::int64_t nextK_ = 0;
    std::int64_t nextClick_ = 0;
    const PcmSound* voice_ = nullptr;
    std::size_t voiceFrame_ = 0;
    std::atomic<std::int64_t> position_{0};
    std::atomic<bool> busy_{false};
    // The frame after the last one on which anything played.
    std::atomic<std::int64_t> lastBusyEnd_{0};
    std::atomic<std::int64_t> nextClickFrame_{-1};
    std::atomic<std::int64_t> lastClickFrame_{-1};
};

}  // namespace pulsaro
