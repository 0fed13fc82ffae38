#include "ui/panels/mpm_panel.h"

#include <QLabel>
#include <QStringList>

#include "core/tempo_math.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

// The captions of the five values, in the order of measures_.
const char* const kFractions[] = {res::kTwoThirds, res::kHalf, res::kThird, res::kQuarter,
                                  res::kEighth};

}  // namespace

MpmPanel::MpmPanel(QWidget* parent)
    : ModePanel(parent, "mpmPanel", "Label5", res::kMpmHeading, QRect(20, 4, 169, 17)) {
    const LabelPlace places[] = {{"lblMPM23", QRect(28, 29, 86, 15), Qt::black},
                                 {"lblMPM2", QRect(28, 45, 86, 15), kNavy},
                                 {"lblMPM3", QRect(28, 61, 86, 15), Qt::black},
                                 {"lblMPM4", QRect(118, 29, 86, 15), kNavy},
                                 {"lblMPM8", QRect(118, 45, 86, 15), Qt::black}};
    const QString idle = tr8(res::kIdleMpmSuffix);
    for (std::size_t k = 0; k < measures_.size(); ++k) {
        measures_[k] = makeLabel(this, places[k].name, tr8(kFractions[k]) + idle, places[k].place,
                                 9, true, places[k].colour);
    }
    tempoLine_ = makeLabel(this, "lblBPMinMPM", tr8(res::kIdleBpmInMpm), QRect(120, 63, 83, 14), 8,
                           true, kNavy);
    tempoLine_->setToolTip(tr8(res::kHintBpmInMpm));
    addStatus("lblCounterStatusMPM");
    saving_ = addNote("lblFastSaveActive2", res::kSaving, 73);
    addTooFast("cboMPMToFastwarning");
}

void MpmPanel::show(const MpmTexts& texts) {
    tempoLine_->setText(fromStd(texts.bpm));
    const std::string* values[] = {&texts.twoThirds, &texts.half, &texts.third, &texts.quarter,
                                   &texts.eighth};
    for (std::size_t k = 0; k < measures_.size(); ++k) {
        measures_[k]->setText(tr8(kFractions[k]) + fromStd(*values[k]));
    }
    hasTempo_ = true;
}

void MpmPanel::showTempoLine(const QString& text) {
    tempoLine_->setText(text);
}

void MpmPanel::clear() {
    const QString idle = tr8(res::kIdleMpmSuffix);
    for (std::size_t k = 0; k < measures_.size(); ++k) {
        measures_[k]->setText(tr8(kFractions[k]) + idle);
    }
    tempoLine_->setText(tr8(res::kIdleBpmInMpm));
    hasTempo_ = false;
    setTooFast(false);
}

void MpmPanel::setSaving(bool shown) {
    saving_->setVisible(shown);
}

QStringList MpmPanel::lines() const {
    QStringList result;
    for (const QLabel* value : measures_) {
        result << value->text();
    }
    result << tempoLine_->text();
    return result;
}

}  // namespace pulsaro
