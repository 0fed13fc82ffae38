// Player shortcuts, the Help menu's commands and the version texts.

#include <gtest/gtest.h>

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QUrl>

#include "core/settings_names.h"
#include "ui/common/build_info.h"
#include "ui/fakes.h"
#include "ui/help/about_box.h"
#include "ui/help/player_shortcuts.h"

namespace pulsaro::testing {
namespace {

// A small program that does nothing, so starting it is harmless.
QString makeProgram(const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    }
    return path;
}

TEST(Players, DisplayNames) {
    WindowRig rig;
    const QString folder = rig.home.path();
    struct Case {
        QString path;
        QString name;
    };
    const Case cases[] = {
        {makeProgram(folder, QStringLiteral("my.player.exe")), QStringLiteral("my.player")},
        {makeProgram(folder, QStringLiteral("player")), QStringLiteral("player")},
        {makeProgram(folder, QString(60, QLatin1Char('p'))), QString(50, QLatin1Char('p'))},
        {folder + QStringLiteral("/gone.exe"), QString()},
        {folder, QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(playerDisplayName(c.path), c.name) << c.path.toStdString();
    }
}

TEST(Players, StartUpShowsTheConfiguredProgramsAndClicksStartThem) {
    QTemporaryDir programs;
    const QString two = makeProgram(programs.path(), QStringLiteral("mpx.bin"));
    const QString gone = programs.path() + QStringLiteral("/cdplayer");
    WindowRig rig(1, [&](RegistryKey& key) {
        key.writeString(settings::kPlayerOne, gone.toStdString());
        key.writeString(settings::kPlayerTwo, two.toStdString());
    });
    MainWindow& form = *rig.form;
    EXPECT_FALSE(item(form, "mnuPlayerOne")->isVisible());  // missing program: no name
    EXPECT_TRUE(item(form, "mnuPlayerTwo")->isVisible());
    EXPECT_EQ(item(form, "mnuPlayerTwo")->text(), "mpx");
    EXPECT_FALSE(item(form, "mnuPlayerThree")->isVisible());
    EXPECT_TRUE(item(form, "mnuAvdelare")->isVisible());

    item(form, "mnuPlayerTwo")->trigger();  // starts the stored program
    EXPECT_TRUE(rig.dialogs.boxes.empty());
    item(form, "mnuPlayerOne")->trigger();  // the stored path, though the item is hidden
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.boxes[0].caption, "Run Player One");
    EXPECT_EQ(rig.dialogs.boxes[0].text,
              "Cannot find " + gone + ".\nFile moved, deleted or renamed.");
    rig.store.deleteKey(settings::kKeyPath);
    item(form, "mnuPlayerTwo")->trigger();
    ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
    EXPECT_EQ(rig.dialogs.boxes[1].caption, "Run Player Two");
    EXPECT_EQ(rig.dialogs.boxes[1].text, "Cannot open or read registry.");

    // No player at all: the items and their separator stay hidden.
    WindowRig none;
    for (QAction* item : {item(*none.form, "mnuPlayerOne"), item(*none.form, "mnuPlayerTwo"),
                          item(*none.form, "mnuPlayerThree"), item(*none.form, "mnuAvdelare")}) {
        EXPECT_FALSE(item->isVisible()) << item->objectName().toStdString();
    }
}

TEST(HelpMenu, VersionTextsWebPageAndMail) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    EXPECT_EQ(versionText(), "Version 6.5 (build 2968)");
    EXPECT_EQ(mailUri(), QStringLiteral("mailto:") + QString::fromLatin1(build::kAuthorMail) +
                             "?subject=Pulsaro (Version 6.5 (build 2968))");

    const QDateTime built =
        QDateTime::fromString(QString::fromLatin1(build::kBuildTime), Qt::ISODate).toLocalTime();
    const QLocale locale;
    EXPECT_TRUE(child<QLabel>(form, "lblMyName")
                    ->text()
                    .endsWith(locale.toString(built.date(), QLocale::ShortFormat)));
    item(form, "mnuHelpAbout")->trigger();
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    const QStringList about = rig.dialogs.boxes[0].text.split(QLatin1Char('\n'));
    EXPECT_EQ(about.value(0), "Pulsaro - Version 6.5 (build 2968)");
    EXPECT_EQ(about.value(3), "Compiled: " + locale.toString(built.date(), QLocale::LongFormat) +
                                  "   " + locale.toString(built.time(), QLocale::ShortFormat));
    EXPECT_TRUE(rig.dialogs.boxes[0].text.contains("PortAudio, https://"));

    // The desktop refuses: warning boxes; it accepts: the URLs it was given.
    QList<QUrl> opened;
    bool accept = false;
    rig.services.setUrlOpener([&](const QUrl& url) {
        opened << url;
        return accept;
    });
    item(form, "mnuHelpWebPage")->trigger();
    item(form, "mnuHelpSendMail")->trigger();
    ASSERT_EQ(rig.dialogs.boxes.size(), 3u);
    EXPECT_EQ(rig.dialogs.boxes[1].text,
              "Cannot open webpage.\n" + QString::fromLatin1(build::kWebPage));
    EXPECT_EQ(rig.dialogs.boxes[1].caption, "Pulsaro web page");
    EXPECT_EQ(rig.dialogs.boxes[2].text,
              "Cannot send eMail.\n" + QString::fromLatin1(build::kAuthorMail));
    EXPECT_EQ(rig.dialogs.boxes[2].caption, "Send eMail");
    accept = true;
    item(form, "mnuHelpSendMail")->trigger();
    EXPECT_EQ(rig.dialogs.boxes.size(), 3u);
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened[0].toString(), QString::fromLatin1(build::kWebPage));
    EXPECT_EQ(opened[2].scheme(), "mailto");
}

}  // namespace
}  // namespace pulsaro::testing
