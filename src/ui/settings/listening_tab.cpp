#include "ui/settings/listening_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

ListeningTab::ListeningTab() {
    setObjectName(QStringLiteral("tabListening"));
    QLabel* label =
        makeLabel(this, "lblListenInput", tr8(res::kListenInputLabel), QRect(8, 10, 0, 0));
    input_ = new QComboBox(this);
    input_->setObjectName(QStringLiteral("cboListenInput"));
    input_->setFont(windowFont(8));
    input_->setGeometry(8, 26, 437, 22);
    label->setBuddy(input_);
    names_ = new QCheckBox(tr8(res::kNamesFromPlayer), this);
    names_->setObjectName(QStringLiteral("chkNamesFromPlayer"));
    names_->setFont(windowFont(8));
    names_->move(8, 62);
    names_->adjustSize();
    // Wrapped in the width of the list above it.
    auto* hint = new QLabel(tr8(res::kListenHint), this);
    hint->setObjectName(QStringLiteral("lblListenHint"));
    hint->setFont(windowFont(8));
    hint->setWordWrap(true);
    hint->setGeometry(8, 90, 437, hint->heightForWidth(437));
}

void ListeningTab::show(const std::vector<CaptureInput>& inputs, const QString& chosen,
                        bool namesFromPlayer) {
    input_->clear();
    input_->addItem(tr8(res::kListenDefaultInput), QString());
    for (const CaptureInput& in : inputs) {
        input_->addItem(QString::fromStdString(in.description), QString::fromStdString(in.name));
    }
    int at = input_->findData(chosen);
    if (at < 0) {
        // Not plugged in now: still the choice.
        input_->addItem(chosen, chosen);
        at = input_->count() - 1;
    }
    input_->setCurrentIndex(at);
    names_->setChecked(namesFromPlayer);
}

QString ListeningTab::chosenInput() const {
    return input_->currentData().toString();
}

bool ListeningTab::namesFromPlayer() const {
    return names_->isChecked();
}

}  // namespace pulsaro
