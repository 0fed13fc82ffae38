#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "ui/panels/mode_panel.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pulsaro {

class AppServices;

// The delay time calculator: a table of delay times for a tempo, measured or
// typed into its tempo box, straight or as triplets, and the button of the
// metronome at the typed tempo.
class DelayPanel final : public ModePanel {
    Q_OBJECT

public:
    // Which table the rows show: of a tempo, straight or as triplets, or of
    // no tempo ("?").
    enum class Table { Straight, Triplets, Unknown };

    DelayPanel(QWidget* parent, AppServices& operations);

    // The rows for tempo; the box shows the tempo too unless the user types.
    void showTimes(Table table, Fixed tempo);
    // The rows for the tempo on show, straight or as triplets.
    void showTimes(Fixed tempo) { showTimes(table(), tempo); }
    void showMean(const QString& text);
    void setMeanVisible(bool visible);
    bool showsMean() const { return showsMean_; }
    // Rows, box and mean back to their idle texts; typing starts afresh.
    void clear();

    bool triplets() const { return triplets_; }
    Table table() const { return triplets_ ? Table::Triplets : Table::Straight; }
    // The double-click: straight to triplets and back.
    void toggleTriplets();

    // The tempo box.
    QLineEdit* tempoBox() const { return tempoBox_; }
    QString tempoText() const;
    // The typed text as a tempo, when it is a number.
    std::optional<Fixed> typedTempo() const;
    bool typing() const { return typing_; }
    // A character typed into the box: true when the box takes it.
    bool acceptTyped(QChar key);
    void focusTempoBox();

    QWidget* metronomeButton() const;
    // The button's hint says what a press does.
    void setMetronomeOn(bool on);

    // The lines a copy to the clipboard takes: the seven rows.
    QStringList rows() const;

signals:
    // The user began to type a tempo (Reset becomes available).
    void typingStarted();
    // A typed tempo from 50 to 250 BPM, or 0 for a text that is no number.
    void typedTempoChanged(pulsaro::Fixed tempo);
    void metronomeClicked();

private:
    void boxChanged();
    void boxEdited();

    AppServices& services_;
    QLineEdit* tempoBox_;
    QPushButton* metronome_;
    std::array<QLabel*, 7> rows_{};
    QLabel* mean_;
    QLabel* tripletsNote_;
    bool triplets_ = false;
    bool typing_ = false;
    bool showsMean_ = false;
};

}  // namespace pulsaro
