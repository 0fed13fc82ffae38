// The Link session against link_peer, a second member in another process, in
// the private network namespace run_link_tests.sh makes. Times passed to the
// peer are tap-clock seconds, to the microsecond.
#include "platform/link_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "link_peer_client.h"

namespace pulsaro {
namespace {

using link_test::LinkPeer;
using link_test::now;
using link_test::onlyLoopback;
using link_test::waitFor;

int linkThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        count += name.starts_with("Link");
    }
    return count;
}

// How far time t is off the nearest beat of a grid with a beat at `beat`, in seconds.
double offGrid(double t, double beat, double bpm) {
    return std::remainder((t - beat) * bpm / 60, 1.0) * 60 / bpm;
}

class LinkSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onlyLoopback()) {
            GTEST_SKIP() << "Link runs only in a private network namespace (run_link_tests.sh)";
        }
        ASSERT_EQ(linkThreads(), 0) << "nothing of Link before the first enable";
        session->setChangeHandler([this] { ++changes; });
        session->setEnabled(true, 4);
        peer = std::make_unique<LinkPeer>(PULSARO_LINK_PEER);
        ASSERT_TRUE(
            waitFor([&] { return session->state().peers == 1 && peer->state(now()).peers == 1; }));
    }
    std::atomic<int> changes = 0;
    std::unique_ptr<LinkSession> session = makeAbletonLinkSession();
    std::unique_ptr<LinkPeer> peer;
};

TEST_F(LinkSessionTest, PeerSeesPublishedTempoAndBeat) {
    // 127.3 first: Link starts at 120, and the new tempo shows the grid has arrived.
    for (const double bpm : {127.3, 120.0}) {
        SCOPED_TRACE(bpm);
        const double beatSeconds = now() - 60 / bpm * 0.37;  // a beat just tapped, off the old grid
        session->publish(bpm, beatSeconds, 7);
        LinkPeer::View seen;
        ASSERT_TRUE(waitFor([&] {
            seen = peer->state(beatSeconds);
            return std::abs(seen.tempo - bpm) < 0.001;
        })) << seen.tempo;
        // Beat 7 counted from a bar's first beat: the last beat of a 4-beat bar.
        EXPECT_NEAR(std::remainder(seen.beat - 7, 4) * 60 / bpm, 0, 0.001) << seen.beat;
        const auto own = session->state();
        EXPECT_NEAR(own.tempo, bpm, 1e-9);
        EXPECT_NEAR(offGrid(own.beatSeconds, beatSeconds, bpm), 0, 0.001);
    }
}

TEST_F(LinkSessionTest, FollowsPeerThenLeavesWithoutThreads) {
    const int changesBefore = changes;
    const double pivot = now() + 0.05;
    EXPECT_EQ(peer->ask("set 100.5 " + std::to_string(pivot) + " 2 4"), "ok\n");
    LinkSession::State s;
    ASSERT_TRUE(waitFor([&] {
        s = session->state();
        return std::abs(s.tempo - 100.5) < 0.001;
    })) << s.tempo;
    EXPECT_GT(changes, changesBefore);
    EXPECT_EQ(s.peers, 1u);
    const double asked = now();
    EXPECT_LE(s.beatSeconds, asked);
    EXPECT_GT(s.beatSeconds, asked - 60 / 100.5 - 0.05);
    EXPECT_NEAR(offGrid(s.beatSeconds, pivot, 100.5), 0, 0.001);
    EXPECT_NEAR(std::remainder(peer->state(s.beatSeconds).beat, 1.0) * 60 / 100.5, 0, 0.001);

    EXPECT_GT(linkThreads(), 0);
    session->setEnabled(false, 4);
    EXPECT_FALSE(session->enabled());
    EXPECT_EQ(linkThreads(), 0);
    const auto off = session->state();
    EXPECT_EQ(off.tempo, 0);
    EXPECT_EQ(off.peers, 0u);
    EXPECT_TRUE(waitFor([&] { return peer->state(now()).peers == 0; }));
}

}  // namespace
}  // namespace pulsaro
