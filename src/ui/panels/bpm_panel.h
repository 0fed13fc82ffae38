#pragma once

#include <QString>
#include <optional>

#include "ui/panels/mode_panel.h"

class QLabel;

namespace pulsaro {

// The BPM panel: the tempo, its mean and the pitch range of the last counted
// press.
class BpmPanel final : public ModePanel {
public:
    // The texts of one reading, made by the window in the user's format.
    struct Reading {
        Fixed tempo = 0;
        Fixed mean = 0;
        QString value;
        QString meanText;
        QString pitchRange;
        // How exact the tempo is ("± 0.3 BPM"), or empty before it is known.
        QString uncertainty;
    };

    explicit BpmPanel(QWidget* parent);

    void show(const Reading& reading);
    // The tempo and the pitch range back to their idle texts; the mean stays
    // until clearMean.
    void clear();
    void clearMean();
    void setSaving(bool shown);

    std::optional<Fixed> tempo() const { return tempo_; }
    std::optional<Fixed> mean() const { return mean_; }
    QString valueText() const;
    QString meanText() const;
    QString pitchRangeText() const;
    // The value's tooltip: its hint, and how exact the tempo is when known.
    QString valueToolTip() const;

private:
    void showUncertainty(const QString& text);

    QLabel* value_;
    QLabel* meanLabel_;
    QLabel* pitchRange_;
    QLabel* saving_;
    std::optional<Fixed> tempo_;
    std::optional<Fixed> mean_;
};

}  // namespace pulsaro
