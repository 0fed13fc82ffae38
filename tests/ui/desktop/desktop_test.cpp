// Opacity, always on top and the window menu, as the three menus show them.

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <cmath>

#include "core/settings_names.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/fakes.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/widgets.h"

namespace pulsaro::testing {
namespace {

// The window menu's items by what they do.
QAction* windowItem(MainWindow& form, const char* name) {
    return child<QMenu>(form, "windowMenu")->findChild<QAction*>(QString::fromLatin1(name));
}

// A rig whose platform shows per-window opacity.
struct TranslucentRig : WindowRig {
    explicit TranslucentRig(const Prepare& prepare = {}) : WindowRig(1, prepare) {
        services.setOpacityAvailable([] { return true; });
        restart();
    }
};

TEST(Desktop, TransparencyUsesTheStoredPercentAndAllMenusAgree) {
    struct Case {
        std::optional<std::int32_t> stored;
        int alpha;
    };
    for (const Case c : {Case{50, 127}, Case{99, 252}, Case{10, 25}, Case{150, 63}, Case{-1, 63},
                         Case{std::nullopt, 63}}) {
        TranslucentRig rig([&](RegistryKey& key) {
            if (c.stored) {
                key.writeInteger(settings::kTransparencyLower, *c.stored);
            }
        });
        MainWindow& form = *rig.form;
        rig.key(Qt::Key_T, Qt::ControlModifier);
        const std::string what = std::to_string(c.stored.value_or(-99));
        EXPECT_NEAR(form.windowOpacity(), c.alpha / 255.0, 1e-3) << what;
        EXPECT_TRUE(item(form, "mnuViewTransparancyMode")->isChecked()) << what;
        EXPECT_TRUE(windowItem(form, "windowTransparency")->isChecked()) << what;
        // Back through the window menu: opaque, every mark cleared.
        windowItem(form, "windowTransparency")->trigger();
        EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0) << what;
        EXPECT_FALSE(item(form, "mnuViewTransparancyMode")->isChecked()) << what;
        EXPECT_FALSE(windowItem(form, "windowTransparency")->isChecked()) << what;
    }
}

TEST(Desktop, WithoutOpacityTheCommandsAreOff) {
    WindowRig rig;  // the offscreen platform shows no opacity
    MainWindow& form = *rig.form;
    EXPECT_FALSE(item(form, "mnuViewTransparancyMode")->isEnabled());
    EXPECT_FALSE(windowItem(form, "windowTransparency")->isEnabled());
    rig.key(Qt::Key_T, Qt::ControlModifier);
    EXPECT_FALSE(item(form, "mnuViewTransparancyMode")->isChecked());
    EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
}

TEST(Desktop, AlwaysOnTopTogglesInPlaceFromEitherMenu) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    const QPoint place = form.pos();
    rig.key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(item(form, "mnuViewAlwaysOnTop")->isChecked());
    EXPECT_TRUE(windowItem(form, "windowAlwaysOnTop")->isChecked());
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.pos(), place);
    windowItem(form, "windowAlwaysOnTop")->trigger();
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(item(form, "mnuViewAlwaysOnTop")->isChecked());
    EXPECT_FALSE(windowItem(form, "windowAlwaysOnTop")->isChecked());
    // Kept at exit, applied at the next start.
    rig.key(Qt::Key_O, Qt::ControlModifier);
    form.close();
    rig.restart();
    EXPECT_TRUE(rig.form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(windowItem(*rig.form, "windowAlwaysOnTop")->isChecked());
}

TEST(Desktop, WindowMenuCommands) {
    WindowRig rig;
    MainWindow& form = *rig.form;
    // "Delete registry settings..." asks first.
    rig.dialogs.answer = Dialogs::Answer::Cancel;
    windowItem(form, "windowDeleteSettings")->trigger();
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.boxes[0].text, "Delete registry settings made by Pulsaro?");

    // Minimising from the window menu stops a running metronome first.
    rig.key(Qt::Key_F7);
    rig.typeText(QStringLiteral("120"));
    rig.key(Qt::Key_M);
    ASSERT_NE(rig.audio.clicking, 0u);
    windowItem(form, "windowMinimize")->trigger();
    EXPECT_EQ(rig.audio.clicking, 0u);
    EXPECT_FALSE(form.parts().metronome.delayMetronomeOn());
    EXPECT_TRUE(form.isMinimized());

    // A right-click on the picture strip opens the window menu.
    form.showNormal();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            child<QWidget>(form, "Image1")->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(child<QWidget>(form, "Image1"), &click);
    EXPECT_TRUE(child<QMenu>(form, "windowMenu")->isVisible());
    child<QMenu>(form, "windowMenu")->hide();
}

TEST(Tray, MinimiseRestoreAndTheNoTrayDesktop) {
    struct Case {
        const char* what;
        bool stored;
        bool tray;
        bool toTray;
    };
    const Case cases[] = {{"setting off", false, true, false},
                          {"setting on", true, true, true},
                          {"setting on, no notification area", true, false, false}};
    for (const Case& c : cases) {
        WindowRig rig(1, [&](RegistryKey& key) {
            key.writeInteger(settings::kMinimizeToTray, c.stored ? 1 : 0);
        });
        rig.trayAvailable = [&] { return c.tray; };
        rig.restart();
        MainWindow& form = *rig.form;
        rig.key(Qt::Key_F7);
        rig.typeText(QStringLiteral("120"));
        rig.key(Qt::Key_M);
        rig.key(Qt::Key_Escape, Qt::ShiftModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(form.parts().desktop.trayIcon().IconVisible(), c.toTray) << c.what;
        EXPECT_EQ(form.isVisible(), !c.toTray) << c.what;
        EXPECT_EQ(rig.audio.clicking, 0u) << c.what;  // stopped either way
        EXPECT_EQ(form.parts().desktop.trayIcon().Hint(), "Pulsaro") << c.what;
        if (c.toTray) {
            form.parts().desktop.trayIcon().activate(QSystemTrayIcon::DoubleClick);
            EXPECT_TRUE(form.isVisible()) << c.what;
            EXPECT_FALSE(form.isMinimized()) << c.what;
            EXPECT_FALSE(form.parts().desktop.trayIcon().IconVisible()) << c.what;
        }
    }

    // The tray menu: Restore is the default; About disables the icon meanwhile.
    WindowRig rig;
    MainWindow& form = *rig.form;
    EXPECT_EQ(child<QMenu>(form, "popTrayPopup")->defaultAction(),
              item(form, "mnuRestoreFromTray"));
    bool enabledDuringAbout = true;
    rig.dialogs.whileShown = [&] {
        enabledDuringAbout = form.parts().desktop.trayIcon().Enabled();
    };
    item(form, "mnuAboutFromTray")->trigger();
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.boxes[0].caption, "About");
    EXPECT_FALSE(enabledDuringAbout);
    EXPECT_TRUE(form.parts().desktop.trayIcon().Enabled());
    rig.dialogs.whileShown = nullptr;
    // Its always-on-top item is the View menu's command.
    item(form, "mnuAlwaysOnTop")->trigger();
    EXPECT_TRUE(item(form, "mnuViewAlwaysOnTop")->isChecked());
    EXPECT_TRUE(item(form, "mnuAlwaysOnTop")->isChecked());
    // A second start brings the window out of the tray.
    form.parts().desktop.trayIcon().SetIconVisible(true);
    form.hide();
    form.parts().desktop.anotherCopyStarted({});
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.parts().desktop.trayIcon().IconVisible());
}

}  // namespace
}  // namespace pulsaro::testing
