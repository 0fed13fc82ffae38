#pragma once

#include <QWidget>

#include "core/studio_settings.h"
#include "ui/studio/studio.h"

class QCheckBox;
class QKeySequenceEdit;
class QLabel;
class QPushButton;
class QSpinBox;

namespace pulsaro {

// The settings dialog's page for other music software: Link, the MIDI
// ports and the key that taps from any window. Each change is tried at once,
// so an option that cannot work says why and stays off.
class StudioTab final : public QWidget {
    Q_OBJECT

public:
    explicit StudioTab(QWidget* parent = nullptr);

    StudioSettings settings() const;
    // The settings in effect and what could not be turned on.
    void show(const StudioSettings& settings, const Studio::Problems& problems, bool keyAvailable);

    QCheckBox* chkLink = nullptr;
    QSpinBox* spnQuantum = nullptr;
    QCheckBox* chkClockOut = nullptr;
    QCheckBox* chkTapIn = nullptr;
    QSpinBox* spnTapNote = nullptr;
    QSpinBox* spnTapController = nullptr;
    QLabel* lblMidiProblem = nullptr;
    QKeySequenceEdit* keyTap = nullptr;
    QPushButton* cmdClearKey = nullptr;
    QLabel* lblKeyProblem = nullptr;

signals:
    void changed();

private:
    // While show() fills the controls, their signals say nothing.
    bool filling_ = false;
};

}  // namespace pulsaro
