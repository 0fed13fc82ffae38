#pragma once

#include <QColor>
#include <QFrame>
#include <QRect>

#include "core/tap_model.h"

class QLabel;

namespace pulsaro {

// What the three value panels (BPM, MPM, delay) share: a heading, the status
// of the measurement and the "Too fast!" warning.
class ModePanel : public QFrame {
public:
    // "Off", "On" or "Timeout".
    void setStatus(RunStatus status);
    void setTooFast(bool shown);

protected:
    // Where a value label stands and its colour.
    struct LabelPlace {
        const char* name;
        QRect place;
        QColor colour;
    };
    static const QColor kNavy;

    // The panel with its heading; the panels add their own labels, then the
    // status, their notes and the warning, in that order.
    ModePanel(QWidget* parent, const char* name, const char* headingName, const char* heading,
              QRect headingPlace);

    QLabel* addStatus(const char* name);
    // A red note ("Saving...", "Triplets") beside the status, hidden.
    QLabel* addNote(const char* name, const char* text, int left);
    QLabel* addTooFast(const char* name);

private:
    QLabel* status_ = nullptr;
    QLabel* tooFast_ = nullptr;
};

}  // namespace pulsaro
