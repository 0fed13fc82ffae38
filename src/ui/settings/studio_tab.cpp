#include "ui/settings/studio_tab.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
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

// Keys that are the dialog's wherever the focus is: Esc cancels, the Tab keys
// move the focus or turn the pages.
bool isDialogKey(const QKeyEvent& key) {
    return key.matches(QKeySequence::Cancel) || key.key() == Qt::Key_Tab ||
           key.key() == Qt::Key_Backtab;
}

// Alt alone with a letter or digit, the way access letters are typed.
bool isAccessLetter(const QKeyEvent& key) {
    const int code = key.key();
    return (key.modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier && code < Qt::Key_Escape &&
           QChar::isLetterOrNumber(static_cast<char32_t>(code));
}

bool isModifierOnly(int code) {
    return code == Qt::Key_Shift || code == Qt::Key_Control || code == Qt::Key_Meta ||
           code == Qt::Key_Alt || code == Qt::Key_AltGr || code == Qt::Key_unknown;
}

// A global key is one combination, so the box takes the first and is done
// with it; Qt 6.4 has no way to limit QKeySequenceEdit to one. It also
// claims every key ahead of the dialog's shortcuts, which this one does not
// for the dialog's own keys.
class TapKeyEdit final : public QKeySequenceEdit {
public:
    using QKeySequenceEdit::QKeySequenceEdit;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            // Unclaimed, the dialog's shortcut for the key acts; an Alt+letter
            // that none takes comes back as a key press and is recorded.
            const auto& key = static_cast<const QKeyEvent&>(*event);
            if (isDialogKey(key) || isAccessLetter(key)) {
                event->ignore();
                return false;
            }
        } else if (event->type() == QEvent::KeyPress &&
                   isDialogKey(static_cast<const QKeyEvent&>(*event))) {
            // QKeySequenceEdit records Tab; QWidget moves the focus with it
            // and leaves the rest to keyPressEvent().
            return QWidget::event(event);
        }
        return QKeySequenceEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (isDialogKey(*event)) {
            event->ignore();
            return;
        }
        // QKeySequenceEdit clears the box on a lone modifier, which would
        // show no key while the one in effect stays.
        if (isModifierOnly(event->key())) {
            event->accept();
            return;
        }
        QKeySequenceEdit::keyPressEvent(event);
        const QKeySequence typed = keySequence();
        // Set anew so the box drops the ", ..." that waits for another key
        // and the next press starts over.
        setKeySequence(QKeySequence());
        if (!typed.isEmpty()) {
            setKeySequence(QKeySequence(typed[0]));
        }
        emit editingFinished();
    }

    // Each press has finished already. QKeySequenceEdit finishes again on
    // leaving, which after Esc would put back the key Cancel has just undone.
    void focusOutEvent(QFocusEvent* event) override { QWidget::focusOutEvent(event); }
};

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
    keyTap = new TapKeyEdit(key);
    keyTap->setObjectName(QStringLiteral("keyTap"));
    keyTap->setFont(windowFont(8));
    keyTap->setGeometry(36, 18, 116, 22);
    keyTap->setToolTip(tr("Press the key that taps while another program has the focus."));
    keyLabel->setBuddy(keyTap);
    cmdClearKey = new QPushButton(tr8(res::kClearTapKey), key);
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
