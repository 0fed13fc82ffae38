// The settings dialog, shown without its modal loop and driven like a user.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <array>
#include <cmath>
#include <optional>

#include "core/settings_names.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/fakes.h"
#include "ui/help/about_box.h"
#include "ui/help/help_commands.h"
#include "ui/saving/result_saver.h"
#include "ui/settings/options_dialog.h"

namespace pulsaro::testing {
namespace {

// The dialog as exec() would show it, but without a modal loop.
std::unique_ptr<SettingsDialog> openDialog(WindowRig& rig) {
    auto dialog = std::make_unique<SettingsDialog>(*rig.form, rig.services);
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    QCoreApplication::processEvents();
    return dialog;
}

std::optional<std::int32_t> storedInteger(const WindowRig& rig, const char* name) {
    const auto key = rig.settings();
    if (!key || !key->valueExists(name)) {
        return std::nullopt;
    }
    return key->readInteger(name);
}

QString storedText(const WindowRig& rig, const char* name) {
    const auto key = rig.settings();
    return key && key->valueExists(name) ? QString::fromStdString(key->readString(name))
                                         : QStringLiteral("<none>");
}

int textWidth(const QLabel* label) {
    const QFontMetrics metrics(label->font());
    const QString text = label->text();
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
}

// On each page: every shown label shows its whole text inside its parent,
// below a group's title, and no two labels' texts overlap.
void expectLabelsFit(SettingsDialog& dialog, const std::string& scene) {
    for (QWidget* page : {dialog.tabSaveToFile, dialog.tabPlayer, dialog.tabMetronome}) {
        dialog.PageControl1->setCurrentWidget(page);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        std::vector<std::pair<const QLabel*, QRect>> drawn;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->isVisible()) {
                continue;
            }
            const std::string what = scene + ": " + label->objectName().toStdString();
            const QWidget* parent = label->parentWidget();
            EXPECT_LE(textWidth(label), label->contentsRect().width()) << what;
            EXPECT_TRUE(parent->rect().contains(label->geometry())) << what;
            if (qobject_cast<const QGroupBox*>(parent) != nullptr) {
                EXPECT_GE(label->y(), parent->contentsRect().top()) << what;
            }
            const QRect text(label->mapTo(&dialog, QPoint(0, 0)),
                             QSize(textWidth(label), label->fontMetrics().height()));
            for (const auto& [other, otherText] : drawn) {
                EXPECT_FALSE(text.intersects(otherText))
                    << what << " runs into " << other->objectName().toStdString();
            }
            drawn.emplace_back(label, text);
        }
        for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->isVisible()) {
                const QString caption = QString(button->text()).remove(QLatin1Char('&'));
                EXPECT_LE(QFontMetrics(button->font()).horizontalAdvance(caption),
                          button->width() - 8)
                    << scene << ": " << button->objectName().toStdString();
            }
        }
    }
}

TEST(OptionsDialog, CreationShowsTheStoreWithDefaultsForMissingAndOddValues) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::int32_t>> stored;
        bool tray, centre;
        int delimiter, fileType, slider;
        const char* percent;
        int sound;
    };
    const Case cases[] = {
        {"nothing stored", {}, false, false, 0, 0, 25, "25 %", 0},
        {"in range",
         {{settings::kMinimizeToTray, 1},
          {settings::kCenterForm, 1},
          {settings::kDelimiter, 2},
          {settings::kFileType, 1},
          {settings::kTransparencyLower, 60},
          {settings::kMetronomeSound, 2}},
         true,
         true,
         2,
         1,
         60,
         "60 %",
         2},
        {"out of range",
         {{settings::kMinimizeToTray, 2},
          {settings::kCenterForm, -1},
          {settings::kDelimiter, 7},
          {settings::kFileType, -1},
          {settings::kTransparencyLower, 5},
          {settings::kMetronomeSound, 3}},
         false,
         false,
         0,
         0,
         10,
         "5 %",
         0},
        {"opacity above 99",
         {{settings::kTransparencyLower, 100}},
         false,
         false,
         0,
         0,
         25,
         "25 %",
         0},
    };
    for (const Case& c : cases) {
        SettingsDialog::FileTypeChanged = false;
        WindowRig rig(1, [&](RegistryKey& key) {
            for (const auto& [name, value] : c.stored) {
                key.writeInteger(name, value);
            }
        });
        const auto dialog = openDialog(rig);
        EXPECT_EQ(dialog->chkMinimizeToTray->isChecked(), c.tray) << c.what;
        EXPECT_EQ(dialog->chkCenterForm->isChecked(), c.centre) << c.what;
        EXPECT_EQ(dialog->cboDelimiter->currentIndex(), c.delimiter) << c.what;
        EXPECT_EQ(dialog->cboFileType->currentIndex(), c.fileType) << c.what;
        EXPECT_EQ(dialog->trbTransp->value(), c.slider) << c.what;
        EXPECT_EQ(dialog->lblCurrentTransparant->text(), c.percent) << c.what;
        EXPECT_EQ(dialog->cboMetronomeSound->currentIndex(), c.sound) << c.what;
        // The name the window chose at start-up is the stored one.
        EXPECT_EQ(dialog->txtFileName->text(), rig.form->parts().saver.resultFile()) << c.what;
        EXPECT_EQ(dialog->lblMyName->text(), creditLine()) << c.what;
        EXPECT_EQ(dialog->PageControl1->currentWidget(), dialog->tabSaveToFile) << c.what;
        EXPECT_EQ(QApplication::focusWidget(), dialog->cboFileType) << c.what;
        EXPECT_FALSE(dialog->OpacitySliderChanged || dialog->OpacitySliderEntered ||
                     dialog->MetronomeSoundChanged || SettingsDialog::FileTypeChanged)
            << c.what;
    }
}

TEST(OptionsDialog, MiscPageFollowsTheSoundDeviceAndTheDesktopAndEveryLabelFits) {
    struct Case {
        const char* what;
        int devices;
        bool opacity;
    };
    for (const Case c : {Case{"device, opacity", 1, true}, Case{"neither", 0, false}}) {
        WindowRig rig(c.devices);
        rig.services.setOpacityAvailable([&] { return c.opacity; });
        const auto dialog = openDialog(rig);
        expectLabelsFit(*dialog, c.what);
        dialog->PageControl1->setCurrentWidget(dialog->tabMetronome);
        EXPECT_EQ(dialog->lblNoSoundCardInstalled->isVisible(), !c.devices) << c.what;
        for (QWidget* control : std::initializer_list<QWidget*>{
                 dialog->Label4, dialog->cboMetronomeSound, dialog->cmdMetronomePreview}) {
            EXPECT_EQ(control->isEnabled(), c.devices == 1) << c.what;
        }
        // The list takes the focus of its page only when it can.
        EXPECT_EQ(QApplication::focusWidget() == dialog->cboMetronomeSound, c.devices == 1)
            << c.what;
        EXPECT_EQ(dialog->lblWrongOS->isVisible(), !c.opacity) << c.what;
        EXPECT_EQ(dialog->trbTransp->isEnabled(), c.opacity) << c.what;
        EXPECT_EQ(dialog->lblCurrentTransparant->isEnabled(), c.opacity) << c.what;
        dialog->PageControl1->setCurrentWidget(dialog->tabPlayer);
        EXPECT_EQ(QApplication::focusWidget(), dialog->txtPlayerOne) << c.what;
    }
}

// Programs in a scratch folder; "missing" names none.
struct Programs {
    explicit Programs(const WindowRig& rig) : folder(rig.home.path() + QStringLiteral("/bin/")) {
        QDir().mkpath(folder);
        for (const QString& name : {alpha, beta, gamma}) {
            QFile file(name);
            file.open(QIODevice::WriteOnly);
        }
    }
    QString folder;
    QString alpha = folder + QStringLiteral("alpha.sh");
    QString beta = folder + QStringLiteral("beta.bin");
    QString gamma = folder + QStringLiteral("gamma");
    QString missing = folder + QStringLiteral("missing.sh");
};

TEST(OptionsDialog, ShortcutsTwoAndThreeFollowTheOnesBefore) {
    WindowRig rig;
    const auto enabled = [](const SettingsDialog& d) {
        return std::array<bool, 4>{d.txtPlayerTwo->isEnabled(), d.lbltxtPlayerTwo->isEnabled(),
                                   d.cmdBrowsePlayerTwo->isEnabled(),
                                   d.txtPlayerThree->isEnabled()};
    };
    // At creation: 2 needs a first shortcut, 3 a second one (even a disabled one).
    struct Stored {
        const char *one, *two, *three;
        bool second, third;
    };
    for (const Stored c : {Stored{"", "", "", false, false}, Stored{"a", "", "", true, false},
                           Stored{"", "b", "c", false, true}, Stored{"a", "b", "", true, true}}) {
        const std::string what = std::string(c.one) + "|" + c.two + "|" + c.three;
        {
            auto key = RegistryKey::openForWriting(rig.store, settings::kKeyPath, true);
            key->writeString(settings::kPlayerOne, c.one);
            key->writeString(settings::kPlayerTwo, c.two);
            key->writeString(settings::kPlayerThree, c.three);
        }
        const auto dialog = openDialog(rig);
        const auto state = enabled(*dialog);
        EXPECT_EQ(state[0], c.second) << what;
        EXPECT_EQ(state[1], c.second) << what;
        EXPECT_EQ(state[2], c.second) << what;
        EXPECT_EQ(state[3], c.third) << what;
        EXPECT_EQ(dialog->txtPlayerThree->text(), c.three) << what;
    }

    // Editing: emptying a box switches the later ones off, keeping their texts.
    struct Step {
        int box;  // 1 or 2
        const char* text;
        bool second, third;
    };
    const auto dialog = openDialog(rig);  // a|b|"" stored last
    dialog->txtPlayerThree->setText(QStringLiteral("c"));
    const QColor window = dialog->style()->standardPalette().color(QPalette::Base);
    const QColor face = dialog->style()->standardPalette().color(QPalette::Button);
    for (const Step s :
         {Step{1, "", false, false}, Step{1, "x", true, false}, Step{2, "", true, false},
          Step{2, "y", true, true}, Step{1, "", false, false}}) {
        const std::string what = std::to_string(s.box) + "=\"" + s.text + "\"";
        (s.box == 1 ? dialog->txtPlayerOne : dialog->txtPlayerTwo)->setText(s.text);
        const auto state = enabled(*dialog);
        EXPECT_EQ(state[0], s.second) << what;
        EXPECT_EQ(state[2], s.second) << what;
        EXPECT_EQ(state[3], s.third) << what;
        EXPECT_EQ(dialog->txtPlayerTwo->palette().color(QPalette::Active, QPalette::Base),
                  s.second ? window : face)
            << what;
        EXPECT_EQ(dialog->txtPlayerThree->palette().color(QPalette::Active, QPalette::Base),
                  s.third ? window : face)
            << what;
        EXPECT_EQ(dialog->txtPlayerThree->text(), "c") << what;
    }
}

TEST(OptionsDialog, OkWritesOnlyShortcutsThatAreFilesAndEnabled) {
    struct Case {
        const char* what;
        // Box 1 to 3 and its new text; "missing" names no file, "" empties.
        std::vector<std::pair<int, const char*>> edits;
        std::array<const char*, 3> stored;  // "alpha", "beta", "gamma", "" or "old"
        std::array<const char*, 3> names;
    };
    const Case cases[] = {
        {"all three files", {}, {"alpha", "beta", "gamma"}, {"alpha", "beta", "gamma"}},
        {"first is no file: all emptied, the enabled files written again",
         {{1, "missing"}},
         {"", "beta", "gamma"},
         {"", "beta", "gamma"}},
        {"second is no file: kept as stored",
         {{2, "missing"}},
         {"alpha", "old", "gamma"},
         {"alpha", "", "gamma"}},
        {"third is no file: kept as stored",
         {{3, "missing"}},
         {"alpha", "beta", "old"},
         {"alpha", "beta", ""}},
        {"first emptied", {{1, ""}}, {"", "", ""}, {"", "", ""}},
        {"second emptied", {{2, ""}}, {"alpha", "", ""}, {"alpha", "", ""}},
        {"first re-typed: the third stays off",
         {{1, ""}, {1, "alpha"}},
         {"alpha", "beta", ""},
         {"alpha", "beta", "gamma"}},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        const Programs programs(rig);
        const auto path = [&](const char* name) {
            const std::string n = name;
            return n == "alpha"     ? programs.alpha
                   : n == "beta"    ? programs.beta
                   : n == "gamma"   ? programs.gamma
                   : n == "missing" ? programs.missing
                   : n == "old"     ? QStringLiteral("old")
                                    : QString();
        };
        const char* const values[] = {settings::kPlayerOne, settings::kPlayerTwo,
                                      settings::kPlayerThree};
        {
            auto key = RegistryKey::openForWriting(rig.store, settings::kKeyPath, true);
            for (const char* value : values) {
                key->writeString(value, "old");
            }
        }
        const auto dialog = openDialog(rig);
        dialog->txtPlayerOne->setText(programs.alpha);
        dialog->txtPlayerTwo->setText(programs.beta);
        dialog->txtPlayerThree->setText(programs.gamma);
        QLineEdit* const boxes[] = {dialog->txtPlayerOne, dialog->txtPlayerTwo,
                                    dialog->txtPlayerThree};
        for (const auto& [box, text] : c.edits) {
            boxes[box - 1]->setText(path(text));
        }
        dialog->cmdOK->click();
        EXPECT_FALSE(dialog->isVisible()) << c.what;
        EXPECT_EQ(dialog->result(), QDialog::Accepted) << c.what;
        QCoreApplication::processEvents();
        // The window and its View menu take the names once the dialog has closed.
        const char* const items[] = {"mnuPlayerOne", "mnuPlayerTwo", "mnuPlayerThree"};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(storedText(rig, values[k]), path(c.stored[k])) << c.what << " " << k;
            EXPECT_EQ(rig.form->parts().help.playerNames().names[k], c.names[k])
                << c.what << " " << k;
            EXPECT_EQ(item(*rig.form, items[k])->isVisible(), *c.names[k] != 0) << c.what;
        }
    }
}

// The pages turn with Ctrl+Tab and Ctrl+PgDn (back with Ctrl+Shift+Tab and
// Ctrl+PgUp) from anywhere, also from a box that would take the key, and each
// tab has an access letter.
TEST(OptionsDialog, PagesTurnFromAnywhereAndHaveAccessLetters) {
    WindowRig rig;
    const auto dialog = openDialog(rig);
    QTabWidget* pages = dialog->PageControl1;
    // No access letter is taken twice where both work: the tabs' letters
    // work on every page, a control's on its own page.
    QStringList tabLetters;
    for (int page = 0; page < pages->count(); ++page) {
        EXPECT_FALSE(QKeySequence::mnemonic(pages->tabText(page)).isEmpty()) << page;
        tabLetters << QKeySequence::mnemonic(pages->tabText(page)).toString().toLower();
    }
    for (int page = 0; page < pages->count(); ++page) {
        QStringList letters = tabLetters;
        for (QWidget* control : pages->widget(page)->findChildren<QWidget*>()) {
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control)) {
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                text = button->text();
            } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
                text = group->title();
            }
            const QString letter = QKeySequence::mnemonic(text).toString().toLower();
            if (!letter.isEmpty()) {
                EXPECT_FALSE(letters.contains(letter)) << page << " " << text.toStdString();
                letters << letter;
            }
        }
    }
    dialog->cboFileType->setFocus();
    const int fileType = dialog->cboFileType->currentIndex();
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int page;
    } turns[] = {{Qt::Key_PageDown, Qt::ControlModifier, 1},
                 {Qt::Key_Tab, Qt::ControlModifier, 2},
                 {Qt::Key_Tab, Qt::ControlModifier, 3},
                 {Qt::Key_Tab, Qt::ControlModifier, 4},
                 {Qt::Key_Tab, Qt::ControlModifier, 0},
                 {Qt::Key_PageUp, Qt::ControlModifier, 4},
                 {Qt::Key_PageUp, Qt::ControlModifier, 3},
                 {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 2}};
    for (const auto& turn : turns) {
        QWidget* focus =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : dialog.get();
        QTest::keyClick(focus, turn.key, turn.modifiers);
        EXPECT_EQ(pages->currentIndex(), turn.page);
    }
    EXPECT_EQ(dialog->cboFileType->currentIndex(), fileType);
}

TEST(OptionsDialog, OpacityPreviewIsKeptOrUndoneByOkCancelAndEsc) {
    enum class Leave { Ok, Cancel, Esc, CloseBox };
    struct Case {
        const char* what;
        bool modeOn;
        Leave leave;
        std::optional<int> posted;  // the opacity the window is set to at the end
        int percentAfter;           // the window's opacity when done
        int stored;
    };
    const Case cases[] = {
        {"mode off, OK", false, Leave::Ok, 100, 100, 55},
        {"mode off, Cancel", false, Leave::Cancel, 100, 100, 50},
        {"mode off, Esc", false, Leave::Esc, 100, 100, 50},
        {"mode off, close box", false, Leave::CloseBox, std::nullopt, 55, 50},
        {"mode on, OK", true, Leave::Ok, std::nullopt, 55, 55},
        {"mode on, Cancel", true, Leave::Cancel, 50, 50, 50},
        {"mode on, close box", true, Leave::CloseBox, std::nullopt, 55, 50},
    };
    const auto opacityOf = [](int percent) {
        return (percent < 100 ? percent * 255 / 100 : 255) / 255.0;
    };
    for (const Case& c : cases) {
        WindowRig rig(1,
                      [](RegistryKey& key) { key.writeInteger(settings::kTransparencyLower, 50); });
        rig.services.setOpacityAvailable([] { return true; });
        rig.restart();
        MainWindow& form = *rig.form;
        if (c.modeOn) {
            rig.key(Qt::Key_T, Qt::ControlModifier);
            ASSERT_TRUE(item(form, "mnuViewTransparancyMode")->isChecked()) << c.what;
        }
        const int percentBefore = form.parts().desktop.opacityPercent();
        const auto dialog = openDialog(rig);
        dialog->PageControl1->setCurrentWidget(dialog->tabMetronome);
        // A change before the slider has the focus shows nothing.
        dialog->trbTransp->setValue(45);
        EXPECT_DOUBLE_EQ(form.windowOpacity(), opacityOf(c.modeOn ? 50 : 100)) << c.what;
        EXPECT_EQ(dialog->lblCurrentTransparant->text(), "50 %") << c.what;
        dialog->trbTransp->setValue(50);
        dialog->trbTransp->setFocus();
        ASSERT_TRUE(dialog->OpacitySliderEntered) << c.what;
        QTest::keyClick(dialog->trbTransp, Qt::Key_PageUp);
        EXPECT_EQ(dialog->lblCurrentTransparant->text(), "55 %") << c.what;
        EXPECT_DOUBLE_EQ(form.windowOpacity(), opacityOf(55)) << c.what;
        EXPECT_EQ(item(form, "mnuViewTransparancyMode")->isChecked(), c.modeOn) << c.what;

        switch (c.leave) {
            case Leave::Ok:
                dialog->cmdOK->click();
                break;
            case Leave::Cancel:
                dialog->cmdCancel->click();
                break;
            case Leave::Esc:
                QTest::keyClick(dialog->trbTransp, Qt::Key_Escape);
                break;
            case Leave::CloseBox:
                dialog->close();
                break;
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(dialog->isVisible()) << c.what;
        EXPECT_EQ(form.parts().desktop.opacityPercent(), c.posted.value_or(percentBefore))
            << c.what;
        EXPECT_DOUBLE_EQ(form.windowOpacity(), opacityOf(c.percentAfter)) << c.what;
        EXPECT_EQ(storedInteger(rig, settings::kTransparencyLower), c.stored) << c.what;
    }
}

TEST(OptionsDialog, DefaultFileNameFollowsATypeChangeOnce) {
    SettingsDialog::FileTypeChanged = false;
    WindowRig rig(1, [](RegistryKey& key) { key.writeInteger(settings::kFileType, 2); });
    const QString desktop = rig.desktop + QStringLiteral("/");
    auto dialog = openDialog(rig);
    struct Step {
        int selectType;  // -1: leave the list alone
        const char* expected;
    };
    for (const Step s : {Step{-1, "beats (1).prn"}, Step{1, "beats (1).txt"},
                         Step{-1, "beats (1).prn"}, Step{0, "beats (1).csv"}}) {
        if (s.selectType >= 0) {
            dialog->cboFileType->setCurrentIndex(s.selectType);
            EXPECT_TRUE(SettingsDialog::FileTypeChanged);
        }
        dialog->txtFileName->clear();
        dialog->cmdGenerateFile->click();
        EXPECT_EQ(dialog->txtFileName->text(), desktop + QString::fromLatin1(s.expected));
        EXPECT_EQ(QApplication::focusWidget(), dialog->txtFileName);
        EXPECT_FALSE(SettingsDialog::FileTypeChanged);
    }

    // A change not yet used is remembered by the next opening.
    dialog->cboFileType->setCurrentIndex(1);
    dialog->cmdCancel->click();
    dialog = openDialog(rig);
    EXPECT_TRUE(SettingsDialog::FileTypeChanged);
    dialog->cmdGenerateFile->click();
    EXPECT_EQ(dialog->txtFileName->text(), desktop + QStringLiteral("beats (1).prn"));
    EXPECT_FALSE(SettingsDialog::FileTypeChanged);
}

TEST(OptionsDialog, BrowsingFillsTheBoxesThroughTheFileDialogs) {
    WindowRig rig;
    const Programs programs(rig);
    const auto dialog = openDialog(rig);
    const QString before = dialog->txtFileName->text();

    // The result file: a save dialog on the chosen type; cancelling changes nothing.
    dialog->cboFileType->setCurrentIndex(1);
    dialog->cmdSelectFileName2->click();
    EXPECT_EQ(dialog->txtFileName->text(), before);
    rig.dialogs.fileAnswers = {QStringLiteral("/music/bpm.txt")};
    dialog->cmdSelectFileName2->click();
    EXPECT_EQ(dialog->txtFileName->text(), "/music/bpm.txt");
    EXPECT_EQ(QApplication::focusWidget(), dialog->txtFileName);
    ASSERT_EQ(rig.dialogs.fileRequests.size(), 2u);
    const auto& save = rig.dialogs.fileRequests[0];
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.caption, "Select a filename...");
    EXPECT_EQ(save.filter,
              "Text file (*.csv);;Text file (*.txt);;Text file (*.prn);;All files (*)");
    EXPECT_EQ(save.options.selectedFilter, 1);
    EXPECT_EQ(save.options.defaultSuffix, "txt");
    EXPECT_EQ(save.options.filterSuffixes, QStringList({"csv", "txt", "prn", ""}));

    // The programs: an open dialog each; the choice enables the next shortcut.
    struct Case {
        QPushButton* button;
        QLineEdit* box;
        const char* caption;
        QString chosen;
    };
    for (const Case& c :
         {Case{dialog->cmdSelectCDPlayer, dialog->txtPlayerOne, "Program One...", programs.alpha},
          Case{dialog->cmdBrowsePlayerTwo, dialog->txtPlayerTwo, "Program Two...", programs.beta},
          Case{dialog->cmdBrowsePlayerThree, dialog->txtPlayerThree, "Program Three...",
               programs.gamma}}) {
        ASSERT_TRUE(c.button->isEnabled()) << c.caption;
        rig.dialogs.fileAnswers = {c.chosen};
        c.button->click();
        const auto& open = rig.dialogs.fileRequests.back();
        EXPECT_FALSE(open.save) << c.caption;
        EXPECT_EQ(open.caption, c.caption);
        EXPECT_EQ(open.filter, "Programs (*);;All files (*)");
        EXPECT_EQ(c.box->text(), c.chosen);
        EXPECT_EQ(QApplication::focusWidget(), c.box) << c.caption;
        EXPECT_EQ(c.box->selectedText(), c.chosen) << c.caption;
    }

    // A key that cannot be written still changes the current file.
    QFile::setPermissions(QString::fromStdString(rig.store.fileOf(settings::kKeyPath).string()),
                          QFileDevice::ReadOwner);
    const int selections = rig.audio.selections;
    dialog->cmdOK->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(rig.form->parts().saver.resultFile(), "/music/bpm.txt");
    EXPECT_NE(storedText(rig, settings::kFileName), "/music/bpm.txt");
    EXPECT_EQ(storedText(rig, settings::kPlayerOne), "<none>");
    // Nothing else changes in the window.
    EXPECT_FALSE(rig.form->parts().desktop.trayIcon().MinimizeToTray());
    EXPECT_EQ(rig.audio.selections, selections);
}

TEST(OptionsDialog, OkTellsTheWindowInOrderAndTheSoundOnlyWithADevice) {
    struct Case {
        int devices;
        int soundSelected;  // the click sound the window uses afterwards
        std::optional<std::int32_t> sound;
    };
    const Case cases[] = {{1, 2, 2}, {0, 1, 1}};
    for (const Case& c : cases) {
        WindowRig rig(c.devices,
                      [](RegistryKey& key) { key.writeInteger(settings::kMetronomeSound, 1); });
        rig.services.setOpacityAvailable([] { return true; });
        const auto dialog = openDialog(rig);
        dialog->PageControl1->setCurrentWidget(dialog->tabMetronome);
        dialog->cboMetronomeSound->setCurrentIndex(2);
        EXPECT_TRUE(dialog->MetronomeSoundChanged);
        dialog->cmdMetronomePreview->click();
        if (c.devices == 1) {
            EXPECT_EQ(rig.audio.played, std::vector<int>{2});
        }
        dialog->trbTransp->setValue(70);
        dialog->chkMinimizeToTray->setChecked(true);
        dialog->chkCenterForm->setChecked(true);
        rig.form->move(3, 4);
        dialog->cmdOK->click();
        QCoreApplication::processEvents();

        EXPECT_EQ(rig.audio.selected, c.soundSelected) << c.devices;
        EXPECT_EQ(rig.form->parts().desktop.opacityPercent(), 100) << c.devices;
        EXPECT_TRUE(rig.form->parts().desktop.trayIcon().MinimizeToTray());
        EXPECT_EQ(storedInteger(rig, settings::kMetronomeSound), c.sound) << c.devices;
        EXPECT_EQ(storedInteger(rig, settings::kMinimizeToTray), 1);
        EXPECT_EQ(storedInteger(rig, settings::kCenterForm), 1);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QSize size = rig.form->frameGeometry().size();
        EXPECT_EQ(rig.form->pos(), QPoint((screen.width() - size.width()) / 2,
                                          (screen.height() - size.height()) / 2));
    }
}

}  // namespace
}  // namespace pulsaro::testing
