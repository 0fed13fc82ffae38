// Building the main window's menus and controls at their fixed places.

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <array>

#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/string_resources.h"
#include "ui/widgets.h"

namespace pulsaro {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kGray(128, 128, 128);

QFrame* makePanel(QWidget* parent, const char* name, QSize size) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->resize(size);
    panel->setVisible(false);
    return panel;
}

// Yellow bold heading on navy across the top of a panel.
QLabel* makeHeading(QWidget* panel, const char* name, const char* text, QRect place) {
    QLabel* heading = makeLabel(panel, name, tr8(text), place, 10, true, QColor(255, 255, 0));
    heading->setAlignment(Qt::AlignCenter);
    heading->setAutoFillBackground(true);
    QPalette palette = heading->palette();
    palette.setColor(QPalette::Window, kNavy);
    heading->setPalette(palette);
    return heading;
}

QLabel* makeStatus(QWidget* panel, const char* name) {
    return makeLabel(panel, name, tr8(res::kDesignStatus), QRect(9, 90, 64, 15), 9, true, Qt::red);
}

QLabel* makeSaving(QWidget* panel, const char* name, int left) {
    QLabel* label =
        makeLabel(panel, name, tr8(res::kSaving), QRect(left, 90, 70, 15), 9, true, Qt::red);
    label->setVisible(false);
    return label;
}

QLabel* makeTooFast(QWidget* panel, const char* name) {
    QLabel* label =
        makeLabel(panel, name, tr8(res::kTooFast), QRect(136, 90, 66, 15), 9, true, Qt::red);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setVisible(false);
    return label;
}

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

    bpmPanel = makePanel(clientArea, "bpmPanel", QSize(209, 109));
    mpmPanel = makePanel(clientArea, "mpmPanel", QSize(209, 109));
    DelayPanel = makePanel(clientArea, "DelayPanel", QSize(209, 109));
    DelayPanel->setToolTip(tr8(res::kHintDelayPanel));
    SaveToFilePanel = makePanel(clientArea, "SaveToFilePanel", QSize(209, 185));
    SaveToFilePanel->setAttribute(Qt::WA_NoMousePropagation);
    // Taller than the mode panels: it covers the Beat and Reset buttons.
    SaveToFilePanel->setAutoFillBackground(true);
    buildBpmPanel();
    buildMpmPanel();
    buildDelayPanel();
    buildSavePanel();

    cmdBeat = new QPushButton(tr8(res::kBeat), clientArea);
    cmdBeat->setObjectName(QStringLiteral("cmdBeat"));
    cmdBeat->setGeometry(44, 137, 209, 41);
    cmdBeat->setFont(windowFont(16, true));
    cmdBeat->setToolTip(tr8(res::kHintBeat));
    cmdBeat->setDefault(true);
    // A tap is timed at the press (mouse, SPACE, ENTER), never at the release:
    // how long the key is held must not move the beat.
    connect(cmdBeat, &QPushButton::pressed, this, [this] { tapBeat(instantOf(clock_)); });

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
    setTabOrder(cmdReset, txtDelayBpm);
    setTabOrder(txtDelayBpm, cmdMetronomeDelay);
}

void MainWindow::buildBpmPanel() {
    label534 = makeHeading(bpmPanel, "label534", res::kBpmHeading, QRect(20, 4, 169, 17));
    Shape1 = new ShapeWidget(bpmPanel);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(20, 24, 169, 41);
    Shape1->setAttribute(Qt::WA_NoMousePropagation);
    lblBPM_Value = makeLabel(bpmPanel, "lblBPM_Value", tr8(res::kIdleBpm), QRect(26, 27, 159, 33),
                             24, true, Qt::red);
    lblBPM_Value->setAlignment(Qt::AlignCenter);
    lblBPM_Value->setToolTip(tr8(res::kHintBpmValue));
    lblMedelBPM = makeLabel(bpmPanel, "lblMedelBPM", tr8(res::kIdleBpm), QRect(148, 51, 33, 11), 7,
                            false, QColor(255, 255, 0));
    lblMedelBPM->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblMedelBPM->setToolTip(tr8(res::kHintMean));
    lblPitchRange =
        makeLabel(bpmPanel, "lblPitchRange", tr8(res::kIdlePitchRange), QRect(20, 68, 169, 13));
    lblPitchRange->setAlignment(Qt::AlignCenter);
    lblPitchRange->setToolTip(tr8(res::kHintPitch));
    lblCounterStatus = makeStatus(bpmPanel, "lblCounterStatus");
    lblCounterStatus->setToolTip(tr8(res::kHintStatus));
    lblFastSaveActive = makeSaving(bpmPanel, "lblFastSaveActive", 73);
    cboBPMToFastwarning = makeTooFast(bpmPanel, "cboBPMToFastwarning");
    cboBPMToFastwarning->setToolTip(tr8(res::kHintTooFast));
}

void MainWindow::buildMpmPanel() {
    Label5 = makeHeading(mpmPanel, "Label5", res::kMpmHeading, QRect(20, 4, 169, 17));
    const QString idle = tr8(res::kIdleMpmSuffix);
    lblMPM23 = makeLabel(mpmPanel, "lblMPM23", tr8(res::kTwoThirds) + idle, QRect(28, 29, 86, 15),
                         9, true, Qt::black);
    lblMPM2 = makeLabel(mpmPanel, "lblMPM2", tr8(res::kHalf) + idle, QRect(28, 45, 86, 15), 9, true,
                        kNavy);
    lblMPM3 = makeLabel(mpmPanel, "lblMPM3", tr8(res::kThird) + idle, QRect(28, 61, 86, 15), 9,
                        true, Qt::black);
    lblMPM4 = makeLabel(mpmPanel, "lblMPM4", tr8(res::kQuarter) + idle, QRect(118, 29, 86, 15), 9,
                        true, kNavy);
    lblMPM8 = makeLabel(mpmPanel, "lblMPM8", tr8(res::kEighth) + idle, QRect(118, 45, 86, 15), 9,
                        true, Qt::black);
    lblBPMinMPM = makeLabel(mpmPanel, "lblBPMinMPM", tr8(res::kIdleBpmInMpm),
                            QRect(120, 63, 83, 14), 8, true, kNavy);
    lblBPMinMPM->setToolTip(tr8(res::kHintBpmInMpm));
    lblCounterStatusMPM = makeStatus(mpmPanel, "lblCounterStatusMPM");
    lblFastSaveActive2 = makeSaving(mpmPanel, "lblFastSaveActive2", 73);
    cboMPMToFastwarning = makeTooFast(mpmPanel, "cboMPMToFastwarning");
}

void MainWindow::buildDelayPanel() {
    Label20 = makeHeading(DelayPanel, "Label20", res::kDelayHeading, QRect(8, 4, 125, 17));

    txtDelayBpm = new QLineEdit(DelayPanel);
    txtDelayBpm->setObjectName(QStringLiteral("txtDelayBpm"));
    txtDelayBpm->setGeometry(136, 4, 55, 17);
    txtDelayBpm->setFont(windowFont(8));
    txtDelayBpm->setMaxLength(5);
    txtDelayBpm->setToolTip(tr8(res::kHintDelayBox));
    txtDelayBpm->setTextMargins(0, -2, 0, -2);
    QPalette boxPalette = txtDelayBpm->palette();
    boxPalette.setColor(QPalette::Base, QColor(255, 221, 221));
    // The selection stays visible while the box has no focus.
    boxPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                        boxPalette.color(QPalette::Active, QPalette::Highlight));
    boxPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                        boxPalette.color(QPalette::Active, QPalette::HighlightedText));
    txtDelayBpm->setPalette(boxPalette);
    // What is pasted passes the same character filter as what is typed.
    txtDelayBpm->setValidator(new TempoTextValidator(txtDelayBpm));
    connect(txtDelayBpm, &QLineEdit::textChanged, this, &MainWindow::txtDelayBpmChange);
    connect(txtDelayBpm, &QLineEdit::textEdited, this, &MainWindow::txtDelayBpmEdited);

    cmdMetronomeDelay = new QPushButton(tr8(res::kMetronomeButton), DelayPanel);
    cmdMetronomeDelay->setObjectName(QStringLiteral("cmdMetronomeDelay"));
    cmdMetronomeDelay->setGeometry(193, 4, 13, 17);
    cmdMetronomeDelay->setFont(windowFont(7, true));
    cmdMetronomeDelay->setFlat(true);
    cmdMetronomeDelay->setToolTip(tr8(res::kHintMetronomeOff));
    connect(cmdMetronomeDelay, &QPushButton::clicked, this, &MainWindow::cmdMetronomeDelayClick);
    // Clicks on the controls of the panel are theirs, not the panel's.
    cmdMetronomeDelay->setAttribute(Qt::WA_NoMousePropagation);
    txtDelayBpm->setAttribute(Qt::WA_NoMousePropagation);

    const QString zero = tr8(res::kDelayIdleValue);
    const auto row = [&](const char* name, std::size_t index, QRect place, QColor color) {
        return makeLabel(DelayPanel, name, tr8(res::kDelayPrefixes[index]) + zero, place, 8, false,
                         color);
    };
    lblDelay2xWhole = row("lblDelay2xWhole", 0, QRect(12, 25, 94, 14), Qt::black);
    lblDelayWhole = row("lblDelayWhole", 1, QRect(12, 40, 94, 14), kNavy);
    lblDelayHalf = row("lblDelayHalf", 2, QRect(12, 56, 94, 14), Qt::black);
    lblDelayQuarter = row("lblDelayQuarter", 3, QRect(12, 72, 94, 14), kNavy);
    lblDelayEight = row("lblDelayEight", 4, QRect(124, 25, 82, 14), kNavy);
    lblDelaySixteenth = row("lblDelaySixteenth", 5, QRect(108, 40, 98, 14), Qt::black);
    lblDelayThirtySecond = row("lblDelayThirtySecond", 6, QRect(110, 56, 96, 14), kNavy);
    lblDelayMedel = makeLabel(DelayPanel, "lblDelayMedel", tr8(res::kIdleDelayMean),
                              QRect(134, 72, 72, 14), 8, false, Qt::black);
    lblDelayMedel->setToolTip(tr8(res::kHintMean));
    lblCounterStatusMSPB = makeStatus(DelayPanel, "lblCounterStatusMSPB");
    lblTripletsON = makeSaving(DelayPanel, "lblTripletsON", 77);
    lblTripletsON->setText(tr8(res::kTriplets));
    cboTimeToFastwarning = makeTooFast(DelayPanel, "cboTimeToFastwarning");
}

QLabel* MainWindow::delayLabel(std::size_t row) const {
    const std::array<QLabel*, 7> rows = {lblDelay2xWhole,     lblDelayWhole, lblDelayHalf,
                                         lblDelayQuarter,     lblDelayEight, lblDelaySixteenth,
                                         lblDelayThirtySecond};
    return rows.at(row);
}

}  // namespace pulsaro
