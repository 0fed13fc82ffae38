// The Link session against link_peer, a second member in another process, in
// the private network namespace run_link_tests.sh makes. Times passed to the
// peer are tap-clock seconds, to the microsecond.
#include "platform/link_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "private_network.h"

extern char** environ;

namespace pulsaro {
namespace {

using pulsaro::link_test::now;
using pulsaro::link_test::onlyLoopback;

int linkThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        count += name.starts_with("Link");
    }
    return count;
}

// Polls every 2 ms for up to 5 s.
template <class Done>
bool waitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class Peer {
public:
    struct View {
        double tempo = 0, beat = 0;
        std::size_t peers = 0;
    };
    Peer() {
        int in[2], out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {const_cast<char*>(PULSARO_LINK_PEER), nullptr};
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        to_ = fdopen(in[1], "w");
        from_ = fdopen(out[0], "r");
    }
    ~Peer() {
        std::fclose(to_);  // the peer leaves at the end of its input
        std::fclose(from_);
        waitpid(pid_, nullptr, 0);
    }
    std::string ask(const std::string& command) {
        char answer[256] = "";
        std::fprintf(to_, "%s\n", command.c_str());
        std::fflush(to_);
        return std::fgets(answer, sizeof answer, from_) ? answer : "";
    }
    // Tempo, beat at t (quantum 4) and peers as the peer sees them.
    View state(double t) {
        View v;
        std::sscanf(ask("state " + std::to_string(t) + " 4").c_str(), "%lf %lf %zu", &v.tempo,
                    &v.beat, &v.peers);
        return v;
    }

private:
    pid_t pid_ = 0;
    std::FILE* to_ = nullptr;
    std::FILE* from_ = nullptr;
};

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
        peer = std::make_unique<Peer>();
        ASSERT_TRUE(
            waitFor([&] { return session->state().peers == 1 && peer->state(now()).peers == 1; }));
    }
    std::atomic<int> changes = 0;
    std::unique_ptr<LinkSession> session = makeAbletonLinkSession();
    std::unique_ptr<Peer> peer;
};

TEST_F(LinkSessionTest, PeerSeesPublishedTempoAndBeat) {
    // 127.3 first: Link starts at 120, and the new tempo shows the grid has arrived.
    for (const double bpm : {127.3, 120.0}) {
        SCOPED_TRACE(bpm);
        const double beatSeconds = now() - 60 / bpm * 0.37;  // a beat just tapped, off the old grid
        session->publish(bpm, beatSeconds, 7);
        Peer::View seen;
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
