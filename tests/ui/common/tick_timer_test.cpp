#include "ui/common/tick_timer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <memory>

namespace pulsaro {
namespace {

TEST(TickTimer, DefaultTimerHasOneSecondPeriodAndStartsWhenSwitchedOn) {
    TickTimer timer;
    EXPECT_EQ(timer.PeriodMs(), 1000);
    EXPECT_FALSE(timer.Active());
    EXPECT_EQ(timer.systemTimerId(), 0);
    EXPECT_TRUE(timer.SetActive(true));
    EXPECT_TRUE(timer.Active());
    EXPECT_NE(timer.systemTimerId(), 0);
}

TEST(TickTimer, ZeroPeriodRefusesToStart) {
    TickTimer timer(0, [](TickTimer&) {});
    EXPECT_FALSE(timer.SetActive(true));
    EXPECT_FALSE(timer.Active());
    EXPECT_EQ(timer.systemTimerId(), 0);
}

// Ticking -> paused (period 0 or no handler) -> ticking again -> off.
TEST(TickTimer, PauseAndResumeKeepActive) {
    int ticks = 0;
    TickTimer timer(50, [&](TickTimer&) { ++ticks; });
    ASSERT_TRUE(timer.SetActive(true));

    timer.SetPeriod(0);
    EXPECT_TRUE(timer.Active());
    EXPECT_EQ(timer.systemTimerId(), 0);

    timer.SetPeriod(300);
    EXPECT_TRUE(timer.Active());
    EXPECT_EQ(timer.PeriodMs(), 300);
    const int resumedId = timer.systemTimerId();
    EXPECT_NE(resumedId, 0);
    dispatchTickForTesting(resumedId);
    EXPECT_EQ(ticks, 1);

    timer.SetTickHandler({});
    EXPECT_TRUE(timer.Active());
    EXPECT_EQ(timer.systemTimerId(), 0);
    // A handler alone does not restart a paused timer.
    timer.SetTickHandler([&](TickTimer&) { ticks += 10; });
    EXPECT_EQ(timer.systemTimerId(), 0);
    EXPECT_TRUE(timer.SetActive(true));
    EXPECT_NE(timer.systemTimerId(), 0);

    timer.SetActive(false);
    EXPECT_FALSE(timer.Active());
    EXPECT_EQ(timer.systemTimerId(), 0);
}

TEST(TickTimer, OneShotIsOffInsideItsHandlerAndMayRestart) {
    bool activeInHandler = true;
    int ticks = 0;
    TickTimer timer(1000, [&](TickTimer& sender) {
        activeInHandler = sender.Active();
        if (++ticks == 1) {
            sender.SetActive(true);
        }
    });
    timer.OneShot = true;
    ASSERT_TRUE(timer.SetActive(true));
    dispatchTickForTesting(timer.systemTimerId());
    EXPECT_FALSE(activeInHandler);
    EXPECT_TRUE(timer.Active());  // switched on again by the handler
    dispatchTickForTesting(timer.systemTimerId());
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(timer.Active());
}

TEST(TickTimer, DispatcherLivesExactlyAsLongAsTheTimers) {
    ASSERT_FALSE(tickTimerDispatcherExists());
    int staleId = 0;
    {
        int secondTicks = 0;
        auto first = std::make_unique<TickTimer>();
        auto second = std::make_unique<TickTimer>(1000, [&](TickTimer&) { ++secondTicks; });
        ASSERT_TRUE(second->SetActive(true));
        EXPECT_EQ(liveTickTimerCount(), 2u);
        ASSERT_TRUE(first->SetActive(true));
        staleId = first->systemTimerId();
        first.reset();
        EXPECT_EQ(liveTickTimerCount(), 1u);
        EXPECT_TRUE(tickTimerDispatcherExists());
        // A tick for a timer that is gone is ignored.
        dispatchTickForTesting(staleId);
        EXPECT_EQ(secondTicks, 0);
        dispatchTickForTesting(second->systemTimerId());
        EXPECT_EQ(secondTicks, 1);
    }
    EXPECT_FALSE(tickTimerDispatcherExists());
    TickTimer again;
    EXPECT_TRUE(tickTimerDispatcherExists());
    EXPECT_EQ(liveTickTimerCount(), 1u);
}

// Real ticks through the event loop: two timers, each calls only its own handler.
TEST(TickTimer, TwoTimersTickIndependently) {
    int a = 0;
    int b = 0;
    TickTimer timerA(10, [&](TickTimer&) { ++a; });
    TickTimer timerB(10, [&](TickTimer& sender) {
        ++b;
        sender.SetActive(false);
    });
    timerA.SetActive(true);
    timerB.SetActive(true);
    QElapsedTimer waited;
    waited.start();
    while (a < 3 && waited.elapsed() < 2000) {
        QTest::qWait(5);
    }
    EXPECT_GE(a, 3);
    EXPECT_EQ(b, 1);
}

}  // namespace
}  // namespace pulsaro
