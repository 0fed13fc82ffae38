// Building the main window's menus and controls at their fixed places.

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <array>
#include <utility>

#include "ui/bpm_panel.h"
#include "ui/delay_panel.h"
#include "ui/main_window.h"
#include "ui/mpm_panel.h"
#include "ui/qt_text.h"
#include "ui/save_panel.h"
#include "ui/shared_operations.h"
#include "ui/string_resources.h"
#include "ui/widgets.h"

namespace pulsaro {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kGray(128, 128, 128);

}  // namespace

void MainWindow::buildMenus() {
    commands_ = new CommandSet(*this);
    const auto menu = [&](const char* name, const char* title, Place place) {
        QMenu* built = menuBar()->addMenu(tr8(title));
        built->setObjectName(QString::fromLatin1(name));
        commands_->build(place, *built);
        return built;
    };
    mnuFile = menu("mnuFile", res::kMenuFile, Place::File);
    connect(mnuFile, &QMenu::aboutToShow, this, &MainWindow::refreshFileCommands);
    mnuView = menu("mnuView", res::kMenuView, Place::View);
    // The separator below the players shows only with them.
    const QList<QAction*> viewItems = mnuView->actions();
    mnuAvdelare = viewItems.at(viewItems.indexOf(commands_->action(Command::BpmMode)) - 1);
    mnuAvdelare->setObjectName(QStringLiteral("mnuAvdelare"));
    for (QAction* hidden :
         {commands_->action(Command::PlayerOne), commands_->action(Command::PlayerTwo),
          commands_->action(Command::PlayerThree), mnuAvdelare}) {
        hidden->setVisible(false);
    }
    mnuHelp = menu("mnuHelp", res::kMenuHelp, Place::Help);

    popcopybpmvalue = new QMenu(this);
    popcopybpmvalue->setObjectName(QStringLiteral("popcopybpmvalue"));
    commands_->build(Place::CopyPopup, *popcopybpmvalue);
    connect(popcopybpmvalue, &QMenu::aboutToShow, this, &MainWindow::updateCommands);

    // Menus are windows of their own and do not take the window's font.
    const QFont menuFont = windowFont(8);
    menuBar()->setFont(menuFont);
    for (QMenu* menu : {mnuFile, mnuView, mnuHelp, popcopybpmvalue}) {
        menu->setFont(menuFont);
    }
    auto* menuBarStyle = new MenuBarStyle;
    menuBarStyle->setParent(menuBar());
    menuBar()->setStyle(menuBarStyle);
}

void MainWindow::buildClientArea() {
    clientArea = new QWidget(this);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    clientArea->setFixedSize(258, 222);
    setCentralWidget(clientArea);

    Image1 = new PictureStrip(clientArea);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 35, 209);

    Bevel1 = new QFrame(clientArea);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(44, 1, 100, 20);
    Bevel2 = new QFrame(clientArea);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setGeometry(153, 1, 100, 20);
    for (QFrame* bevel : {Bevel1, Bevel2}) {
        bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        bevel->setAttribute(Qt::WA_NoMousePropagation);
    }
    lblTimer = makeLabel(clientArea, "lblTimer", tr8(res::kIdleTimer), QRect(48, 3, 93, 14), 9,
                         false, kNavy);
    lblTimer->setToolTip(tr8(res::kHintTimer));
    lblBeats = makeLabel(clientArea, "lblBeats", tr8(res::kIdleBeats), QRect(156, 3, 93, 14), 9,
                         false, kNavy);
    lblBeats->setToolTip(tr8(res::kHintBeats));
    for (QLabel* label : {lblTimer, lblBeats}) {
        label->setAlignment(Qt::AlignCenter);
    }

    bpmPanel = new BpmPanel(clientArea);
    mpmPanel = new MpmPanel(clientArea);
    delayPanel = new DelayPanel(clientArea, funcs_);
    connect(delayPanel, &DelayPanel::typingStarted, this, [this] { cmdReset->setEnabled(true); });
    connect(delayPanel, &DelayPanel::typedTempoChanged, this,
            [this](Fixed tempo) { tap_.setTypedTempo(tempo); });
    connect(delayPanel, &DelayPanel::metronomeClicked, this, &MainWindow::cmdMetronomeDelayClick);
    savePanel = new SavePanel(clientArea, funcs_);
    connect(savePanel, &SavePanel::saveClicked, this, &MainWindow::cmdSaveToFileClick);
    connect(savePanel, &SavePanel::cancelClicked, this, &MainWindow::cmdCancelSaveToFileClick);
    connect(savePanel, &SavePanel::newFileClicked, this, &MainWindow::cmdNewFileClick);

    cmdBeat = new QPushButton(tr8(res::kBeat), clientArea);
    cmdBeat->setObjectName(QStringLiteral("cmdBeat"));
    cmdBeat->setGeometry(44, 137, 209, 41);
    cmdBeat->setFont(windowFont(16, true));
    cmdBeat->setToolTip(tr8(res::kHintBeat));
    cmdBeat->setDefault(true);
    // A mouse press taps (keys tap in the key map). The tap is timed at the
    // press, never at the release: how long it is held must not move the beat.
    connect(cmdBeat, &QPushButton::pressed, this,
            [this] { tapBeat(eventInstant(std::exchange(beatPressStamp_, 0))); });

    cmdReset = new QPushButton(tr8(res::kReset), clientArea);
    cmdReset->setObjectName(QStringLiteral("cmdReset"));
    cmdReset->setGeometry(44, 181, 209, 25);
    cmdReset->setFont(windowFont(8, true));
    cmdReset->setToolTip(tr8(res::kHintReset));
    cmdReset->setEnabled(false);
    connect(cmdReset, &QPushButton::clicked, this, &MainWindow::cmdResetClick);

    lblMyName = makeLabel(clientArea, "lblMyName", tr8(res::kCredit), QRect(2, 210, 130, 11), 7,
                          false, kGray);

    // The Beat button comes first in the tab order.
    setTabOrder(cmdBeat, cmdReset);
    setTabOrder(cmdReset, delayPanel->tempoBox());
    setTabOrder(delayPanel->tempoBox(), delayPanel->metronomeButton());
}

}  // namespace pulsaro
