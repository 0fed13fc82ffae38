#pragma once

// Shared by the Link session's test, its peer program and its benchmark.

#include <net/if.h>

#include <chrono>
#include <cstring>

namespace pulsaro::link_test {

// Whether loopback is the only network interface: Link may only run where
// it cannot reach a real network.
inline bool onlyLoopback() {
    struct if_nameindex* names = if_nameindex();
    bool ok = names != nullptr;
    for (auto* n = names; ok && n->if_index != 0; ++n) {
        ok = std::strcmp(n->if_name, "lo") == 0;
    }
    if_freenameindex(names);
    return ok;
}

// Tap-clock seconds now: steady_clock since its epoch.
inline double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace pulsaro::link_test
