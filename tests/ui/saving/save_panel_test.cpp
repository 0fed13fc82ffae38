// Keeping a measurement through the window: the save panel, QuickSave, the
// remembered names and the clipboard.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "core/settings_names.h"
#include "ui/common/tick_timer.h"
#include "ui/fakes.h"
#include "ui/saving/result_saver.h"

namespace pulsaro::testing {
namespace {

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Presses 500 ms apart: 120 BPM, pitch range 110 - 130.
void measure120(WindowRig& rig) {
    for (int i = 0; i < 3; ++i) {
        rig.tapAt(rig.nowSeconds + (i == 0 ? 1 : 0.5));
    }
}

void fillNames(WindowRig& rig, const QString& artist, const QString& album, const QString& track) {
    child<QLineEdit>(*rig.form, "txtNameOfArtist")->setText(artist);
    child<QLineEdit>(*rig.form, "txtAlbumName")->setText(album);
    child<QLineEdit>(*rig.form, "txtTrackName")->setText(track);
}

// The second after a save: its one-shot timers fire.
void letSavingLabelsExpire(WindowRig& rig) {
    for (const int timer : rig.form->parts().saver.savingNoteTimers()) {
        dispatchTickForTesting(timer);
    }
}

TEST(SavePanel, FullSaveWithLocksAndFocus) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    WindowRig rig(1, [](RegistryKey& key) { key.writeInteger(settings::kDelimiter, 2); });
    MainWindow& form = *rig.form;
    measure120(rig);
    rig.key(Qt::Key_F3);
    ASSERT_TRUE(child<QFrame>(form, "SaveToFilePanel")->isVisible());
    EXPECT_EQ(child<QLabel>(form, "lblSaveCaption")->text(), "Save BPM: 120.0");
    EXPECT_FALSE(child<QPushButton>(form, "cmdBeat")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(form, "cmdReset")->isEnabled());
    EXPECT_FALSE(item(form, "mnuViewMPM")->isEnabled());
    EXPECT_EQ(rig.text("lblCounterStatus"), "Off");
    EXPECT_EQ(form.focusWidget(), child<QLineEdit>(form, "txtNameOfArtist"));
    EXPECT_FALSE(child<QPushButton>(form, "cmdSaveToFile")->isEnabled());

    rig.typeText(QStringLiteral("Sigur R"));
    child<QLineEdit>(form, "txtNameOfArtist")->insert(QString::fromUtf8("\u00f3s"));
    rig.key(Qt::Key_2, Qt::ControlModifier);  // album locked: focus back to the artist
    EXPECT_TRUE(child<QCheckBox>(form, "chkLockAlbumName")->isChecked());
    EXPECT_EQ(form.focusWidget(), child<QLineEdit>(form, "txtNameOfArtist"));
    rig.key(Qt::Key_1, Qt::ControlModifier);  // both locked: the track is next
    EXPECT_EQ(form.focusWidget(), child<QLineEdit>(form, "txtTrackName"));
    child<QLineEdit>(form, "txtAlbumName")->setText(QStringLiteral("Takk; live"));
    EXPECT_FALSE(child<QPushButton>(form, "cmdSaveToFile")->isEnabled());
    rig.typeText(QStringLiteral("Glosoli"));
    EXPECT_TRUE(child<QPushButton>(form, "cmdSaveToFile")->isEnabled());
    rig.key(Qt::Key_Return);

    EXPECT_EQ(fileText(form.parts().saver.resultFile()),
              QString::fromUtf8("BPM:;PitchRange +-8%:;Artist/Group:;Album:;Track:;Delay (ms):;"
                                "File created by Pulsaro\r\n"
                                "120;110 - 130;Sigur R\u00f3s;\"Takk; live\";Glosoli;500\r\n"));
    // Locked names stay, the track goes, the measurement is reset.
    EXPECT_EQ(child<QLineEdit>(form, "txtNameOfArtist")->text(),
              QString::fromUtf8("Sigur R\u00f3s"));
    EXPECT_EQ(child<QLineEdit>(form, "txtAlbumName")->text(), "Takk; live");
    EXPECT_TRUE(child<QLineEdit>(form, "txtTrackName")->text().isEmpty());
    EXPECT_FALSE(child<QPushButton>(form, "cmdSaveToFile")->isEnabled());
    EXPECT_FALSE(child<QFrame>(form, "SaveToFilePanel")->isVisible());
    EXPECT_TRUE(item(form, "mnuViewMPM")->isEnabled());
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");

    // The locked names come back after a restart, locked when the panel opens.
    form.close();
    rig.restart();
    EXPECT_EQ(child<QLineEdit>(*rig.form, "txtNameOfArtist")->text(),
              QString::fromUtf8("Sigur R\u00f3s"));
    EXPECT_FALSE(child<QCheckBox>(*rig.form, "chkLockGroupName")->isChecked());
    measure120(rig);
    rig.key(Qt::Key_F3);
    EXPECT_TRUE(child<QCheckBox>(*rig.form, "chkLockGroupName")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(*rig.form, "chkLockAlbumName")->isChecked());
    EXPECT_EQ(rig.form->focusWidget(), child<QLineEdit>(*rig.form, "txtTrackName"));
    // Unlocked at exit: the stored name is deleted.
    rig.key(Qt::Key_1, Qt::ControlModifier);
    rig.form->close();
    EXPECT_FALSE(rig.settings()->valueExists(settings::kArtist));
    EXPECT_TRUE(rig.settings()->valueExists(settings::kAlbum));
    QLocale::setDefault(saved);
}

TEST(SavePanel, CancelKeepsTheNamesAndAFailedSaveKeepsEverything) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    rig.key(Qt::Key_F6);
    measure120(rig);
    rig.key(Qt::Key_S);  // S opens the panel only from the BPM display
    EXPECT_FALSE(child<QFrame>(form, "SaveToFilePanel")->isVisible());
    rig.key(Qt::Key_F3);
    EXPECT_EQ(child<QLabel>(form, "lblSaveCaption")->text(), "Save MPM");
    fillNames(rig, QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
    rig.key(Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(child<QFrame>(form, "mpmPanel")->isVisible());
    EXPECT_EQ(child<QLineEdit>(form, "txtTrackName")->text(), "c");
    QCoreApplication::processEvents();
    EXPECT_EQ(form.focusWidget(), child<QPushButton>(form, "cmdBeat"));

    // A folder where the file should be: reported once, nothing cleared.
    form.parts().saver.setResultFile(rig.desktop);
    rig.key(Qt::Key_F3);
    child<QPushButton>(form, "cmdSaveToFile")->click();
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(
        rig.dialogs.boxes[0].text.contains("SaveToFile: close file if you have opened it."));
    // With its cause: the file and the system's reason.
    EXPECT_TRUE(rig.dialogs.boxes[0].text.contains(rig.desktop))
        << rig.dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(rig.dialogs.boxes[0].text.contains(QString::fromUtf8(std::strerror(EISDIR))))
        << rig.dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(child<QFrame>(form, "SaveToFilePanel")->isVisible());
    EXPECT_EQ(child<QLineEdit>(form, "txtTrackName")->text(), "c");
    EXPECT_EQ(form.tap().currentBpmValue, 1'200'000);

    // New makes a fresh default name current and stores it; the next save works.
    child<QPushButton>(form, "cmdNewFile")->click();
    EXPECT_EQ(form.parts().saver.resultFile(), rig.desktop + QStringLiteral("/beats (1).csv"));
    EXPECT_EQ(QString::fromStdString(rig.settings()->readString(settings::kFileName)),
              form.parts().saver.resultFile());
    child<QPushButton>(form, "cmdSaveToFile")->click();
    EXPECT_EQ(fileText(form.parts().saver.resultFile()).split(QStringLiteral("\r\n")).value(1),
              "120\ta\tb\tc\t80\t60\t40\t30\t15");
}

TEST(SavePanel, QuickSaveShowsSavingForOneSecond) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    measure120(rig);
    rig.key(Qt::Key_F2);
    const QString quick = rig.desktop + QStringLiteral("/Q_beats (1).csv");
    EXPECT_EQ(fileText(quick),
              "BPM:\tPitchRange +-8%:\tDelay (ms):\tFile created by Pulsaro\r\n"
              "120\t110 - 130\t500\r\n");
    EXPECT_TRUE(child<QLabel>(form, "lblFastSaveActive")->isVisible());
    EXPECT_EQ(rig.text("lblBPM_Value"), "000");
    letSavingLabelsExpire(rig);
    EXPECT_FALSE(child<QLabel>(form, "lblFastSaveActive")->isVisible());
    EXPECT_FALSE(child<QLabel>(form, "lblFastSaveActive2")->isVisible());

    // A failed QuickSave keeps the measurement and still hides the labels.
    form.parts().saver.setResultFile(QStringLiteral("/nonexistent-folder/beats.csv"));
    measure120(rig);
    rig.key(Qt::Key_Q);
    EXPECT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(form.tap().currentBpmValue, 1'200'000);
    // "Saving..." is not shown for a record that was not kept.
    EXPECT_FALSE(child<QLabel>(form, "lblFastSaveActive")->isVisible());

    // No result file chosen: said so, nothing written anywhere.
    form.parts().saver.setResultFile(QString());
    rig.key(Qt::Key_Q);
    ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
    EXPECT_TRUE(rig.dialogs.boxes[1].text.startsWith("No result file is chosen."));
    EXPECT_FALSE(QFile::exists(QStringLiteral("Q_")));
    EXPECT_FALSE(child<QLabel>(form, "lblFastSaveActive")->isVisible());
}

// A stored name that is not UTF-8 is saved to byte for byte, not to a
// look-alike with U+FFFD in its name.
TEST(SavePanel, ResultFileNameBytesAreKeptExactly) {
    WindowRig rig;
    RegistryKey::openForWriting(rig.store, settings::kKeyPath, true)
        ->writeString(settings::kFileName, rig.desktop.toStdString() + "/set \xff\xfe.csv");
    rig.restart();
    measure120(rig);
    rig.key(Qt::Key_F2);
    const std::string quick = rig.desktop.toStdString() + "/Q_set \xff\xfe.csv";
    EXPECT_TRUE(std::filesystem::exists(quick));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.desktop.toStdString()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(Clipboard, TextOfEachPanelAndItsEnabling) {
    struct Case {
        const char* what;
        int modeKey;
        const char* text;  // nullptr: copying is not offered
        bool measure;
    };
    const Case cases[] = {
        {"BPM idle", Qt::Key_F5, nullptr, false},
        {"BPM", Qt::Key_F5, "BPM: 120\r\nAvg: 120.0", true},
        {"MPM idle", Qt::Key_F6, nullptr, false},
        {"MPM", Qt::Key_F6, "2/3=80\r\n1/2=60\r\n1/3=40\r\n1/4=30\r\n1/8=15\r\nBPM: 120.0", true},
        {"delay idle", Qt::Key_F7, nullptr, false},
        {"delay", Qt::Key_F7,
         "2x Whole: 1000\r\nWhole: 500\r\nHalf: 250\r\nQuarter: 125\r\nEighth: 62.5\r\n"
         "Sixteenth: 31.25\r\nThirtysec: 15.625\r\nBPM: 120",
         true},
    };
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const Case& c : cases) {
        WindowRig rig;
        rig.key(c.modeKey);
        child<QPushButton>(*rig.form, "cmdBeat")->setFocus();
        if (c.measure) {
            measure120(rig);
        }
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        rig.form->updateCommands();
        EXPECT_EQ(item(*rig.form, "mnuCopyBPM")->isEnabled(), c.text != nullptr) << c.what;
        rig.key(Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(),
                  c.text != nullptr ? QString::fromLatin1(c.text) : QStringLiteral("before"))
            << c.what;
    }
    QLocale::setDefault(saved);
}

}  // namespace
}  // namespace pulsaro::testing
