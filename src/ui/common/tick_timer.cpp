#include "ui/common/tick_timer.h"

#include <QObject>
#include <QTimerEvent>
#include <memory>
#include <unordered_map>
#include <utility>

namespace pulsaro {

// The one hidden object that owns the system timers of all TickTimer
// objects and routes each tick back to its timer. GUI thread only.
class TickTimerDispatcher final : public QObject {
public:
    static TickTimerDispatcher& registerTimer() {
        if (!instance_) {
            instance_ = std::make_unique<TickTimerDispatcher>();
        }
        ++instance_->liveCount_;
        return *instance_;
    }

    static void unregisterTimer() {
        if (!instance_) {
            return;
        }
        if (instance_->liveCount_ > 0) {
            --instance_->liveCount_;
        }
        if (instance_->liveCount_ == 0) {
            instance_.reset();
        }
    }

    static TickTimerDispatcher* instance() { return instance_.get(); }

    int start(TickTimer* timer, std::int32_t periodMs) {
        const int id = startTimer(periodMs, Qt::PreciseTimer);
        if (id != 0) {
            timers_[id] = timer;
        }
        return id;
    }

    bool stop(int id) {
        if (id == 0 || timers_.erase(id) == 0) {
            return false;
        }
        killTimer(id);
        return true;
    }

    void dispatch(int id) {
        const auto it = timers_.find(id);
        if (it != timers_.end()) {
            it->second->tick();
        }
    }

    std::uint32_t liveCount() const { return liveCount_; }

protected:
    void timerEvent(QTimerEvent* event) override { dispatch(event->timerId()); }

private:
    static inline std::unique_ptr<TickTimerDispatcher> instance_;
    std::uint32_t liveCount_ = 0;
    std::unordered_map<int, TickTimer*> timers_;
};

TickTimer::TickTimer() : TickTimer(1000, {}) {}

TickTimer::TickTimer(std::int32_t periodMs, TickHandler handler) : periodMs_(periodMs) {
    SetTickHandler(std::move(handler));
    TickTimerDispatcher::registerTimer();
}

TickTimer::~TickTimer() {
    if (active_) {
        StopTicking(true);
    }
    TickTimerDispatcher::unregisterTimer();
}

bool TickTimer::SetActive(bool on) {
    return on ? StartTicking() : StopTicking(true);
}

void TickTimer::SetPeriod(std::int32_t ms) {
    if (ms == periodMs_) {
        return;
    }
    periodMs_ = ms;
    if (active_) {
        if (ms != 0) {
            StartTicking();
        } else {
            StopTicking(false);
        }
    }
}

void TickTimer::SetTickHandler(TickHandler handler) {
    onTick_ = std::move(handler);
    if (!onTick_ && active_) {
        StopTicking(false);
    }
}

bool TickTimer::StartTicking() {
    if (periodMs_ == 0) {
        return false;
    }
    if (active_) {
        StopTicking(true);
    }
    TickTimerDispatcher* handler = TickTimerDispatcher::instance();
    systemTimerId_ = handler != nullptr && periodMs_ > 0 ? handler->start(this, periodMs_) : 0;
    active_ = systemTimerId_ != 0;
    return active_;
}

bool TickTimer::StopTicking(bool clearActive) {
    if (clearActive) {
        active_ = false;
    }
    TickTimerDispatcher* handler = TickTimerDispatcher::instance();
    const bool stopped = handler != nullptr && handler->stop(systemTimerId_);
    systemTimerId_ = 0;
    return stopped;
}

void TickTimer::tick() {
    if (OneShot) {
        StopTicking(true);
    }
    if (onTick_) {
        // The handler may destroy this timer; keep the callable alive.
        const TickHandler handler = onTick_;
        handler(*this);
    }
}

std::uint32_t liveTickTimerCount() {
    const TickTimerDispatcher* handler = TickTimerDispatcher::instance();
    return handler != nullptr ? handler->liveCount() : 0;
}

bool tickTimerDispatcherExists() {
    return TickTimerDispatcher::instance() != nullptr;
}

void dispatchTickForTesting(int systemTimerId) {
    if (TickTimerDispatcher* handler = TickTimerDispatcher::instance()) {
        handler->dispatch(systemTimerId);
    }
}

}  // namespace pulsaro
