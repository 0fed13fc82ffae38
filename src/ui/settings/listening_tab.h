#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "audio/audio_capture.h"

class QCheckBox;
class QComboBox;

namespace pulsaro {

// The settings dialog's page for listening: what to listen to (what this
// computer plays, or an input the sound server offers) and whether the
// playing track's names fill the save panel.
class ListeningTab final : public QWidget {
    Q_OBJECT

public:
    ListeningTab();

    // inputs: what the server offers now (none when it cannot be reached);
    // chosen: the stored input's name (empty: what this computer plays),
    // kept in the list even while it is not plugged in.
    void show(const std::vector<CaptureInput>& inputs, const QString& chosen, bool namesFromPlayer);
    QString chosenInput() const;
    bool namesFromPlayer() const;

private:
    QComboBox* input_ = nullptr;
    QCheckBox* names_ = nullptr;
};

}  // namespace pulsaro
