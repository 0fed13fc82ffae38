// PLACEHOLDER until the JACK ports are written: never opens.
#include "audio/midi_ports.h"

namespace pulsaro {
namespace {
class NoMidiPorts final : public MidiPorts {
public:
    std::string configure(const Options& o) override {
        return o.clockOut || o.tapIn ? "not built yet" : "";
    }
    void startClock(Fixed, double) override {}
    void stopClock() override {}
    std::vector<TapInstant> takeTaps() override { return {}; }
    int tapNotifier() const override { return -1; }
};
}  // namespace
std::unique_ptr<MidiPorts> makeJackMidiPorts() {
    return std::make_unique<NoMidiPorts>();
}
}  // namespace pulsaro
