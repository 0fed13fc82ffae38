#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace pulsaro {

// A tempo session shared with other music software on the local network
// (Ableton Link). Times are tap-clock seconds (std::chrono::steady_clock).
// Nothing runs until setEnabled(true): no thread, no socket. Every call is
// made on the GUI thread.
class LinkSession {
public:
    struct State {
        double tempo = 0;
        // A beat of the session (a whole beat number) at or just before the
        // moment state() was asked.
        double beatSeconds = 0;
        std::size_t peers = 0;
    };

    virtual ~LinkSession() = default;

    // Joins or leaves the session. quantum: beats per bar, 1 to 16 (clamped);
    // calling it again while enabled only changes the quantum.
    virtual void setEnabled(bool on, int quantum) = 0;
    virtual bool enabled() const = 0;

    // A tempo tapped or typed here: the session tempo becomes bpm and the
    // session's beat phase is moved so that beat number beatIndex (counted
    // from a bar's first beat, taken modulo the quantum) falls at
    // beatSeconds.
    virtual void publish(double bpm, double beatSeconds, std::int64_t beatIndex) = 0;

    // The session as it is now; tempo 0 while disabled.
    virtual State state() const = 0;

    // Called on a thread of the session whenever the tempo or the number of
    // peers changes (the caller queues it to its own thread). Set before
    // enabling. The handler must not wait for the GUI thread nor call
    // setChangeHandler: disabling and destruction wait for a running handler.
    virtual void setChangeHandler(std::function<void()> handler) = 0;
};

std::unique_ptr<LinkSession> makeAbletonLinkSession();

}  // namespace pulsaro
