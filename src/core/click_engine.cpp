#include "core/click_engine.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace pulsaro {

namespace {

// The render thread must never take a hidden lock inside an atomic.
static_assert(std::atomic<std::int64_t>::is_always_lock_free);
static_assert(std::atomic<std::size_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

// Anchors and click frames stay well inside 64 bits, so llroundl never
// overflows and k * numerator stays exact in the 64-bit mantissa.
constexpr long double kFrameLimit = 0x1p62L;

// 60 * rate * 10000: the period in frames times the fixed-point tempo. An
// integral rate makes it, and k times it, exact.
long double periodNumerator(double sampleRate) {
    return 60.0L * kFixedScale * sampleRate;
}

// Unchecked forms for render(); the arguments were checked when the command
// was queued.
std::int64_t frameOf(long double anchor, std::int64_t k, Fixed tempo, long double numerator) {
    return std::llroundl(anchor +
                         static_cast<long double>(k) * numerator / static_cast<long double>(tempo));
}

std::int64_t firstAtOrAfter(long double anchor, std::int64_t earliest, Fixed tempo,
                            long double numerator) {
    const long double guess = std::ceil((static_cast<long double>(earliest) - anchor) *
                                        static_cast<long double>(tempo) / numerator);
    std::int64_t k = guess <= 0 ? 0 : static_cast<std::int64_t>(guess);
    // Each click frame is rounded, so the answer may lie one step either way.
    while (k > 0 && frameOf(anchor, k - 1, tempo, numerator) >= earliest) {
        --k;
    }
    while (frameOf(anchor, k, tempo, numerator) < earliest) {
        ++k;
    }
    return k;
}

void checkTempoAndRate(Fixed tempo, double sampleRate) {
    if (tempo <= 0) {
        throw ArithmeticError("Invalid tempo");
    }
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) {
        throw ArithmeticError("Invalid sample rate");
    }
}

bool fitsFrames(long double x) {
    return std::fabs(x) <= kFrameLimit;  // false for NaN too
}

bool validSound(int index) {
    return index >= -1 && index < ClickEngine::kSoundCount;
}

}  // namespace

std::int64_t clickFrame(long double anchor, std::int64_t k, Fixed tempo, double sampleRate) {
    checkTempoAndRate(tempo, sampleRate);
    const long double numerator = periodNumerator(sampleRate);
    if (!fitsFrames(anchor) ||
        !fitsFrames(anchor + static_cast<long double>(k) * numerator / tempo)) {
        throw ArithmeticError("Floating point overflow");
    }
    return frameOf(anchor, k, tempo, numerator);
}

long double periodFrames(Fixed tempo, double sampleRate) {
    checkTempoAndRate(tempo, sampleRate);
    return divide(periodNumerator(sampleRate), static_cast<long double>(tempo));
}

std::int64_t firstClickAtOrAfter(long double anchor, std::int64_t earliest, Fixed tempo,
                                 double sampleRate) {
    checkTempoAndRate(tempo, sampleRate);
    const long double numerator = periodNumerator(sampleRate);
    if (!fitsFrames(anchor) || !fitsFrames(static_cast<long double>(earliest)) ||
        !fitsFrames((static_cast<long double>(earliest) - anchor) * tempo / numerator + 2)) {
        throw ArithmeticError("Floating point overflow");
    }
    return firstAtOrAfter(anchor, earliest, tempo, numerator);
}

ClickEngine::ClickEngine(double sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {
    if (!(sampleRate > 0) || !std::isfinite(sampleRate) || channels < 1) {
        throw std::invalid_argument("ClickEngine: invalid sample rate or channel count");
    }
}

void ClickEngine::setSounds(std::array<PcmSound, kSoundCount> sounds,
                            std::array<std::size_t, kSoundCount> attacks) {
    if (position() != 0) {
        throw std::logic_error("ClickEngine: sounds set after rendering began");
    }
    const auto rate = std::llround(sampleRate_);
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        const PcmSound& s = sounds[i];
        if (!s.samples.empty() && (s.sampleRate != rate || s.channels != channels_ ||
                                   s.samples.size() % s.channels != 0)) {
            throw std::invalid_argument("ClickEngine: sound not in the engine's format");
        }
        if (attacks[i] > (s.samples.empty() ? 0 : s.frames())) {
            throw std::invalid_argument("ClickEngine: attack past the end of its sound");
        }
        attacks_[i] = static_cast<std::int64_t>(attacks[i]);
    }
    sounds_ = std::move(sounds);
    // Release: the render thread reads selected_ with acquire before it
    // touches a sound, so it sees them complete.
    selected_.store(selected_.load(std::memory_order_relaxed), std::memory_order_release);
}

void ClickEngine::selectSound(int index) {
    if (!validSound(index)) {
        throw std::out_of_range("ClickEngine: no such sound");
    }
    selected_.store(index, std::memory_order_release);
}

bool ClickEngine::startPeriodic(std::uint32_t id, Fixed tempo, std::optional<long double> anchor,
                                std::int64_t firstK) {
    const long double period = periodFrames(tempo, sampleRate_);
    if (id == 0 || firstK < 0) {
        throw std::invalid_argument("ClickEngine: invalid click id or first click");
    }
    // Shorter than a frame would mean several clicks per frame; the callers'
    // tempo limits stay far from that.
    if (period < 1 || !fitsFrames(static_cast<long double>(firstK) * period) ||
        (anchor && !fitsFrames(*anchor))) {
        throw std::invalid_argument("ClickEngine: click period or anchor out of range");
    }
    return push(Command{.kind = Command::Kind::Start,
                        .id = id,
                        .tempo = tempo,
                        .anchored = anchor.has_value(),
                        .anchor = anchor.value_or(0),
                        .firstK = firstK});
}

bool ClickEngine::stopPeriodic(std::uint32_t id) {
    return push(Command{.kind = Command::Kind::Stop, .id = id});
}

bool ClickEngine::playOnce(int index) {
    if (!validSound(index)) {
        throw std::out_of_range("ClickEngine: no such sound");
    }
    return push(Command{.kind = Command::Kind::PlayOnce, .sound = index});
}

bool ClickEngine::purge() {
    return push(Command{.kind = Command::Kind::Purge});
}

bool ClickEngine::push(const Command& command) {
    // Only this thread writes head_.
    const std::size_t head = head_.load(std::memory_order_relaxed);
    // Acquire pairs with render()'s release of tail_: the render thread is
    // done reading a slot before we overwrite it.
    const std::size_t tail = tail_.load(std::memory_order_acquire);
    if (head - tail == kQueueSize) {
        return false;
    }
    queue_[head % kQueueSize] = command;
    // Release: the slot is written before the render thread can see it.
    head_.store(head + 1, std::memory_order_release);
    return true;
}

void ClickEngine::apply(const Command& command, std::int64_t blockStart) {
    switch (command.kind) {
        case Command::Kind::Start: {
            periodicId_ = command.id;
            tempo_ = command.tempo;
            const long double numerator = periodNumerator(sampleRate_);
            if (command.anchored) {
                // Clicks already past are skipped, never played late.
                anchor_ = command.anchor;
                nextK_ = std::max(command.firstK,
                                  firstAtOrAfter(anchor_, blockStart, tempo_, numerator));
            } else {
                anchor_ = static_cast<long double>(blockStart);
                nextK_ = command.firstK;
            }
            nextClick_ = frameOf(anchor_, nextK_, tempo_, numerator);
            break;
        }
        case Command::Kind::Stop:
            if (command.id == periodicId_) {
                periodicId_ = 0;
            }
            break;
        case Command::Kind::PlayOnce:
            startVoice(command.sound);
            break;
        case Command::Kind::Purge:
            periodicId_ = 0;
            voice_ = nullptr;
            break;
    }
}

void ClickEngine::startVoice(int index, std::size_t fromFrame) {
    const bool silent = index < 0 || index >= kSoundCount ||
                        sounds_[static_cast<std::size_t>(index)].samples.empty();
    voice_ = silent ? nullptr : &sounds_[static_cast<std::size_t>(index)];
    voiceFrame_ = silent ? 0 : std::min(fromFrame, voice_->frames());
}

void ClickEngine::writeVoice(float* out, std::size_t from, std::size_t to,
                             std::int64_t blockStart) {
    const auto channels = static_cast<std::size_t>(channels_);
    if (voice_ != nullptr) {
        const std::size_t n = std::min(to - from, voice_->frames() - voiceFrame_);
        const float* source = voice_->samples.data() + voiceFrame_ * channels;
        std::copy(source, source + n * channels, out + from * channels);
        voiceFrame_ += n;
        from += n;
        if (voiceFrame_ == voice_->frames()) {
            voice_ = nullptr;
            lastBusyEnd_.store(blockStart + static_cast<std::int64_t>(from),
                               std::memory_order_relaxed);
        }
    }
    std::fill(out + from * channels, out + to * channels, 0.0f);
}

void ClickEngine::render(float* out, std::size_t frames) {
    // Only this thread writes position_ and tail_.
    const std::int64_t blockStart = position_.load(std::memory_order_relaxed);
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    // Acquire pairs with push()'s release: the slots up to head are written.
    const std::size_t head = head_.load(std::memory_order_acquire);
    for (std::size_t t = tail; t != head; ++t) {
        apply(queue_[t % kQueueSize], blockStart);
    }

    const long double numerator = periodNumerator(sampleRate_);
    const auto blockFrames = static_cast<std::int64_t>(frames);
    std::size_t done = 0;
    for (;;) {
        // Acquire pairs with selectSound()/setSounds(): the sound and its
        // attack are complete.
        const int sound = selected_.load(std::memory_order_acquire);
        const std::int64_t lead = sound < 0 ? 0 : attacks_[static_cast<std::size_t>(sound)];
        // The sound starts its lead ahead of the beat. nextClick_ never lies
        // before blockStart + done (a start places it at or after the block
        // start, each click moves it past itself), but that start may: the
        // first click of a run is due at once, a swap can lengthen the lead,
        // skipped frames can take part of it.
        const std::int64_t start = nextClick_ - lead;
        std::size_t until = frames;
        const std::int64_t due = std::max(start - blockStart, static_cast<std::int64_t>(done));
        if (periodicId_ != 0 && due < blockFrames) {
            until = static_cast<std::size_t>(due);
        }
        writeVoice(out, done, until, blockStart);
        done = until;
        if (done == frames) {
            break;
        }
        // A start already past begins that many frames into the sound, so the
        // attack still lands on the beat; only quiet lead-in is lost.
        const std::int64_t now = blockStart + static_cast<std::int64_t>(done);
        startVoice(sound, static_cast<std::size_t>(now - start));
        const std::int64_t beat = nextClick_;
        lastClickFrame_.store(beat, std::memory_order_release);
        do {
            nextClick_ = frameOf(anchor_, ++nextK_, tempo_, numerator);
        } while (nextClick_ <= beat);
    }

    nextClickFrame_.store(periodicId_ != 0 ? nextClick_ : -1, std::memory_order_release);
    const bool playing = periodicId_ != 0 || voice_ != nullptr;
    if (playing) {
        lastBusyEnd_.store(blockStart + blockFrames, std::memory_order_relaxed);
    }
    busy_.store(playing, std::memory_order_relaxed);
    // Release: a reader that sees this position sees busy_ and lastBusyEnd_
    // as of this block.
    position_.store(blockStart + blockFrames, std::memory_order_release);
    // Released last, so busy() never sees the queue empty before busy_ shows
    // what its commands started; also frees the slots for push().
    tail_.store(head, std::memory_order_release);
}

void ClickEngine::skip(std::int64_t frames) {
    if (frames <= 0) {
        return;
    }
    const std::int64_t end = position_.load(std::memory_order_relaxed) + frames;
    if (voice_ != nullptr) {
        voiceFrame_ += static_cast<std::size_t>(std::min<std::int64_t>(
            frames, static_cast<std::int64_t>(voice_->frames() - voiceFrame_)));
        if (voiceFrame_ == voice_->frames()) {
            voice_ = nullptr;
        }
    }
    if (periodicId_ != 0 && nextClick_ < end) {
        const long double numerator = periodNumerator(sampleRate_);
        nextK_ = std::max(nextK_, firstAtOrAfter(anchor_, end, tempo_, numerator));
        nextClick_ = frameOf(anchor_, nextK_, tempo_, numerator);
        nextClickFrame_.store(nextClick_, std::memory_order_release);
    }
    if (periodicId_ != 0 || voice_ != nullptr) {
        lastBusyEnd_.store(end, std::memory_order_relaxed);
    }
    position_.store(end, std::memory_order_release);
}

bool ClickEngine::busy() const {
    // Acquire pairs with the release of tail_ at the end of render().
    if (head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_acquire)) {
        return true;
    }
    return busy_.load(std::memory_order_relaxed);
}

std::int64_t ClickEngine::idleFrames() const {
    if (busy()) {
        return 0;
    }
    const std::int64_t position = position_.load(std::memory_order_acquire);
    // May already be from a later block than position; then nothing is idle.
    return std::max<std::int64_t>(0, position - lastBusyEnd_.load(std::memory_order_relaxed));
}

}  // namespace pulsaro
