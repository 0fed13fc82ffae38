#pragma once

#include <cstdint>

namespace pulsaro {

// A beat of the music on the tap clock: seconds of the counter (count /
// frequency; for the real clock, std::chrono::steady_clock). With the tempo it
// gives the grid the metronome continues: beatSeconds + n x 60 / tempo.
struct BeatGrid {
    double beatSeconds = 0;
    // Which beat of its run it is: 0 for the first press, counted presses on.
    std::int64_t beatIndex = 0;
};

}  // namespace pulsaro
