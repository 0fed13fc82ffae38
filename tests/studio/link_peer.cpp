// A second member of a Link session, for the Link session tests and
// bench/link_phase.sh. It joins at once and answers one line on stdout for
// each command line on stdin; it leaves at the end of its input.
//   state T Q       ->  "<tempo> <beat at T for quantum Q> <peers>"
//   set BPM T B Q   ->  "ok": tempo BPM from now on, beat B (modulo Q) at T
// T is in tap-clock seconds: steady_clock (CLOCK_MONOTONIC) since boot, the
// clock Pulsaro's LinkSession takes its times in. It refuses to run on any
// network but loopback.
#include <ableton/Link.hpp>

#include <net/if.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>

#include "link_peer_client.h"

namespace {

using pulsaro::link_test::onlyLoopback;

// Tap-clock seconds to Link's CLOCK_MONOTONIC_RAW microseconds, from the
// tightest of a few back-to-back readings of both clocks.
std::chrono::microseconds toLinkTime(double tapSeconds) {
    using namespace std::chrono;
    double best = 0;
    auto bestSpan = nanoseconds::max();
    for (int i = 0; i < 4; ++i) {
        const auto before = steady_clock::now();
        timespec raw{};
        clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
        const auto after = steady_clock::now();
        if (after - before < bestSpan) {
            bestSpan = after - before;
            const double mid =
                duration<double>((before + (after - before) / 2).time_since_epoch()).count();
            best = static_cast<double>(raw.tv_sec) + static_cast<double>(raw.tv_nsec) / 1e9 - mid;
        }
    }
    return microseconds(std::llround((tapSeconds + best) * 1e6));
}

}  // namespace

int main() {
    if (!onlyLoopback()) {
        std::fprintf(stderr, "link_peer: runs only in a network namespace with loopback alone\n");
        return 2;
    }
    ableton::Link link(120.0);
    link.enable(true);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        double bpm = 0, t = 0, beat = 0, quantum = 0;
        in >> command;
        if (command == "state" && in >> t >> quantum) {
            const auto session = link.captureAppSessionState();
            std::printf("%.9f %.9f %zu\n", session.tempo(),
                        session.beatAtTime(toLinkTime(t), quantum), link.numPeers());
        } else if (command == "set" && in >> bpm >> t >> beat >> quantum) {
            auto session = link.captureAppSessionState();
            session.setTempo(bpm, link.clock().micros());
            session.forceBeatAtTime(beat, toLinkTime(t), quantum);
            link.commitAppSessionState(session);
            std::printf("ok\n");
        } else {
            std::printf("? %s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}
