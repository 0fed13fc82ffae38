#include "ui/settings/options_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <algorithm>
#include <cstdint>
#include <string>

#include "core/settings_names.h"
#include "core/settings_store.h"
#include "ui/common/app_services.h"
#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/desktop/desktop_presence.h"
#include "ui/desktop/tray_icon.h"
#include "ui/help/about_box.h"
#include "ui/help/help_commands.h"
#include "ui/help/player_shortcuts.h"
#include "ui/listening/listening_controller.h"
#include "ui/metronome/metronome_controller.h"
#include "ui/panels/widgets.h"
#include "ui/saving/result_saver.h"
#include "ui/settings/listening_tab.h"
#include "ui/settings/studio_tab.h"
#include "ui/studio/studio.h"
#include "ui/window/main_window.h"
#include "ui/window/screen_place.h"

namespace pulsaro {

namespace {

const QColor kGray(128, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kNavy(0, 0, 128);
constexpr QSize kClientSize(469, 221);
constexpr int kLowestOpacity = 10;
constexpr int kHighestDelimiter = 2;
constexpr int kHighestFileType = 2;
constexpr int kHighestSound = 2;
// The default suffix of each result-file filter; "All files" adds none.
const char* const kResultSuffixes[] = {"csv", "txt", "prn", ""};

// What the window does once the dialog's handler has returned, in the order
// asked.
template <class Change>
void later(MainWindow& form, Change change) {
    QMetaObject::invokeMethod(&form, std::move(change), Qt::QueuedConnection);
}

// A value that is missing, or damaged into the other type, keeps its default.
void readIfExists(const RegistryKey& key, const char* name, std::int32_t& value) {
    value = key.findInteger(name).value_or(value);
}

void readIfExists(const RegistryKey& key, const char* name, QLineEdit* box) {
    if (const std::optional<std::string> text = key.findString(name)) {
        box->setText(fromStd(*text));
    }
}

std::int32_t inRangeOr(std::int32_t value, std::int32_t highest, std::int32_t fallback) {
    return value < 0 || value > highest ? fallback : value;
}

QString percentText(int percent) {
    return QString::asprintf(res::kOpacityPercent, percent);
}

// Edit boxes and lists that take no input look like the dialog behind them.
void paintInputBox(QWidget* box, bool enabled) {
    QPalette palette = box->palette();
    const QPalette standard = box->style()->standardPalette();
    palette.setColor(QPalette::Base, standard.color(enabled ? QPalette::Base : QPalette::Button));
    box->setPalette(palette);
}

// Where a file dialog starts: the folder of the name in the box, if any.
QString folderOf(const QString& path) {
    const QFileInfo file(path);
    return !path.isEmpty() && file.isAbsolute() ? file.absolutePath() : QString();
}

bool isExistingFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QComboBox* makeList(QWidget* parent, const char* name, QRect place,
                    std::initializer_list<const char*> items) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setFont(windowFont(8));
    for (const char* item : items) {
        list->addItem(tr8(item));
    }
    list->setGeometry(place);
    return list;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, QRect place) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(windowFont(8));
    box->setGeometry(place);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect place,
                        const char* hint = nullptr) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(windowFont(8));
    button->setGeometry(place);
    if (hint != nullptr) {
        button->setToolTip(tr8(hint));
    }
    return button;
}

QGroupBox* makeGroup(QWidget* parent, const char* name, const char* title, QRect place) {
    auto* group = new QGroupBox(tr8(title), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setFont(windowFont(8));
    group->setGeometry(place);
    return group;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption, QPoint at) {
    auto* check = new QCheckBox(tr8(caption), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setFont(windowFont(8));
    check->move(at);
    check->adjustSize();
    return check;
}

QWidget* makePage(QTabWidget* tabs, const char* name, const char* caption) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    tabs->addTab(page, tr8(caption));
    return page;
}

}  // namespace

SettingsDialog::SettingsDialog(MainWindow& form, AppServices& services)
    : QDialog(&form, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      form_(form),
      services_(services) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr8(res::kOptionsCaption));
    setFont(windowFont(8));
    setFixedSize(kClientSize);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(4, 4, 461, 186);
    tabSaveToFile = makePage(PageControl1, "tabSaveToFile", res::kTabFileSaving);
    tabPlayer = makePage(PageControl1, "tabPlayer", res::kTabShortcuts);
    tabMetronome = makePage(PageControl1, "tabMetronome", res::kTabMisc);
    tabStudio = new StudioTab;
    PageControl1->addTab(tabStudio, tr("S&tudio"));
    tabListening = new ListeningTab;
    PageControl1->addTab(tabListening, tr8(res::kTabListening));
    buildFileTab();
    buildPlayerTab();
    buildMiscTab();
    // The pages turn from anywhere in the dialog, also where a box or a
    // slider would take the key for itself.
    const std::pair<QKeyCombination, int> turns[] = {{Qt::CTRL | Qt::Key_Tab, 1},
                                                     {Qt::CTRL | Qt::Key_PageDown, 1},
                                                     {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
                                                     {Qt::CTRL | Qt::Key_PageUp, -1}};
    for (const auto& [key, step] : turns) {
        auto* turn = new QShortcut(QKeySequence(key), this);
        turn->setContext(Qt::WidgetWithChildrenShortcut);
        connect(turn, &QShortcut::activated, this, [this, step = step] {
            const int pages = PageControl1->count();
            PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + pages) % pages);
        });
    }

    lblMyName = makeLabel(this, "lblMyName", QString(), QRect(6, 200, 0, 0), 8, false, kGray);
    cmdOK = makeButton(this, "cmdOK", tr8(res::kOptionsOk), QRect(306, 194, 75, 23));
    cmdCancel = makeButton(this, "cmdCancel", tr8(res::kOptionsCancel), QRect(386, 194, 75, 23));
    // ENTER confirms the dialog, as in any settings dialog of the desktop.
    cmdOK->setDefault(true);

    connectHandlers();
    restoreAtStart();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::buildFileTab() {
    QWidget* page = tabSaveToFile;
    lblFileType = makeLabel(page, "lblFileType", tr8(res::kFileTypeLabel), QRect(8, 8, 0, 0));
    cboFileType = makeList(page, "cboFileType", QRect(8, 23, 100, 22),
                           {res::kFileTypes[0], res::kFileTypes[1], res::kFileTypes[2]});
    lblDelimiter = makeLabel(page, "lblDelimiter", tr8(res::kDelimiterLabel), QRect(124, 8, 0, 0));
    cboDelimiter = makeList(page, "cboDelimiter", QRect(124, 23, 130, 22),
                            {res::kDelimiters[0], res::kDelimiters[1], res::kDelimiters[2]});
    lblFileName = makeLabel(page, "lblFileName", tr8(res::kFileNameLabel), QRect(8, 54, 0, 0));
    txtFileName = makeEdit(page, "txtFileName", QRect(8, 69, 405, 22));
    cmdSelectFileName2 =
        makeButton(page, "cmdSelectFileName2", tr8(res::kBrowse), QRect(417, 68, 28, 24));
    lblQuickSaveNote = makeLabel(page, "lblQuickSaveNote", tr8(res::kQuickSaveNote),
                                 QRect(8, 96, 0, 0), 8, false, kMaroon);
    cmdGenerateFile = makeButton(page, "cmdGenerateFile", tr8(res::kDefaultFileName),
                                 QRect(8, 120, 120, 25), res::kHintDefaultFileName);
    lblFileType->setBuddy(cboFileType);
    lblDelimiter->setBuddy(cboDelimiter);
    lblFileName->setBuddy(txtFileName);
}

void SettingsDialog::buildPlayerTab() {
    QWidget* page = tabPlayer;
    const char* const labels[] = {"lbltxtPlayerOne", "lbltxtPlayerTwo", "lbltxtPlayerThree"};
    const char* const edits[] = {"txtPlayerOne", "txtPlayerTwo", "txtPlayerThree"};
    const char* const buttons[] = {"cmdSelectCDPlayer", "cmdBrowsePlayerTwo",
                                   "cmdBrowsePlayerThree"};
    QLabel** const labelMembers[] = {&lbltxtPlayerOne, &lbltxtPlayerTwo, &lbltxtPlayerThree};
    QLineEdit** const editMembers[] = {&txtPlayerOne, &txtPlayerTwo, &txtPlayerThree};
    QPushButton** const buttonMembers[] = {&cmdSelectCDPlayer, &cmdBrowsePlayerTwo,
                                           &cmdBrowsePlayerThree};
    for (int k = 0; k < 3; ++k) {
        const int top = 8 + 46 * k;
        *labelMembers[k] =
            makeLabel(page, labels[k], tr8(res::kShortcutLabels[k]), QRect(8, top, 0, 0));
        *editMembers[k] = makeEdit(page, edits[k], QRect(8, top + 15, 405, 22));
        *buttonMembers[k] =
            makeButton(page, buttons[k], tr8(res::kBrowse), QRect(417, top + 14, 28, 24));
        (*labelMembers[k])->setBuddy(*editMembers[k]);
    }
}

void SettingsDialog::buildMiscTab() {
    QWidget* page = tabMetronome;
    grpMetronome = makeGroup(page, "grpMetronome", res::kMetronomeGroup, QRect(6, 2, 222, 76));
    Label4 = makeLabel(grpMetronome, "Label4", tr8(res::kSoundLabel), QRect(8, 18, 0, 0));
    cboMetronomeSound = makeList(grpMetronome, "cboMetronomeSound", QRect(8, 33, 130, 22),
                                 {res::kSoundTypes[0], res::kSoundTypes[1], res::kSoundTypes[2]});
    cmdMetronomePreview = makeButton(grpMetronome, "cmdMetronomePreview", QString(),
                                     QRect(142, 32, 28, 24), res::kHintPreview);
    cmdMetronomePreview->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    lblNoSoundCardInstalled =
        makeLabel(grpMetronome, "lblNoSoundCardInstalled", tr8(res::kNoSoundCard),
                  QRect(8, 58, 0, 0), 8, true, kMaroon);
    lblNoSoundCardInstalled->hide();
    Label4->setBuddy(cboMetronomeSound);

    grpOpacity = makeGroup(page, "grpOpacity", res::kOpacityGroup, QRect(234, 2, 217, 76));
    trbTransp = new QSlider(Qt::Horizontal, grpOpacity);
    trbTransp->setObjectName(QStringLiteral("trbTransp"));
    trbTransp->setRange(kLowestOpacity, settings::kHighestOpacity);
    trbTransp->setPageStep(5);
    trbTransp->setTickPosition(QSlider::TicksBothSides);
    trbTransp->setTickInterval(10);
    trbTransp->setToolTip(tr8(res::kHintOpacity));
    trbTransp->setGeometry(8, 20, 140, 30);
    trbTransp->installEventFilter(this);
    lblCurrentTransparant =
        makeLabel(grpOpacity, "lblCurrentTransparant", QString(), QRect(156, 28, 0, 0));
    lblWrongOS = makeLabel(grpOpacity, "lblWrongOS", tr8(res::kOpacityNotAvailable),
                           QRect(8, 58, 0, 0), 8, true, kMaroon);
    lblWrongOS->setToolTip(tr8(res::kHintOpacityNotAvailable));
    lblWrongOS->hide();

    grpTrayicon = makeGroup(page, "grpTrayicon", res::kTrayGroup, QRect(6, 80, 222, 74));
    chkMinimizeToTray = makeCheck(grpTrayicon, "chkMinimizeToTray", res::kUseTray, QPoint(8, 20));
    lblTrayHint = makeLabel(grpTrayicon, "lblTrayHint", tr8(res::kTrayHint), QRect(8, 46, 0, 0), 8,
                            false, kNavy);
    QFont italic = lblTrayHint->font();
    italic.setItalic(true);
    lblTrayHint->setFont(italic);

    grpCenterWindow =
        makeGroup(page, "grpCenterWindow", res::kCenterGroup, QRect(234, 80, 217, 74));
    chkCenterForm =
        makeCheck(grpCenterWindow, "chkCenterForm", res::kAlwaysCentered, QPoint(8, 20));
}

void SettingsDialog::connectHandlers() {
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        QWidget* page = PageControl1->widget(index);
        if (page == tabSaveToFile) {
            tabSaveToFileShow();
        } else if (page == tabPlayer) {
            tabPlayerShow();
        } else if (page == tabMetronome) {
            tabMetronomeShow();
        }
    });
    connect(cmdGenerateFile, &QPushButton::clicked, this, &SettingsDialog::cmdGenerateFileClick);
    connect(cmdSelectFileName2, &QPushButton::clicked, this,
            &SettingsDialog::cmdSelectFileName2Click);
    connect(txtPlayerOne, &QLineEdit::textChanged, this, &SettingsDialog::txtPlayerOneChange);
    connect(txtPlayerTwo, &QLineEdit::textChanged, this, &SettingsDialog::txtPlayerTwoChange);
    connect(cmdSelectCDPlayer, &QPushButton::clicked, this,
            &SettingsDialog::cmdSelectCDPlayerClick);
    connect(cmdBrowsePlayerTwo, &QPushButton::clicked, this,
            &SettingsDialog::cmdBrowsePlayerTwoClick);
    connect(cmdBrowsePlayerThree, &QPushButton::clicked, this,
            &SettingsDialog::cmdBrowsePlayerThreeClick);
    connect(cmdMetronomePreview, &QPushButton::clicked, this,
            &SettingsDialog::cmdMetronomePreviewClick);
    connect(trbTransp, &QSlider::valueChanged, this, &SettingsDialog::trbTranspChange);
    connect(tabStudio, &StudioTab::changed, this, &SettingsDialog::studioChange);
    connect(cmdOK, &QPushButton::clicked, this, &SettingsDialog::cmdOKClick);
    connect(cmdCancel, &QPushButton::clicked, this, &SettingsDialog::cmdCancelClick);
}

void SettingsDialog::restoreAtStart() {
    services_.guard("FormCreate - Setup", [&] {
        OpacitySliderEntered = false;
        PageControl1->setCurrentWidget(tabSaveToFile);
        tabSaveToFileShow();

        std::int32_t minimizeToTray = 0;
        std::int32_t center = 0;
        std::int32_t delimiter = 0;
        std::int32_t fileType = 0;
        std::int32_t opacity = settings::kDefaultOpacity;
        std::int32_t sound = 0;
        std::int32_t namesFromPlayer = 1;
        QString input;
        if (const auto key = RegistryKey::openReadOnly(services_.store(), settings::kKeyPath)) {
            readIfExists(*key, settings::kNamesFromPlayer, namesFromPlayer);
            input = QString::fromStdString(key->findString(settings::kListenInput).value_or(""));
            readIfExists(*key, settings::kPlayerThree, txtPlayerThree);
            readIfExists(*key, settings::kPlayerTwo, txtPlayerTwo);
            readIfExists(*key, settings::kPlayerOne, txtPlayerOne);
            readIfExists(*key, settings::kFileName, txtFileName);
            readIfExists(*key, settings::kMinimizeToTray, minimizeToTray);
            readIfExists(*key, settings::kDelimiter, delimiter);
            delimiter = inRangeOr(delimiter, kHighestDelimiter, 0);
            readIfExists(*key, settings::kFileType, fileType);
            fileType = inRangeOr(fileType, kHighestFileType, 0);
            readIfExists(*key, settings::kCenterForm, center);
            readIfExists(*key, settings::kTransparency, opacity);
            opacity = inRangeOr(opacity, settings::kHighestOpacity, settings::kDefaultOpacity);
            readIfExists(*key, settings::kMetronomeSound, sound);
            sound = inRangeOr(sound, kHighestSound, 0);
        }
        tabListening->show(form_.parts().listening.inputs(), input, namesFromPlayer != 0);
        chkMinimizeToTray->setChecked(minimizeToTray == 1);
        chkCenterForm->setChecked(center == 1);
        cboMetronomeSound->setCurrentIndex(sound);
        cboDelimiter->setCurrentIndex(delimiter);
        trbTransp->setValue(opacity);  // the slider keeps to its own range
        OpacityAtOpen = opacity;
        lblCurrentTransparant->setText(percentText(opacity));
        cboFileType->setCurrentIndex(fileType);
        lblMyName->setText(creditLine());

        enablePlayerGroup(2, !txtPlayerOne->text().isEmpty());
        enablePlayerGroup(3, !txtPlayerTwo->text().isEmpty());

        if (const Studio* studio = form_.parts().studio) {
            studioAtOpen_ = studio->settings();
            tabStudio->show(studio->settings(), studio->problems(), studio->keyAvailable());
        } else {
            tabStudio->setEnabled(false);
        }

        // Opening the sound group asks for sound: a server started since is found.
        const bool soundOutput = form_.parts().metronome.lookForSound();
        lblNoSoundCardInstalled->setVisible(!soundOutput);
        Label4->setEnabled(soundOutput);
        cboMetronomeSound->setEnabled(soundOutput);
        cmdMetronomePreview->setEnabled(soundOutput);
        paintInputBox(cboMetronomeSound, soundOutput);

        if (!services_.opacityAvailable()) {
            trbTransp->setEnabled(false);
            lblCurrentTransparant->setEnabled(false);
            lblWrongOS->show();
        }
        OpacitySliderChanged = false;
        MetronomeSoundChanged = false;
    });
    // Setting the stored choices above is no change by the user.
    connect(cboFileType, &QComboBox::currentIndexChanged, this, &SettingsDialog::cboFileTypeChange);
    connect(cboMetronomeSound, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::cboMetronomeSoundChange);
}

void SettingsDialog::enablePlayerGroup(int player, bool enabled) {
    QLabel* label = player == 2 ? lbltxtPlayerTwo : lbltxtPlayerThree;
    QLineEdit* box = player == 2 ? txtPlayerTwo : txtPlayerThree;
    QPushButton* browse = player == 2 ? cmdBrowsePlayerTwo : cmdBrowsePlayerThree;
    label->setEnabled(enabled);
    box->setEnabled(enabled);
    browse->setEnabled(enabled);
    paintInputBox(box, enabled);
}

void SettingsDialog::tabSaveToFileShow() {
    cboFileType->setFocus();
}

void SettingsDialog::tabPlayerShow() {
    txtPlayerOne->setFocus();
}

void SettingsDialog::tabMetronomeShow() {
    if (cboMetronomeSound->isEnabled()) {
        cboMetronomeSound->setFocus();
    }
}

void SettingsDialog::cboFileTypeChange() {
    FileTypeChanged = true;
}

void SettingsDialog::cmdGenerateFileClick() {
    services_.guard("cmdGenerateFileClick", [&] {
        QString name;
        if (FileTypeChanged) {
            name = services_.NewFileName(QString(), cboFileType->currentIndex());
            FileTypeChanged = false;
        } else {
            name = services_.NewFileName(QString(), settings::kStoredFileType);
        }
        txtFileName->setText(name);
        txtFileName->setFocus();
    });
}

void SettingsDialog::cmdSelectFileName2Click() {
    services_.guard("cmdSelectFileName2Click", [&] {
        const int type = std::clamp(cboFileType->currentIndex(), 0, kHighestFileType);
        FileDialogOptions options;
        options.selectedFilter = type;
        options.defaultSuffix = QString::fromLatin1(kResultSuffixes[type]);
        for (const char* suffix : kResultSuffixes) {
            options.filterSuffixes.append(QString::fromLatin1(suffix));
        }
        const QString chosen = services_.dialogs().saveFileName(
            this, tr8(res::kSelectFileName), folderOf(txtFileName->text()),
            tr8(res::kResultFileFilter), options);
        if (!chosen.isEmpty()) {
            txtFileName->setText(chosen);
            txtFileName->setFocus();
        }
    });
}

void SettingsDialog::txtPlayerOneChange() {
    if (!txtPlayerOne->text().isEmpty()) {
        enablePlayerGroup(2, true);
    } else {
        enablePlayerGroup(2, false);
        enablePlayerGroup(3, false);
    }
}

void SettingsDialog::txtPlayerTwoChange() {
    enablePlayerGroup(3, !txtPlayerTwo->text().isEmpty());
}

void SettingsDialog::browseProgram(QLineEdit* box, int player) {
    // Programs here have no ".exe" to filter on, so the program filter
    // shows every file; the dialog takes existing files only.
    const QString chosen = services_.dialogs().openFileName(
        this, tr8(res::kProgramCaptions[player]), folderOf(box->text()), tr8(res::kProgramFilter));
    if (chosen.isEmpty()) {
        return;
    }
    box->setText(chosen);
    box->setFocus();
    box->selectAll();
}

void SettingsDialog::cmdSelectCDPlayerClick() {
    services_.guard("cmdSelectCDPlayerClick", [&] { browseProgram(txtPlayerOne, 0); });
}

void SettingsDialog::cmdBrowsePlayerTwoClick() {
    services_.guard("cmdBrowsePlayerTwoClick", [&] { browseProgram(txtPlayerTwo, 1); });
}

void SettingsDialog::cmdBrowsePlayerThreeClick() {
    services_.guard("cmdBrowsePlayerThreeClick", [&] { browseProgram(txtPlayerThree, 2); });
}

void SettingsDialog::cboMetronomeSoundChange() {
    MetronomeSoundChanged = true;
}

void SettingsDialog::cmdMetronomePreviewClick() {
    services_.guard("cmdMetronomePreviewClick", [&] {
        const int index = cboMetronomeSound->currentIndex();
        form_.parts().metronome.preview(index);
    });
}

void SettingsDialog::trbTranspEnter() {
    OpacitySliderEntered = true;
}

void SettingsDialog::trbTranspChange() {
    OpacitySliderChanged = true;
    if (!OpacitySliderEntered) {
        return;
    }
    // A preview only: the Transparency mode item keeps its state.
    form_.parts().desktop.applyOpacity(trbTransp->value());
    lblCurrentTransparant->setText(percentText(trbTransp->value()));
}

void SettingsDialog::cmdOKClick() {
    const bool done = services_.guard("cmdOKClick  - Setup", [&] {
        if (OpacitySliderChanged && !form_.parts().desktop.translucent()) {
            later(form_, [&form = form_] { form.parts().desktop.setOpacity(100); });
        }
        if (auto key = RegistryKey::openForWriting(services_.store(), settings::kKeyPath, true)) {
            const QString one = txtPlayerOne->text();
            const QString two = txtPlayerTwo->text();
            const QString three = txtPlayerThree->text();
            const bool soundChanged =
                form_.parts().metronome.soundOutput() && MetronomeSoundChanged;
            bool inputChanged = false;
            const auto text = [&](const char* name, const QString& value) {
                key->writeString(name, value.toStdString());
            };
            key->batch([&] {
                text(settings::kFileName, txtFileName->text());
                if (isExistingFile(one)) {
                    text(settings::kPlayerOne, one);
                } else {
                    text(settings::kPlayerOne, QString());
                    text(settings::kPlayerTwo, QString());
                    text(settings::kPlayerThree, QString());
                }
                // A name that is no file (yet) keeps what was stored before.
                if (isExistingFile(two) && txtPlayerTwo->isEnabled()) {
                    text(settings::kPlayerTwo, two);
                } else if (two.isEmpty() || !txtPlayerTwo->isEnabled()) {
                    text(settings::kPlayerTwo, QString());
                    text(settings::kPlayerThree, QString());
                }
                if (isExistingFile(three) && txtPlayerThree->isEnabled()) {
                    text(settings::kPlayerThree, three);
                } else if (three.isEmpty() || !txtPlayerThree->isEnabled()) {
                    text(settings::kPlayerThree, QString());
                }
                key->writeInteger(settings::kMinimizeToTray,
                                  chkMinimizeToTray->isChecked() ? 1 : 0);
                key->writeInteger(settings::kCenterForm, chkCenterForm->isChecked() ? 1 : 0);
                if (soundChanged) {
                    key->writeInteger(settings::kMetronomeSound, cboMetronomeSound->currentIndex());
                }
                key->writeInteger(settings::kFileType, cboFileType->currentIndex());
                key->writeInteger(settings::kDelimiter, cboDelimiter->currentIndex());
                key->writeInteger(settings::kTransparencyLower, trbTransp->value());
                const std::string input = tabListening->chosenInput().toStdString();
                inputChanged = key->findString(settings::kListenInput).value_or("") != input;
                key->writeString(settings::kListenInput, input);
                key->writeInteger(settings::kNamesFromPlayer,
                                  tabListening->namesFromPlayer() ? 1 : 0);
            });
            if (inputChanged) {
                later(form_, [&form = form_] { form.parts().listening.restart(); });
            }

            if (chkCenterForm->isChecked()) {
                centreOnScreen(form_, false);
            }
            if (soundChanged) {
                form_.parts().metronome.selectClickSoundLater();
            }
            later(form_, [&form = form_, on = chkMinimizeToTray->isChecked()] {
                form.parts().desktop.trayIcon().SetMinimizeToTray(on);
            });

            PlayerNames players;
            auto& names = players.names;
            names[0] = playerDisplayName(one);
            names[1] = playerDisplayName(two);
            names[2] = playerDisplayName(three);
            if (one.isEmpty()) {
                names[1].clear();
                names[2].clear();
            } else if (two.isEmpty()) {
                names[2].clear();
            }
            form_.parts().help.setPlayerIcons(one, two, three);
            later(form_, [&form = form_, players] { form.parts().help.setPlayerNames(players); });
        }
        form_.parts().saver.setResultFile(txtFileName->text());
        form_.applyStudioSettings(tabStudio->settings());
    });
    if (done) {
        accept();
    }
}

void SettingsDialog::studioChange() {
    if (Studio* studio = form_.parts().studio) {
        services_.guard("StudioChange", [&] {
            studio->apply(tabStudio->settings());
            tabStudio->show(studio->settings(), studio->problems(), studio->keyAvailable());
        });
    }
}

void SettingsDialog::cmdCancelClick() {
    if (Studio* studio = form_.parts().studio;
        studio != nullptr && studio->settings() != studioAtOpen_) {
        services_.guard("cmdCancelClick", [&] { studio->apply(studioAtOpen_); });
    }
    services_.guard("cmdCancelClick", [&] {
        if (OpacitySliderChanged) {
            later(form_, [&form = form_,
                          percent = form_.parts().desktop.translucent() ? OpacityAtOpen : 100] {
                form.parts().desktop.setOpacity(percent);
            });
        }
    });
    reject();
}

void SettingsDialog::showEvent(QShowEvent* event) {
    centreOnScreen(*this, false);
    QDialog::showEvent(event);
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        cmdCancel->click();
        return;
    }
    // ENTER presses the focused button, else OK (the default button).
    QDialog::keyPressEvent(event);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trbTransp && event->type() == QEvent::FocusIn) {
        trbTranspEnter();
    }
    return QDialog::eventFilter(watched, event);
}

int runSettingsDialog(MainWindow& form, AppServices& services) {
    SettingsDialog dialog(form, services);
    return dialog.exec();
}

}  // namespace pulsaro
