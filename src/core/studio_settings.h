#pragma once

#include <cstdint>
#include <string>

namespace pulsaro {

class RegistryKey;
class SettingsStore;

// What the user turned on to send the tapped tempo to other music software.
// Everything is off by default.
struct StudioSettings {
    static constexpr std::int32_t kDefaultQuantum = 4;
    static constexpr std::int32_t kLowestQuantum = 1;
    static constexpr std::int32_t kHighestQuantum = 16;
    static constexpr std::int32_t kAnyNote = -1;
    static constexpr std::int32_t kNoController = -1;
    static constexpr std::int32_t kSustainPedal = 64;

    bool link = false;
    std::int32_t quantum = kDefaultQuantum;
    bool clockOut = false;
    bool tapIn = false;
    std::int32_t tapNote = kAnyNote;
    std::int32_t tapController = kSustainPedal;
    // The key that taps from any window, in portable text ("Ctrl+Alt+Space");
    // empty for none.
    std::string tapKey;

    bool anyOn() const { return link || clockOut || tapIn || !tapKey.empty(); }
    bool operator==(const StudioSettings&) const = default;

    // The stored values; a missing or damaged one (or one out of its range)
    // is its default.
    static StudioSettings read(const SettingsStore& store);
    void write(RegistryKey& key) const;
};

}  // namespace pulsaro
