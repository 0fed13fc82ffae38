// The tray icon: minimising to the tray and back, clicks on the icon, the
// tip, and the program's own icon. Runs without a real tray: the
// availability test is switched by hand and clicks go through activate().

#include "ui/desktop/tray_icon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QWidget>
#include <QWindowStateChangeEvent>
#include <string>
#include <vector>

namespace pulsaro {
namespace {

// A shown owner window and its tray icon; the tray is there while
// trayThere is true.
struct TrayRig {
    TrayRig() { owner.show(); }

    void minimise() {
        owner.setWindowState(owner.windowState() | Qt::WindowMinimized);
        // The trip to the tray runs once the minimise has been delivered.
        QCoreApplication::processEvents();
    }

    bool trayThere = true;
    QWidget owner;
    TrayIcon icon{owner, [this] { return trayThere; }};
};

TEST(TrayIcon, StartsHiddenWithAnEmptyShownTip) {
    TrayRig rig;
    EXPECT_TRUE(rig.icon.Hint().isEmpty());
    EXPECT_TRUE(rig.icon.ShowHint());
    EXPECT_FALSE(rig.icon.IconVisible());
    EXPECT_TRUE(rig.icon.Enabled());
    EXPECT_FALSE(rig.icon.MinimizeToTray());
    EXPECT_EQ(rig.icon.PopupMenu(), nullptr);
}

TEST(TrayIcon, MinimiseGoesToTheTrayOnlyWhenAskedAndATrayIsThere) {
    struct Case {
        const char* name;
        bool minimizeToTray;
        bool trayThere;
        bool toTray;
    };
    const Case cases[] = {
        {"off, tray there", false, true, false},
        {"on, tray there", true, true, true},
        {"on, no tray", true, false, false},
        {"off, no tray", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrayRig rig;
        rig.trayThere = c.trayThere;
        rig.icon.SetMinimizeToTray(c.minimizeToTray);
        int sent = 0;
        bool visibleWhenSent = false;
        rig.icon.OnMinimizeToTray = [&] {
            ++sent;
            visibleWhenSent = rig.owner.isVisible();
        };

        rig.minimise();

        EXPECT_TRUE(rig.owner.isMinimized());
        EXPECT_EQ(sent, c.toTray ? 1 : 0);
        EXPECT_EQ(rig.owner.isVisible(), !c.toTray);
        EXPECT_EQ(rig.icon.IconVisible(), c.toTray);
        if (c.toTray) {
            EXPECT_TRUE(visibleWhenSent) << "the callback runs before the window hides";
        }
    }
}

TEST(TrayIcon, RestoreBringsTheWindowBackFromTheTrayOrTheTaskbar) {
    for (const bool viaTray : {true, false}) {
        SCOPED_TRACE(viaTray ? "from the tray" : "ordinary minimise");
        TrayRig rig;
        rig.icon.SetMinimizeToTray(viaTray);
        rig.minimise();
        ASSERT_EQ(rig.owner.isVisible(), !viaTray);

        rig.icon.RestoreMainWindow();

        EXPECT_TRUE(rig.owner.isVisible());
        EXPECT_FALSE(rig.owner.isMinimized());
    }
}

TEST(TrayIcon, SecondTripToTheTrayAfterARestore) {
    TrayRig rig;
    rig.icon.SetMinimizeToTray(true);
    int sent = 0;
    rig.icon.OnMinimizeToTray = [&] { ++sent; };
    rig.minimise();
    rig.icon.RestoreMainWindow();
    rig.minimise();
    EXPECT_EQ(sent, 2);
    EXPECT_FALSE(rig.owner.isVisible());
}

// A window system may report the one minimise more than once.
TEST(TrayIcon, MinimiseReportedTwiceGoesToTheTrayOnce) {
    TrayRig rig;
    rig.icon.SetMinimizeToTray(true);
    int sent = 0;
    rig.icon.OnMinimizeToTray = [&] { ++sent; };
    rig.owner.setWindowState(Qt::WindowMinimized);
    QWindowStateChangeEvent again(Qt::WindowNoState);
    QCoreApplication::sendEvent(&rig.owner, &again);
    QCoreApplication::processEvents();
    EXPECT_EQ(sent, 1);
    EXPECT_FALSE(rig.owner.isVisible());
}

TEST(TrayIcon, ClicksOnTheIcon) {
    enum class MenuKind { none, withDefault, withoutDefault };
    struct Case {
        const char* name;
        QSystemTrayIcon::ActivationReason reason;
        bool enabled;
        MenuKind menu;
        std::vector<std::string> expected;
    };
    const auto dbl = QSystemTrayIcon::DoubleClick;
    const Case cases[] = {
        {"double-click runs the callback, then the default item",
         dbl,
         true,
         MenuKind::withDefault,
         {"OnDblClick", "Restore"}},
        {"double-click without a menu", dbl, true, MenuKind::none, {"OnDblClick"}},
        {"double-click, menu without a default",
         dbl,
         true,
         MenuKind::withoutDefault,
         {"OnDblClick"}},
        {"double-click while disabled", dbl, false, MenuKind::withDefault, {}},
        {"single click", QSystemTrayIcon::Trigger, true, MenuKind::withDefault, {}},
        {"right-click leaves the menu to the tray",
         QSystemTrayIcon::Context,
         true,
         MenuKind::withDefault,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrayRig rig;
        std::vector<std::string> happened;
        QMenu menu;
        QAction* restore = menu.addAction(QStringLiteral("Restore"));
        QAction* other = menu.addAction(QStringLiteral("Exit"));
        QObject::connect(restore, &QAction::triggered, [&] { happened.push_back("Restore"); });
        QObject::connect(other, &QAction::triggered, [&] { happened.push_back("Exit"); });
        if (c.menu == MenuKind::withDefault) {
            menu.setDefaultAction(restore);
        }
        if (c.menu != MenuKind::none) {
            rig.icon.SetPopupMenu(&menu);
        }
        rig.icon.OnDblClick = [&] { happened.push_back("OnDblClick"); };
        rig.icon.SetEnabled(c.enabled);

        rig.icon.activate(c.reason);

        EXPECT_EQ(happened, c.expected);
    }
}

TEST(TrayIcon, DisabledIconOffersNoMenu) {
    TrayRig rig;
    QMenu menu;
    rig.icon.SetPopupMenu(&menu);
    const auto* tray = rig.icon.findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->contextMenu(), &menu);

    rig.icon.SetEnabled(false);
    EXPECT_EQ(tray->contextMenu(), nullptr);
    EXPECT_EQ(rig.icon.PopupMenu(), &menu);

    rig.icon.SetEnabled(true);
    EXPECT_EQ(tray->contextMenu(), &menu);
}

TEST(TrayIcon, LongHintIsCutAndShowHintHidesTheTip) {
    TrayRig rig;
    const auto* tray = rig.icon.findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);

    rig.icon.SetHint(QString(200, QLatin1Char('x')));
    EXPECT_EQ(rig.icon.Hint(), QString(127, QLatin1Char('x')));
    EXPECT_EQ(tray->toolTip(), rig.icon.Hint());

    rig.icon.SetShowHint(false);
    EXPECT_TRUE(tray->toolTip().isEmpty());
    EXPECT_EQ(rig.icon.Hint(), QString(127, QLatin1Char('x')));

    rig.icon.SetShowHint(true);
    EXPECT_EQ(tray->toolTip(), rig.icon.Hint());
}

TEST(TrayIcon, HintCutNeverSplitsACharacter) {
    TrayRig rig;
    // U+1D11E (musical G clef) takes two UTF-16 units, straddling the cut.
    const QString text = QString(126, QLatin1Char('x')) + QString::fromUcs4(U"\U0001D11E");
    rig.icon.SetHint(text);
    EXPECT_EQ(rig.icon.Hint(), QString(126, QLatin1Char('x')));
}

// Needs Qt's SVG icon engine at run time; without it the icon is blank.
TEST(ProgramIcon, DrawsTheMarkAtTraySizeAndLauncherSize) {
    const QIcon icon = programIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 256}) {
        SCOPED_TRACE(size);
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        int navy = 0;
        int yellow = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor p = image.pixelColor(x, y);
                navy += p.red() < 40 && p.green() < 40 && p.blue() > 100 && p.blue() < 160;
                yellow += p.red() > 200 && p.green() > 200 && p.blue() < 100;
            }
        }
        // Mostly navy ground with a clear yellow mark on it.
        EXPECT_GT(navy, size * size / 2);
        EXPECT_GT(yellow, size * size / 20);
    }
}

}  // namespace
}  // namespace pulsaro
