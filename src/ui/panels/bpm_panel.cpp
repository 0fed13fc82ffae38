#include "ui/panels/bpm_panel.h"

#include <QLabel>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

BpmPanel::BpmPanel(QWidget* parent)
    : ModePanel(parent, "bpmPanel", "label534", res::kBpmHeading, QRect(20, 4, 169, 17)) {
    auto* shape = new ShapeWidget(this);
    shape->setObjectName(QStringLiteral("Shape1"));
    shape->setGeometry(20, 24, 169, 41);
    shape->setAttribute(Qt::WA_NoMousePropagation);
    value_ = makeLabel(this, "lblBPM_Value", tr8(res::kIdleBpm), QRect(26, 27, 159, 33), 24, true,
                       Qt::red);
    value_->setAlignment(Qt::AlignCenter);
    value_->setToolTip(tr8(res::kHintBpmValue));
    meanLabel_ = makeLabel(this, "lblMedelBPM", tr8(res::kIdleBpm), QRect(148, 51, 33, 11), 7,
                           false, QColor(255, 255, 0));
    meanLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    meanLabel_->setToolTip(tr8(res::kHintMean));
    pitchRange_ =
        makeLabel(this, "lblPitchRange", tr8(res::kIdlePitchRange), QRect(20, 68, 169, 13));
    pitchRange_->setAlignment(Qt::AlignCenter);
    pitchRange_->setToolTip(tr8(res::kHintPitch));
    addStatus("lblCounterStatus")->setToolTip(tr8(res::kHintStatus));
    saving_ = addNote("lblFastSaveActive", res::kSaving, 73);
    addTooFast("cboBPMToFastwarning")->setToolTip(tr8(res::kHintTooFast));
}

void BpmPanel::show(const Reading& reading) {
    tempo_ = reading.tempo;
    mean_ = reading.mean;
    pitchRange_->setText(reading.pitchRange);
    setTooFast(false);
    value_->setText(reading.value);
    showUncertainty(reading.uncertainty);
    meanLabel_->setText(reading.meanText);
}

void BpmPanel::showUncertainty(const QString& text) {
    // Beside the hint rather than beside the value, so nothing on the panel
    // moves; screen readers get it as the value's description.
    value_->setToolTip(text.isEmpty() ? tr8(res::kHintBpmValue)
                                      : tr8(res::kHintBpmValue) + QLatin1Char('\n') + text);
    value_->setAccessibleDescription(text);
}

QString BpmPanel::valueToolTip() const {
    return value_->toolTip();
}

void BpmPanel::clear() {
    value_->setText(tr8(res::kIdleBpm));
    showUncertainty({});
    pitchRange_->setText(tr8(res::kIdlePitchRange));
    tempo_.reset();
    setTooFast(false);
}

void BpmPanel::clearMean() {
    meanLabel_->setText(tr8(res::kIdleBpm));
    mean_.reset();
}

void BpmPanel::setSaving(bool shown) {
    saving_->setVisible(shown);
}

QString BpmPanel::valueText() const {
    return value_->text();
}

QString BpmPanel::meanText() const {
    return meanLabel_->text();
}

QString BpmPanel::pitchRangeText() const {
    return pitchRange_->text();
}

}  // namespace pulsaro
