#include "ui/window/commands.h"

#include "ui/listening/listening_controller.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/help/help_commands.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/saving/result_saver.h"
#include "ui/settings/settings_binding.h"
#include "ui/window/main_window.h"

namespace pulsaro {

namespace {

constexpr QKeyCombination kNoKey(Qt::Key_unknown);

bool saveAllowed(const CommandState& s) {
    return s.saveAllowed;
}
bool quickSaveAllowed(const CommandState& s) {
    return s.quickSaveAllowed;
}
bool copyAllowed(const CommandState& s) {
    return s.copyAllowed;
}
bool modesOpen(const CommandState& s) {
    return !s.savePanelOpen;
}
bool opacityAvailable(const CommandState& s) {
    return s.opacityAvailable;
}
bool metronomeArmed(const CommandState& s) {
    return s.metronomeArmed;
}
bool onTop(const CommandState& s) {
    return s.alwaysOnTop;
}
bool translucent(const CommandState& s) {
    return s.translucent && s.opacityAvailable;
}
bool inBpm(const CommandState& s) {
    return s.displayMode == kModeBpm;
}
bool inMpm(const CommandState& s) {
    return s.displayMode == kModeMpm;
}
bool inDelay(const CommandState& s) {
    return s.displayMode == kModeDelay;
}
bool listening(const CommandState& s) {
    return s.listening;
}
bool heardTempo(const CommandState& s) {
    return s.heardTempo && !s.savePanelOpen;
}
bool playingFile(const CommandState& s) {
    return s.playingFile;
}

using P = const WindowParts&;

// clang-format off
const CommandRow kRows[] = {
    {Command::Save, Place::File, "mnuFileSaveToFile", res::kMenuSave, Qt::Key_F3,
     saveAllowed, nullptr, [](P p) { p.saver.openPanel(p.window.displayMode()); }},
    {Command::QuickSave, Place::File, "mnuQuickSave", res::kMenuQuickSave, Qt::Key_F2,
     quickSaveAllowed, nullptr, [](P p) { p.saver.quickSave(); }},
    {Command::Metronome, Place::File, "mnuFileMetronome", res::kMenuMetronome, Qt::Key_F4,
     nullptr, metronomeArmed, [](P p) { p.metronome.toggle(); }, true},
    {Command::Copy, Place::File, "mnuFileCopyToClipboard", res::kMenuCopy,
     Qt::CTRL | Qt::Key_C, copyAllowed, nullptr, [](P p) { p.saver.copyValues(); }},
    {Command::AnalyseFiles, Place::File, "mnuFileAnalyse", res::kMenuAnalyseFiles, Qt::Key_F8,
     nullptr, nullptr, [](P p) { p.window.analyseFiles({}); }, true},
    {Command::Listen, Place::File, "mnuFileListen", res::kMenuListen, Qt::Key_F9,
     nullptr, listening, [](P p) { p.listening.toggle(); }},
    {Command::UseHeardTempo, Place::File, "mnuFileUseHeard", res::kMenuUseHeardTempo,
     Qt::SHIFT | Qt::Key_F9, heardTempo, nullptr, [](P p) { p.window.useHeardTempo(); }},
    {Command::AnalysePlaying, Place::File, "mnuFileAnalysePlaying", res::kMenuAnalysePlaying,
     Qt::SHIFT | Qt::Key_F8, playingFile, nullptr, [](P p) { p.window.analysePlayingFile(); }},
    {Command::Settings, Place::File, "mnuFileOptions", res::kMenuSettings, kNoKey,
     nullptr, nullptr, [](P p) { p.settings.openSettingsDialog(); }},
    {Command::Exit, Place::File, "mnuFileExit", res::kMenuExit, kNoKey,
     nullptr, nullptr, [](P p) { p.window.close(); }, true},

    {Command::AlwaysOnTop, Place::View, "mnuViewAlwaysOnTop", res::kMenuAlwaysOnTop,
     Qt::CTRL | Qt::Key_O, nullptr, onTop, [](P p) { p.desktop.toggleAlwaysOnTop(); }},
    {Command::Transparency, Place::View, "mnuViewTransparancyMode", res::kMenuTransparency,
     Qt::CTRL | Qt::Key_T, opacityAvailable, translucent,
     [](P p) { p.desktop.toggleTransparency(); }},
    {Command::PlayerOne, Place::View, "mnuPlayerOne", res::kMenuPlayerOne, kNoKey,
     nullptr, nullptr, [](P p) { p.help.startPlayer(0); }, true},
    {Command::PlayerTwo, Place::View, "mnuPlayerTwo", res::kMenuPlayerTwo, kNoKey,
     nullptr, nullptr, [](P p) { p.help.startPlayer(1); }},
    {Command::PlayerThree, Place::View, "mnuPlayerThree", res::kMenuPlayerThree, kNoKey,
     nullptr, nullptr, [](P p) { p.help.startPlayer(2); }},
    {Command::BpmMode, Place::View, "mnuViewBPM", res::kMenuBpmMode, Qt::Key_F5,
     modesOpen, inBpm, [](P p) { p.window.showBpmMode(); }, true},
    {Command::MpmMode, Place::View, "mnuViewMPM", res::kMenuMpmMode, Qt::Key_F6,
     modesOpen, inMpm, [](P p) { p.window.showMpmMode(); }},
    {Command::DelayMode, Place::View, "mnuViewTimeCounter", res::kMenuDelayMode, Qt::Key_F7,
     modesOpen, inDelay, [](P p) { p.window.showDelayMode(); }},

    {Command::WebPage, Place::Help, "mnuHelpWebPage", res::kMenuWebPage, kNoKey,
     nullptr, nullptr, [](P p) { p.help.openWebPage(); }},
    {Command::SendMail, Place::Help, "mnuHelpSendMail", res::kMenuSendMail, kNoKey,
     nullptr, nullptr, [](P p) { p.help.sendMailToAuthor(); }},
    {Command::About, Place::Help, "mnuHelpAbout", res::kMenuAbout, Qt::Key_F1,
     nullptr, nullptr, [](P p) { p.help.showAbout(); }, true},

    {Command::CopyValues, Place::CopyPopup, "mnuCopyBPM", res::kMenuCopyPopup, kNoKey,
     copyAllowed, nullptr, [](P p) { p.saver.copyValues(); }},

    {Command::Restore, Place::Tray, "mnuRestoreFromTray", res::kTrayRestore, kNoKey,
     nullptr, nullptr, [](P p) { p.desktop.restoreFromTray(); }},
    {Command::AlwaysOnTop, Place::Tray, "mnuAlwaysOnTop", res::kTrayAlwaysOnTop, kNoKey,
     nullptr, onTop, [](P p) { p.desktop.toggleAlwaysOnTop(); }},
    {Command::Transparency, Place::Tray, "mnuTransparency", res::kTrayTransparency, kNoKey,
     opacityAvailable, translucent, [](P p) { p.desktop.toggleTransparency(); }},
    {Command::AboutFromTray, Place::Tray, "mnuAboutFromTray", res::kTrayAbout, kNoKey,
     nullptr, nullptr, [](P p) { p.desktop.showAboutFromTray(); }, true},
    {Command::ExitFromTray, Place::Tray, "mnuExitFromTray", res::kTrayExit, kNoKey,
     nullptr, nullptr, [](P p) { p.window.close(); }},

    {Command::AlwaysOnTop, Place::Window, "windowAlwaysOnTop", res::kWindowAlwaysOnTop,
     Qt::CTRL | Qt::Key_O, nullptr, onTop, [](P p) { p.desktop.toggleAlwaysOnTop(); }},
    {Command::Transparency, Place::Window, "windowTransparency", res::kWindowTransparency,
     Qt::CTRL | Qt::Key_T, opacityAvailable, translucent, [](P p) { p.desktop.toggleTransparency(); }},
    {Command::DeleteSettings, Place::Window, "windowDeleteSettings", res::kWindowDeleteSettings,
     kNoKey, nullptr, nullptr, [](P p) { p.settings.deleteSettings(); }},
    {Command::Minimize, Place::Window, "windowMinimize", res::kWindowMinimize, kNoKey,
     nullptr, nullptr, [](P p) { p.desktop.minimizeAndStopClicks(); }, true},
    {Command::Close, Place::Window, "windowClose", res::kWindowClose, kNoKey,
     nullptr, nullptr, [](P p) { p.window.close(); }},
};
// clang-format on

}  // namespace

std::span<const CommandRow> commandRows() {
    return kRows;
}

CommandSet::CommandSet(MainWindow& window)
    : QObject(&window), window_(window), modes_(new QActionGroup(this)) {}

void CommandSet::build(Place place, QMenu& menu) {
    for (const CommandRow& row : kRows) {
        if (row.place != place) {
            continue;
        }
        if (row.separatorBefore && !menu.actions().isEmpty()) {
            menu.addSeparator();
        }
        QString text = tr8(row.caption);
        if (row.key != kNoKey) {
            // Qt names the key as the menus of this desktop show it.
            text += QLatin1Char('\t') + QKeySequence(row.key).toString(QKeySequence::NativeText);
        }
        QAction* item = menu.addAction(text);
        item->setObjectName(QString::fromLatin1(row.objectName));
        item->setCheckable(row.checked != nullptr);
        if (row.command == Command::BpmMode || row.command == Command::MpmMode ||
            row.command == Command::DelayMode) {
            modes_->addAction(item);
        }
        // The row decides the mark, not the click.
        connect(item, &QAction::triggered, this, [this, &row] {
            row.run(window_.parts());
            window_.updateCommands();
        });
        items_.push_back({&row, item});
        // The first place a command stands in is where the window finds it.
        auto& slot = actions_[static_cast<std::size_t>(row.command)];
        if (slot == nullptr) {
            slot = item;
        }
    }
}

QAction* CommandSet::action(Command command) const {
    return actions_[static_cast<std::size_t>(command)];
}

void CommandSet::update(const CommandState& state) {
    for (const auto& [row, item] : items_) {
        item->setEnabled(row->enabled == nullptr || row->enabled(state));
        if (row->checked != nullptr) {
            item->setChecked(row->checked(state));
        }
    }
}

bool CommandSet::runKey(QKeyCombination key) {
    for (const CommandRow& row : kRows) {
        if (row.key != key || key == kNoKey) {
            continue;
        }
        // The File menu decides its items afresh, as when it opens.
        if (row.place == Place::File) {
            window_.refreshFileCommands();
        }
        const CommandState state = window_.commandState();
        if (row.enabled != nullptr && !row.enabled(state)) {
            return false;
        }
        // Through the menu item, so a key and a click are one command.
        if (QAction* item = action(row.command)) {
            item->trigger();
        } else {
            row.run(window_.parts());
            window_.updateCommands();
        }
        return true;
    }
    return false;
}

}  // namespace pulsaro
