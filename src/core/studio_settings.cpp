#include "core/studio_settings.h"

#include "core/settings_names.h"
#include "core/settings_store.h"

namespace pulsaro {

namespace {

std::int32_t inRange(const RegistryKey& key, const char* name, std::int32_t low, std::int32_t high,
                     std::int32_t fallback) {
    std::int32_t value = fallback;
    try {
        value = key.findInteger(name).value_or(fallback);
    } catch (const SettingsTypeError&) {
        return fallback;
    }
    return value >= low && value <= high ? value : fallback;
}

}  // namespace

StudioSettings StudioSettings::read(const SettingsStore& store) {
    StudioSettings studio;
    const auto key = RegistryKey::openReadOnly(store, settings::kKeyPath);
    if (!key) {
        return studio;
    }
    studio.link = inRange(*key, settings::kLinkEnabled, 0, 1, 0) == 1;
    studio.quantum =
        inRange(*key, settings::kLinkQuantum, kLowestQuantum, kHighestQuantum, kDefaultQuantum);
    studio.clockOut = inRange(*key, settings::kMidiClockOut, 0, 1, 0) == 1;
    studio.tapIn = inRange(*key, settings::kMidiTapIn, 0, 1, 0) == 1;
    studio.tapNote = inRange(*key, settings::kMidiTapNote, kAnyNote, 127, kAnyNote);
    studio.tapController =
        inRange(*key, settings::kMidiTapController, kNoController, 127, kSustainPedal);
    try {
        studio.tapKey = key->findString(settings::kGlobalTapKey).value_or(std::string());
    } catch (const SettingsTypeError&) {
        studio.tapKey.clear();
    }
    return studio;
}

void StudioSettings::write(RegistryKey& key) const {
    key.writeInteger(settings::kLinkEnabled, link ? 1 : 0);
    key.writeInteger(settings::kLinkQuantum, quantum);
    key.writeInteger(settings::kMidiClockOut, clockOut ? 1 : 0);
    key.writeInteger(settings::kMidiTapIn, tapIn ? 1 : 0);
    key.writeInteger(settings::kMidiTapNote, tapNote);
    key.writeInteger(settings::kMidiTapController, tapController);
    key.writeString(settings::kGlobalTapKey, tapKey);
}

}  // namespace pulsaro
