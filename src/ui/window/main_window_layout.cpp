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

#include "ui/common/app_services.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/bpm_panel.h"
#include "ui/panels/delay_panel.h"
#include "ui/panels/mpm_panel.h"
#include "ui/panels/save_panel.h"
#include "ui/panels/widgets.h"
#include "ui/saving/result_saver.h"
#include "ui/window/main_window.h"

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
    fileMenu_ = menu("mnuFile", res::kMenuFile, Place::File);
    connect(fileMenu_, &QMenu::aboutToShow, this, &MainWindow::refreshFileCommands);
    viewMenu_ = menu("mnuView", res::kMenuView, Place::View);
    // The separator below the players shows only with them.
    const QList<QAction*> viewItems = viewMenu_->actions();
    playerSeparator_ = viewItems.at(viewItems.indexOf(commands_->action(Command::BpmMode)) - 1);
    playerSeparator_->setObjectName(QStringLiteral("mnuAvdelare"));
    for (QAction* hidden :
         {commands_->action(Command::PlayerOne), commands_->action(Command::PlayerTwo),
          commands_->action(Command::PlayerThree), playerSeparator_}) {
        hidden->setVisible(false);
    }
    helpMenu_ = menu("mnuHelp", res::kMenuHelp, Place::Help);

    copyMenu_ = new QMenu(this);
    copyMenu_->setObjectName(QStringLiteral("popcopybpmvalue"));
    commands_->build(Place::CopyPopup, *copyMenu_);
    connect(copyMenu_, &QMenu::aboutToShow, this, &MainWindow::updateCommands);

    // Menus are windows of their own and do not take the window's font.
    const QFont menuFont = windowFont(8);
    menuBar()->setFont(menuFont);
    for (QMenu* menu : {fileMenu_, viewMenu_, helpMenu_, copyMenu_}) {
        menu->setFont(menuFont);
    }
    auto* menuBarStyle = new MenuBarStyle;
    menuBarStyle->setParent(menuBar());
    menuBar()->setStyle(menuBarStyle);
}

void MainWindow::buildClientArea() {
    clientArea_ = new QWidget(this);
    clientArea_->setObjectName(QStringLiteral("clientArea"));
    clientArea_->setFixedSize(258, 222);
    setCentralWidget(clientArea_);

    pictureStrip_ = new PictureStrip(clientArea_);
    pictureStrip_->setObjectName(QStringLiteral("Image1"));
    pictureStrip_->setGeometry(0, 0, 35, 209);

    timeSlot_ = new QFrame(clientArea_);
    timeSlot_->setObjectName(QStringLiteral("Bevel1"));
    timeSlot_->setGeometry(44, 1, 100, 20);
    beatsSlot_ = new QFrame(clientArea_);
    beatsSlot_->setObjectName(QStringLiteral("Bevel2"));
    beatsSlot_->setGeometry(153, 1, 100, 20);
    for (QFrame* bevel : {timeSlot_, beatsSlot_}) {
        bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        bevel->setAttribute(Qt::WA_NoMousePropagation);
    }
    timeLabel_ = makeLabel(clientArea_, "lblTimer", tr8(res::kIdleTimer), QRect(48, 3, 93, 14), 9,
                           false, kNavy);
    timeLabel_->setToolTip(tr8(res::kHintTimer));
    beatsLabel_ = makeLabel(clientArea_, "lblBeats", tr8(res::kIdleBeats), QRect(156, 3, 93, 14), 9,
                            false, kNavy);
    beatsLabel_->setToolTip(tr8(res::kHintBeats));
    for (QLabel* label : {timeLabel_, beatsLabel_}) {
        label->setAlignment(Qt::AlignCenter);
    }

    bpmPanel_ = new BpmPanel(clientArea_);
    mpmPanel_ = new MpmPanel(clientArea_);
    delayPanel_ = new DelayPanel(clientArea_, services_);
    connect(delayPanel_, &DelayPanel::typingStarted, this,
            [this] { resetButton_->setEnabled(true); });
    connect(delayPanel_, &DelayPanel::typedTempoChanged, this,
            [this](Fixed tempo) { tap_.setTypedTempo(tempo); });
    metronome_ = new MetronomeController(
        {services_, audio_, clock_, tap_, studio_, *pictureStrip_, *delayPanel_, *bpmPanel_}, this);
    connect(delayPanel_, &DelayPanel::metronomeClicked, metronome_,
            &MetronomeController::toggleDelayMetronome);
    connect(metronome_, &MetronomeController::commandsChanged, this, &MainWindow::updateCommands);
    connect(metronome_, &MetronomeController::noticeChanged, this, &MainWindow::showCreditLine);
    savePanel_ = new SavePanel(clientArea_, services_);
    saver_ = new ResultSaver(
        {services_, tap_, *this, *savePanel_, *bpmPanel_, *mpmPanel_, *delayPanel_}, this);
    connect(savePanel_, &SavePanel::saveClicked, saver_, &ResultSaver::saveFromPanel);
    connect(savePanel_, &SavePanel::cancelClicked, this, &MainWindow::closeSavePanel);
    connect(savePanel_, &SavePanel::newFileClicked, saver_, &ResultSaver::chooseNewResultFile);
    connect(saver_, &ResultSaver::panelOpening, this, &MainWindow::showSavePanel);
    connect(saver_, &ResultSaver::commandsChanged, this, &MainWindow::updateCommands);
    connect(saver_, &ResultSaver::recordSaved, this, [this](bool full) {
        if (full) {
            closeSavePanel();
        }
        resetAll();
    });

    beatButton_ = new QPushButton(tr8(res::kBeat), clientArea_);
    beatButton_->setObjectName(QStringLiteral("cmdBeat"));
    beatButton_->setGeometry(44, 137, 209, 41);
    beatButton_->setFont(windowFont(16, true));
    beatButton_->setToolTip(tr8(res::kHintBeat));
    beatButton_->setDefault(true);
    // A mouse press taps (keys tap in the key map). The tap is timed at the
    // press, never at the release: how long it is held must not move the beat.
    connect(beatButton_, &QPushButton::pressed, this,
            [this] { tapBeat(eventInstant(std::exchange(beatPressStamp_, 0))); });

    resetButton_ = new QPushButton(tr8(res::kReset), clientArea_);
    resetButton_->setObjectName(QStringLiteral("cmdReset"));
    resetButton_->setGeometry(44, 181, 209, 25);
    resetButton_->setFont(windowFont(8, true));
    resetButton_->setToolTip(tr8(res::kHintReset));
    resetButton_->setEnabled(false);
    connect(resetButton_, &QPushButton::clicked, this, &MainWindow::resetAll);

    creditLabel_ = makeLabel(clientArea_, "lblMyName", tr8(res::kCredit), QRect(2, 210, 130, 11), 7,
                             false, kGray);
    // While listening, what is heard stands in the credit line's place.
    heardLabel_ =
        makeLabel(clientArea_, "lblHeard", QString(), QRect(2, 210, 254, 11), 7, false, kGray);
    heardLabel_->hide();

    // The Beat button comes first in the tab order.
    setTabOrder(beatButton_, resetButton_);
    setTabOrder(resetButton_, delayPanel_->tempoBox());
    setTabOrder(delayPanel_->tempoBox(), delayPanel_->metronomeButton());
}

}  // namespace pulsaro
