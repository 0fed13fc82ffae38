#include "ui/tick_timer.h"

#include <QObject>
#include <QTimerEvent>
#include <memory>
#include <unordered_map>
#include <utility>

namespace pulsaro {

// The one hidden object that owns the system timers of all TTickTimer
// objects and routes each tick back to its timer. GUI thread only.
class TTickTimerHandler final : public QObject {
public:
    static TTickTimerHandler& registerTimer() {
        if (!instance_) {
            instance_ = std::make_unique<TTickTimerHandler>();
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

    static TTickTimerHandler* instance() { return instance_.get(); }

    int start(TTickTimer* timer, std::int32_t periodMs) {
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
    static inline std::unique_ptr<TTickTimerHandler> instance_;
    std::uint32_t liveCount_ = 0;
    std::unordered_map<int, TTickTimer*> timers_;
};

TTickTimer::TTickTimer() : TTickTimer(1000, {}) {}

TTickTimer::TTickTimer(std::int32_t periodMs, TickHandler handler) : periodMs_(periodMs) {
    SetTickHandler(std::move(handler));
    TTickTimerHandler::registerTimer();
}

TTickTimer::~TTickTimer() {
    if (active_) {
        StopTicking(true);
    }
    TTickTimerHandler::unregisterTimer();
}

bool TTickTimer::SetActive(bool on) {
    return on ? StartTicking() : StopTicking(true);
}

void TTickTimer::SetPeriod(std::int32_t ms) {
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

void TTickTimer::SetTickHandler(TickHandler handler) {
    onTick_ = std::move(handler);
    if (!onTick_ && active_) {
        StopTicking(false);
    }
}

bool TTickTimer::StartTicking() {
    if (periodMs_ == 0) {
        return false;
    }
    if (active_) {
        StopTicking(true);
    }
    TTickTimerHandler* handler = TTickTimerHandler::instance();
    systemTimerId_ = handler != nullptr && periodMs_ > 0 ? handler->start(this, periodMs_) : 0;
    active_ = systemTimerId_ != 0;
    return active_;
}

bool TTickTimer::StopTicking(bool clearActive) {
    if (clearActive) {
        active_ = false;
    }
    TTickTimerHandler* handler = TTickTimerHandler::instance();
    const bool stopped = handler != nullptr && handler->stop(systemTimerId_);
    systemTimerId_ = 0;
    return stopped;
}

void TTickTimer::tick() {
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
    const TTickTimerHandler* handler = TTickTimerHandler::instance();
    return handler != nullptr ? handler->liveCount() : 0;
}

bool tickTimerDispatcherExists() {
    return TTickTimerHandler::instance() != nullptr;
}

void dispatchTickForTesting(int systemTimerId) {
    if (TTickTimerHandler* handler = TTickTimerHandler::instance()) {
        handler->dispatch(systemTimerId);
    }
}

}  // namespace pulsaro
