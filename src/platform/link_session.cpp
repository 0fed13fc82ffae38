// The Link session: an ableton::Link made on the first setEnabled(true) and
// destroyed again on setEnabled(false), so that with Link off the program has
// no Link thread and no socket.
#include "platform/link_session.h"

#include <ableton/Link.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>
#include <type_traits>
#include <utility>

namespace pulsaro {
namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

// The conversion below reads CLOCK_MONOTONIC_RAW itself (to the nanosecond,
// where Link's micros() truncates), so it must be the clock Link runs on.
static_assert(
    std::is_same_v<ableton::link::platform::Clock, ableton::platforms::linux::ClockMonotonicRaw>);

// Link time minus tap-clock time, in nanoseconds. The two clocks drift apart
// (time adjustments slew CLOCK_MONOTONIC, not the raw clock), so this is taken
// afresh for each conversion: the tightest of a few back-to-back readings.
std::int64_t linkMinusTapNanos() {
    std::int64_t best = 0;
    std::int64_t bestSpan = std::numeric_limits<std::int64_t>::max();
    for (int i = 0; i < 4; ++i) {
        const auto before = steady_clock::now();
        timespec raw{};
        clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
        const auto after = steady_clock::now();
        const std::int64_t span = nanoseconds(after - before).count();
        if (span < bestSpan) {
            bestSpan = span;
            const std::int64_t rawNanos = raw.tv_sec * 1'000'000'000LL + raw.tv_nsec;
            best = rawNanos - (nanoseconds(before.time_since_epoch()).count() + span / 2);
        }
    }
    return best;
}

microseconds toLinkTime(double tapSeconds, std::int64_t offsetNanos) {
    return microseconds(std::llround(tapSeconds * 1e6 + static_cast<double>(offsetNanos) / 1e3));
}

double toTapSeconds(microseconds linkTime, std::int64_t offsetNanos) {
    return (static_cast<double>(linkTime.count()) * 1e3 - static_cast<double>(offsetNanos)) / 1e9;
}

class AbletonLinkSession final : public LinkSession {
public:
    // Link's destructor stops and joins its threads, so no callback can reach
    // this object once link_ is gone; it goes first, before handler_.
    ~AbletonLinkSession() override { link_.reset(); }

    void setEnabled(bool on, int quantum) override {
        quantum_ = std::clamp(quantum, 1, 16);
        if (on && !link_) {
            link_ = std::make_unique<ableton::Link>(120.0);
            link_->setTempoCallback([this](double) { notify(); });
            link_->setNumPeersCallback([this](std::size_t) { notify(); });
            link_->enable(true);
        } else if (!on && link_) {
            link_.reset();
        }
    }

    bool enabled() const override { return link_ != nullptr; }

    void publish(double bpm, double beatSeconds, std::int64_t beatIndex) override {
        if (!link_) {
            return;
        }
        const auto offset = linkMinusTapNanos();
        auto session = link_->captureAppSessionState();
        session.setTempo(bpm, link_->clock().micros());
        session.forceBeatAtTime(static_cast<double>(beatIndex), toLinkTime(beatSeconds, offset),
                                quantum_);
        link_->commitAppSessionState(session);
    }

    State state() const override {
        if (!link_) {
            return {};
        }
        const auto offset = linkMinusTapNanos();
        const auto session = link_->captureAppSessionState();
        const auto now = link_->clock().micros();
        double beat = std::floor(session.beatAtTime(now, quantum_));
        auto beatTime = session.timeAtBeat(beat, quantum_);
        if (beatTime > now) {  // a beat falling on now, rounded up a microsecond
            beatTime = session.timeAtBeat(beat - 1, quantum_);
        }
        return {session.tempo(), toTapSeconds(beatTime, offset), link_->numPeers()};
    }

    void setChangeHandler(std::function<void()> handler) override {
        const std::lock_guard lock(handlerMutex_);
        handler_ = std::move(handler);
    }

private:
    // On a Link thread. Held under the lock, so that a handler replaced by
    // setChangeHandler is never called afterwards.
    void notify() {
        const std::lock_guard lock(handlerMutex_);
        if (handler_) {
            handler_();
        }
    }

    int quantum_ = 4;
    std::mutex handlerMutex_;
    std::function<void()> handler_;
    std::unique_ptr<ableton::Link> link_;
};

}  // namespace

std::unique_ptr<LinkSession> makeAbletonLinkSession() {
    return std::make_unique<AbletonLinkSession>();
}

}  // namespace pulsaro
