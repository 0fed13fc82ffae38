#include "ui/window/tap_signals.h"

namespace pulsaro {

TapSignals::TapSignals(TapModel& model, QObject* parent) : QObject(parent), model_(model) {
    model_.addObserver(*this);
}

TapSignals::~TapSignals() {
    model_.removeObserver(*this);
}

}  // namespace pulsaro
