#pragma once

#include <QString>
#include <array>

#include "ui/panels/mode_panel.h"

class QLabel;

namespace pulsaro {

struct MpmTexts;

// The MPM panel: measures per minute for five bar lengths and the tempo.
class MpmPanel final : public ModePanel {
public:
    explicit MpmPanel(QWidget* parent);

    void show(const MpmTexts& texts);
    // The tempo line alone ("BPM: 127.5").
    void showTempoLine(const QString& text);
    void clear();
    void setSaving(bool shown);

    // Whether the panel shows the values of a tempo, not its idle texts.
    bool hasTempo() const { return hasTempo_; }
    // The lines a copy to the clipboard takes: the five values, then the tempo.
    QStringList lines() const;

private:
    // 2/3, 1/2, 1/3, 1/4, 1/8.
    std::array<QLabel*, 5> measures_{};
    QLabel* tempoLine_;
    QLabel* saving_;
    bool hasTempo_ = false;
};

}  // namespace pulsaro
