#pragma once

#include <QObject>

#include "core/tap_model.h"

namespace pulsaro {

// The tap model's news as Qt signals, for the window and whatever else
// follows the measurement on the GUI thread.
class TapSignals final : public QObject, public TapObserver {
    Q_OBJECT

public:
    explicit TapSignals(TapModel& model, QObject* parent = nullptr);
    ~TapSignals() override;

    void pressed(const TapPress& press) override { emit tapPressed(press); }
    void measurementEnded(Fixed tempo, const BeatGrid& grid) override { emit ended(tempo, grid); }
    void cleared() override { emit tapCleared(); }
    void gridMoved(Fixed tempo, const BeatGrid& grid) override { emit moved(tempo, grid); }

signals:
    void tapPressed(const pulsaro::TapPress& press);
    void ended(pulsaro::Fixed tempo, const pulsaro::BeatGrid& grid);
    void tapCleared();
    // A run locked to the heard music follows it.
    void moved(pulsaro::Fixed tempo, const pulsaro::BeatGrid& grid);

private:
    TapModel& model_;
};

}  // namespace pulsaro
