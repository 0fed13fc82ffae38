#include "ui/panels/delay_panel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/tempo_math.h"
#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/tempo_text.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

constexpr Fixed kLowestTypedTempo = 500'000;
constexpr Fixed kHighestTypedTempo = 2'500'000;

}  // namespace

DelayPanel::DelayPanel(QWidget* parent, AppServices& operations)
    : ModePanel(parent, "DelayPanel", "Label20", res::kDelayHeading, QRect(8, 4, 125, 17)),
      services_(operations) {
    setToolTip(tr8(res::kHintDelayPanel));

    tempoBox_ = new QLineEdit(this);
    tempoBox_->setObjectName(QStringLiteral("txtDelayBpm"));
    tempoBox_->setGeometry(136, 4, 55, 17);
    tempoBox_->setFont(windowFont(8));
    tempoBox_->setMaxLength(5);
    tempoBox_->setToolTip(tr8(res::kHintDelayBox));
    tempoBox_->setTextMargins(0, -2, 0, -2);
    QPalette boxPalette = tempoBox_->palette();
    boxPalette.setColor(QPalette::Base, QColor(255, 221, 221));
    // The selection stays visible while the box has no focus.
    boxPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                        boxPalette.color(QPalette::Active, QPalette::Highlight));
    boxPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                        boxPalette.color(QPalette::Active, QPalette::HighlightedText));
    tempoBox_->setPalette(boxPalette);
    // What is pasted passes the same character filter as what is typed.
    tempoBox_->setValidator(new TempoTextValidator(tempoBox_));
    connect(tempoBox_, &QLineEdit::textChanged, this, &DelayPanel::boxChanged);
    connect(tempoBox_, &QLineEdit::textEdited, this, &DelayPanel::boxEdited);

    metronome_ = new QPushButton(tr8(res::kMetronomeButton), this);
    metronome_->setObjectName(QStringLiteral("cmdMetronomeDelay"));
    metronome_->setGeometry(193, 4, 13, 17);
    metronome_->setFont(windowFont(7, true));
    metronome_->setFlat(true);
    // Too small for the style's own focus frame: a dotted border shows where
    // the keyboard is.
    metronome_->setStyleSheet(
        QStringLiteral("QPushButton:focus { border: 1px dotted palette(text); }"));
    metronome_->setToolTip(tr8(res::kHintMetronomeOff));
    connect(metronome_, &QPushButton::clicked, this, &DelayPanel::metronomeClicked);
    // Clicks on the controls of the panel are theirs, not the panel's.
    metronome_->setAttribute(Qt::WA_NoMousePropagation);
    tempoBox_->setAttribute(Qt::WA_NoMousePropagation);

    const LabelPlace places[] = {{"lblDelay2xWhole", QRect(12, 25, 94, 14), Qt::black},
                                 {"lblDelayWhole", QRect(12, 40, 94, 14), kNavy},
                                 {"lblDelayHalf", QRect(12, 56, 94, 14), Qt::black},
                                 {"lblDelayQuarter", QRect(12, 72, 94, 14), kNavy},
                                 {"lblDelayEight", QRect(124, 25, 82, 14), kNavy},
                                 {"lblDelaySixteenth", QRect(108, 40, 98, 14), Qt::black},
                                 {"lblDelayThirtySecond", QRect(110, 56, 96, 14), kNavy}};
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        rows_[row] = makeLabel(this, places[row].name,
                               tr8(res::kDelayPrefixes[row]) + tr8(res::kDelayIdleValue),
                               places[row].place, 8, false, places[row].colour);
    }
    mean_ = makeLabel(this, "lblDelayMedel", tr8(res::kIdleDelayMean), QRect(134, 72, 72, 14), 8,
                      false, Qt::black);
    mean_->setToolTip(tr8(res::kHintMean));
    addStatus("lblCounterStatusMSPB");
    tripletsNote_ = addNote("lblTripletsON", res::kTriplets, 77);
    addTooFast("cboTimeToFastwarning");
}

void DelayPanel::showTimes(Table table, Fixed tempo) {
    services_.guard("CalculateDelayTime", [&] {
        const std::string sep = decimalSeparator();
        if (table == Table::Unknown) {
            for (std::size_t row = 0; row < rows_.size(); ++row) {
                rows_[row]->setText(tr8(res::kDelayPrefixes[row]) + tr8(res::kDelayUnknownValue));
            }
            return;
        }
        const auto values = delayTexts(table == Table::Triplets, tempo, sep);
        for (std::size_t row = 0; row < rows_.size(); ++row) {
            rows_[row]->setText(tr8(res::kDelayPrefixes[row]) + fromStd(values[row]));
        }
        if (!typing_) {
            tempoBox_->setText(fromStd(delayBoxText(tempo, sep)));
        }
    });
}

void DelayPanel::showMean(const QString& text) {
    mean_->setText(text);
    showsMean_ = true;
}

void DelayPanel::setMeanVisible(bool visible) {
    mean_->setVisible(visible);
}

void DelayPanel::clear() {
    typing_ = false;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        rows_[row]->setText(tr8(res::kDelayPrefixes[row]) + tr8(res::kDelayIdleValue));
    }
    tempoBox_->clear();
    mean_->setText(tr8(res::kIdleDelayMean));
    showsMean_ = false;
    mean_->setVisible(true);
    setTooFast(false);
}

void DelayPanel::toggleTriplets() {
    // Reported like every handler: a failure must not escape into the event loop.
    services_.guard("DelayPanelDblClick", [&] {
        triplets_ = !triplets_;
        tripletsNote_->setVisible(triplets_);
        if (const std::optional<Fixed> tempo = typedTempo()) {
            // A zero tempo has no delay times: show the unknown table
            // instead of failing on the division.
            showTimes(*tempo == 0 ? Table::Unknown : table(), *tempo);
        }
    });
}

QString DelayPanel::tempoText() const {
    return tempoBox_->text();
}

std::optional<Fixed> DelayPanel::typedTempo() const {
    const QString text = tempoBox_->text();
    if (!isNumericText(text)) {
        return std::nullopt;
    }
    return readFixed(text);
}

bool DelayPanel::acceptTyped(QChar key) {
    bool accepted = false;
    services_.guard("txtDelayBpmKeyPress", [&] {
        accepted = key == QChar(8) || key == QLatin1Char(',') || key == QLatin1Char('.') ||
                   (key >= QLatin1Char('0') && key <= QLatin1Char('9'));
        if (accepted) {
            typing_ = true;
            emit typingStarted();
        }
    });
    return accepted;
}

void DelayPanel::focusTempoBox() {
    tempoBox_->setFocus(Qt::OtherFocusReason);
    tempoBox_->selectAll();
}

QWidget* DelayPanel::metronomeButton() const {
    return metronome_;
}

void DelayPanel::setMetronomeOn(bool on) {
    metronome_->setToolTip(tr8(on ? res::kHintMetronomeOn : res::kHintMetronomeOff));
}

QStringList DelayPanel::rows() const {
    QStringList lines;
    for (const QLabel* row : rows_) {
        lines << row->text();
    }
    return lines;
}

void DelayPanel::boxChanged() {
    services_.guard("txtDelayBpmChange", [&] {
        if (!typing_) {
            return;
        }
        if (const std::optional<Fixed> tempo = typedTempo()) {
            if (*tempo >= kLowestTypedTempo && *tempo <= kHighestTypedTempo) {
                emit typedTempoChanged(*tempo);
                showTimes(*tempo);
            }
        } else {
            showTimes(Table::Unknown, 0);
            emit typedTempoChanged(0);
        }
    });
}

void DelayPanel::boxEdited() {
    // Pasting, cutting, deleting and undoing edit the tempo as typing does.
    if (!typing_) {
        typing_ = true;
        emit typingStarted();
        boxChanged();
    }
}

}  // namespace pulsaro
