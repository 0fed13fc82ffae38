#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/fakes.h"
#include "ui/panels/widgets.h"

namespace pulsaro::testing {
namespace {

QString nameOf(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface != nullptr ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
}

QString descriptionOf(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface != nullptr ? iface->text(QAccessible::Description) : QStringLiteral("<none>");
}

QLabel* label(const WindowRig& rig, const char* name) {
    return rig.form->findChild<QLabel*>(QString::fromLatin1(name));
}

// Three presses half a second apart: 120 BPM.
void measure120(WindowRig& rig) {
    rig.tapAt(1);
    rig.tapAt(1.5);
    rig.tapAt(2);
}

struct Heard {
    const char* label;
    const char* name;
};

void expectHeard(const WindowRig& rig, std::initializer_list<Heard> table) {
    for (const Heard& row : table) {
        EXPECT_EQ(nameOf(label(rig, row.label)), QString::fromUtf8(row.name)) << row.label;
    }
}

TEST(Accessibility, IdleLabelsSayThereIsNoTempoYet) {
    WindowRig rig;
    EXPECT_EQ(nameOf(rig.form.get()), QStringLiteral("Pulsaro"));
    expectHeard(rig, {{"lblBPM_Value", "No tempo yet"},
                      {"lblMedelBPM", "Average: no tempo yet"},
                      {"lblPitchRange", "Pitch range \u00b18 %: no tempo yet"},
                      {"lblCounterStatus", "Status: Off"},
                      {"lblTimer", "Time: 0 seconds"},
                      {"lblMPM23", "Two thirds: no tempo yet"},
                      {"lblBPMinMPM", "No tempo yet"},
                      {"lblDelayQuarter", "A quarter of a beat: no tempo yet"},
                      {"lblDelayMedel", "Average: no tempo yet"},
                      {"label534", "BPM"},
                      {"lblSaveCaption", "SAVE"}});
}

TEST(Accessibility, ValueLabelsReadTheMeasurementInEveryMode) {
    WindowRig rig;
    measure120(rig);
    expectHeard(rig, {{"lblBPM_Value", "120.0 BPM"},
                      {"lblMedelBPM", "Average 120.0 BPM"},
                      {"lblPitchRange", "Pitch range \u00b18 %: 110 to 130"},
                      {"lblCounterStatus", "Status: On"},
                      {"lblBeats", "Beats: 3"}});

    rig.key(Qt::Key_F7);
    ASSERT_TRUE(isShown(child<QFrame>(*rig.form, "DelayPanel")));
    expectHeard(rig, {{"lblDelayQuarter", "A quarter of a beat: 125 milliseconds"},
                      {"lblDelayWhole", "One beat: 500 milliseconds"},
                      {"lblDelayThirtySecond", "A thirty-second of a beat: 15.625 milliseconds"}});

    rig.key(Qt::Key_F6);
    ASSERT_TRUE(isShown(child<QFrame>(*rig.form, "mpmPanel")));
    expectHeard(rig, {{"lblMPM23", "Two thirds: 80 measures per minute"},
                      {"lblMPM4", "One quarter: 30 measures per minute"},
                      {"lblBPMinMPM", "120.0 BPM"}});

    rig.idleFor(3);
    expectHeard(
        rig, {{"lblCounterStatus", "Status: Timeout"}, {"lblCounterStatusMPM", "Status: Timeout"}});
}

// Braille displays and flat review get what is drawn through the text
// interface of every label, while the name keeps its reading; each character
// is found on screen where the label draws it.
TEST(Accessibility, EveryLabelOffersTheTextItDraws) {
    WindowRig rig;
    measure120(rig);
    int checked = 0;
    for (const int mode : {Qt::Key_F5, Qt::Key_F6, Qt::Key_F7}) {
        rig.key(mode);
        for (QLabel* shown : rig.form->findChildren<QLabel*>()) {
            if (!shown->isVisible() || shown->text().isEmpty()) {
                continue;
            }
            QAccessibleTextInterface* text =
                QAccessible::queryAccessibleInterface(shown)->textInterface();
            ASSERT_NE(text, nullptr) << shown->objectName().toStdString();
            const QString drawn =
                shown->buddy() ? QString(shown->text()).remove(u'&') : shown->text();
            EXPECT_EQ(text->text(0, text->characterCount()), drawn);
            const QRect onScreen(shown->mapToGlobal(QPoint()), shown->size());
            for (int i = 0; i < text->characterCount(); ++i) {
                if (drawn.at(i).isSpace()) {
                    continue;
                }
                const QRect character = text->characterRect(i);
                EXPECT_TRUE(onScreen.contains(character.center())) << drawn.toStdString() << i;
                EXPECT_EQ(text->offsetAtPoint(character.center()), i) << drawn.toStdString();
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 20);
    QAccessibleTextInterface* bpm =
        QAccessible::queryAccessibleInterface(label(rig, "lblBPM_Value"))->textInterface();
    EXPECT_EQ(bpm->text(0, bpm->characterCount()), QStringLiteral("120.0"));
    expectHeard(rig, {{"lblBPM_Value", "120.0 BPM"}});
}

TEST(Accessibility, NamesFollowTheLabelsWhereverTheirTextIsSet) {
    WindowRig rig;
    QLabel* bpm = label(rig, "lblBPM_Value");
    // Asked before the text changes: the interface Qt keeps must not keep
    // the old reading.
    EXPECT_EQ(nameOf(bpm), QStringLiteral("No tempo yet"));
    bpm->setText(QStringLiteral("98.5"));
    EXPECT_EQ(nameOf(bpm), QStringLiteral("98.5 BPM"));

    for (const char* name : {"lblDelay2xWhole", "lblDelayWhole", "lblDelayHalf", "lblDelayQuarter",
                             "lblDelayEight", "lblDelaySixteenth", "lblDelayThirtySecond"}) {
        QLabel* row = child<QLabel>(*rig.form, name);
        row->setText(row->text().section(':', 0, 0) + QStringLiteral(": ?"));
    }
    EXPECT_EQ(nameOf(child<QLabel>(*rig.form, "lblDelayHalf")),
              QStringLiteral("Half a beat: unknown"));
    // Triplets change what the rows mean, not their captions.
    child<QLabel>(*rig.form, "lblTripletsON")->setVisible(true);
    child<QLabel>(*rig.form, "lblDelayHalf")->setText(QStringLiteral("Half: 667"));
    EXPECT_EQ(nameOf(child<QLabel>(*rig.form, "lblDelayHalf")),
              QStringLiteral("Half a beat, in triplets: 667 milliseconds"));
}

TEST(Accessibility, ControlsHaveNamesAndTheirHintsAsDescriptions) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    const struct {
        QWidget* control;
        const char* name;
    } named[] = {
        {child<QPushButton>(form, "cmdBeat"), "Beat"},
        {child<QPushButton>(form, "cmdReset"), "Reset (R)"},
        {child<QLineEdit>(form, "txtDelayBpm"), "Tempo in BPM"},
        {child<QPushButton>(form, "cmdMetronomeDelay"), "Metronome"},
        {child<QLineEdit>(form, "txtNameOfArtist"), "Artist or group"},
        {child<QLineEdit>(form, "txtAlbumName"), "Album"},
        {child<QLineEdit>(form, "txtTrackName"), "Track name"},
        {child<QCheckBox>(form, "chkLockGroupName"), "Lock artist"},
        {child<QCheckBox>(form, "chkLockAlbumName"), "Lock album"},
        {child<QPushButton>(form, "cmdSaveToFile"), "Save"},
        {child<QPushButton>(form, "cmdCancelSaveToFile"), "Cancel"},
        {child<QPushButton>(form, "cmdNewFile"), "New"},
    };
    for (const auto& row : named) {
        EXPECT_EQ(nameOf(row.control), QString::fromLatin1(row.name))
            << row.control->objectName().toStdString();
    }
    // Every button, captioned with an access key or not, is read without "&".
    for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
        EXPECT_FALSE(nameOf(button).contains(QLatin1Char('&')))
            << button->objectName().toStdString();
    }
    // Hints are the descriptions, also after a hint changes.
    EXPECT_EQ(descriptionOf(child<QPushButton>(form, "cmdBeat")),
              child<QPushButton>(form, "cmdBeat")->toolTip());
    EXPECT_EQ(descriptionOf(child<QLabel>(form, "lblBPM_Value")),
              child<QLabel>(form, "lblBPM_Value")->toolTip());
    EXPECT_EQ(descriptionOf(child<QCheckBox>(form, "chkLockAlbumName")),
              child<QCheckBox>(form, "chkLockAlbumName")->toolTip());
    child<QPushButton>(form, "cmdMetronomeDelay")
        ->setToolTip(QStringLiteral("Disable metronome. Shortcut M."));
    EXPECT_EQ(descriptionOf(child<QPushButton>(form, "cmdMetronomeDelay")),
              QStringLiteral("Disable metronome. Shortcut M."));
}

TEST(Accessibility, EveryShownControlHasAName) {
    WindowRig rig;
    measure120(rig);
    for (int mode : {Qt::Key_F5, Qt::Key_F6, Qt::Key_F7, Qt::Key_F5, Qt::Key_F3}) {
        rig.key(mode);
        int checked = 0;
        for (QWidget* widget : rig.form->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(widget) != nullptr ||
                                 qobject_cast<QLineEdit*>(widget) != nullptr ||
                                 qobject_cast<QLabel*>(widget) != nullptr;
            if (!control || !widget->isVisible()) {
                continue;
            }
            ++checked;
            EXPECT_FALSE(nameOf(widget).trimmed().isEmpty())
                << widget->objectName().toStdString() << " after key " << mode;
        }
        EXPECT_GT(checked, 5) << mode;
    }
    EXPECT_TRUE(isShown(child<QFrame>(*rig.form, "SaveToFilePanel")));
}

// The tab stops in the order they come in the window's focus chain.
QStringList tabStops(MainWindow& form, QWidget* from) {
    QStringList order;
    QWidget* widget = from;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            order << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != from && order.size() < 100);
    (void)form;
    return order;
}

TEST(Accessibility, TabOrderFollowsTheLayout) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    const QStringList stops = tabStops(form, child<QPushButton>(form, "cmdBeat"));
    const QStringList expected = {QStringLiteral("cmdBeat"),
                                  QStringLiteral("cmdReset"),
                                  QStringLiteral("txtDelayBpm"),
                                  QStringLiteral("cmdMetronomeDelay"),
                                  QStringLiteral("txtNameOfArtist"),
                                  QStringLiteral("txtAlbumName"),
                                  QStringLiteral("txtTrackName"),
                                  QStringLiteral("cmdSaveToFile"),
                                  QStringLiteral("cmdCancelSaveToFile"),
                                  QStringLiteral("cmdNewFile")};
    QStringList relevant;
    for (const QString& stop : stops) {
        if (expected.contains(stop)) {
            relevant << stop;
        }
    }
    EXPECT_EQ(relevant, expected) << stops.join(QLatin1Char(' ')).toStdString();
}

}  // namespace
}  // namespace pulsaro::testing
