#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

#include "core/settings_names.h"
#include "platform/desktop.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/fakes.h"
#include "ui/help/help_commands.h"
#include "ui/panels/widgets.h"
#include "ui/saving/result_saver.h"
#include "ui/settings/settings_binding.h"

namespace pulsaro::testing {
namespace {

namespace s = settings;

QPoint desktopCentre(const MainWindow& form) {
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size = form.frameGeometry().size();
    return {desktop.left() + (desktop.width() - size.width()) / 2,
            desktop.top() + (desktop.height() - size.height()) / 2};
}

std::string fileBytes(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

TEST(Startup, FirstStartCreatesTheKeyWithOnlyAFileName) {
    WindowRig rig;
    EXPECT_EQ(rig.form->displayMode(), kModeBpm);
    EXPECT_FALSE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_FALSE(rig.form->parts().desktop.trayIcon().MinimizeToTray());
    EXPECT_EQ(rig.form->parts().desktop.opacityPercent(), 100);
    EXPECT_FALSE(item(*rig.form, "mnuAvdelare")->isVisible());
    EXPECT_EQ(rig.form->pos(), desktopCentre(*rig.form));

    const auto key = rig.settings();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->valueNames(), std::vector<std::string>{"FileName"});
    const QString expected = rig.desktop + QStringLiteral("/beats (1).csv");
    EXPECT_EQ(QString::fromStdString(key->readString(s::kFileName)), expected);
    EXPECT_EQ(rig.form->parts().saver.resultFile(), expected);
}

TEST(Startup, EmptyFileNameIsReplacedByANewOne) {
    WindowRig rig(1, [](RegistryKey& key) {
        key.writeString(s::kFileName, "");
        key.writeInteger(s::kFileType, 2);
    });
    // The first free number is taken; the stored file type names the extension.
    EXPECT_EQ(rig.form->parts().saver.resultFile(), rig.desktop + QStringLiteral("/beats (1).prn"));
    EXPECT_EQ(QString::fromStdString(rig.settings()->readString(s::kFileName)),
              rig.form->parts().saver.resultFile());

    QFile existing(rig.desktop + QStringLiteral("/beats (1).csv"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    EXPECT_EQ(rig.services.NewFileName(QString(), 0),
              rig.desktop + QStringLiteral("/beats (2).csv"));
}

TEST(Startup, StoredFileNameIsKept) {
    WindowRig rig(1, [](RegistryKey& key) { key.writeString(s::kFileName, "/music/Tempo.csv"); });
    EXPECT_EQ(rig.form->parts().saver.resultFile(), QStringLiteral("/music/Tempo.csv"));
}

TEST(Startup, OpacityIsSentOnlyInTransparencyModeAndKeptInRange) {
    struct Case {
        std::int32_t stored;
        std::int32_t active;
        int messages;
        std::intptr_t sent;
    };
    for (const Case c : {Case{150, 1, 1, 25}, Case{5, 1, 1, 5}, Case{-1, 1, 1, 25},
                         Case{99, 1, 1, 99}, Case{50, 0, 0, 0}}) {
        WindowRig rig(1, [&](RegistryKey& key) {
            key.writeInteger(s::kTransparencyLower, c.stored);
            key.writeInteger(s::kTransparencyActive, c.active);
        });
        EXPECT_EQ(rig.form->parts().desktop.opacityPercent(), c.messages == 1 ? c.sent : 100)
            << c.stored;
        EXPECT_EQ(rig.form->parts().desktop.translucent(), c.messages == 1) << c.stored;
    }
}

TEST(Startup, StoredModeIsRestored) {
    struct Case {
        std::int32_t stored;
        int mode;
    };
    for (const Case c : {Case{1, kModeBpm}, Case{2, kModeMpm}, Case{3, kModeDelay},
                         Case{7, kModeBpm}, Case{0, kModeBpm}}) {
        WindowRig rig(1,
                      [&](RegistryKey& key) { key.writeInteger(s::kLastUsedCounter, c.stored); });
        EXPECT_EQ(rig.form->displayMode(), c.mode) << c.stored;
    }
}

TEST(Startup, FlagsComeBackOnlyForOne) {
    WindowRig rig(1, [](RegistryKey& key) {
        key.writeInteger(s::kMetronomeActive, 1);
        key.writeInteger(s::kAlwaysOnTop, 1);
        key.writeInteger(s::kMinimizeToTray, 1);
    });
    EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_TRUE(item(*rig.form, "mnuViewAlwaysOnTop")->isChecked());
    EXPECT_TRUE(rig.form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(rig.form->parts().desktop.trayIcon().MinimizeToTray());

    WindowRig two(1, [](RegistryKey& key) {
        key.writeInteger(s::kMetronomeActive, 2);
        key.writeInteger(s::kAlwaysOnTop, 2);
        key.writeInteger(s::kMinimizeToTray, 2);
    });
    EXPECT_FALSE(item(*two.form, "mnuFileMetronome")->isChecked());
    EXPECT_FALSE(item(*two.form, "mnuViewAlwaysOnTop")->isChecked());
    EXPECT_FALSE(two.form->parts().desktop.trayIcon().MinimizeToTray());
}

TEST(Startup, PlayerPathsAnnounceThePlayerNames) {
    WindowRig rig(1, [](RegistryKey& key) { key.writeString(s::kPlayerOne, "/no/such/player"); });
    EXPECT_TRUE(rig.form->parts().help.playerNames().names[0].isEmpty());
    EXPECT_FALSE(item(*rig.form, "mnuPlayerOne")->isVisible());
}

TEST(Startup, Placement) {
    struct Case {
        const char* what;
        std::int32_t left, top, center;
        bool centredOnDesktop;
        QPoint at;  // when not centred on the desktop
    };
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const Case cases[] = {
        {"stored position", 30, 40, 0, false, QPoint(30, 40)},
        {"negative left", -10, 100, 0, true, {}},
        {"centred on the screen", 30, 40, 1, false, QPoint()},
        {"saved on a larger monitor", 5000, 4000, 0, false, QPoint(-1, -1)},
    };
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const Case& c : cases) {
        WindowRig rig(1, [&](RegistryKey& key) {
            key.writeInteger(s::kLeft, c.left);
            key.writeInteger(s::kTop, c.top);
            key.writeInteger(s::kCenterForm, c.center);
        });
        QPoint expected = c.at;
        if (expected == QPoint(-1, -1)) {
            // Wholly on the screen, at its far corner.
            const QSize size = rig.form->frameGeometry().size();
            expected = QPoint(area.right() + 1 - size.width(), area.bottom() + 1 - size.height());
        } else if (c.centredOnDesktop) {
            expected = desktopCentre(*rig.form);
        } else if (c.center == 1) {
            // Measured before the window is shown, so without its frame.
            const QSize size = rig.form->size();
            expected =
                QPoint((screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2);
        }
        EXPECT_EQ(rig.form->pos(), expected) << c.what;
    }
}

// A damaged value falls back to its default alone; every other value is read.
TEST(Startup, ValueOfTheWrongTypeFallsBackAloneAndTheRestIsRead) {
    WindowRig rig(1, [](RegistryKey& key) {
        key.writeString(s::kLastUsedCounter, "two");
        key.writeInteger(s::kFileName, 7);
        key.writeString(s::kArtist, "Kept Artist");
        key.writeInteger(s::kMetronomeActive, 1);
    });
    EXPECT_TRUE(rig.dialogs.boxes.empty());
    EXPECT_EQ(rig.form->displayMode(), kModeBpm);
    EXPECT_TRUE(isShown(child<QFrame>(*rig.form, "bpmPanel")));
    EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_EQ(child<QLineEdit>(*rig.form, "txtNameOfArtist")->text(), "Kept Artist");
    // The damaged name gives way to a fresh default.
    EXPECT_EQ(rig.form->parts().saver.resultFile(), rig.desktop + QStringLiteral("/beats (1).csv"));
}

// A locked name stays until the user unlocks it, also through runs that
// never open the save panel.
TEST(Startup, LockedNamesOutliveARunWithoutTheSavePanel) {
    WindowRig rig(1, [](RegistryKey& key) {
        key.writeString(s::kArtist, "Artist");
        key.writeString(s::kAlbum, "Album");
    });
    rig.restart();
    rig.form->close();
    const auto key = rig.settings();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->findString(s::kArtist), "Artist");
    EXPECT_EQ(key->findString(s::kAlbum), "Album");
}

// A file or folder without write bits is read-only even for root, so this
// holds for any user.
TEST(Startup, UnwritableSettingsAreUsedAndLeftAloneWithoutAnError) {
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        bool lockFolder;
    };
    for (const Case c : {Case{"read-only file", false}, Case{"read-only folder", true}}) {
        SCOPED_TRACE(c.what);
        WindowRig rig(1, [](RegistryKey& key) {
            key.writeInteger(s::kLastUsedCounter, kModeMpm);
            key.writeInteger(s::kMetronomeActive, 1);
        });
        // Only some values: no result-file name.
        ASSERT_TRUE(
            RegistryKey::openForWriting(rig.store, s::kKeyPath, false)->deleteValue(s::kFileName));
        const fs::path file = rig.store.fileOf(s::kKeyPath);
        const fs::path locked = c.lockFolder ? file.parent_path() : file;
        fs::permissions(locked, c.lockFolder ? fs::perms::owner_read | fs::perms::owner_exec
                                             : fs::perms::owner_read);
        const std::string before = fileBytes(file);

        rig.restart();
        EXPECT_TRUE(rig.dialogs.boxes.empty());
        EXPECT_EQ(rig.form->displayMode(), kModeMpm);
        EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
        EXPECT_EQ(rig.form->parts().saver.resultFile(),
                  rig.desktop + QStringLiteral("/beats (1).csv"));

        item(*rig.form, "mnuViewBPM")->trigger();
        rig.form->close();
        EXPECT_TRUE(rig.dialogs.boxes.empty());
        EXPECT_EQ(fileBytes(file), before);
        EXPECT_EQ(QDir(QString::fromStdString(file.parent_path().string()))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("6.5.reg")});
        fs::permissions(locked, fs::perms::owner_all, fs::perm_options::add);
    }
}

// The test binary runs with a temporary home.
TEST(DesktopFolder, IsTheDesktopWhenThereIsOneElseTheHome) {
    const QString home = QDir::homePath();
    const QString desktop = home + QStringLiteral("/Desktop");
    ASSERT_FALSE(QFileInfo::exists(desktop));
    EXPECT_EQ(QString::fromStdString(desktopFolder()), home + QLatin1Char('/'));
    ASSERT_TRUE(QDir().mkpath(desktop));
    EXPECT_EQ(QString::fromStdString(desktopFolder()), desktop + QLatin1Char('/'));
    QDir(desktop).removeRecursively();
}

TEST(Exit, WritesTheListedValues) {
    WindowRig rig;
    item(*rig.form, "mnuViewMPM")->trigger();
    rig.key(Qt::Key_F4);
    rig.form->move(50, 60);
    rig.form->close();
    const auto key = rig.settings();
    ASSERT_TRUE(key.has_value());
    const std::vector<std::string> names = {
        "FileName",           "LastUsedCounter", "AlwaysOnTop", "MetronomeActive",
        "TransparencyActive", "Transparency",    "Top",         "Left"};
    EXPECT_EQ(key->valueNames(), names);
    EXPECT_EQ(key->readInteger(s::kLastUsedCounter), kModeMpm);
    EXPECT_EQ(key->readInteger(s::kMetronomeActive), 1);
    EXPECT_EQ(key->readInteger(s::kAlwaysOnTop), 0);
    EXPECT_EQ(key->readInteger(s::kTransparencyActive), 0);
    EXPECT_EQ(key->readInteger(s::kTransparency), 25);
    EXPECT_EQ(key->readInteger(s::kLeft), rig.form->x());
    EXPECT_EQ(key->readInteger(s::kTop), rig.form->y());

    // And they come back.
    rig.restart();
    EXPECT_EQ(rig.form->displayMode(), kModeMpm);
    EXPECT_TRUE(item(*rig.form, "mnuFileMetronome")->isChecked());
    EXPECT_EQ(rig.form->pos(), QPoint(key->readInteger(s::kLeft), key->readInteger(s::kTop)));
}

TEST(Exit, KeepsAnOpacityChosenEarlier) {
    WindowRig rig(1, [](RegistryKey& key) { key.writeInteger(s::kTransparencyLower, 60); });
    rig.form->close();
    const auto key = rig.settings();
    EXPECT_EQ(key->readInteger(s::kTransparency), 60);
    EXPECT_EQ(key->valueNames()[0], "transparency");
}

TEST(DeleteSettings, OkDeletesAndQuitsWithoutWriting) {
    WindowRig rig;
    rig.dialogs.answer = Dialogs::Answer::Ok;
    rig.form->parts().settings.deleteSettings();
    EXPECT_FALSE(rig.settings().has_value());
    EXPECT_FALSE(rig.form->isVisible());
    EXPECT_TRUE(rig.form->parts().settings.settingsDeleted());
    ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
    EXPECT_EQ(rig.dialogs.boxes[0].text, "Delete registry settings made by Pulsaro?");
    EXPECT_EQ(rig.dialogs.boxes[1].icon, Dialogs::Icon::Information);
    EXPECT_EQ(rig.dialogs.boxes[1].caption, "Pulsaro");
}

TEST(DeleteSettings, CancelChangesNothingAndAMissingKeyIsReported) {
    WindowRig rig;
    rig.dialogs.answer = Dialogs::Answer::Cancel;
    rig.form->parts().settings.deleteSettings();
    EXPECT_TRUE(rig.settings().has_value());
    EXPECT_TRUE(rig.form->isVisible());

    ASSERT_TRUE(rig.store.deleteKey(s::kKeyPath));
    rig.dialogs.answer = Dialogs::Answer::Ok;
    rig.form->parts().settings.deleteSettings();
    EXPECT_EQ(rig.dialogs.boxes.back().text, "Could not delete registry settings.");
    EXPECT_EQ(rig.dialogs.boxes.back().icon, Dialogs::Icon::Error);
    EXPECT_TRUE(rig.form->isVisible());
    // The settings are written again at the next exit.
    rig.form->close();
    EXPECT_TRUE(rig.settings().has_value());
}

}  // namespace
}  // namespace pulsaro::testing
