#pragma once

#include <cstdint>
#include <functional>

namespace pulsaro {

class TickTimerDispatcher;

// A light timer object that calls its handler on the GUI thread every
// PeriodMs. All timers share one hidden dispatcher object, which exists
// exactly while at least one timer exists.
//
// States: inactive (Active false, no system timer), ticking (Active true,
// system timer running) and paused (Active true, no system timer: period 0 or
// no handler).
class TickTimer {
public:
    using TickHandler = std::function<void(TickTimer& sender)>;

    TickTimer();
    TickTimer(std::int32_t periodMs, TickHandler handler);
    ~TickTimer();

    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    // On starts ticking (false, and nothing changes, when the period is 0 or
    // the system refuses); off stops and clears Active.
    bool SetActive(bool on);
    void SetPeriod(std::int32_t ms);
    void SetTickHandler(TickHandler handler);

    bool Active() const { return active_; }
    std::int32_t PeriodMs() const { return periodMs_; }
    // The system timer's id while ticking, 0 otherwise.
    int systemTimerId() const { return systemTimerId_; }

    // Switches itself off just before its handler runs.
    bool OneShot = false;

private:
    friend class TickTimerDispatcher;

    bool StartTicking();
    bool StopTicking(bool clearActive);
    void tick();

    bool active_ = false;
    std::int32_t periodMs_ = 1000;
    TickHandler onTick_;
    int systemTimerId_ = 0;
};

// Number of live timers; the shared dispatcher exists exactly while it is > 0.
std::uint32_t liveTickTimerCount();
bool tickTimerDispatcherExists();

// Delivers a tick for the given system timer id as the dispatcher would, for
// tests that move time by hand. Ids of no live timer are ignored.
void dispatchTickForTesting(int systemTimerId);

}  // namespace pulsaro
