#include "ui/settings/studio_tab.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "ui/panels/widgets.h"

namespace pulsaro {

namespace {

const QColor kMaroon(128, 0, 0);

QGroupBox* group(QWidget* parent, const char* name, const QString& title, QRect place) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(windowFont(8));
    box->setGeometry(place);
    return box;
}

QCheckBox* check(QWidget* parent, const char* name, const QString& caption, QPoint at) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(windowFont(8));
    box->move(at);
    box->adjustSize();
    return box;
}

// A number box whose lowest value reads as a word ("Any", "None").
QSpinBox* number(QWidget* parent, const char* name, int low, int high, const QString& lowest,
                 QRect place) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(windowFont(8));
    box->setRange(low, high);
    box->setSpecialValueText(lowest);
    box->setGeometry(place);
    return box;
}

// A reason shown under its option, wrapped to the group's width.
QLabel* problem(QWidget* parent, const char* name, QRect place) {
    QLabel* label = makeLabel(parent, name, QString(), place, 8, false, kMaroon);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFixedSize(place.size());
    return label;
}

}  // namespace

StudioTab::StudioTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tabStudio"));

    auto* link = group(this, "grpLink", tr("Ableton Link"), QRect(6, 2, 222, 58));
    chkLink = check(link, "chkLink", tr("&Join a Link session"), QPoint(8, 17));
    auto* quantumLabel = makeLabel(link, "lblQuantum", tr("&Beats per bar:"), QRect(8, 38, 0, 0));
    spnQuantum = number(link, "spnQuantum", StudioSettings::kLowestQuantum,
                        StudioSettings::kHighestQuantum, QString(), QRect(104, 35, 50, 19));
    quantumLabel->setBuddy(spnQuantum);

    auto* key = group(this, "grpTapKey", tr("Tap from any window"), QRect(6, 62, 222, 92));
    auto* keyLabel = makeLabel(key, "lblTapKey", tr("&Key:"), QRect(8, 22, 0, 0));
    keyTap = new QKeySequenceEdit(key);
    keyTap->setObjectName(QStringLiteral("keyTap"));
    keyTap->setFont(windowFont(8));
    keyTap->setGeometry(36, 18, 116, 22);
    keyTap->setToolTip(tr("Press the key that taps while another program has the focus."));
    keyLabel->setBuddy(keyTap);
    cmdClearKey = new QPushButton(tr("Cl&ear"), key);
    cmdClearKey->setObjectName(QStringLiteral("cmdClearKey"));
    cmdClearKey->setFont(windowFont(8));
    cmdClearKey->setGeometry(156, 18, 58, 22);
    lblKeyProblem = problem(key, "lblKeyProblem", QRect(8, 44, 206, 44));

    auto* midi = group(this, "grpMidi", tr("MIDI (JACK)"), QRect(234, 2, 217, 152));
    chkClockOut = check(midi, "chkClockOut", tr("Send MIDI &clock (clock_out)"), QPoint(8, 17));
    chkTapIn = check(midi, "chkTapIn", tr("Tap from MIDI (ta&p_in)"), QPoint(8, 37));
    auto* noteLabel = makeLabel(midi, "lblTapNote", tr("&Note:"), QRect(24, 60, 0, 0));
    spnTapNote = number(midi, "spnTapNote", StudioSettings::kAnyNote, 127, tr("Any"),
                        QRect(104, 57, 56, 19));
    noteLabel->setBuddy(spnTapNote);
    auto* controllerLabel =
        makeLabel(midi, "lblTapController", tr("Cont&roller:"), QRect(24, 82, 0, 0));
    spnTapController = number(midi, "spnTapController", StudioSettings::kNoController, 127,
                              tr("None"), QRect(104, 79, 56, 19));
    controllerLabel->setBuddy(spnTapController);
    lblMidiProblem = problem(midi, "lblMidiProblem", QRect(8, 102, 201, 46));

    const auto tell = [this] {
        if (!filling_) {
            emit changed();
        }
    };
    for (QCheckBox* box : {chkLink, chkClockOut, chkTapIn}) {
        connect(box, &QCheckBox::toggled, this, tell);
    }
    for (QSpinBox* box : {spnQuantum, spnTapNote, spnTapController}) {
        connect(box, &QSpinBox::valueChanged, this, tell);
    }
    connect(keyTap, &QKeySequenceEdit::editingFinished, this, tell);
    connect(cmdClearKey, &QPushButton::clicked, this, [this, tell] {
        keyTap->clear();
        tell();
    });
}

StudioSettings StudioTab::settings() const {
    StudioSettings studio;
    studio.link = chkLink->isChecked();
    studio.quantum = spnQuantum->value();
    studio.clockOut = chkClockOut->isChecked();
    studio.tapIn = chkTapIn->isChecked();
    studio.tapNote = spnTapNote->value();
    studio.tapController = spnTapController->value();
    // One key with its modifiers; a sequence of several keys taps on none.
    const QKeySequence key = keyTap->keySequence();
    if (!key.isEmpty()) {
        studio.tapKey = QKeySequence(key[0]).toString(QKeySequence::PortableText).toStdString();
    }
    return studio;
}

void StudioTab::show(const StudioSettings& settings, const Studio::Problems& problems,
                     bool keyAvailable) {
    filling_ = true;
    chkLink->setChecked(settings.link);
    spnQuantum->setValue(settings.quantum);
    chkClockOut->setChecked(settings.clockOut);
    chkTapIn->setChecked(settings.tapIn);
    spnTapNote->setValue(settings.tapNote);
    spnTapController->setValue(settings.tapController);
    keyTap->setKeySequence(QKeySequence::fromString(QString::fromStdString(settings.tapKey),
                                                    QKeySequence::PortableText));
    lblMidiProblem->setText(problems.midi);
    lblKeyProblem->setText(
        keyAvailable ? problems.key
                     : tr("This desktop does not let a program listen to a key in other windows."));
    keyTap->setEnabled(keyAvailable);
    cmdClearKey->setEnabled(keyAvailable);
    filling_ = false;
}

}  // namespace pulsaro
