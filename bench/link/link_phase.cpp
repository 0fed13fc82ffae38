// Publishes a tapped beat grid N times at tempos from 90 to 180 BPM through
// Pulsaro's Link session and asks link_peer, another process in the session,
// for the tempo it sees and its beat at the tapped beat's time. Prints the
// tempo error, the phase error at the tapped beat and how long each grid took
// to reach the peer. Run by bench/link_phase.sh in a private network namespace.
// Usage: link_phase link_peer-binary [N (20)]
#include "platform/link_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../tests/studio/link_peer_client.h"

namespace {

using pulsaro::link_test::LinkPeer;
using pulsaro::link_test::now;
using pulsaro::link_test::onlyLoopback;
using pulsaro::link_test::waitFor;

constexpr int kQuantum = 4;

void printSummary(const char* what, const std::vector<double>& values) {
    double sum = 0;
    for (const double v : values) {
        sum += v;
    }
    std::printf("%-44s mean %9.6f   max %9.6f\n", what, sum / static_cast<double>(values.size()),
                *std::max_element(values.begin(), values.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: link_phase link_peer-binary [N]\n");
        return 2;
    }
    if (!onlyLoopback()) {
        std::fprintf(stderr, "link_phase: runs only in a network namespace with loopback alone\n");
        return 2;
    }
    const int n = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    auto session = pulsaro::makeAbletonLinkSession();
    session->setEnabled(true, kQuantum);
    LinkPeer peer(argv[1]);
    if (!waitFor([&] { return session->state().peers == 1 && peer.state(now()).peers == 1; })) {
        std::fprintf(stderr, "the peer did not join\n");
        return 1;
    }
    std::vector<double> tempoErrors, phaseErrors, ownErrors, delays;
    for (int i = 0; i < n; ++i) {
        // 90, 94.74, 99.47, ... 180 BPM; the beat tapped a little while ago.
        const double bpm = std::round((90 + 90.0 * i / (n - 1)) * 100) / 100;
        const double period = 60 / bpm;
        const double beatSeconds = now() - period * (0.1 + 0.17 * (i % 5));
        const std::int64_t beatIndex = 3 * i + 1;
        const double published = now();
        session->publish(bpm, beatSeconds, beatIndex);
        LinkPeer::View seen;
        if (!waitFor([&] {
                seen = peer.state(beatSeconds, kQuantum);
                return std::abs(seen.tempo - bpm) < 0.5;
            })) {
            std::fprintf(stderr, "the peer did not see %.2f BPM\n", bpm);
            return 1;
        }
        delays.push_back((now() - published) * 1e3);
        tempoErrors.push_back(std::abs(seen.tempo - bpm));
        const double beatsOff =
            std::remainder(seen.beat - static_cast<double>(beatIndex), kQuantum);
        phaseErrors.push_back(std::abs(beatsOff) * period * 1e3);
        const double own = session->state().beatSeconds;
        ownErrors.push_back(std::abs(std::remainder((own - beatSeconds) / period, 1.0)) * period *
                            1e3);
    }
    std::printf("%d grids, 90 to 180 BPM, quantum %d\n", n, kQuantum);
    printSummary("tempo error at the peer (BPM)", tempoErrors);
    printSummary("phase error at the peer, tapped beat (ms)", phaseErrors);
    printSummary("session's own beat off the tapped grid (ms)", ownErrors);
    printSummary("publish until the peer saw it (ms)", delays);
    return 0;
}
